#include "outbound/hysteria2.h"

#include "common/log.h"
#include "outbound/hysteria2client.h"

#include <asio/post.hpp>

namespace qivro::engine {

Hysteria2Outbound::Hysteria2Outbound(const OutboundConfig &config)
    : Outbound(config.type, config.tag)
    , m_config(config)
{
    if (!config.serverPorts.empty() || config.hopIntervalMs > 0)
        logWarn(logPrefix(),
            ": port hopping (server_ports, hop_interval) is not supported by "
            "this engine build; connecting to server_port only");
}

Hysteria2Outbound::~Hysteria2Outbound() = default;

std::shared_ptr<Hysteria2Client> Hysteria2Outbound::client(const asio::any_io_executor &executor)
{
    std::lock_guard lock(m_mutex);
    for (auto &existing : m_clients) {
        if (existing->executor() != executor)
            continue;
        if (!existing->usable())
            existing = std::make_shared<Hysteria2Client>(executor, m_config, logPrefix());
        return existing;
    }
    m_clients.push_back(std::make_shared<Hysteria2Client>(executor, m_config, logPrefix()));
    return m_clients.back();
}

void Hysteria2Outbound::dialTcp(
    const asio::any_io_executor &executor, const Destination &destination, DialHandler handler)
{
    if (m_config.network == "udp") {
        asio::post(
            executor, [handler = std::move(handler)] { handler("tcp is disabled", nullptr); });
        return;
    }
    // A client lives on its executor's thread, and callers may be elsewhere.
    asio::post(executor, [this, executor, destination, handler = std::move(handler)]() mutable {
        client(executor)->openTcp(destination, std::move(handler));
    });
}

void Hysteria2Outbound::listenUdp(const asio::any_io_executor &executor, PacketHandler handler)
{
    if (m_config.network == "tcp") {
        asio::post(
            executor, [handler = std::move(handler)] { handler("udp is disabled", nullptr); });
        return;
    }
    asio::post(executor, [this, executor, handler = std::move(handler)]() mutable {
        client(executor)->openUdp(std::move(handler));
    });
}

void Hysteria2Outbound::closeConnections()
{
    std::vector<std::shared_ptr<Hysteria2Client>> clients;
    {
        std::lock_guard lock(m_mutex);
        clients.swap(m_clients);
    }
    for (auto &client : clients)
        client->close();
}

} // namespace qivro::engine
