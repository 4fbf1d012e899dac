// The head a Hysteria 2 server answers a proxy stream with, fed whole and in pieces: every split
// must reach the same verdict, and a complete head must survive being written back out.
#include "fuzzcheck.h"
#include "outbound/hysteria2protocol.h"

using namespace qivro::engine;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    if (size < 1)
        return 0;
    const std::size_t step = data[0] % 7 + 1;
    ++data;
    --size;
    hy2::TcpResponse whole;
    std::size_t consumed = 0;
    const ParseStatus verdict = hy2::parseTcpResponse(data, size, whole, consumed);
    require(verdict != ParseStatus::Done || consumed <= size);
    // Growing prefixes, as the bytes would arrive.
    for (std::size_t length = 0; length < size; length += step) {
        hy2::TcpResponse part;
        std::size_t used = 0;
        const ParseStatus status = hy2::parseTcpResponse(data, length, part, used);
        require(status != ParseStatus::Done
            || (verdict == ParseStatus::Done && used == consumed && part.message == whole.message));
        require(status != ParseStatus::Invalid || verdict == ParseStatus::Invalid);
    }
    if (verdict == ParseStatus::Done) {
        std::vector<std::uint8_t> rebuilt {whole.status};
        hy2::appendVarint(rebuilt, whole.message.size());
        rebuilt.insert(rebuilt.end(), whole.message.begin(), whole.message.end());
        hy2::appendVarint(rebuilt, 0);
        hy2::TcpResponse again;
        std::size_t used = 0;
        require(
            hy2::parseTcpResponse(rebuilt.data(), rebuilt.size(), again, used) == ParseStatus::Done
            && again.message == whole.message && again.status == whole.status
            && used == rebuilt.size());
    }
    return 0;
}
