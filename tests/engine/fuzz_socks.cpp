// SOCKS handshakes from untrusted clients: no crash, consumed within bounds, and the incremental
// contract the inbound relies on (a prefix of a complete message is NeedMore, never Invalid).
#include "inbound/socksparser.h"

#include <cstdlib>

using namespace qivro::engine;

namespace {

template <typename Message, typename Parse>
void checkIncremental(const std::uint8_t *data, std::size_t size, Parse parse)
{
    Message message;
    std::size_t consumed = 0;
    const ParseStatus status = parse(data, size, message, consumed);
    if (status != ParseStatus::Done)
        return;
    if (consumed == 0 || consumed > size)
        std::abort();
    for (std::size_t prefix = 0; prefix < consumed; ++prefix) {
        Message partial;
        std::size_t partialConsumed = 0;
        if (parse(data, prefix, partial, partialConsumed) != ParseStatus::NeedMore)
            std::abort();
    }
    Message again;
    std::size_t againConsumed = 0;
    if (parse(data, consumed, again, againConsumed) != ParseStatus::Done
        || againConsumed != consumed)
        std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    checkIncremental<socks::Greeting>(data, size, socks::parseGreeting);
    checkIncremental<socks::Credentials>(data, size, socks::parseCredentials);
    checkIncremental<socks::Request>(data, size, socks::parseRequest5);
    checkIncremental<socks::Request4>(data, size, socks::parseRequest4);
    socks::Datagram datagram;
    if (socks::parseDatagram(data, size, datagram)) {
        if (datagram.payloadOffset > size)
            std::abort();
        // The reply header for the same address parses back to it.
        const std::vector<std::uint8_t> header = socks::datagramHeader(datagram.destination);
        socks::Datagram back;
        if (!socks::parseDatagram(header.data(), header.size(), back)
            || !(back.destination == datagram.destination))
            std::abort();
    }
    return 0;
}
