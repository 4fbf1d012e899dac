#include "inbound/tun/systemstack.h"

#include <algorithm>

namespace qivro::engine::tun {

namespace {

constexpr std::uint8_t needsChecksum = 1; // virtio: the transport checksum is the partial sum

IpBytes nextAddress(IpBytes address)
{
    for (std::size_t i = address.size(); i-- > 0;) {
        if (++address.bytes[i] != 0)
            break;
    }
    return address;
}

} // namespace

SystemStack::SystemStack(
    PacketDevice &device, StackHandler &handler, std::chrono::milliseconds udpTimeout)
    : m_device(device)
    , m_handler(handler)
    , m_udpTimeout(udpTimeout)
{ }

void SystemStack::setAddresses(const StackAddresses &addresses)
{
    m_inet4.reset();
    m_fake4.reset();
    m_inet6.reset();
    m_fake6.reset();
    if (addresses.inet4) {
        m_inet4 = IpBytes::from(*addresses.inet4);
        m_fake4 = nextAddress(*m_inet4);
    }
    if (addresses.inet6) {
        m_inet6 = IpBytes::from(*addresses.inet6);
        m_fake6 = nextAddress(*m_inet6);
    }
    m_port4 = addresses.port4;
    m_port6 = addresses.port6;
}

std::optional<asio::ip::address> SystemStack::fakeSource(bool v6) const
{
    const std::optional<IpBytes> &fake = v6 ? m_fake6 : m_fake4;
    if (!fake)
        return std::nullopt;
    return fake->toAddress();
}

void SystemStack::input(std::uint8_t *data, std::size_t size, Clock::time_point now)
{
    const std::size_t header = m_device.headerSize();
    Packet packet;
    if (size < header || !parsePacket(data + header, size - header, packet) || packet.fragment)
        return; // IPv4 fragments and IPv6 fragment headers: dropped, as the design has it
    switch (packet.protocol) {
    case protoTcp:
        // The offload header goes back as it came: segment size and unfinished checksum hold
        // for the rewritten packet too.
        return inputTcp(packet, header > 0 && (data[0] & needsChecksum), now);
    case protoUdp:
        return inputUdp(packet, now);
    case protoIcmp:
    case protoIcmp6:
        if (makeEchoReply(packet)) {
            std::fill(data, data + header, 0);
            m_device.write(data, header + packet.size);
        }
        return;
    default:
        return;
    }
}

bool SystemStack::isListener(const IpBytes &address, std::uint16_t port) const
{
    const std::optional<IpBytes> &inet = address.v6 ? m_inet6 : m_inet4;
    return inet && *inet == address && port == (address.v6 ? m_port6 : m_port4);
}

void SystemStack::inputTcp(Packet &packet, bool partial, Clock::time_point now)
{
    const Flow &flow = packet.flow;
    const std::optional<IpBytes> &inet = flow.src.v6 ? m_inet6 : m_inet4;
    const std::optional<IpBytes> &fake = flow.src.v6 ? m_fake6 : m_fake4;
    if (!inet)
        return;
    if (isListener(flow.src, flow.sport)) {
        // The kernel's side of a turned-around connection, back to the application.
        const auto entry = m_ports.find(flow.dport);
        if (entry == m_ports.end() || flow.dst != *fake || entry->second.flow.src.v6 != flow.src.v6)
            return;
        const Flow &original = entry->second.flow;
        rewrite(packet, Flow {original.dst, original.src, original.dport, original.sport}, partial);
        writeBack(packet);
        return;
    }
    if (flow.dst == *inet || flow.dst == *fake)
        return;
    const bool opening = (packet.tcpFlags & (tcpSyn | tcpAck)) == tcpSyn;
    std::optional<std::uint16_t> port;
    const auto known = m_flows.find(flow);
    if (known != m_flows.end()) {
        port = known->second;
        TcpEntry &entry = m_ports.at(*port);
        if (opening && entry.state == State::Closed) {
            // The same four-tuple again after a close: a fresh port, so the kernel sees a new
            // connection rather than one in TIME_WAIT.
            releasePort(*port);
            port.reset();
        } else if (entry.state == State::Pending) {
            entry.since = now;
        }
    }
    if (!port) {
        // A segment of a connection nobody knows (the engine restarted) is let through too: the
        // kernel answers it with a reset, which tells the application.
        if (packet.tcpFlags & tcpRst)
            return;
        port = allocatePort();
        if (!port)
            return;
        m_flows.emplace(flow, *port);
        m_ports.emplace(*port, TcpEntry {flow, State::Pending, now});
    }
    rewrite(packet, Flow {*fake, *inet, *port, flow.src.v6 ? m_port6 : m_port4}, partial);
    writeBack(packet);
}

void SystemStack::writeBack(const Packet &packet)
{
    const std::size_t header = m_device.headerSize();
    m_device.write(packet.data - header, header + packet.size);
}

void SystemStack::inputUdp(Packet &packet, Clock::time_point now)
{
    const std::uint8_t *payload = packet.data + packet.payload;
    const std::size_t size = packet.size - packet.payload;
    const auto known = m_udp.find(packet.flow);
    if (known != m_udp.end()) {
        known->second.lastSeen = now;
        // Copied: the session may outlive the read buffer.
        known->second.session->send(payload, size);
        return;
    }
    std::shared_ptr<UdpSession> session = m_handler.openUdp(packet.flow, payload, size);
    if (session)
        m_udp.emplace(packet.flow, UdpEntry {std::move(session), now});
}

std::optional<Flow> SystemStack::accepted(const asio::ip::address &peer, std::uint16_t port)
{
    const auto entry = m_ports.find(port);
    if (entry == m_ports.end())
        return std::nullopt;
    const IpBytes address = IpBytes::from(peer);
    const std::optional<IpBytes> &fake = address.v6 ? m_fake6 : m_fake4;
    if (!fake || *fake != address || entry->second.flow.src.v6 != address.v6)
        return std::nullopt;
    entry->second.state = State::Accepted;
    return entry->second.flow;
}

void SystemStack::closed(std::uint16_t port, Clock::time_point now)
{
    const auto entry = m_ports.find(port);
    if (entry == m_ports.end())
        return;
    entry->second.state = State::Closed;
    entry->second.since = now;
}

bool SystemStack::replyUdp(
    const Flow &flow, const std::uint8_t *payload, std::size_t size, Clock::time_point now)
{
    const auto entry = m_udp.find(flow);
    if (entry == m_udp.end())
        return false;
    entry->second.lastSeen = now;
    buildUdp(Flow {flow.dst, flow.src, flow.dport, flow.sport}, payload, size, m_scratch,
        m_device.headerSize());
    m_device.write(m_scratch.data(), m_scratch.size());
    return true;
}

void SystemStack::removeUdp(const Flow &flow)
{
    m_udp.erase(flow);
}

void SystemStack::expire(Clock::time_point now)
{
    for (auto it = m_udp.begin(); it != m_udp.end();) {
        if (now - it->second.lastSeen >= m_udpTimeout)
            it = m_udp.erase(it);
        else
            ++it;
    }
    std::vector<std::uint16_t> stale;
    for (const auto &[port, entry] : m_ports) {
        if ((entry.state == State::Pending && now - entry.since >= pendingTimeout)
            || (entry.state == State::Closed && now - entry.since >= closedLinger))
            stale.push_back(port);
    }
    for (const std::uint16_t port : stale)
        releasePort(port);
}

std::optional<std::uint16_t> SystemStack::natPort(const Flow &flow) const
{
    const auto known = m_flows.find(flow);
    if (known == m_flows.end())
        return std::nullopt;
    return known->second;
}

std::optional<std::uint16_t> SystemStack::allocatePort()
{
    constexpr std::size_t range = 65536 - firstNatPort;
    for (std::size_t tried = 0; tried < range; ++tried) {
        const std::uint16_t port = m_nextPort;
        m_nextPort
            = m_nextPort == 65535 ? firstNatPort : static_cast<std::uint16_t>(m_nextPort + 1);
        if (!m_ports.count(port))
            return port;
    }
    return std::nullopt;
}

void SystemStack::releasePort(std::uint16_t port)
{
    const auto entry = m_ports.find(port);
    if (entry == m_ports.end())
        return;
    m_flows.erase(entry->second.flow);
    m_ports.erase(entry);
}

} // namespace qivro::engine::tun
