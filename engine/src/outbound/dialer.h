// Every socket the engine opens towards the outside world is made here, so options that must
// apply to all of them (keeping the engine's own traffic out of its TUN, for one) live in one
// place.
#pragma once

#include "common/stream.h" // errorText
#include "outbound/dialguard.h"

#include <asio/any_io_executor.hpp>
#include <asio/ip/address.hpp>
#include <asio/ip/tcp.hpp>
#include <asio/ip/udp.hpp>
#include <cstdint>
#include <functional>
#include <string>
#include <system_error>
#include <vector>

namespace qivro::engine {

// What keeps the engine's own sockets from looping back into its TUN while one runs.
struct SocketControl
{
    std::uint32_t mark = 0; // Linux: SO_MARK, matched by a routing rule
    unsigned interface4 = 0; // Windows: IP_UNICAST_IF, the physical interface's index
    unsigned interface6 = 0; // Windows: IPV6_UNICAST_IF
};
void setSocketControl(const SocketControl &control);
SocketControl socketControl();

using ResolveHandler
    = std::function<void(const std::string &error, std::vector<asio::ip::address> addresses)>;
using Resolver = std::function<void(
    const asio::any_io_executor &executor, const std::string &host, ResolveHandler handler)>;
// Replaces the system's resolver for the names the engine dials (an empty one restores it): with
// a TUN up, the system's queries would come back into the engine as hijacked DNS.
void setResolver(Resolver resolver);
// IP literals come back at once; names go to the resolver above or the system's.
void resolveHost(
    const asio::any_io_executor &executor, const std::string &host, ResolveHandler handler);

// Resolves host (domain or literal) and connects a TCP socket, giving up after timeoutMs. The
// policy is checked against every resolved address before any connection is made.
void connectTcp(const asio::any_io_executor &executor, const std::string &host, std::uint16_t port,
    int timeoutMs, std::function<void(const std::string &, asio::ip::tcp::socket)> handler,
    const DialPolicy &policy = {});

std::error_code openUdpSocket(asio::ip::udp::socket &socket, const asio::ip::udp &protocol);
std::error_code openTcpSocket(asio::ip::tcp::socket &socket, const asio::ip::tcp &protocol);

} // namespace qivro::engine
