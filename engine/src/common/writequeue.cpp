#include "common/writequeue.h"

#include <asio/post.hpp>

namespace qivro::engine {

void WriteQueue::addWaiter(IoHandler handler, std::size_t size)
{
    if (m_error) {
        asio::post(
            m_executor, [handler = std::move(handler), error = m_error] { handler(error, 0); });
        return;
    }
    m_waiters.emplace_back(std::move(handler), size);
}

void WriteQueue::flush(const std::shared_ptr<Stream> &target, std::shared_ptr<void> owner)
{
    if (m_writing)
        return;
    if (m_error || m_pending.empty()) {
        if (m_error)
            fail(m_error);
        for (auto &[handler, size] : m_waiters)
            asio::post(
                m_executor, [handler = std::move(handler), size = size] { handler({}, size); });
        m_waiters.clear();
        if (m_idle)
            m_idle(m_error);
        return;
    }
    m_sending.swap(m_pending);
    m_sendingWaiters.swap(m_waiters);
    m_writing = true;
    target->asyncWrite(asio::buffer(m_sending),
        [this, target, owner = std::move(owner)](
            const std::error_code &error, std::size_t) mutable {
            m_writing = false;
            m_sending.clear();
            auto waiters = std::move(m_sendingWaiters);
            m_sendingWaiters.clear();
            if (error && !m_error)
                m_error = error;
            for (auto &[handler, size] : waiters)
                handler(m_error, m_error ? 0 : size);
            flush(target, std::move(owner));
        });
}

void WriteQueue::fail(const std::error_code &error)
{
    if (!m_error)
        m_error = error;
    m_pending.clear();
    for (auto &[handler, size] : m_waiters)
        asio::post(
            m_executor, [handler = std::move(handler), error = m_error] { handler(error, 0); });
    m_waiters.clear();
}

} // namespace qivro::engine
