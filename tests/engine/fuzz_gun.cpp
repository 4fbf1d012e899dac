// gun messages from a server, walked whole and in pieces whose size the first byte picks: both
// walks must yield the same data. The input, framed as the client frames it, must read back whole.
#include "transport/gunreader.h"

#include <cstdlib>

using namespace qivro::engine;

namespace {

std::string walk(const std::uint8_t *data, std::size_t size, std::size_t piece)
{
    GunReader reader;
    std::string out;
    std::size_t at = 0;
    std::size_t end = std::min(size, piece);
    while (at < size) {
        const GunReader::Step step = reader.next(data + at, end - at);
        if (step.consumed > end - at)
            std::abort();
        if (step.kind == GunReader::Step::NeedMore) {
            if (end == size)
                break;
            end = std::min(size, end + piece);
            continue;
        }
        if (step.kind == GunReader::Step::Error)
            return out + "<error>";
        if (step.kind == GunReader::Step::Data)
            out.append(reinterpret_cast<const char *>(data + at), step.consumed);
        at += step.consumed;
        end = std::max(end, at);
    }
    return out;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    if (size < 1)
        return 0;
    const std::size_t piece = 1 + data[0] % 64;
    if (walk(data + 1, size - 1, size - 1) != walk(data + 1, size - 1, piece))
        std::abort();
    std::vector<std::uint8_t> framed;
    GunReader::appendHeader(framed, size);
    framed.insert(framed.end(), data, data + size);
    if (walk(framed.data(), framed.size(), piece)
        != std::string(reinterpret_cast<const char *>(data), size))
        std::abort();
    return 0;
}
