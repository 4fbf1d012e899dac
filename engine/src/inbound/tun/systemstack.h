// The TUN's packet side, with no TCP of its own: a connection an application opens through the
// TUN is turned around on the device towards a listener of the engine on the TUN's address, so
// the kernel's TCP terminates it. The TUN prefix holds that address (A) and the next one (B): a
// packet S:sp -> D:dp goes back into the device as B:nat -> A:port, the listener's replies
// A:port -> B:nat come out as D:dp -> S:sp, and accepting B:nat gives back the original D:dp.
// UDP goes through a table of sessions, each answering from the address it was sent to; echo
// requests are answered on the spot.
#pragma once

#include "inbound/tun/packet.h"
#include "inbound/tun/packetdevice.h"

#include <chrono>
#include <memory>
#include <optional>
#include <unordered_map>
#include <vector>

namespace qivro::engine::tun {

// One application's datagrams to one destination, carried on by whoever opened it.
class UdpSession
{
public:
    virtual ~UdpSession() = default;
    virtual void send(const std::uint8_t *payload, std::size_t size) = 0;
};

class StackHandler
{
public:
    virtual ~StackHandler() = default;
    // A new UDP flow with its first datagram; nullptr drops it.
    virtual std::shared_ptr<UdpSession> openUdp(
        const Flow &flow, const std::uint8_t *payload, std::size_t size)
        = 0;
};

struct StackAddresses
{
    std::optional<asio::ip::address_v4> inet4; // A for IPv4, the listener's address
    std::optional<asio::ip::address_v6> inet6;
    std::uint16_t port4 = 0; // the listener's ports
    std::uint16_t port6 = 0;
};

class SystemStack
{
public:
    using Clock = std::chrono::steady_clock;
    // A connection the kernel never completed, and one already closed, keep their port this
    // long (the closed one for its last segments).
    static constexpr std::chrono::seconds pendingTimeout {60};
    static constexpr std::chrono::seconds closedLinger {30};
    static constexpr std::uint16_t firstNatPort = 10000;

    SystemStack(PacketDevice &device, StackHandler &handler, std::chrono::milliseconds udpTimeout);
    void setAddresses(const StackAddresses &addresses);
    // The fake source B of a family (the TUN address + 1), when the family is configured.
    std::optional<asio::ip::address> fakeSource(bool v6) const;

    // One packet read from the device; writes what answers or continues it.
    void input(std::uint8_t *data, std::size_t size, Clock::time_point now = Clock::now());

    // The flow behind a connection the listener accepted from peer:port, which is now in use;
    // nothing for a peer that is not B.
    std::optional<Flow> accepted(const asio::ip::address &peer, std::uint16_t port);
    // The accepted connection behind a NAT port has ended.
    void closed(std::uint16_t port, Clock::time_point now = Clock::now());

    // A datagram back to the application of a UDP flow, from the address it sent to. False when
    // the flow's session has gone.
    bool replyUdp(const Flow &flow, const std::uint8_t *payload, std::size_t size,
        Clock::time_point now = Clock::now());
    void removeUdp(const Flow &flow);

    // Drops idle UDP sessions and TCP ports no longer in use.
    void expire(Clock::time_point now = Clock::now());

    std::size_t tcpCount() const { return m_ports.size(); }
    std::size_t udpCount() const { return m_udp.size(); }
    // The NAT port a TCP flow was given, if any.
    std::optional<std::uint16_t> natPort(const Flow &flow) const;

private:
    enum class State
    {
        Pending,
        Accepted,
        Closed
    };
    struct TcpEntry
    {
        Flow flow;
        State state = State::Pending;
        Clock::time_point since;
    };
    struct UdpEntry
    {
        std::shared_ptr<UdpSession> session;
        Clock::time_point lastSeen;
    };

    void inputTcp(Packet &packet, bool partial, Clock::time_point now);
    void writeBack(const Packet &packet);
    void inputUdp(Packet &packet, Clock::time_point now);
    std::optional<std::uint16_t> allocatePort();
    void releasePort(std::uint16_t port);
    bool isListener(const IpBytes &address, std::uint16_t port) const;

    PacketDevice &m_device;
    StackHandler &m_handler;
    std::chrono::milliseconds m_udpTimeout;
    std::optional<IpBytes> m_inet4;
    std::optional<IpBytes> m_fake4;
    std::optional<IpBytes> m_inet6;
    std::optional<IpBytes> m_fake6;
    std::uint16_t m_port4 = 0;
    std::uint16_t m_port6 = 0;
    std::unordered_map<Flow, std::uint16_t, FlowHash> m_flows;
    std::unordered_map<std::uint16_t, TcpEntry> m_ports;
    std::uint16_t m_nextPort = firstNatPort;
    std::unordered_map<Flow, UdpEntry, FlowHash> m_udp;
    std::vector<std::uint8_t> m_scratch;
};

} // namespace qivro::engine::tun
