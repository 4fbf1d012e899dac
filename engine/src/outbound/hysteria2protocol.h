// Hysteria 2 framing: QUIC variable-length integers, the TCP request and response heads that
// open each proxy stream, and UDP messages carried in QUIC datagrams (with fragmentation).
#pragma once

#include "common/address.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace qivro::engine::hy2 {

constexpr std::uint64_t kTcpRequestId = 0x401;
constexpr std::size_t kMaxAddressLength = 2048;
constexpr std::size_t kMaxMessageLength = 2048;
constexpr std::size_t kMaxPaddingLength = 4096;
constexpr int kAuthOkStatus = 233;

void appendVarint(std::vector<std::uint8_t> &out, std::uint64_t value);
ParseStatus readVarint(
    const std::uint8_t *data, std::size_t size, std::uint64_t &value, std::size_t &consumed);

// Letters and digits, a length drawn from [minimum, maximum].
std::string randomPadding(std::size_t minimum, std::size_t maximum);

std::vector<std::uint8_t> tcpRequest(const std::string &address);

struct TcpResponse
{
    std::uint8_t status = 0;
    std::string message;
};
// consumed is set on Done; lengths beyond the protocol's limits are Invalid.
ParseStatus parseTcpResponse(
    const std::uint8_t *data, std::size_t size, TcpResponse &out, std::size_t &consumed);

struct UdpMessage
{
    std::uint32_t sessionId = 0;
    std::uint16_t packetId = 0;
    std::uint8_t fragmentId = 0;
    std::uint8_t fragmentCount = 1;
    std::string address;
    const std::uint8_t *data = nullptr;
    std::size_t size = 0;
};
bool parseUdpMessage(const std::uint8_t *data, std::size_t size, UdpMessage &out);
void appendUdpMessage(std::vector<std::uint8_t> &out, const UdpMessage &message);

// One packet as messages of at most maxSize bytes each: one unfragmented message when it fits,
// else fragments under packetId. Empty when even a one-byte fragment does not fit.
std::vector<std::vector<std::uint8_t>> splitUdpPacket(std::uint32_t sessionId,
    std::uint16_t packetId, const std::string &address, const std::uint8_t *data, std::size_t size,
    std::size_t maxSize);

// Reassembles one packet at a time: a fragment of another packet drops the one in progress.
class Defragger
{
public:
    // True with the whole packet in packet (and its address in address) once complete.
    bool feed(const UdpMessage &message, std::vector<std::uint8_t> &packet, std::string &address);

private:
    std::uint16_t m_packetId = 0;
    std::size_t m_received = 0;
    std::vector<std::vector<std::uint8_t>> m_fragments;
    std::vector<bool> m_have;
    std::string m_address;
};

} // namespace qivro::engine::hy2
