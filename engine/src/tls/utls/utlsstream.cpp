#include "tls/utls/utlsstream.h"

#include <asio/post.hpp>
#include <cstring>

namespace qivro::engine::utls {

UtlsStream::UtlsStream(
    const asio::any_io_executor &executor, std::shared_ptr<Stream> lower, ClientOptions options)
    : m_executor(executor)
    , m_lower(std::move(lower))
    , m_client(std::move(options))
    , m_timer(executor)
{ }

void UtlsStream::connect(const asio::any_io_executor &executor, std::shared_ptr<Stream> lower,
    ClientOptions options, int timeoutMs, HandshakeHandler handler)
{
    auto self = std::make_shared<UtlsStream>(executor, std::move(lower), std::move(options));
    auto shared = std::make_shared<HandshakeHandler>(std::move(handler));
    if (!self->m_client.start()) {
        self->finishHandshake(shared, self->m_client.error());
        return;
    }
    if (timeoutMs > 0) {
        self->m_timer.expires_after(std::chrono::milliseconds(timeoutMs));
        self->m_timer.async_wait(
            [weak = std::weak_ptr<UtlsStream>(self), shared](const std::error_code &error) {
                auto self = weak.lock();
                if (error || !self || !*shared)
                    return;
                self->finishHandshake(shared, "tls handshake: i/o timeout");
            });
    }
    self->flushOutput();
    self->handshakeStep(shared);
}

void UtlsStream::finishHandshake(
    const std::shared_ptr<HandshakeHandler> &handler, const std::string &error)
{
    if (!*handler)
        return;
    auto done = std::move(*handler);
    *handler = nullptr;
    m_timer.cancel();
    if (!error.empty()) {
        // An alert, if the client wrote one, goes out before the close.
        auto self = shared_from_this();
        flushOutput([self](const std::error_code &) { self->m_lower->close(); });
        if (!m_writing)
            m_lower->close();
        asio::post(m_executor, [done = std::move(done), error] { done(error, nullptr); });
        return;
    }
    asio::post(m_executor, [done = std::move(done), self = shared_from_this()] { done({}, self); });
}

void UtlsStream::handshakeStep(std::shared_ptr<HandshakeHandler> handler)
{
    if (!*handler)
        return;
    const bool ok = m_client.process();
    flushOutput();
    if (!ok) {
        finishHandshake(handler, m_client.error());
        return;
    }
    if (m_client.connected()) {
        finishHandshake(handler, {});
        return;
    }
    auto self = shared_from_this();
    m_lower->asyncReadSome(asio::buffer(m_client.inputSpace(readChunk), readChunk),
        [self, handler](const std::error_code &error, std::size_t size) {
            self->m_client.commitInput(error ? 0 : size);
            if (error) {
                if (*handler)
                    self->finishHandshake(handler,
                        error == asio::error::eof ? "tls handshake: EOF"
                                                  : "tls handshake: " + error.message());
                return;
            }
            self->handshakeStep(handler);
        });
}

void UtlsStream::post(IoHandler handler, const std::error_code &error, std::size_t size)
{
    asio::post(m_executor, [handler = std::move(handler), error, size] { handler(error, size); });
}

void UtlsStream::deliver(asio::mutable_buffer buffer, IoHandler &handler)
{
    auto *out = static_cast<std::uint8_t *>(buffer.data());
    std::size_t total = 0;
    for (;;) {
        const std::size_t size = std::min(buffer.size() - total, m_client.available());
        std::memcpy(out + total, m_client.data(), size);
        m_client.consume(size);
        total += size;
        // One record per read would mean one write per record downstream.
        if (m_recordReads || total == buffer.size() || m_client.available() > 0)
            break;
        // A failure here is reported by the next read, after the bytes already delivered.
        const bool ok = m_client.process();
        if (!m_client.output().empty())
            flushOutput();
        if (!ok || m_client.available() == 0)
            break;
    }
    post(std::move(handler), {}, total);
}

void UtlsStream::asyncReadSome(asio::mutable_buffer buffer, IoHandler handler)
{
    if (m_client.available() > 0) {
        deliver(buffer, handler);
        return;
    }
    if (m_rawReads) {
        if (m_rawOffset < m_rawLeft.size()) {
            const std::size_t size = std::min(buffer.size(), m_rawLeft.size() - m_rawOffset);
            std::memcpy(buffer.data(), m_rawLeft.data() + m_rawOffset, size);
            m_rawOffset += size;
            post(std::move(handler), {}, size);
            return;
        }
        m_lower->asyncReadSome(buffer, std::move(handler));
        return;
    }
    readRecords(buffer, std::move(handler));
}

void UtlsStream::readRecords(asio::mutable_buffer buffer, IoHandler handler)
{
    const bool ok = m_client.process();
    if (!m_client.output().empty())
        flushOutput(); // a KeyUpdate answer or an alert
    if (!ok) {
        post(std::move(handler), std::make_error_code(std::errc::protocol_error), 0);
        return;
    }
    if (m_client.available() > 0) {
        deliver(buffer, handler);
        return;
    }
    if (m_client.peerClosed()) {
        post(std::move(handler), asio::error::eof, 0);
        return;
    }
    auto self = shared_from_this();
    m_lower->asyncReadSome(asio::buffer(m_client.inputSpace(readChunk), readChunk),
        [self, buffer, handler = std::move(handler)](
            const std::error_code &error, std::size_t size) mutable {
            self->m_client.commitInput(error ? 0 : size);
            if (error) {
                handler(error, 0);
                return;
            }
            self->readRecords(buffer, std::move(handler));
        });
}

void UtlsStream::asyncWrite(asio::const_buffer buffer, IoHandler handler)
{
    const std::size_t size = buffer.size();
    if (m_rawWrites && m_queue.empty() && !m_writing) {
        m_lower->asyncWrite(buffer, std::move(handler));
        return;
    }
    if (size == 0 && m_queue.empty() && !m_writing) {
        post(std::move(handler), {}, 0);
        return;
    }
    Bytes records;
    if (m_rawWrites) {
        const auto *data = static_cast<const std::uint8_t *>(buffer.data());
        records.assign(data, data + size);
    } else {
        m_client.write(static_cast<const std::uint8_t *>(buffer.data()), size);
        records.swap(m_client.output());
    }
    enqueue(std::move(records), [handler = std::move(handler), size](const std::error_code &error) {
        handler(error, error ? 0 : size);
    });
}

void UtlsStream::flushOutput(std::function<void(const std::error_code &)> done)
{
    if (m_client.output().empty()) {
        if (done && !m_writing && m_queue.empty())
            done({});
        else if (done)
            enqueue({}, std::move(done));
        return;
    }
    Bytes data;
    data.swap(m_client.output());
    enqueue(std::move(data), std::move(done));
}

void UtlsStream::enqueue(Bytes data, std::function<void(const std::error_code &)> done)
{
    m_queue.push_back({std::move(data), std::move(done)});
    if (!m_writing)
        writeNext();
}

void UtlsStream::writeNext()
{
    while (!m_queue.empty() && m_queue.front().data.empty()) {
        auto done = std::move(m_queue.front().done);
        m_queue.pop_front();
        if (done)
            done({});
    }
    if (m_queue.empty()) {
        m_writing = false;
        return;
    }
    m_writing = true;
    auto self = shared_from_this();
    const Bytes &data = m_queue.front().data;
    m_lower->asyncWrite(asio::buffer(data), [self](const std::error_code &error, std::size_t) {
        auto done = std::move(self->m_queue.front().done);
        self->m_queue.pop_front();
        if (done)
            done(error);
        if (error) {
            while (!self->m_queue.empty()) {
                auto next = std::move(self->m_queue.front().done);
                self->m_queue.pop_front();
                if (next)
                    next(error);
            }
            self->m_writing = false;
            return;
        }
        self->writeNext();
    });
}

void UtlsStream::shutdownSend()
{
    if (!m_rawWrites)
        m_client.closeNotify();
    auto self = shared_from_this();
    flushOutput([self](const std::error_code &) { self->m_lower->shutdownSend(); });
}

void UtlsStream::close()
{
    m_timer.cancel();
    m_lower->close();
}

void UtlsStream::passWritesThrough()
{
    m_rawWrites = true;
}

void UtlsStream::passReadsThrough()
{
    m_rawReads = true;
    m_rawLeft = m_client.takeUnprocessed();
    m_rawOffset = 0;
}

} // namespace qivro::engine::utls
