// WebSocket frames from a server, walked whole and in pieces whose size the first byte picks:
// both walks must report the same payload, pings and close, and never consume past the input.
#include "fuzzcheck.h"
#include "transport/wsframereader.h"

using namespace qivro::engine;

namespace {

std::string walk(const std::uint8_t *data, std::size_t size, std::size_t piece)
{
    using Step = WsFrameReader::Step;
    return walkInPieces<WsFrameReader>(
        data, size, piece, [](const Step &step, const std::uint8_t *at, std::string &trace) {
            require(step.dataAt + step.dataSize <= step.consumed);
            if (step.kind == Step::Data)
                trace.append(reinterpret_cast<const char *>(at + step.dataAt), step.dataSize);
            if (step.kind == Step::Ping)
                trace += "<ping " + step.payload + ">";
            if (step.kind == Step::Close)
                trace += "<close " + std::to_string(step.code) + ">";
        });
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    if (size < 2)
        return 0;
    const std::size_t piece = 1 + data[0] % 64;
    require(walk(data + 1, size - 1, size) == walk(data + 1, size - 1, piece));
    return 0;
}
