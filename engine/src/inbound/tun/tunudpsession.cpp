#include "inbound/tun/tunudpsession.h"

#include "common/log.h"
#include "route/sniff.h"

#include <asio/post.hpp>

namespace qivro::engine {

namespace {
// Datagrams held while the outbound's packet connection opens; more are dropped, as a full
// queue on a link drops.
constexpr std::size_t maxQueued = 64;
} // namespace

TunUdpSession::TunUdpSession(const asio::any_io_executor &executor, const InboundConfig &config,
    Services &services, const tun::Flow &flow, Reply reply, Remove remove)
    : m_executor(executor)
    , m_config(config)
    , m_services(services)
    , m_flow(flow)
    , m_reply(std::move(reply))
    , m_remove(std::move(remove))
{
    m_destination.ip = flow.dst.toAddress();
    m_destination.port = flow.dport;
    m_destination = m_services.dnsRouter.restore(m_destination);
}

TunUdpSession::~TunUdpSession()
{
    if (m_conn)
        m_conn->close();
    if (m_info)
        m_services.tracker.close(m_info->id);
}

bool TunUdpSession::begin(const std::uint8_t *payload, std::size_t size)
{
    Metadata metadata;
    metadata.inbound = m_config.tag;
    metadata.network = "udp";
    metadata.destination = m_destination;
    metadata.source = Destination {{}, m_flow.src.toAddress(), m_flow.sport};
    if (m_config.sniff && sniff::isDnsQuery(payload, size))
        metadata.protocol = "dns";
    const RouteDecision decision = m_services.router.route(metadata);
    if (decision.action == RouteDecision::Action::Reject)
        return false;
    if (decision.action == RouteDecision::Action::HijackDns) {
        m_hijacked = true;
        answerDns(payload, size);
        return true;
    }
    m_info = Tracker::create();
    m_info->network = "udp";
    m_info->inboundType = m_config.type + "/" + m_config.tag;
    m_info->sourceIp = metadata.source->hostText();
    m_info->sourcePort = std::to_string(m_flow.sport);
    m_info->destinationIp = m_flow.dst.toAddress().to_string();
    m_info->destinationPort = std::to_string(m_flow.dport);
    m_info->host = m_destination.domain;
    m_info->rule = decision.rule;
    m_info->rulePayload = decision.payload;
    std::vector<std::string> chain;
    decision.outbound->chain(chain);
    m_info->chains.assign(chain.rbegin(), chain.rend());
    m_info->closer = [executor = m_executor, remove = m_remove, flow = m_flow] {
        asio::post(executor, [remove, flow] { remove(flow); });
    };
    m_services.tracker.add(m_info);
    logInfo("inbound/", m_config.type, "[", m_config.tag, "]: inbound packet connection to ",
        m_destination.toString());
    m_queue.emplace_back(payload, payload + size);
    std::weak_ptr<TunUdpSession> weak = shared_from_this();
    decision.outbound->listenUdp(
        m_executor, [weak](const std::string &error, std::shared_ptr<PacketConn> conn) {
            if (auto self = weak.lock())
                self->opened(error, std::move(conn));
            else if (conn)
                conn->close();
        });
    return true;
}

void TunUdpSession::opened(const std::string &error, std::shared_ptr<PacketConn> conn)
{
    if (!error.empty()) {
        logError("inbound/", m_config.type, "[", m_config.tag,
            "]: open outbound packet connection: ", error);
        m_failed = true;
        m_queue.clear();
        return;
    }
    m_conn = std::move(conn);
    std::weak_ptr<TunUdpSession> weak = shared_from_this();
    m_conn->startReceive([weak](const Destination &, const std::uint8_t *data, std::size_t size) {
        // Every reply comes from where the application sent to, as a NAT would show it; a fake
        // address stays the address the application knows.
        if (auto self = weak.lock()) {
            self->m_services.tracker.addDownload(*self->m_info, size);
            self->m_reply(self->m_flow, data, size);
        }
    });
    for (const std::vector<std::uint8_t> &payload : m_queue) {
        m_services.tracker.addUpload(*m_info, payload.size());
        m_conn->send(m_destination, payload.data(), payload.size());
    }
    m_queue.clear();
}

void TunUdpSession::send(const std::uint8_t *payload, std::size_t size)
{
    if (m_hijacked)
        return answerDns(payload, size);
    if (m_failed)
        return;
    if (!m_conn) {
        if (m_queue.size() < maxQueued)
            m_queue.emplace_back(payload, payload + size);
        return;
    }
    m_services.tracker.addUpload(*m_info, size);
    m_conn->send(m_destination, payload, size);
}

void TunUdpSession::answerDns(const std::uint8_t *payload, std::size_t size)
{
    std::weak_ptr<TunUdpSession> weak = shared_from_this();
    m_services.dnsRouter.exchange(
        m_executor, payload, size, [weak](const std::vector<std::uint8_t> &response) {
            auto self = weak.lock();
            if (self && !response.empty())
                self->m_reply(self->m_flow, response.data(), response.size());
        });
}

} // namespace qivro::engine
