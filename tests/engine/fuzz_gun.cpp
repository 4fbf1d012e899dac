// gun messages from a server, walked whole and in pieces whose size the first byte picks: both
// walks must yield the same data. The input, framed as the client frames it, must read back whole.
#include "fuzzcheck.h"
#include "transport/gunreader.h"

using namespace qivro::engine;

namespace {

std::string walk(const std::uint8_t *data, std::size_t size, std::size_t piece)
{
    return walkInPieces<GunReader>(data, size, piece,
        [](const GunReader::Step &step, const std::uint8_t *at, std::string &out) {
            if (step.kind == GunReader::Step::Data)
                out.append(reinterpret_cast<const char *>(at), step.consumed);
        });
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    if (size < 1)
        return 0;
    const std::size_t piece = 1 + data[0] % 64;
    require(walk(data + 1, size - 1, size - 1) == walk(data + 1, size - 1, piece));
    std::vector<std::uint8_t> framed;
    GunReader::appendHeader(framed, size);
    framed.insert(framed.end(), data, data + size);
    require(walk(framed.data(), framed.size(), piece)
        == std::string(reinterpret_cast<const char *>(data), size));
    return 0;
}
