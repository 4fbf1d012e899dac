// IPv4 and IPv6 packets as the TUN device carries them: parsed in place, their addresses and
// ports rewritten with the checksums adjusted, and the few the stack writes itself.
#pragma once

#include <array>
#include <asio/ip/address.hpp>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

namespace qivro::engine::tun {

constexpr std::uint8_t protoIcmp = 1;
constexpr std::uint8_t protoTcp = 6;
constexpr std::uint8_t protoUdp = 17;
constexpr std::uint8_t protoIcmp6 = 58;

constexpr std::uint8_t tcpFin = 0x01;
constexpr std::uint8_t tcpSyn = 0x02;
constexpr std::uint8_t tcpRst = 0x04;
constexpr std::uint8_t tcpAck = 0x10;

// An address as it sits in a header: 4 or 16 bytes.
struct IpBytes
{
    std::array<std::uint8_t, 16> bytes {};
    bool v6 = false;

    std::size_t size() const { return v6 ? 16 : 4; }
    asio::ip::address toAddress() const;
    static IpBytes from(const asio::ip::address &address);
    bool operator==(const IpBytes &other) const { return v6 == other.v6 && bytes == other.bytes; }
    bool operator!=(const IpBytes &other) const { return !(*this == other); }
};

// Source and destination of a TCP or UDP packet, as the application sent it.
struct Flow
{
    IpBytes src;
    IpBytes dst;
    std::uint16_t sport = 0;
    std::uint16_t dport = 0;

    bool operator==(const Flow &other) const
    {
        return sport == other.sport && dport == other.dport && src == other.src && dst == other.dst;
    }
};

struct FlowHash
{
    std::size_t operator()(const Flow &flow) const;
};

struct Packet
{
    std::uint8_t *data = nullptr;
    std::size_t size = 0; // the IP header's total length, never more than was read
    bool v6 = false;
    std::uint8_t protocol = 0;
    std::size_t l4 = 0; // offset of the transport header
    bool fragment = false; // part of a fragmented datagram (IPv4 fragments, IPv6 fragment header)
    std::uint8_t tcpFlags = 0;
    std::size_t payload = 0; // offset of the TCP or UDP payload
    Flow flow; // ports are 0 for ICMP
};

// Checks lengths and headers; false for anything the stack cannot handle.
bool parsePacket(std::uint8_t *data, std::size_t size, Packet &out);

// Points the packet at new addresses and ports. partial: the device hands over (and takes back)
// the transport checksum as the unfinished pseudo-header sum, the way checksum offload does.
void rewrite(Packet &packet, const Flow &to, bool partial = false);

// An echo request turned, in place, into its reply from the address it was sent to. False when
// the packet is not an echo request.
bool makeEchoReply(Packet &packet);

// An IPv4 or IPv6 UDP datagram from flow.src:sport to flow.dst:dport, after headroom zero bytes.
void buildUdp(const Flow &flow, const std::uint8_t *payload, std::size_t size,
    std::vector<std::uint8_t> &out, std::size_t headroom = 0);

// The one's complement sum of RFC 1071, folded and inverted.
std::uint16_t internetChecksum(const std::uint8_t *data, std::size_t size, std::uint32_t sum = 0);
// Whether the IP header (IPv4) and the transport checksum of a parsed packet are right.
bool checksumsValid(const Packet &packet);

} // namespace qivro::engine::tun
