// One authenticated Hysteria 2 connection: QUIC with HTTP/3 for the login, then a QUIC stream per
// TCP connection and QUIC datagrams for UDP sessions. Lives on one executor.
#pragma once

#include "config/config.h"
#include "outbound/hysteria2protocol.h"
#include "outbound/outbound.h"
#include "transport/quic/http3client.h"
#include "transport/quic/quicconnection.h"

#include <asio/steady_timer.hpp>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace qivro::engine {

class Hysteria2PacketConn;

class Hysteria2Client : public std::enable_shared_from_this<Hysteria2Client>
{
public:
    Hysteria2Client(
        const asio::any_io_executor &executor, const OutboundConfig &config, std::string logPrefix);
    ~Hysteria2Client();

    const asio::any_io_executor &executor() const { return m_executor; }
    // False once the connection failed or ended: the owner makes a new client.
    bool usable() const { return m_state != Closed; }
    void openTcp(const Destination &destination, DialHandler handler);
    void openUdp(PacketHandler handler);
    void close();

    // What the server's login answer said.
    bool udpEnabled() const { return m_udpEnabled; }
    std::uint64_t serverReceiveRate() const { return m_serverReceiveRate; }

    // For the packet connections.
    void sendUdp(
        std::uint32_t sessionId, const Destination &to, const std::uint8_t *data, std::size_t size);
    void removeUdp(std::uint32_t sessionId);

private:
    enum State
    {
        Idle,
        Connecting,
        Ready,
        Closed
    };
    void whenReady(std::function<void(const std::string &)> handler);
    void start();
    void handshake(asio::ip::udp::endpoint server);
    void authenticate();
    void finishConnect(const std::string &error);
    void onDatagram(const std::uint8_t *data, std::size_t size);

    asio::any_io_executor m_executor;
    OutboundConfig m_config;
    std::string m_logPrefix;
    State m_state = Idle;
    asio::steady_timer m_timer;
    std::shared_ptr<quic::QuicConnection> m_quic;
    std::unique_ptr<quic::Http3Client> m_http3;
    std::vector<std::function<void(const std::string &)>> m_waiters;
    std::string m_error;
    bool m_udpEnabled = false;
    std::uint64_t m_serverReceiveRate = 0;
    std::uint32_t m_nextSessionId = 0;
    std::map<std::uint32_t, std::weak_ptr<Hysteria2PacketConn>> m_udpSessions;
};

} // namespace qivro::engine
