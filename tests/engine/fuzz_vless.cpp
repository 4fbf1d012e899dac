// What a VLESS server sends back: the response header in two pieces, then XUDP frames and
// length-prefixed packets. Nothing is consumed past the input, a frame's prefixes are incomplete,
// and addresses read back as they are written.
#include "outbound/vlessprotocol.h"

#include <cstdlib>

using namespace qivro::engine;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    if (size == 0)
        return 0;
    const std::size_t split = data[0] % size;
    vless::ResponseParser response;
    std::size_t at = response.feed(data, split);
    if (!response.done() && !response.failed())
        at += response.feed(data + at, size - at);
    if (at > size || (response.done() && response.failed()))
        std::abort();

    for (std::size_t offset = 0; offset < size;) {
        vless::xudp::Frame frame;
        std::size_t consumed = 0;
        if (vless::xudp::parseFrame(data + offset, size - offset, frame, consumed)
            != ParseStatus::Done)
            break;
        if (consumed == 0 || consumed > size - offset || frame.dataAt + frame.dataSize > consumed)
            std::abort();
        for (std::size_t prefix = 0; prefix < consumed; ++prefix) {
            vless::xudp::Frame partial;
            std::size_t ignored = 0;
            if (vless::xudp::parseFrame(data + offset, prefix, partial, ignored)
                != ParseStatus::NeedMore)
                std::abort();
        }
        if (frame.hasAddress) {
            std::vector<std::uint8_t> written;
            Destination back;
            std::size_t used = 0;
            if (!vless::appendAddress(written, frame.address)
                || vless::parseAddress(written.data(), written.size(), back, used)
                    != ParseStatus::Done
                || !(back == frame.address) || used != written.size())
                std::abort();
        }
        offset += consumed;
    }

    for (std::size_t offset = 0; offset < size;) {
        std::size_t payloadAt = 0, payloadSize = 0, consumed = 0;
        if (vless::parseLengthPacket(data + offset, size - offset, payloadAt, payloadSize, consumed)
            != ParseStatus::Done)
            break;
        if (consumed > size - offset || payloadAt + payloadSize != consumed)
            std::abort();
        offset += consumed;
    }
    return 0;
}
