// Every socket the engine opens towards the outside world is made here, so options that must
// apply to all of them (keeping the engine's own traffic out of its TUN, for one) live in one
// place.
#pragma once

#include "common/stream.h" // errorText
#include "outbound/dialguard.h"

#include <asio/any_io_executor.hpp>
#include <asio/ip/tcp.hpp>
#include <asio/ip/udp.hpp>
#include <cstdint>
#include <functional>
#include <string>
#include <system_error>

namespace qivro::engine {

// Resolves host (domain or literal) and connects a TCP socket, giving up after timeoutMs. The
// policy is checked against every resolved address before any connection is made.
void connectTcp(const asio::any_io_executor &executor, const std::string &host, std::uint16_t port,
    int timeoutMs, std::function<void(const std::string &, asio::ip::tcp::socket)> handler,
    const DialPolicy &policy = {});

std::error_code openUdpSocket(asio::ip::udp::socket &socket, const asio::ip::udp &protocol);

} // namespace qivro::engine
