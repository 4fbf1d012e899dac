#include "group/groups.h"

#include "common/log.h"

#include <algorithm>
#include <asio/post.hpp>

namespace qivro::engine {

Outbound &GroupOutbound::use()
{
    touch();
    Outbound *member = current();
    member->touch();
    return *member;
}

void GroupOutbound::dialTcp(
    const asio::any_io_executor &executor, const Destination &destination, DialHandler handler)
{
    use().dialTcp(executor, destination, std::move(handler));
}

void GroupOutbound::listenUdp(const asio::any_io_executor &executor, PacketHandler handler)
{
    use().listenUdp(executor, std::move(handler));
}

void GroupOutbound::dialTcpForClient(const asio::any_io_executor &executor,
    const Destination &destination, const DialPolicy &policy, DialHandler handler)
{
    use().dialTcpForClient(executor, destination, policy, std::move(handler));
}

void GroupOutbound::listenUdpForClient(
    const asio::any_io_executor &executor, const DialPolicy &policy, PacketHandler handler)
{
    use().listenUdpForClient(executor, policy, std::move(handler));
}

bool GroupOutbound::supportsUdp() const
{
    return std::any_of(m_members.begin(), m_members.end(),
        [](const auto &member) { return member->supportsUdp(); });
}

SelectorOutbound::SelectorOutbound(const OutboundConfig &config)
    : GroupOutbound(config.type, config.tag)
{ }

Outbound *SelectorOutbound::current()
{
    const std::size_t index = m_index.load();
    return index < m_members.size() ? m_members[index].get() : this;
}

bool SelectorOutbound::select(const std::string &tag)
{
    for (std::size_t i = 0; i < m_members.size(); ++i) {
        if (m_members[i]->tag() == tag) {
            m_index.store(i);
            return true;
        }
    }
    return false;
}

UrlTestOutbound::UrlTestOutbound(const OutboundConfig &config)
    : GroupOutbound(config.type, config.tag)
    , m_url(effectiveTestUrl(config.url))
    , m_intervalMs(config.intervalMs)
    , m_idleTimeoutMs(config.idleTimeoutMs)
    , m_tolerance(config.tolerance)
{ }

UrlTestOutbound::~UrlTestOutbound() = default;

void UrlTestOutbound::attach(DelayHistory *history, asio::any_io_executor executor)
{
    m_history = history;
    m_executor = executor;
}

void UrlTestOutbound::stopTesting()
{
    std::lock_guard lock(m_mutex);
    m_running = false;
    // The timer belongs to the engine's io_context and must not outlive it.
    m_timer.reset();
}

Outbound *UrlTestOutbound::current()
{
    std::lock_guard lock(m_mutex);
    if (m_selected)
        return m_selected;
    return m_members.empty() ? this : m_members.front().get();
}

void UrlTestOutbound::touch()
{
    std::lock_guard lock(m_mutex);
    m_lastUse = std::chrono::steady_clock::now();
    if (m_running || !m_history || !m_executor)
        return;
    m_running = true;
    if (!m_timer)
        m_timer = std::make_unique<asio::steady_timer>(m_executor);
    auto self = shared_from_this();
    asio::post(m_executor, [self] { self->checkNow([self] { self->scheduleNext(); }); });
}

void UrlTestOutbound::scheduleNext()
{
    std::lock_guard lock(m_mutex);
    if (!m_running)
        return;
    if (std::chrono::steady_clock::now() - m_lastUse > std::chrono::milliseconds(m_idleTimeoutMs)) {
        m_running = false; // idle: the next use starts testing again
        return;
    }
    m_timer->expires_after(std::chrono::milliseconds(m_intervalMs));
    auto self = shared_from_this();
    m_timer->async_wait([self](const std::error_code &error) {
        if (!error)
            self->checkNow([self] { self->scheduleNext(); });
    });
}

Outbound *UrlTestOutbound::select()
{
    // Keep the current member unless another is faster by more than the tolerance.
    Outbound *best = nullptr;
    int bestDelay = 0;
    if (m_selected) {
        if (const auto record = m_history->load(m_selected->current()->tag())) {
            best = m_selected;
            bestDelay = record->delay;
        }
    }
    for (const auto &member : m_members) {
        Outbound *real = member.get();
        while (real->current() != real)
            real = real->current();
        const auto record = m_history->load(real->tag());
        if (!record)
            continue;
        if (bestDelay == 0 || bestDelay > record->delay + m_tolerance) {
            bestDelay = record->delay;
            best = member.get();
        }
    }
    return best ? best : (m_members.empty() ? nullptr : m_members.front().get());
}

void UrlTestOutbound::checkNow(std::function<void()> done)
{
    {
        std::lock_guard lock(m_mutex);
        if (m_checking || !m_history) {
            if (done)
                asio::post(m_executor, std::move(done));
            return;
        }
        m_checking = true;
    }
    struct Batch
    {
        std::vector<std::shared_ptr<Outbound>> queue;
        std::size_t next = 0;
        std::size_t running = 0;
        std::function<void()> done;
        std::function<void()> launch;
    };
    auto batch = std::make_shared<Batch>();
    batch->queue = m_members;
    batch->done = std::move(done);
    auto self = shared_from_this();
    // launch holds the batch weakly; the tests in flight keep it alive.
    batch->launch = [self, weak = std::weak_ptr<Batch>(batch)] {
        const std::shared_ptr<Batch> batch = weak.lock();
        if (!batch)
            return;
        while (batch->running < 10 && batch->next < batch->queue.size()) {
            const std::shared_ptr<Outbound> member = batch->queue[batch->next++];
            Outbound *real = member.get();
            while (real->current() != real)
                real = real->current();
            ++batch->running;
            const std::string tag = real->tag();
            urlTest(self->m_executor, *member, self->m_url, 15000,
                [self, batch, tag](const std::string &error, std::uint16_t delay) {
                    if (error.empty())
                        self->m_history->store(tag, delay);
                    else
                        self->m_history->erase(tag);
                    --batch->running;
                    batch->launch();
                });
        }
        if (batch->running == 0 && batch->next >= batch->queue.size()) {
            {
                std::lock_guard lock(self->m_mutex);
                Outbound *chosen = self->select();
                if (chosen != self->m_selected && chosen)
                    logInfo(self->logPrefix(), ": selected ", chosen->tag());
                self->m_selected = chosen;
                self->m_checking = false;
            }
            auto done = std::move(batch->done);
            if (done)
                done();
        }
    };
    batch->launch();
}

} // namespace qivro::engine
