// SOCKS handshakes from untrusted clients: no crash, consumed within bounds, and the incremental
// contract the inbound relies on (a prefix of a complete message is NeedMore, never Invalid).
#include "fuzzcheck.h"
#include "inbound/socksparser.h"

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
    require(consumed > 0 && consumed <= size);
    requireIncompletePrefixes<Message>(parse, data, consumed);
    Message again;
    std::size_t againConsumed = 0;
    require(parse(data, consumed, again, againConsumed) == ParseStatus::Done
        && againConsumed == consumed);
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
        require(datagram.payloadOffset <= size);
        // The reply header for the same address parses back to it.
        const std::vector<std::uint8_t> header = socks::datagramHeader(datagram.destination);
        socks::Datagram back;
        require(socks::parseDatagram(header.data(), header.size(), back)
            && back.destination == datagram.destination);
    }
    return 0;
}
