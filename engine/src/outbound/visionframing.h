// The framing of the vision flow ("xtls-rprx-vision") inside a VLESS connection: while the inner
// traffic's TLS handshake passes, each write is a padded frame
//   [16-byte user id, first frame of a direction only] | command | content length (u16) |
//   padding length (u16) | content | padding
// so its record sizes do not show through the outer TLS. Command 0 goes on padding, 1 ends it
// (plain bytes through the outer TLS from then on), 2 ends it and leaves the outer TLS: the inner
// TLS 1.3 records then travel as they are on the TCP connection.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace qivro::engine::vision {

using Bytes = std::vector<std::uint8_t>;
using UserId = std::array<std::uint8_t, 16>;

namespace command {
constexpr std::uint8_t padding = 0;
constexpr std::uint8_t end = 1;
constexpr std::uint8_t direct = 2;
} // namespace command

// Frames carry at most this much content (a frame and its header fit an 8 KiB buffer).
constexpr std::size_t maxContent = 8192 - 21;
// Packets of each direction looked at for the inner TLS handshake.
constexpr int packetsToFilter = 8;

// What the first packets of both directions tell about the inner traffic.
class TrafficState
{
public:
    // Looks at one packet of one direction while that direction still filters.
    void filter(const std::uint8_t *data, std::size_t size, bool uplink);

    bool isTls() const { return m_isTls; }
    bool isTls12OrAbove() const { return m_isTls12OrAbove; }
    // Inner TLS 1.3 with one of its own suites: its records may leave the outer TLS.
    bool directAllowed() const { return m_directAllowed; }
    int remaining(bool uplink) const { return uplink ? m_uplinkPackets : m_downlinkPackets; }

private:
    int m_uplinkPackets = packetsToFilter;
    int m_downlinkPackets = packetsToFilter;
    bool m_isTls = false;
    bool m_isTls12OrAbove = false;
    bool m_directAllowed = false;
    std::uint16_t m_cipher = 0;
    long m_serverHelloLeft = 0;
};

// True when data is one or more whole TLS application data records.
bool completeApplicationRecords(const std::uint8_t *data, std::size_t size);

// Where a write too large for one frame is cut: before its last application data record when
// that keeps both parts framable, else in the middle.
std::size_t splitPoint(const std::uint8_t *data, std::size_t size);

// Appends one frame; padding is drawn at random ("long" hides short TLS handshake messages).
void appendFrame(Bytes &out, const UserId *userId, std::uint8_t commandByte,
    const std::uint8_t *content, std::size_t size, bool longPadding);

// Takes frames apart as their bytes arrive.
class Unpadder
{
public:
    explicit Unpadder(const UserId &userId)
        : m_userId(userId)
    { }
    // Appends the content of the frames in data to out. When a frame with command 1 or 2 ends,
    // finished() turns true and the bytes after it are left in data[consumed, size).
    // False when the first bytes are not a frame for our user id.
    bool feed(const std::uint8_t *data, std::size_t size, Bytes &out, std::size_t &consumed);
    bool finished() const { return m_finished; }
    std::uint8_t lastCommand() const { return m_command; }

private:
    UserId m_userId;
    std::size_t m_idMatched = 0;
    bool m_started = false;
    bool m_finished = false;
    std::uint8_t m_header[5] = {};
    std::size_t m_headerHave = 0;
    std::uint8_t m_command = 0;
    std::size_t m_contentLeft = 0;
    std::size_t m_paddingLeft = 0;
};

} // namespace qivro::engine::vision
