// The WebSocket framing (RFC 6455) the control API's streams use when a client upgrades.
#pragma once

#include "common/address.h"

#include <cstddef>
#include <cstdint>
#include <string>

namespace qivro::engine::websocket {

enum Opcode : std::uint8_t
{
    Continuation = 0x0,
    Text = 0x1,
    Binary = 0x2,
    Close = 0x8,
    Ping = 0x9,
    Pong = 0xA
};

// Clients of the control API only send control frames; anything larger is refused.
constexpr std::size_t maxClientPayload = 64 * 1024;

struct Frame
{
    bool final = true;
    std::uint8_t opcode = Text;
    std::string payload; // unmasked
};

// The Sec-WebSocket-Accept value for a client's Sec-WebSocket-Key.
std::string acceptKey(const std::string &clientKey);
// One unmasked, unfragmented frame, as a server sends it.
std::string encodeFrame(std::uint8_t opcode, const std::string &payload);
// One client frame: it must be masked, control frames short and final, reserved bits clear.
ParseStatus parseClientFrame(const char *data, std::size_t size, Frame &out, std::size_t &consumed);

} // namespace qivro::engine::websocket
