// The mixed inbound: SOCKS4/4a/5 and HTTP proxy requests on one port.
#pragma once

#include "config/config.h"
#include "runtime/acceptlimiter.h"
#include "runtime/services.h"

#include <asio/io_context.hpp>
#include <asio/ip/tcp.hpp>
#include <memory>
#include <string>

namespace qivro::engine {

class MixedInbound : public std::enable_shared_from_this<MixedInbound>
{
public:
    MixedInbound(asio::io_context &io, const InboundConfig &config, Services &services);
    // Binds and listens; error in the engine's "start inbound/..." form.
    bool listen(std::string &error);
    void startAccepting();
    void close();
    std::uint16_t port() const;
    std::size_t openSessions() const { return m_limiter.open(); }
    std::string logPrefix() const { return "inbound/" + m_config.type + "[" + m_config.tag + "]"; }

    const InboundConfig &config() const { return m_config; }
    Services &services() { return m_services; }

private:
    void accept();

    InboundConfig m_config;
    Services &m_services;
    asio::ip::tcp::acceptor m_acceptor;
    AcceptLimiter m_limiter;
};

} // namespace qivro::engine
