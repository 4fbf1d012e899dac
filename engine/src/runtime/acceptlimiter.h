// What keeps a listener's accept loop sane under load: a backoff when the process runs out of
// descriptors or memory (retrying at once would spin), and a cap on the sessions it holds.
#pragma once

#include <asio/any_io_executor.hpp>
#include <asio/steady_timer.hpp>
#include <atomic>
#include <chrono>
#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <system_error>

namespace qivro::engine {

class AcceptLimiter
{
public:
    AcceptLimiter(const asio::any_io_executor &executor, std::string logPrefix, std::size_t cap);

    // After a failed accept: runs retry on the executor, at once for a connection that died in
    // the queue, after a growing delay (100 ms doubling to 1 s) for anything else. Exhaustion is
    // logged once per episode, which ends after a quiet spell.
    void failed(const std::error_code &error, std::function<void()> retry);
    // After a successful accept: a ticket to hold for the session's lifetime, or null when the
    // cap is reached (the caller closes the connection at once; logged once per episode).
    std::shared_ptr<void> admit();
    void cancel();
    std::size_t open() const { return m_open->load(); }
    std::size_t cap() const { return m_cap; }

private:
    std::string m_logPrefix;
    std::size_t m_cap;
    std::shared_ptr<std::atomic<std::size_t>> m_open
        = std::make_shared<std::atomic<std::size_t>>(0);
    asio::steady_timer m_timer;
    std::chrono::milliseconds m_delay {0};
    std::size_t m_failures = 0; // in the current episode
    std::chrono::steady_clock::time_point m_lastFailure;
    bool m_capLogged = false;
};

} // namespace qivro::engine
