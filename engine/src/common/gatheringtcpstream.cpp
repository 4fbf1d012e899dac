#include "common/gatheringtcpstream.h"

#include <asio/post.hpp>
#include <chrono>

#if defined(__linux__)
#include <sys/socket.h>
#endif

namespace qivro::engine {

namespace {
// A stream this far into an uninterrupted download is taken for bulk.
constexpr std::uint64_t bulkStreak = 1024 * 1024;
// The longest a batch may hold back bytes that already arrived: when the sender pauses, what came
// before the pause is read this late at most, and the stream leaves bulk mode.
constexpr auto batchPatience = std::chrono::milliseconds(1);
} // namespace

GatheringTcpStream::GatheringTcpStream(asio::ip::tcp::socket socket)
    : TcpStream(std::move(socket))
    , m_timer(this->socket().get_executor())
{ }

void GatheringTcpStream::asyncReadSome(asio::mutable_buffer buffer, IoHandler handler)
{
#if defined(__linux__)
    // Bytes already waiting are taken at once whatever the batch size; only an empty socket waits.
    readNow(buffer, std::move(handler), false);
#else
    TcpStream::asyncReadSome(buffer, std::move(handler)); // no low-water mark to wait for
#endif
}

void GatheringTcpStream::readNow(asio::mutable_buffer buffer, IoHandler handler, bool waited)
{
    std::error_code error;
    if (!socket().non_blocking())
        socket().non_blocking(true, error);
    std::size_t size = 0;
    if (!error)
        size = socket().read_some(buffer, error);
    if (error == asio::error::would_block || error == asio::error::try_again) {
        auto weak = weak_from_this();
        if (m_gathering) {
            m_timer.expires_after(batchPatience);
            m_timer.async_wait([weak](const std::error_code &error) {
                if (auto self = weak.lock(); self && !error)
                    self->setGathering(false); // wakes the wait below for what is there
            });
        }
        socket().async_wait(asio::socket_base::wait_read,
            [weak, buffer, handler = std::move(handler)](const std::error_code &error) mutable {
                auto self = weak.lock();
                if (!self)
                    return handler(asio::error::operation_aborted, 0);
                if (error)
                    return handler(error, 0);
                self->readNow(buffer, std::move(handler), true);
            });
        return;
    }
    if (m_gathering)
        m_timer.cancel();
    if (error)
        m_streak = 0;
    else if ((m_streak += size) >= bulkStreak && !m_gathering)
        setGathering(true);
    if (waited) // the wait's completion already left the caller's stack
        return handler(error, size);
    asio::post(socket().get_executor(),
        [handler = std::move(handler), error, size] { handler(error, size); });
}

void GatheringTcpStream::setGathering(bool gathering)
{
    if (!gathering)
        m_streak = 0;
#if defined(__linux__)
    // The kernel then reports the socket readable only once a batch is in (or the peer is done).
    const int lowWater = gathering ? batchBytes : 1;
    if (::setsockopt(socket().native_handle(), SOL_SOCKET, SO_RCVLOWAT, &lowWater, sizeof lowWater)
        == 0)
        m_gathering = gathering;
#endif
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
