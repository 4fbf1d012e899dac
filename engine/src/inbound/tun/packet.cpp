#include "inbound/tun/packet.h"

#include <algorithm>
#include <cstring>

namespace qivro::engine::tun {

namespace {

std::uint16_t read16(const std::uint8_t *data)
{
    return static_cast<std::uint16_t>((data[0] << 8) | data[1]);
}

void write16(std::uint8_t *data, std::uint16_t value)
{
    data[0] = static_cast<std::uint8_t>(value >> 8);
    data[1] = static_cast<std::uint8_t>(value & 0xFF);
}

std::uint32_t sum16(const std::uint8_t *data, std::size_t size, std::uint32_t sum = 0)
{
    for (std::size_t i = 0; i + 1 < size; i += 2)
        sum += read16(data + i);
    if (size & 1)
        sum += static_cast<std::uint32_t>(data[size - 1] << 8);
    return sum;
}

std::uint16_t fold(std::uint32_t sum)
{
    while (sum >> 16)
        sum = (sum & 0xFFFF) + (sum >> 16);
    return static_cast<std::uint16_t>(sum);
}

// RFC 1624: HC' = ~(~HC + ~m + m') over every 16-bit word that changes.
class ChecksumDelta
{
public:
    void replace(const std::uint8_t *before, const std::uint8_t *after, std::size_t size)
    {
        for (std::size_t i = 0; i < size; i += 2) {
            m_sum += static_cast<std::uint16_t>(~read16(before + i));
            m_sum += read16(after + i);
        }
    }
    std::uint16_t apply(std::uint16_t check) const
    {
        return static_cast<std::uint16_t>(~fold(static_cast<std::uint16_t>(~check) + m_sum));
    }
    // A partial sum is the uninverted pseudo-header sum, so the same words change it the other
    // way round.
    std::uint16_t applyPartial(std::uint16_t partial) const
    {
        return static_cast<std::uint16_t>(~apply(static_cast<std::uint16_t>(~partial)));
    }

private:
    std::uint32_t m_sum = 0;
};

std::uint32_t pseudoHeaderSum(
    const Packet &packet, std::uint8_t protocol, std::size_t transportLength)
{
    const std::size_t addressSize = packet.v6 ? 16 : 4;
    const std::uint8_t *src = packet.data + (packet.v6 ? 8 : 12);
    std::uint32_t sum = sum16(src, addressSize * 2); // source and destination sit side by side
    sum += static_cast<std::uint32_t>(transportLength >> 16);
    sum += static_cast<std::uint32_t>(transportLength & 0xFFFF);
    sum += protocol;
    return sum;
}

std::size_t checksumOffset(std::uint8_t protocol)
{
    switch (protocol) {
    case protoTcp:
        return 16;
    case protoUdp:
        return 6;
    default:
        return 2;
    }
}

} // namespace

asio::ip::address IpBytes::toAddress() const
{
    if (v6) {
        asio::ip::address_v6::bytes_type raw;
        std::copy(bytes.begin(), bytes.end(), raw.begin());
        return asio::ip::address_v6(raw);
    }
    asio::ip::address_v4::bytes_type raw;
    std::copy(bytes.begin(), bytes.begin() + 4, raw.begin());
    return asio::ip::address_v4(raw);
}

IpBytes IpBytes::from(const asio::ip::address &address)
{
    IpBytes out;
    out.v6 = address.is_v6();
    if (out.v6) {
        const auto raw = address.to_v6().to_bytes();
        std::copy(raw.begin(), raw.end(), out.bytes.begin());
    } else {
        const auto raw = address.to_v4().to_bytes();
        std::copy(raw.begin(), raw.end(), out.bytes.begin());
    }
    return out;
}

std::size_t FlowHash::operator()(const Flow &flow) const
{
    // FNV-1a over what identifies the flow.
    std::uint64_t hash = 1469598103934665603ull;
    const auto mix = [&hash](const std::uint8_t *data, std::size_t size) {
        for (std::size_t i = 0; i < size; ++i)
            hash = (hash ^ data[i]) * 1099511628211ull;
    };
    mix(flow.src.bytes.data(), flow.src.size());
    mix(flow.dst.bytes.data(), flow.dst.size());
    const std::uint8_t ports[4]
        = {static_cast<std::uint8_t>(flow.sport >> 8), static_cast<std::uint8_t>(flow.sport),
            static_cast<std::uint8_t>(flow.dport >> 8), static_cast<std::uint8_t>(flow.dport)};
    mix(ports, sizeof(ports));
    return static_cast<std::size_t>(hash ^ (flow.src.v6 ? 0x9E3779B97F4A7C15ull : 0));
}

bool parsePacket(std::uint8_t *data, std::size_t size, Packet &out)
{
    out = Packet();
    out.data = data;
    if (size < 20)
        return false;
    const std::uint8_t version = data[0] >> 4;
    std::uint8_t next = 0;
    std::size_t offset = 0;
    if (version == 4) {
        const std::size_t headerLength = static_cast<std::size_t>(data[0] & 0x0F) * 4;
        const std::size_t total = read16(data + 2);
        if (headerLength < 20 || total < headerLength || total > size)
            return false;
        out.size = total;
        out.fragment = (read16(data + 6) & 0x3FFF) != 0; // more fragments, or an offset
        next = data[9];
        offset = headerLength;
        out.flow.src.v6 = out.flow.dst.v6 = false;
        std::memcpy(out.flow.src.bytes.data(), data + 12, 4);
        std::memcpy(out.flow.dst.bytes.data(), data + 16, 4);
    } else if (version == 6) {
        if (size < 40)
            return false;
        const std::size_t total = 40 + static_cast<std::size_t>(read16(data + 4));
        if (total > size)
            return false;
        out.v6 = true;
        out.size = total;
        out.flow.src.v6 = out.flow.dst.v6 = true;
        std::memcpy(out.flow.src.bytes.data(), data + 8, 16);
        std::memcpy(out.flow.dst.bytes.data(), data + 24, 16);
        next = data[6];
        offset = 40;
        // Hop-by-hop, routing and destination options come before the transport header.
        while (next == 0 || next == 43 || next == 60 || next == 44) {
            if (offset + 8 > total)
                return false;
            if (next == 44) {
                out.fragment = true;
                next = data[offset];
                offset += 8;
                continue;
            }
            const std::size_t length = (static_cast<std::size_t>(data[offset + 1]) + 1) * 8;
            next = data[offset];
            offset += length;
        }
    } else {
        return false;
    }
    out.protocol = next;
    out.l4 = offset;
    if (offset > out.size)
        return false;
    const std::size_t l4Size = out.size - offset;
    const std::uint8_t *l4 = data + offset;
    if (out.fragment)
        return true; // only the first fragment holds ports; the stack drops them all
    switch (next) {
    case protoTcp: {
        if (l4Size < 20)
            return false;
        const std::size_t headerLength = static_cast<std::size_t>(l4[12] >> 4) * 4;
        if (headerLength < 20 || headerLength > l4Size)
            return false;
        out.tcpFlags = l4[13];
        out.payload = offset + headerLength;
        break;
    }
    case protoUdp:
        if (l4Size < 8 || read16(l4 + 4) < 8 || read16(l4 + 4) > l4Size)
            return false;
        out.payload = offset + 8;
        break;
    case protoIcmp:
    case protoIcmp6:
        if (l4Size < 8)
            return false;
        out.payload = offset + 8;
        return true;
    default:
        return true;
    }
    out.flow.sport = read16(l4);
    out.flow.dport = read16(l4 + 2);
    return true;
}

void rewrite(Packet &packet, const Flow &to, bool partial)
{
    const std::size_t addressSize = packet.v6 ? 16 : 4;
    std::uint8_t *src = packet.data + (packet.v6 ? 8 : 12);
    std::uint8_t *dst = src + addressSize;
    std::uint8_t *l4 = packet.data + packet.l4;
    ChecksumDelta addresses;
    addresses.replace(src, to.src.bytes.data(), addressSize);
    addresses.replace(dst, to.dst.bytes.data(), addressSize);
    if (!packet.v6)
        write16(packet.data + 10, addresses.apply(read16(packet.data + 10)));
    std::uint8_t ports[4];
    write16(ports, to.sport);
    write16(ports + 2, to.dport);
    // A partial sum covers the pseudo-header only: the ports are summed when it is finished.
    ChecksumDelta transport = addresses;
    if (!partial)
        transport.replace(l4, ports, 4);
    std::uint8_t *check = l4 + checksumOffset(packet.protocol);
    const std::uint16_t before = read16(check);
    // A UDP datagram over IPv4 may come without a checksum; it stays without one.
    if (!(packet.protocol == protoUdp && !packet.v6 && before == 0 && !partial)) {
        std::uint16_t after = partial ? transport.applyPartial(before) : transport.apply(before);
        if (packet.protocol == protoUdp && after == 0 && !partial)
            after = 0xFFFF;
        write16(check, after);
    }
    std::memcpy(src, to.src.bytes.data(), addressSize);
    std::memcpy(dst, to.dst.bytes.data(), addressSize);
    std::memcpy(l4, ports, 4);
    packet.flow = to;
}

bool makeEchoReply(Packet &packet)
{
    std::uint8_t *l4 = packet.data + packet.l4;
    const std::size_t l4Size = packet.size - packet.l4;
    if (packet.fragment
        || (packet.v6 ? packet.protocol != protoIcmp6 || l4[0] != 128
                      : packet.protocol != protoIcmp || l4[0] != 8))
        return false;
    const std::size_t addressSize = packet.v6 ? 16 : 4;
    std::uint8_t *src = packet.data + (packet.v6 ? 8 : 12);
    std::swap_ranges(src, src + addressSize, src + addressSize);
    std::swap(packet.flow.src, packet.flow.dst);
    l4[0] = packet.v6 ? 129 : 0;
    write16(l4 + 2, 0);
    if (packet.v6) {
        packet.data[7] = 64;
        write16(l4 + 2, internetChecksum(l4, l4Size, pseudoHeaderSum(packet, protoIcmp6, l4Size)));
    } else {
        packet.data[8] = 64;
        write16(packet.data + 10, 0);
        write16(packet.data + 10, internetChecksum(packet.data, packet.l4));
        write16(l4 + 2, internetChecksum(l4, l4Size));
    }
    return true;
}

void buildUdp(const Flow &flow, const std::uint8_t *payload, std::size_t size,
    std::vector<std::uint8_t> &out, std::size_t headroom)
{
    const bool v6 = flow.src.v6;
    const std::size_t ipHeader = v6 ? 40 : 20;
    const std::size_t udpLength = 8 + size;
    out.assign(headroom + ipHeader + udpLength, 0);
    std::uint8_t *data = out.data() + headroom;
    if (v6) {
        data[0] = 0x60;
        write16(data + 4, static_cast<std::uint16_t>(udpLength));
        data[6] = protoUdp;
        data[7] = 64;
        std::memcpy(data + 8, flow.src.bytes.data(), 16);
        std::memcpy(data + 24, flow.dst.bytes.data(), 16);
    } else {
        data[0] = 0x45;
        write16(data + 2, static_cast<std::uint16_t>(ipHeader + udpLength));
        write16(data + 6, 0x4000); // don't fragment
        data[8] = 64;
        data[9] = protoUdp;
        std::memcpy(data + 12, flow.src.bytes.data(), 4);
        std::memcpy(data + 16, flow.dst.bytes.data(), 4);
        write16(data + 10, internetChecksum(data, ipHeader));
    }
    std::uint8_t *udp = data + ipHeader;
    write16(udp, flow.sport);
    write16(udp + 2, flow.dport);
    write16(udp + 4, static_cast<std::uint16_t>(udpLength));
    if (size > 0)
        std::memcpy(udp + 8, payload, size);
    Packet view;
    view.data = data;
    view.v6 = v6;
    std::uint16_t check
        = internetChecksum(udp, udpLength, pseudoHeaderSum(view, protoUdp, udpLength));
    write16(udp + 6, check == 0 ? 0xFFFF : check);
}

std::uint16_t internetChecksum(const std::uint8_t *data, std::size_t size, std::uint32_t sum)
{
    return static_cast<std::uint16_t>(~fold(sum16(data, size, sum)));
}

bool checksumsValid(const Packet &packet)
{
    if (!packet.v6 && internetChecksum(packet.data, packet.l4) != 0)
        return false;
    const std::size_t l4Size = packet.size - packet.l4;
    const std::uint8_t *l4 = packet.data + packet.l4;
    if (packet.protocol == protoIcmp)
        return internetChecksum(l4, l4Size) == 0;
    if (packet.protocol == protoUdp && !packet.v6 && read16(l4 + 6) == 0)
        return true;
    return internetChecksum(l4, l4Size, pseudoHeaderSum(packet, packet.protocol, l4Size)) == 0;
}

} // namespace qivro::engine::tun
