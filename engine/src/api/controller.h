// The Clash-compatible control API, served on its own thread so traffic never delays it.
#pragma once

#include "runtime/acceptlimiter.h"
#include "runtime/services.h"

#include <asio/io_context.hpp>
#include <asio/ip/tcp.hpp>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>

namespace qivro::engine {

class Controller
{
public:
    explicit Controller(Services &services);
    ~Controller();

    // Binds the configured address; error in the engine's "start ..." form.
    bool listen(std::string &error);
    void start();
    // Stops the thread; connections are dropped when the controller is destroyed.
    void stop();

    std::uint16_t port() const;
    Services &services() { return m_services; }
    std::string mode();
    void setMode(const std::string &mode);
    std::uint16_t mixedPort() const;

private:
    void accept();

    Services &m_services;
    asio::io_context m_io;
    asio::ip::tcp::acceptor m_acceptor;
    AcceptLimiter m_limiter;
    std::thread m_thread;
};

} // namespace qivro::engine
