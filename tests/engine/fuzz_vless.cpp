// What a VLESS server sends back: the response header in two pieces, then XUDP frames and
// length-prefixed packets. Nothing is consumed past the input, a frame's prefixes are incomplete,
// and addresses read back as they are written.
#include "fuzzcheck.h"
#include "outbound/vlessprotocol.h"

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
    require(at <= size && !(response.done() && response.failed()));

    for (std::size_t offset = 0; offset < size;) {
        vless::xudp::Frame frame;
        std::size_t consumed = 0;
        if (vless::xudp::parseFrame(data + offset, size - offset, frame, consumed)
            != ParseStatus::Done)
            break;
        require(
            consumed > 0 && consumed <= size - offset && frame.dataAt + frame.dataSize <= consumed);
        requireIncompletePrefixes<vless::xudp::Frame>(
            vless::xudp::parseFrame, data + offset, consumed);
        if (frame.hasAddress) {
            std::vector<std::uint8_t> written;
            Destination back;
            std::size_t used = 0;
            require(vless::appendAddress(written, frame.address)
                && vless::parseAddress(written.data(), written.size(), back, used)
                    == ParseStatus::Done
                && back == frame.address && used == written.size());
        }
        offset += consumed;
    }

    for (std::size_t offset = 0; offset < size;) {
        std::size_t payloadAt = 0, payloadSize = 0, consumed = 0;
        if (vless::parseLengthPacket(data + offset, size - offset, payloadAt, payloadSize, consumed)
            != ParseStatus::Done)
            break;
        require(consumed <= size - offset && payloadAt + payloadSize == consumed);
        offset += consumed;
    }
    return 0;
}
