// Hijacked DNS: queries caught by a hijack-dns rule are answered through the direct resolver of
// the DNS section, over UDP.
#pragma once

#include "config/config.h"

#include <asio/any_io_executor.hpp>
#include <asio/ip/udp.hpp>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace qivro::engine {

class DnsForwarder
{
public:
    using Handler = std::function<void(const std::vector<std::uint8_t> &response)>;

    // Picks the server: the one dns.rules send the engine's own lookups to ("outbound": "any"),
    // else the first plain UDP server without a proxy detour.
    void init(const Config &config);
    std::string serverText() const;
    // handler gets the response, or nothing after a time-out or failure. server replaces the
    // chosen one for this query.
    void exchange(const asio::any_io_executor &executor, const std::uint8_t *query,
        std::size_t size, Handler handler,
        const std::optional<asio::ip::udp::endpoint> &server = std::nullopt) const;

    using LookupHandler
        = std::function<void(const std::string &error, std::vector<asio::ip::address> addresses)>;
    // A and AAAA through the chosen server, IPv4 first: how the engine resolves its own
    // destinations where the system's resolver would be caught by the engine's TUN.
    void lookup(const asio::any_io_executor &executor, const std::string &host,
        LookupHandler handler) const;

private:
    std::optional<asio::ip::udp::endpoint> m_server;
};

// "223.5.5.5", "udp://127.0.0.1:5353", "[::1]:53" ...; nothing for other kinds.
std::optional<asio::ip::udp::endpoint> parseUdpDnsAddress(const std::string &address);

} // namespace qivro::engine
