// The gun framing of the grpc transport: each write is one gRPC message (flag 0, 32-bit length)
// holding a protobuf Hunk { bytes data = 1 } (MultiHunk repeats the field). The reader walks the
// server's messages in whatever pieces they arrive and hands out the data fields.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace qivro::engine {

class GunReader
{
public:
    // Larger messages are refused: gRPC's own default limit is 4 MiB.
    static constexpr std::uint32_t maxMessage = 16 << 20;

    struct Step
    {
        enum Kind
        {
            NeedMore, // nothing consumed
            Skip,
            Data, // the consumed bytes are all payload
            Error
        };
        Kind kind = NeedMore;
        std::size_t consumed = 0;
        std::string error;
    };

    Step next(const std::uint8_t *data, std::size_t size);
    // Inside a data field: the next bytes are payload (the caller may offer fewer at a time).
    bool inData() const { return m_fieldLeft > 0 && m_fieldIsData; }

    // The message header and the Hunk field header for size bytes of data.
    static void appendHeader(std::vector<std::uint8_t> &out, std::size_t size);

private:
    std::uint32_t m_messageLeft = 0; // bytes of the current message not walked yet
    std::uint64_t m_fieldLeft = 0; // bytes of the current field not walked yet
    bool m_fieldIsData = false;
};

} // namespace qivro::engine
