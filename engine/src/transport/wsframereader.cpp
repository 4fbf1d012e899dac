#include "transport/wsframereader.h"

#include "common/websocket.h"

#include <algorithm>

namespace qivro::engine {

WsFrameReader::Step WsFrameReader::next(const std::uint8_t *data, std::size_t size)
{
    Step step;
    if (m_left > 0) {
        if (size == 0)
            return step;
        const std::size_t count = static_cast<std::size_t>(std::min<std::uint64_t>(size, m_left));
        m_left -= count;
        step.kind = m_deliver ? Step::Data : Step::Skip;
        step.consumed = count;
        step.dataSize = m_deliver ? count : 0;
        return step;
    }
    websocket::FrameHeader header;
    switch (websocket::parseFrameHeader(data, size, header)) {
    case ParseStatus::NeedMore:
        return step;
    case ParseStatus::Invalid:
        step.kind = Step::Error;
        step.error = "websocket: malformed frame from the server";
        return step;
    case ParseStatus::Done:
        break;
    }
    if (header.masked) {
        step.kind = Step::Error;
        step.error = "websocket: the server masked a frame";
        return step;
    }
    if (header.opcode & 0x08) {
        if (size < header.size + header.length)
            return step;
        step.consumed = header.size + static_cast<std::size_t>(header.length);
        const std::string payload(reinterpret_cast<const char *>(data + header.size),
            static_cast<std::size_t>(header.length));
        if (header.opcode == websocket::Ping) {
            step.kind = Step::Ping;
            step.payload = payload;
        } else if (header.opcode == websocket::Close) {
            step.kind = Step::Close;
            step.code = 1005;
            if (payload.size() >= 2) {
                step.code = static_cast<std::uint16_t>(static_cast<std::uint8_t>(payload[0]) << 8
                    | static_cast<std::uint8_t>(payload[1]));
                step.payload = payload.substr(2);
            } else if (payload.size() == 1) {
                step.kind = Step::Error;
                step.error = "websocket: malformed close frame";
            }
        } else {
            step.kind = Step::Skip;
        }
        return step;
    }
    if (header.opcode == websocket::Continuation) {
        if (!m_inMessage) {
            step.kind = Step::Error;
            step.error = "websocket: continuation frame without a message";
            return step;
        }
    } else {
        if (m_inMessage) {
            step.kind = Step::Error;
            step.error = "websocket: new message inside a fragmented one";
            return step;
        }
        m_deliver = header.opcode == websocket::Binary;
    }
    m_inMessage = !header.final;
    m_left = header.length;
    step.kind = Step::Skip;
    step.consumed = header.size;
    return step;
}

} // namespace qivro::engine
