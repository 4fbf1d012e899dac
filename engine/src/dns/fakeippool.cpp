#include "dns/fakeippool.h"

#include <algorithm>
#include <limits>

namespace qivro::engine {

namespace {

std::uint64_t rangeCapacity(const IpPrefix &prefix)
{
    const int hostBits = (prefix.address.is_v4() ? 32 : 128) - prefix.length;
    // The first address (the network's own) and, for IPv4, the last are never handed out.
    const std::uint64_t size = hostBits >= 63 ? (1ull << 63) : (1ull << hostBits);
    return size > 2 ? std::min(size - 2, FakeIpPool::maxEntries) : 0;
}

} // namespace

void FakeIpPool::configure(
    const std::optional<IpPrefix> &inet4, const std::optional<IpPrefix> &inet6)
{
    std::lock_guard lock(m_mutex);
    for (auto [range, prefix] : {std::pair {&m_v4, &inet4}, std::pair {&m_v6, &inet6}}) {
        *range = Range();
        range->prefix = *prefix;
        if (range->prefix)
            range->capacity = rangeCapacity(*range->prefix);
    }
}

bool FakeIpPool::enabled(bool v6) const
{
    std::lock_guard lock(m_mutex);
    return (v6 ? m_v6 : m_v4).capacity > 0;
}

std::optional<asio::ip::address> FakeIpPool::allocate(const std::string &domain, bool v6)
{
    std::lock_guard lock(m_mutex);
    Range &range = v6 ? m_v6 : m_v4;
    if (range.capacity == 0)
        return std::nullopt;
    const auto known = range.byDomain.find(domain);
    if (known != range.byDomain.end())
        return addressAt(*range.prefix, known->second);
    const std::uint64_t offset = 1 + range.next;
    range.next = (range.next + 1) % range.capacity;
    const auto previous = range.byOffset.find(offset);
    if (previous != range.byOffset.end()) {
        range.byDomain.erase(previous->second);
        previous->second = domain;
    } else {
        range.byOffset.emplace(offset, domain);
    }
    range.byDomain.emplace(domain, offset);
    return addressAt(*range.prefix, offset);
}

std::string FakeIpPool::lookup(const asio::ip::address &ip) const
{
    std::lock_guard lock(m_mutex);
    const Range &range = ip.is_v4() ? m_v4 : m_v6;
    if (range.capacity == 0)
        return {};
    const std::optional<std::uint64_t> offset = offsetOf(*range.prefix, ip);
    if (!offset)
        return {};
    const auto found = range.byOffset.find(*offset);
    return found != range.byOffset.end() ? found->second : std::string();
}

asio::ip::address FakeIpPool::addressAt(const IpPrefix &prefix, std::uint64_t offset)
{
    if (prefix.address.is_v4()) {
        const std::uint32_t mask = prefix.length == 0 ? 0 : 0xFFFFFFFFu << (32 - prefix.length);
        return asio::ip::address_v4(
            (prefix.address.to_v4().to_uint() & mask) + static_cast<std::uint32_t>(offset));
    }
    auto bytes = prefix.address.to_v6().to_bytes();
    for (int bit = prefix.length; bit < 128; ++bit)
        bytes[static_cast<std::size_t>(bit / 8)] &= static_cast<std::uint8_t>(~(0x80 >> (bit % 8)));
    std::uint64_t carry = offset;
    for (int i = 15; i >= 0 && carry; --i) {
        const std::uint64_t sum = bytes[static_cast<std::size_t>(i)] + (carry & 0xFF);
        bytes[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(sum);
        carry = (carry >> 8) + (sum >> 8);
    }
    return asio::ip::address_v6(bytes);
}

std::optional<std::uint64_t> FakeIpPool::offsetOf(
    const IpPrefix &prefix, const asio::ip::address &ip)
{
    if (!prefix.contains(ip))
        return std::nullopt;
    if (ip.is_v4()) {
        const std::uint32_t mask = prefix.length == 0 ? 0 : 0xFFFFFFFFu << (32 - prefix.length);
        return ip.to_v4().to_uint() & ~mask;
    }
    // Offsets never pass maxEntries, so the low 64 bits hold them whole; a higher host bit set
    // means the address was not handed out.
    const auto bytes = ip.to_v6().to_bytes();
    for (int bit = prefix.length; bit < 64; ++bit) {
        if (bytes[static_cast<std::size_t>(bit / 8)] & (0x80 >> (bit % 8)))
            return std::numeric_limits<std::uint64_t>::max();
    }
    std::uint64_t offset = 0;
    for (int i = 8; i < 16; ++i)
        offset = (offset << 8) | bytes[static_cast<std::size_t>(i)];
    if (prefix.length > 64)
        offset &= (1ull << (128 - prefix.length)) - 1;
    return offset;
}

} // namespace qivro::engine
