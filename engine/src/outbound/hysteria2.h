// Hysteria 2 outbound: TCP and UDP through one shared, authenticated QUIC connection per
// executor (the engine's and the control API's threads each get their own).
#pragma once

#include "outbound/outbound.h"

#include <memory>
#include <mutex>
#include <utility>
#include <vector>

namespace qivro::engine {

class Hysteria2Client;

class Hysteria2Outbound : public Outbound
{
public:
    explicit Hysteria2Outbound(const OutboundConfig &config);
    ~Hysteria2Outbound() override;
    std::string clashType() const override { return "Hysteria2"; }
    bool supportsUdp() const override { return m_config.network != "tcp"; }
    void dialTcp(const asio::any_io_executor &executor, const Destination &destination,
        DialHandler handler) override;
    void listenUdp(const asio::any_io_executor &executor, PacketHandler handler) override;
    void closeConnections() override;

private:
    std::shared_ptr<Hysteria2Client> client(const asio::any_io_executor &executor);

    OutboundConfig m_config;
    std::mutex m_mutex;
    std::vector<std::shared_ptr<Hysteria2Client>> m_clients;
};

} // namespace qivro::engine
