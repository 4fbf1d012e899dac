// Serialises writes to a stream for layers that make bytes of their own (TLS records, WebSocket
// control frames, HTTP/2 frames, packets): bytes queued while a write is in flight go out with
// the next one, and each caller hears back once its bytes are written.
#pragma once

#include "common/stream.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <utility>
#include <vector>

namespace qivro::engine {

class WriteQueue
{
public:
    explicit WriteQueue(const asio::any_io_executor &executor)
        : m_executor(executor)
    { }

    // Append the bytes to send here, then call flush.
    std::vector<std::uint8_t> &pending() { return m_pending; }
    // handler(error, size) runs once everything appended so far has been written.
    void addWaiter(IoHandler handler, std::size_t size);
    // Writes until nothing is pending, then runs the idle handler with the first error, if any.
    // owner stays alive while a write is in flight.
    void flush(const std::shared_ptr<Stream> &target, std::shared_ptr<void> owner);
    // The owner's hook for the moment everything is written (it must not own the owner).
    void setIdleHandler(std::function<void(const std::error_code &)> idle)
    {
        m_idle = std::move(idle);
    }
    // Completes every waiter with error; later waiters get it too.
    void fail(const std::error_code &error);

    bool empty() const { return m_pending.empty() && !m_writing; }
    std::size_t queued() const { return m_pending.size() + m_sending.size(); }
    const std::error_code &error() const { return m_error; }

private:
    asio::any_io_executor m_executor;
    std::vector<std::uint8_t> m_pending;
    std::vector<std::uint8_t> m_sending;
    std::vector<std::pair<IoHandler, std::size_t>> m_waiters;
    std::vector<std::pair<IoHandler, std::size_t>> m_sendingWaiters;
    bool m_writing = false;
    std::error_code m_error;
    std::function<void(const std::error_code &)> m_idle;
};

} // namespace qivro::engine
