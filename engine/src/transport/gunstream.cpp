#include "transport/gunstream.h"

#include <algorithm>
#include <asio/post.hpp>
#include <cstring>

namespace qivro::engine {

GunStream::GunStream(const asio::any_io_executor &executor, std::shared_ptr<Stream> inner)
    : m_executor(executor)
    , m_inner(std::move(inner))
    , m_in(16 * 1024, 256 * 1024)
{ }

std::string GunStream::errorDetail() const
{
    return m_detail.empty() ? m_inner->errorDetail() : m_detail;
}

void GunStream::asyncWrite(asio::const_buffer buffer, IoHandler handler)
{
    if (buffer.size() == 0) {
        asio::post(m_executor, [handler = std::move(handler)] { handler({}, 0); });
        return;
    }
    m_out.clear();
    GunReader::appendHeader(m_out, buffer.size());
    const auto *data = static_cast<const std::uint8_t *>(buffer.data());
    m_out.insert(m_out.end(), data, data + buffer.size());
    auto self = shared_from_this();
    m_inner->asyncWrite(asio::buffer(m_out),
        [self, size = buffer.size(), handler = std::move(handler)](
            const std::error_code &error, std::size_t) { handler(error, error ? 0 : size); });
}

void GunStream::asyncReadSome(asio::mutable_buffer buffer, IoHandler handler)
{
    readStep(buffer, std::move(handler));
}

// Fills the caller's buffer from as many messages as have arrived.
void GunStream::readStep(asio::mutable_buffer buffer, IoHandler handler)
{
    auto *target = static_cast<std::uint8_t *>(buffer.data());
    std::size_t filled = 0;
    while (true) {
        const std::size_t room = buffer.size() - filled;
        if (room == 0)
            break;
        const std::size_t view = m_reader.inData() ? std::min(m_in.size(), room) : m_in.size();
        const GunReader::Step step = m_reader.next(m_in.data(), view);
        if (step.kind == GunReader::Step::Data) {
            std::memcpy(target + filled, m_in.data(), step.consumed);
            filled += step.consumed;
        } else if (step.kind == GunReader::Step::Error) {
            if (filled > 0)
                break; // the next read meets the error again
            m_detail = step.error;
            asio::post(m_executor, [handler = std::move(handler)] {
                handler(std::make_error_code(std::errc::protocol_error), 0);
            });
            return;
        } else if (step.kind == GunReader::Step::NeedMore) {
            break;
        }
        m_in.consume(step.consumed);
    }
    if (filled > 0 || buffer.size() == 0) {
        asio::post(m_executor, [handler = std::move(handler), filled] { handler({}, filled); });
        return;
    }
    auto self = shared_from_this();
    m_inner->asyncReadSome(m_in.prepare(),
        [self, buffer, handler = std::move(handler)](
            const std::error_code &error, std::size_t size) mutable {
            if (error)
                return handler(error, 0);
            self->m_in.commit(size);
            self->readStep(buffer, std::move(handler));
        });
}

} // namespace qivro::engine
