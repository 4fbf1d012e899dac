// The VLESS wire format: the request header, the response header, the length-prefixed UDP form
// (command 2) and XUDP, the mux.cool frames of command 3 that carry packets to many addresses.
#pragma once

#include "common/address.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace qivro::engine::vless {

using Uuid = std::array<std::uint8_t, 16>;

// A UUID in any of its text forms; any other text maps to its UUIDv5 in the nil namespace, the
// rule VLESS servers apply to ids that are not UUIDs.
Uuid parseUuid(const std::string &text);

enum Command : std::uint8_t
{
    CommandTcp = 1,
    CommandUdp = 2,
    CommandMux = 3
};

// port (big-endian) | type (1 IPv4, 2 domain, 3 IPv6) | address. False for a domain too long.
bool appendAddress(std::vector<std::uint8_t> &out, const Destination &destination);
ParseStatus parseAddress(
    const std::uint8_t *data, std::size_t size, Destination &out, std::size_t &consumed);

// version 0 | uuid | addons (the flow, when there is one) | command | [address] (the mux command
// carries none).
bool appendRequest(std::vector<std::uint8_t> &out, const Uuid &uuid, Command command,
    const Destination &destination, const std::string &flow = {});

// Reads the response header once: version 0, then addons to skip.
class ResponseParser
{
public:
    // Returns how many bytes belong to the header; done() once it is complete.
    std::size_t feed(const std::uint8_t *data, std::size_t size);
    bool done() const { return m_state == State::Done; }
    bool failed() const { return m_state == State::Failed; }
    const std::string &error() const { return m_error; }

private:
    enum class State
    {
        Version,
        AddonsLength,
        Addons,
        Done,
        Failed
    };
    State m_state = State::Version;
    std::size_t m_addonsLeft = 0;
    std::string m_error;
};

// Command 2: every datagram is length | payload, both ways.
void appendLengthPacket(std::vector<std::uint8_t> &out, const std::uint8_t *data, std::size_t size);
ParseStatus parseLengthPacket(const std::uint8_t *data, std::size_t size, std::size_t &payloadAt,
    std::size_t &payloadSize, std::size_t &consumed);

namespace xudp {

enum Status : std::uint8_t
{
    New = 1,
    Keep = 2,
    End = 3,
    KeepAlive = 4
};

constexpr std::uint8_t optionData = 1;
constexpr std::uint8_t optionError = 2;
constexpr std::size_t maxMetaLength = 512;

// One packet as a frame: the first of a connection opens session 0 (New), later ones keep it.
bool appendFrame(std::vector<std::uint8_t> &out, bool first, const Destination &to,
    const std::uint8_t *data, std::size_t size);

struct Frame
{
    std::uint8_t status = 0;
    std::uint8_t option = 0;
    bool hasAddress = false; // replies without one come from the session's first destination
    Destination address;
    std::size_t dataAt = 0; // offset of the payload in the parsed bytes
    std::size_t dataSize = 0;
};

ParseStatus parseFrame(
    const std::uint8_t *data, std::size_t size, Frame &out, std::size_t &consumed);

} // namespace xudp

} // namespace qivro::engine::vless
