// Destinations a client may not have the engine connect to: the engine's own listeners (a request
// to itself would loop until descriptors run out) and, for clients on other machines, this
// machine's loopback services.
#pragma once

#include <asio/ip/address.hpp>
#include <asio/ip/tcp.hpp>
#include <cstdint>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace qivro::engine {

class DialGuard
{
public:
    // Listeners are added while the engine starts, before any connection is served.
    void addListener(const asio::ip::tcp::endpoint &endpoint);

    // "" when the client at `client` (none: the engine's own traffic) may reach ip:port;
    // otherwise the reason, logged once per client.
    std::string check(const asio::ip::address &ip, std::uint16_t port,
        const std::optional<asio::ip::address> &client) const;

    bool isListener(const asio::ip::address &ip, std::uint16_t port) const;

    // Whether a dial error text is one of check()'s refusals (already logged).
    static bool isRefusal(const std::string &error);

private:
    void logOnce(const asio::ip::address &client, const std::string &what) const;

    std::vector<asio::ip::tcp::endpoint> m_listeners;
    mutable std::mutex m_mutex;
    mutable std::set<asio::ip::address> m_warned;
};

// 127.0.0.0/8 and ::1, also as IPv4-mapped IPv6.
bool isLoopbackAddress(const asio::ip::address &ip);

// What one dial on behalf of a client may not reach; a default policy checks nothing.
struct DialPolicy
{
    const DialGuard *guard = nullptr;
    std::optional<asio::ip::address> client;

    std::string check(const asio::ip::address &ip, std::uint16_t port) const
    {
        return guard ? guard->check(ip, port, client) : std::string();
    }
};

} // namespace qivro::engine
