// UDP messages from a Hysteria 2 server: the input is a series of length-prefixed datagrams for
// the parser and the reassembly; a parsed message must encode back to the same fields, an
// unfragmented one comes out as it is, and nothing comes out that did not go in.
#include "fuzzcheck.h"
#include "outbound/hysteria2protocol.h"

#include <algorithm>

using namespace qivro::engine;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    hy2::Defragger defragger;
    std::size_t fed = 0;
    while (size >= 2) {
        const std::size_t length
            = std::min<std::size_t>(static_cast<std::size_t>(data[0]) << 8 | data[1], size - 2);
        const std::uint8_t *datagram = data + 2;
        data += 2 + length;
        size -= 2 + length;
        hy2::UdpMessage message;
        if (!hy2::parseUdpMessage(datagram, length, message))
            continue;
        require(message.size > 0 && message.fragmentId < message.fragmentCount);
        std::vector<std::uint8_t> again;
        hy2::appendUdpMessage(again, message);
        hy2::UdpMessage reread;
        require(again.size() <= length && hy2::parseUdpMessage(again.data(), again.size(), reread)
            && reread.sessionId == message.sessionId && reread.packetId == message.packetId
            && reread.fragmentId == message.fragmentId && reread.address == message.address
            && reread.size == message.size
            && std::equal(message.data, message.data + message.size, reread.data));
        fed += message.size;
        std::vector<std::uint8_t> packet;
        std::string address;
        if (defragger.feed(message, packet, address)) {
            require(packet.size() <= fed);
            require(message.fragmentCount != 1
                || (packet.size() == message.size
                    && std::equal(packet.begin(), packet.end(), message.data)
                    && address == message.address));
        }
    }
    return 0;
}
