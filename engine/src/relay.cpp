#include "relay.h"

#include <asio/post.hpp>

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
                    self->close();
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
            std::vector<std::uint8_t> &data = upstream ? self->m_upBuffer : self->m_downBuffer;
            target.asyncWrite(asio::buffer(data.data(), size),
                [self, upstream](const std::error_code &writeError, std::size_t) {
                    if (writeError) {
                        self->close();
                        return;
                    }
                    self->pump(upstream);
                });
        });
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
