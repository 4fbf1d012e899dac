// Group outbounds: the selector switched through the control API and the lazily testing urltest.
#pragma once

#include "group/urltest.h"
#include "outbound/outbound.h"

#include <asio/steady_timer.hpp>
#include <atomic>
#include <memory>
#include <mutex>
#include <vector>

namespace qivro::engine {

class GroupOutbound : public Outbound
{
public:
    using Outbound::Outbound;
    bool isGroup() const override { return true; }
    void dialTcp(const asio::any_io_executor &executor, const Destination &destination,
        DialHandler handler) override;
    void listenUdp(const asio::any_io_executor &executor, PacketHandler handler) override;
    void dialTcpForClient(const asio::any_io_executor &executor, const Destination &destination,
        const DialPolicy &policy, DialHandler handler) override;
    void listenUdpForClient(const asio::any_io_executor &executor, const DialPolicy &policy,
        PacketHandler handler) override;
    bool supportsUdp() const override;

    void setMembers(std::vector<std::shared_ptr<Outbound>> members)
    {
        m_members = std::move(members);
    }
    const std::vector<std::shared_ptr<Outbound>> &members() const { return m_members; }

protected:
    // The member that carries a new connection, told of its use.
    Outbound &use();

    std::vector<std::shared_ptr<Outbound>> m_members;
};

class SelectorOutbound : public GroupOutbound
{
public:
    explicit SelectorOutbound(const OutboundConfig &config);
    std::string clashType() const override { return "Selector"; }
    Outbound *current() override;
    // Changes the member for new connections; false when tag is not a member.
    bool select(const std::string &tag);
    void setDefault(const std::string &tag) { select(tag); }

private:
    std::atomic<std::size_t> m_index {0};
};

class UrlTestOutbound
    : public GroupOutbound
    , public std::enable_shared_from_this<UrlTestOutbound>
{
public:
    explicit UrlTestOutbound(const OutboundConfig &config);
    ~UrlTestOutbound() override;
    std::string clashType() const override { return "URLTest"; }
    Outbound *current() override;
    void touch() override;

    // Wires the group to the engine's history and the executor its tests run on.
    void attach(DelayHistory *history, asio::any_io_executor executor);
    void stopTesting();
    // Tests every member now (10 at a time) and re-selects; done runs afterwards.
    void checkNow(std::function<void()> done);

private:
    Outbound *select();
    void scheduleNext();

    std::string m_url;
    std::int64_t m_intervalMs;
    std::int64_t m_idleTimeoutMs;
    int m_tolerance;
    DelayHistory *m_history = nullptr;
    std::mutex m_mutex;
    Outbound *m_selected = nullptr;
    bool m_running = false;
    bool m_checking = false;
    std::chrono::steady_clock::time_point m_lastUse;
    std::unique_ptr<asio::steady_timer> m_timer;
    asio::any_io_executor m_executor;
};

} // namespace qivro::engine
