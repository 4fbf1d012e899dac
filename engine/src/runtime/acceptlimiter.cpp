#include "runtime/acceptlimiter.h"

#include "common/log.h"

#include <algorithm>
#include <asio/error.hpp>
#include <asio/post.hpp>

namespace qivro::engine {

namespace {

constexpr std::chrono::milliseconds firstDelay {100};
constexpr std::chrono::milliseconds longestDelay {1000};
// An episode of exhaustion ends after this long without a failure; until then a limit that is
// hit again and again (a freed descriptor taken at once) is not logged again.
constexpr std::chrono::seconds quietPeriod {5};

bool diedInQueue(const std::error_code &error)
{
    return error == asio::error::connection_aborted || error == asio::error::connection_reset
        || error == asio::error::interrupted || error == asio::error::try_again
        || error == asio::error::would_block;
}

} // namespace

AcceptLimiter::AcceptLimiter(
    const asio::any_io_executor &executor, std::string logPrefix, std::size_t cap)
    : m_logPrefix(std::move(logPrefix))
    , m_cap(cap)
    , m_timer(executor)
{ }

void AcceptLimiter::failed(const std::error_code &error, std::function<void()> retry)
{
    if (diedInQueue(error)) {
        logDebug(m_logPrefix, ": accept: ", error.message());
        asio::post(m_timer.get_executor(), std::move(retry));
        return;
    }
    const auto now = std::chrono::steady_clock::now();
    m_delay = m_delay.count() == 0 ? firstDelay : std::min(m_delay * 2, longestDelay);
    if (m_failures > 0 && now - m_lastFailure >= quietPeriod) {
        logInfo(m_logPrefix, ": accepted again after ", m_failures, " failed attempts");
        m_failures = 0;
    }
    if (m_failures++ == 0)
        logWarn(m_logPrefix, ": accept: ", error.message(), "; retrying with a backoff of up to ",
            longestDelay.count(), " ms (", m_open->load(), " sessions open)");
    m_lastFailure = now;
    m_timer.expires_after(m_delay);
    m_timer.async_wait([retry = std::move(retry)](const std::error_code &cancelled) {
        if (!cancelled)
            retry();
    });
}

std::shared_ptr<void> AcceptLimiter::admit()
{
    m_delay = std::chrono::milliseconds(0);
    if (m_failures > 0 && std::chrono::steady_clock::now() - m_lastFailure >= quietPeriod) {
        logInfo(m_logPrefix, ": accepted again after ", m_failures, " failed attempts");
        m_failures = 0;
    }
    const std::size_t open = m_open->load();
    if (open >= m_cap) {
        if (!m_capLogged)
            logWarn(m_logPrefix, ": ", open,
                " sessions open, the most allowed; new connections are closed until some end");
        m_capLogged = true;
        return nullptr;
    }
    // Logged again only after the load has clearly dropped, not at every session that ends.
    if (open <= m_cap * 3 / 4)
        m_capLogged = false;
    m_open->fetch_add(1);
    return std::shared_ptr<void>(m_open.get(), [open = m_open](void *) { open->fetch_sub(1); });
}

void AcceptLimiter::cancel()
{
    m_timer.cancel();
}

} // namespace qivro::engine
