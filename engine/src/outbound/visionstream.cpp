#include "outbound/visionstream.h"

#include "tls/utls/utlsstream.h"

#include <asio/post.hpp>
#include <cstring>

namespace qivro::engine {

namespace {

// The server gets a moment to leave its TLS reader before raw records follow our last one.
constexpr auto directWriteDelay = std::chrono::milliseconds(5);

} // namespace

VisionStream::VisionStream(const asio::any_io_executor &executor, std::shared_ptr<Stream> inner,
    std::shared_ptr<utls::UtlsStream> outerTls, const vision::UserId &userId)
    : m_executor(executor)
    , m_inner(std::move(inner))
    , m_outerTls(std::move(outerTls))
    , m_userId(userId)
    , m_unpadder(userId)
    , m_timer(executor)
{
    if (m_outerTls)
        m_outerTls->keepRecordBoundaries();
}

void VisionStream::deliver(asio::mutable_buffer buffer, IoHandler &handler)
{
    const std::size_t size = std::min(buffer.size(), m_plain.size() - m_plainOffset);
    std::memcpy(buffer.data(), m_plain.data() + m_plainOffset, size);
    m_plainOffset += size;
    if (m_plainOffset == m_plain.size()) {
        m_plain.clear();
        m_plainOffset = 0;
    }
    asio::post(m_executor, [handler = std::move(handler), size] { handler({}, size); });
}

void VisionStream::asyncReadSome(asio::mutable_buffer buffer, IoHandler handler)
{
    if (m_plainOffset < m_plain.size()) {
        deliver(buffer, handler);
        return;
    }
    if (m_unpadder.finished()) {
        m_inner->asyncReadSome(buffer, std::move(handler));
        return;
    }
    m_readBuffer.resize(16 * 1024);
    auto self = shared_from_this();
    m_inner->asyncReadSome(asio::buffer(m_readBuffer),
        [self, buffer, handler = std::move(handler)](
            const std::error_code &error, std::size_t size) mutable {
            if (error) {
                handler(error, 0);
                return;
            }
            const std::size_t before = self->m_plain.size();
            std::size_t consumed = 0;
            if (!self->m_unpadder.feed(self->m_readBuffer.data(), size, self->m_plain, consumed)) {
                handler(std::make_error_code(std::errc::protocol_error), 0);
                return;
            }
            if (self->m_plain.size() > before)
                self->m_traffic.filter(
                    self->m_plain.data() + before, self->m_plain.size() - before, false);
            if (self->m_unpadder.finished()) {
                // What follows the last frame in this read is already plain.
                self->m_plain.insert(self->m_plain.end(), self->m_readBuffer.begin() + consumed,
                    self->m_readBuffer.begin() + size);
                if (self->m_unpadder.lastCommand() == vision::command::direct) {
                    if (!self->m_outerTls) {
                        handler(std::make_error_code(std::errc::protocol_not_supported), 0);
                        return;
                    }
                    self->m_outerTls->passReadsThrough();
                    self->m_readsDirect = true;
                }
            }
            self->asyncReadSome(buffer, std::move(handler));
        });
}

void VisionStream::asyncWrite(asio::const_buffer buffer, IoHandler handler)
{
    const std::size_t size = buffer.size();
    if (!m_writePadding) {
        if (!m_delayFirstDirectWrite) {
            m_inner->asyncWrite(buffer, std::move(handler));
            return;
        }
        m_delayFirstDirectWrite = false;
        m_timer.expires_after(directWriteDelay);
        auto self = shared_from_this();
        m_timer.async_wait(
            [self, buffer, handler = std::move(handler)](const std::error_code &) mutable {
                self->m_inner->asyncWrite(buffer, std::move(handler));
            });
        return;
    }
    const auto *data = static_cast<const std::uint8_t *>(buffer.data());
    m_writeBuffer.clear();
    std::size_t offset = 0;
    std::uint8_t last = vision::command::padding;
    while (offset < size && last == vision::command::padding) {
        std::size_t piece = size - offset;
        if (piece > vision::maxContent)
            piece = vision::splitPoint(data + offset, piece);
        const std::uint8_t *chunk = data + offset;
        m_traffic.filter(chunk, piece, true);
        if (m_traffic.isTls() && vision::completeApplicationRecords(chunk, piece))
            last = m_traffic.directAllowed() && m_outerTls ? vision::command::direct
                                                           : vision::command::end;
        else if (!m_traffic.isTls12OrAbove() && m_traffic.remaining(true) <= 1)
            last = vision::command::end; // not TLS: padding would only cost
        vision::appendFrame(m_writeBuffer, m_firstFrame ? &m_userId : nullptr, last, chunk, piece,
            m_traffic.isTls());
        m_firstFrame = false;
        offset += piece;
    }
    if (size == 0)
        vision::appendFrame(
            m_writeBuffer, m_firstFrame ? &m_userId : nullptr, last, data, 0, false);
    m_firstFrame = false;
    m_writePadding = last == vision::command::padding;
    auto rest = std::make_shared<vision::Bytes>(data + offset, data + size);
    auto self = shared_from_this();
    m_inner->asyncWrite(asio::buffer(m_writeBuffer),
        [self, last, rest, size, handler = std::move(handler)](
            const std::error_code &error, std::size_t) mutable {
            if (error) {
                handler(error, 0);
                return;
            }
            if (last == vision::command::direct) {
                self->m_outerTls->passWritesThrough();
                self->m_writesDirect = true;
                self->m_delayFirstDirectWrite = true;
            }
            if (rest->empty()) {
                handler({}, size);
                return;
            }
            self->writeRest(rest, size, std::move(handler));
        });
}

void VisionStream::writeRest(
    std::shared_ptr<vision::Bytes> rest, std::size_t reported, IoHandler handler)
{
    asyncWrite(asio::buffer(*rest),
        [rest, reported, handler = std::move(handler)](
            const std::error_code &error, std::size_t) { handler(error, error ? 0 : reported); });
}

void VisionStream::shutdownSend()
{
    m_inner->shutdownSend();
}

void VisionStream::close()
{
    m_timer.cancel();
    m_inner->close();
}

} // namespace qivro::engine
