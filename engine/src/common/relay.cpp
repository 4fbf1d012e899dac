#include "common/relay.h"

#include <asio/post.hpp>

#if defined(__linux__)
#include <cerrno>
#include <fcntl.h>
#endif

namespace qivro::engine {

namespace {
// Idle connections keep small buffers; a direction that keeps filling its buffer gets a larger
// one, so bulk transfers need fewer system calls.
constexpr std::size_t largestBuffer = 256 * 1024;
} // namespace

Relay::Relay(std::shared_ptr<Stream> client, std::shared_ptr<Stream> remote,
    std::shared_ptr<ConnectionInfo> info, Tracker &tracker)
    : m_client(std::move(client))
    , m_remote(std::move(remote))
    , m_info(std::move(info))
    , m_tracker(tracker)
{ }

Relay::~Relay()
{
    m_tracker.close(m_info->id);
#if defined(__linux__)
    for (Pipe &pipe : m_pipes)
        pipes::destroy(pipe); // may hold bytes that never found their reader
#endif
}

void Relay::start(const asio::any_io_executor &executor, std::vector<std::uint8_t> initial)
{
    std::weak_ptr<Relay> weak = shared_from_this();
    m_tracker.setCloser(*m_info, [executor, weak] {
        asio::post(executor, [weak] {
            if (auto relay = weak.lock())
                relay->close();
        });
    });
    m_upBuffer = std::move(initial);
    auto self = shared_from_this();
    const std::size_t size = m_upBuffer.size();
    m_tracker.addUpload(*m_info, size);
    // Always written, even empty, so an outbound with a request header sends it at once.
    m_remote->asyncWrite(
        asio::buffer(m_upBuffer), [self](const std::error_code &error, std::size_t) {
            if (error) {
                self->close();
                return;
            }
            self->pump(true);
        });
    pump(false);
}

void Relay::pump(bool upstream)
{
    if (m_closed)
        return;
#if defined(__linux__)
    if (!m_tcpClient) {
        m_tcpClient = dynamic_cast<TcpStream *>(m_client.get());
        m_tcpRemote = dynamic_cast<TcpStream *>(m_remote.get());
        std::error_code error;
        if (m_tcpClient && m_tcpRemote) {
            // splice() must never block the engine's thread.
            m_tcpClient->socket().native_non_blocking(true, error);
            if (!error)
                m_tcpRemote->socket().native_non_blocking(true, error);
            if (error)
                m_tcpClient = m_tcpRemote = nullptr;
        }
    }
    if (m_tcpClient && m_tcpRemote && !m_copy[upstream ? 0 : 1])
        return splicePump(upstream);
#endif
    std::vector<std::uint8_t> &buffer = upstream ? m_upBuffer : m_downBuffer;
    buffer.resize(upstream ? m_upCapacity : m_downCapacity);
    Stream &source = upstream ? *m_client : *m_remote;
    auto self = shared_from_this();
    source.asyncReadSome(
        asio::buffer(buffer), [self, upstream](const std::error_code &error, std::size_t size) {
            if (self->m_closed)
                return;
            Stream &target = upstream ? *self->m_remote : *self->m_client;
            if (error) {
                if (error == asio::error::eof) {
                    target.shutdownSend();
                    self->directionDone();
                } else {
                    self->fail(upstream, error);
                }
                return;
            }
            std::size_t &capacity = upstream ? self->m_upCapacity : self->m_downCapacity;
            if (size == capacity && capacity < largestBuffer)
                capacity *= 2;
            if (upstream)
                self->m_tracker.addUpload(*self->m_info, size);
            else
                self->m_tracker.addDownload(*self->m_info, size);
            self->forward(upstream, size);
        });
}

void Relay::forward(bool upstream, std::size_t size)
{
    Stream &target = upstream ? *m_remote : *m_client;
    const std::uint8_t *data = (upstream ? m_upBuffer : m_downBuffer).data();
    std::size_t sent = 0;
    // A socket with room takes the bytes at once: the next read need not wait for the event
    // loop to report a write that already happened.
    if (auto *tcp = dynamic_cast<TcpStream *>(&target)) {
        std::error_code error;
        if (!tcp->socket().non_blocking())
            tcp->socket().non_blocking(true, error);
        if (!error)
            sent = tcp->socket().send(asio::buffer(data, size), 0, error);
        if (error && error != asio::error::would_block && error != asio::error::try_again)
            return fail(!upstream, error);
        if (sent == size)
            return pump(upstream);
    }
    auto self = shared_from_this();
    target.asyncWrite(asio::buffer(data + sent, size - sent),
        [self, upstream](const std::error_code &error, std::size_t) {
            if (error)
                return self->fail(!upstream, error);
            self->pump(upstream);
        });
}

#if defined(__linux__)
void Relay::splicePump(bool upstream)
{
    Pipe &pipe = m_pipes[upstream ? 0 : 1];
    if (!pipe.valid()) {
        pipe = pipes::acquire();
        if (!pipe.valid()) {
            m_copy[upstream ? 0 : 1] = true;
            return pump(upstream);
        }
    }
    TcpStream &from = upstream ? *m_tcpClient : *m_tcpRemote;
    TcpStream &to = upstream ? *m_tcpRemote : *m_tcpClient;
    // Bytes already waiting move at once: only an empty socket costs a trip through the event
    // loop. The rounds are bounded so one busy connection cannot starve the others.
    for (int round = 0; round < 16; ++round) {
        const ssize_t moved = ::splice(from.socket().native_handle(), nullptr, pipe.write, nullptr,
            1 << 20, SPLICE_F_MOVE | SPLICE_F_NONBLOCK);
        if (moved == 0) {
            pipes::release(pipe);
            to.shutdownSend();
            return directionDone();
        }
        if (moved < 0) {
            if (errno == EINTR)
                continue;
            if (errno != EAGAIN)
                return fail(upstream, std::error_code(errno, asio::error::get_system_category()));
            // The pipe is empty while the connection waits: give it back until bytes come.
            pipes::release(pipe);
            auto self = shared_from_this();
            from.socket().async_wait(
                asio::socket_base::wait_read, [self, upstream](const std::error_code &error) {
                    if (self->m_closed)
                        return;
                    if (error)
                        return self->fail(upstream, error);
                    self->splicePump(upstream);
                });
            return;
        }
        if (upstream)
            m_tracker.addUpload(*m_info, static_cast<std::uint64_t>(moved));
        else
            m_tracker.addDownload(*m_info, static_cast<std::uint64_t>(moved));
        if (!spliceDrain(upstream, static_cast<std::size_t>(moved)))
            return;
    }
    auto self = shared_from_this();
    asio::post(from.socket().get_executor(), [self, upstream] {
        if (!self->m_closed)
            self->splicePump(upstream);
    });
}

bool Relay::spliceDrain(bool upstream, std::size_t pending)
{
    TcpStream &to = upstream ? *m_tcpRemote : *m_tcpClient;
    const Pipe &pipe = m_pipes[upstream ? 0 : 1];
    while (pending > 0) {
        const ssize_t moved = ::splice(pipe.read, nullptr, to.socket().native_handle(), nullptr,
            pending, SPLICE_F_MOVE | SPLICE_F_NONBLOCK);
        if (moved > 0) {
            pending -= static_cast<std::size_t>(moved);
            continue;
        }
        if (moved < 0 && errno == EINTR)
            continue;
        if (moved < 0 && errno == EAGAIN) {
            auto self = shared_from_this();
            to.socket().async_wait(asio::socket_base::wait_write,
                [self, upstream, pending](const std::error_code &error) {
                    if (self->m_closed)
                        return;
                    if (error)
                        return self->fail(!upstream, error);
                    if (self->spliceDrain(upstream, pending))
                        self->splicePump(upstream);
                });
            return false;
        }
        fail(!upstream,
            std::error_code(moved < 0 ? errno : EPIPE, asio::error::get_system_category()));
        return false;
    }
    return true;
}
#endif

void Relay::fail(bool upstream, const std::error_code &error)
{
    if (m_closed)
        return;
    // upstream: the direction whose target gets the reset.
    if (error == asio::error::connection_reset || error == asio::error::broken_pipe)
        (upstream ? m_remote : m_client)->abort();
    close();
}

void Relay::directionDone()
{
    if (--m_open == 0)
        close();
}

void Relay::close()
{
    if (m_closed)
        return;
    m_closed = true;
    m_client->close();
    m_remote->close();
}

} // namespace qivro::engine
