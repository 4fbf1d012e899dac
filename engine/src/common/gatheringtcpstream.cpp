#include "common/gatheringtcpstream.h"

#include <asio/post.hpp>
#include <chrono>

namespace qivro::engine {

namespace {
// A stream this far into an uninterrupted download is taken for bulk.
constexpr std::uint64_t bulkStreak = 1024 * 1024;
// How long a bulk read waits once bytes are there. Setting SO_RCVLOWAT instead would make the
// kernel acknowledge every segment below the mark, which keeps a sender writing small segments.
constexpr auto batchPatience = std::chrono::milliseconds(2);
} // namespace

GatheringTcpStream::GatheringTcpStream(asio::ip::tcp::socket socket)
    : TcpStream(std::move(socket))
    , m_timer(this->socket().get_executor())
{ }

void GatheringTcpStream::asyncReadSome(asio::mutable_buffer buffer, IoHandler handler)
{
#if defined(__linux__)
    // Bytes already waiting are taken at once; only an empty socket waits.
    readNow(buffer, std::move(handler), After::Call);
#else
    TcpStream::asyncReadSome(buffer, std::move(handler)); // readiness waits are costly on IOCP
#endif
}

void GatheringTcpStream::readNow(asio::mutable_buffer buffer, IoHandler handler, After after)
{
    std::error_code error;
    if (!socket().non_blocking())
        socket().non_blocking(true, error);
    std::size_t size = 0;
    if (!error)
        size = socket().read_some(buffer, error);
    if (error == asio::error::would_block || error == asio::error::try_again) {
        auto weak = weak_from_this();
        socket().async_wait(asio::socket_base::wait_read,
            [weak, buffer, handler = std::move(handler)](const std::error_code &error) mutable {
                auto self = weak.lock();
                if (!self)
                    return handler(asio::error::operation_aborted, 0);
                if (error)
                    return handler(error, 0);
                if (self->m_streak < bulkStreak)
                    return self->readNow(buffer, std::move(handler), After::Wait);
                self->m_timer.expires_after(batchPatience);
                self->m_timer.async_wait([weak, buffer, handler = std::move(handler)](
                                             const std::error_code &error) mutable {
                    auto self = weak.lock();
                    if (!self || error)
                        return handler(asio::error::operation_aborted, 0);
                    self->readNow(buffer, std::move(handler), After::Pause);
                });
            });
        return;
    }
    if (error || (after == After::Pause && size < batchBytes))
        m_streak = 0;
    else
        m_streak += size;
    if (after != After::Call) // the wait's completion already left the caller's stack
        return handler(error, size);
    asio::post(socket().get_executor(),
        [handler = std::move(handler), error, size] { handler(error, size); });
}

void GatheringTcpStream::close()
{
    m_timer.cancel();
    TcpStream::close();
}

void GatheringTcpStream::abort()
{
    m_timer.cancel();
    TcpStream::abort();
}

} // namespace qivro::engine
