// One TCP connection an application opened through the TUN, as the engine's listener accepted
// it: sniffed, routed and relayed to its outbound, or answered as DNS when the route hijacks it.
#pragma once

#include "common/stream.h"
#include "config/config.h"
#include "runtime/services.h"

#include <asio/steady_timer.hpp>
#include <functional>
#include <memory>
#include <vector>

namespace qivro::engine {

class TunConnection : public std::enable_shared_from_this<TunConnection>
{
public:
    // onClosed runs once the connection to the application is gone.
    TunConnection(const InboundConfig &config, Services &services, asio::ip::tcp::socket socket,
        Destination source, Destination destination, std::function<void()> onClosed);
    void start();

private:
    void sniffRead();
    void route();
    void serveDns();
    void readMore(void (*next)(TunConnection &));
    void reset();

    const InboundConfig &m_config;
    Services &m_services;
    asio::any_io_executor m_executor;
    std::shared_ptr<TcpStream> m_client;
    asio::steady_timer m_timer;
    Destination m_source;
    Destination m_destination;
    std::vector<std::uint8_t> m_buffer;
    std::string m_sniffed;
    std::string m_protocol;
    bool m_sniffing = false;
};

} // namespace qivro::engine
