// Fake addresses handed out for domains, so that a connection made to one can be routed and
// dialed by the domain it stands for.
#pragma once

#include "config/config.h"

#include <asio/ip/address.hpp>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <unordered_map>

namespace qivro::engine {

class FakeIpPool
{
public:
    // At most this many domains per family are remembered; the oldest address is given out again
    // after that.
    static constexpr std::uint64_t maxEntries = 1u << 17;

    // A family without a range gets no fake addresses.
    void configure(const std::optional<IpPrefix> &inet4, const std::optional<IpPrefix> &inet6);
    bool enabled(bool v6) const;
    // The same address for the same domain until the pool comes round to it again.
    std::optional<asio::ip::address> allocate(const std::string &domain, bool v6);
    // The domain an address of the pool stands for; "" for others and for ones not handed out.
    std::string lookup(const asio::ip::address &ip) const;

private:
    struct Range
    {
        std::optional<IpPrefix> prefix;
        std::uint64_t capacity = 0;
        std::uint64_t next = 0;
        std::unordered_map<std::uint64_t, std::string> byOffset;
        std::unordered_map<std::string, std::uint64_t> byDomain;
    };
    static asio::ip::address addressAt(const IpPrefix &prefix, std::uint64_t offset);
    static std::optional<std::uint64_t> offsetOf(
        const IpPrefix &prefix, const asio::ip::address &ip);

    mutable std::mutex m_mutex;
    Range m_v4;
    Range m_v6;
};

} // namespace qivro::engine
