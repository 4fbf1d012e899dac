// WebSocket frames from control API clients: no crash, consumed within bounds, a prefix of a
// complete frame is NeedMore, and the payload is unmasked back to what a server frame carries.
#include "common/websocket.h"
#include "fuzzcheck.h"

using namespace qivro::engine;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const char *text = reinterpret_cast<const char *>(data);
    websocket::Frame frame;
    std::size_t consumed = 0;
    if (websocket::parseClientFrame(text, size, frame, consumed) != ParseStatus::Done)
        return 0;
    require(
        consumed > 0 && consumed <= size && frame.payload.size() <= websocket::maxClientPayload);
    requireIncompletePrefixes<websocket::Frame>(websocket::parseClientFrame, text, consumed);
    // The same frame as a server sends it, masked again with the client's key, parses back.
    std::string again = websocket::encodeFrame(frame.opcode, frame.payload);
    const std::size_t header = again.size() - frame.payload.size();
    const char *mask = text + consumed - frame.payload.size() - 4;
    std::string masked = again.substr(0, header);
    masked[1] = static_cast<char>(masked[1] | 0x80);
    masked.append(mask, 4);
    for (std::size_t i = 0; i < frame.payload.size(); ++i)
        masked += static_cast<char>(frame.payload[i] ^ mask[i % 4]);
    websocket::Frame back;
    std::size_t backConsumed = 0;
    require(websocket::parseClientFrame(masked.data(), masked.size(), back, backConsumed)
            == ParseStatus::Done
        && back.payload == frame.payload && back.opcode == frame.opcode
        && backConsumed == masked.size());
    return 0;
}
