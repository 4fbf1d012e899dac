// Shared by the fuzz harnesses: a broken property aborts, which both libFuzzer and the corpus
// replay report as a crash.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

inline void require(bool holds)
{
    if (!holds)
        std::abort();
}

// Every strict prefix of a complete message of `size` bytes must parse as incomplete.
template <typename Message, typename Parse, typename Byte>
void requireIncompletePrefixes(const Parse &parse, const Byte *data, std::size_t size)
{
    for (std::size_t prefix = 0; prefix < size; ++prefix) {
        Message partial;
        std::size_t consumed = 0;
        const auto status = parse(data, prefix, partial, consumed);
        require(status == decltype(status)::NeedMore);
    }
}

// Walks a reader whose next() returns a Step {kind, consumed} over data offered `piece` bytes at
// a time (more only when it asks for more); `note` appends what each step yields to the trace.
template <typename Reader, typename Note>
std::string walkInPieces(const std::uint8_t *data, std::size_t size, std::size_t piece, Note note)
{
    using Step = typename Reader::Step;
    Reader reader;
    std::string trace;
    std::size_t at = 0;
    std::size_t end = std::min(size, piece);
    while (at < size) {
        const Step step = reader.next(data + at, end - at);
        require(step.consumed <= end - at);
        if (step.kind == Step::NeedMore) {
            if (end == size)
                break;
            end = std::min(size, end + piece);
            continue;
        }
        if (step.kind == Step::Error)
            return trace + "<error>";
        note(step, data + at, trace);
        at += step.consumed;
        end = std::max(end, at);
    }
    return trace;
}
