// WebSocket frames from a server, walked whole and in pieces whose size the first byte picks:
// both walks must report the same payload, pings and close, and never consume past the input.
#include "transport/wsframereader.h"

#include <cstdlib>

using namespace qivro::engine;

namespace {

std::string walk(const std::uint8_t *data, std::size_t size, std::size_t piece)
{
    WsFrameReader reader;
    std::string trace;
    std::size_t at = 0;
    std::size_t end = std::min(size, piece);
    while (at < size) {
        const WsFrameReader::Step step = reader.next(data + at, end - at);
        if (step.consumed > end - at || step.dataAt + step.dataSize > step.consumed)
            std::abort();
        if (step.kind == WsFrameReader::Step::NeedMore) {
            if (end == size)
                break;
            end = std::min(size, end + piece);
            continue;
        }
        if (step.kind == WsFrameReader::Step::Error)
            return trace + "error";
        if (step.kind == WsFrameReader::Step::Data)
            trace.append(reinterpret_cast<const char *>(data + at + step.dataAt), step.dataSize);
        if (step.kind == WsFrameReader::Step::Ping)
            trace += "<ping " + step.payload + ">";
        if (step.kind == WsFrameReader::Step::Close)
            trace += "<close " + std::to_string(step.code) + ">";
        at += step.consumed;
        end = std::max(end, at);
    }
    return trace;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    if (size < 2)
        return 0;
    const std::size_t piece = 1 + data[0] % 64;
    if (walk(data + 1, size - 1, size) != walk(data + 1, size - 1, piece))
        std::abort();
    return 0;
}
