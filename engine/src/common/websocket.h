// The WebSocket framing (RFC 6455): the control API's streams when a client upgrades, and the
// ws transport's client side.
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

struct FrameHeader
{
    bool final = true;
    std::uint8_t opcode = Binary;
    bool masked = false;
    std::uint8_t mask[4] = {0, 0, 0, 0};
    std::uint64_t length = 0;
    std::size_t size = 0; // of the header itself
};

// A frame's header, with the checks both sides share: reserved bits clear, known opcodes,
// control frames short and final, lengths in their shortest form.
ParseStatus parseFrameHeader(const std::uint8_t *data, std::size_t size, FrameHeader &out);
// The header of a masked client frame (at most 14 bytes) into out; returns its size.
std::size_t encodeClientFrameHeader(
    std::uint8_t *out, std::uint8_t opcode, std::uint64_t length, const std::uint8_t mask[4]);
// XORs data with the mask, starting at the given offset into the payload.
void applyMask(
    std::uint8_t *data, std::size_t size, const std::uint8_t mask[4], std::size_t offset);

// The Sec-WebSocket-Accept value for a client's Sec-WebSocket-Key.
std::string acceptKey(const std::string &clientKey);
// One unmasked, unfragmented frame, as a server sends it.
std::string encodeFrame(std::uint8_t opcode, const std::string &payload);
// One client frame: it must be masked, control frames short and final, reserved bits clear.
ParseStatus parseClientFrame(const char *data, std::size_t size, Frame &out, std::size_t &consumed);

} // namespace qivro::engine::websocket
