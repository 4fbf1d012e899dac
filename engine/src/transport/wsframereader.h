// Walks the frames a WebSocket server sends, in whatever pieces they arrive: the payload of binary
// messages comes out, text messages are skipped, control frames are reported whole.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace qivro::engine {

class WsFrameReader
{
public:
    struct Step
    {
        enum Kind
        {
            NeedMore, // nothing consumed; more bytes are needed
            Skip, // consumed bytes that carry nothing for the caller
            Data, // consumed bytes of which [dataAt, dataAt + dataSize) are payload
            Ping, // payload holds what the pong must echo
            Close, // code 1005 when the frame carried none
            Error
        };
        Kind kind = NeedMore;
        std::size_t consumed = 0;
        std::size_t dataAt = 0;
        std::size_t dataSize = 0;
        std::string payload;
        std::uint16_t code = 0;
        std::string error;
    };

    Step next(const std::uint8_t *data, std::size_t size);

    // Payload bytes of the current frame not seen yet, and whether they are the caller's.
    std::uint64_t payloadLeft() const { return m_left; }
    bool delivering() const { return m_deliver; }
    // The caller read that many payload bytes itself, past the reader.
    void skipPayload(std::size_t size) { m_left -= size; }

private:
    std::uint64_t m_left = 0;
    bool m_deliver = false;
    bool m_inMessage = false;
};

} // namespace qivro::engine
