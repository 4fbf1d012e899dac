#include "transport/http1stream.h"

#include "transport/responsehead.h"

#include <asio/post.hpp>

namespace qivro::engine {

Http1Stream::Http1Stream(
    const asio::any_io_executor &executor, std::shared_ptr<Stream> inner, std::string head)
    : m_executor(executor)
    , m_inner(std::move(inner))
    , m_head(std::move(head))
{ }

std::string Http1Stream::errorDetail() const
{
    return m_detail.empty() ? m_inner->errorDetail() : m_detail;
}

void Http1Stream::asyncWrite(asio::const_buffer buffer, IoHandler handler)
{
    if (m_headSent)
        return m_inner->asyncWrite(buffer, std::move(handler));
    m_headSent = true;
    const auto *data = static_cast<const std::uint8_t *>(buffer.data());
    m_writeBuffer.assign(m_head.begin(), m_head.end());
    m_writeBuffer.insert(m_writeBuffer.end(), data, data + buffer.size());
    m_head = {};
    auto self = shared_from_this();
    m_inner->asyncWrite(asio::buffer(m_writeBuffer),
        [self, size = buffer.size(), handler = std::move(handler)](
            const std::error_code &error, std::size_t) {
            self->m_writeBuffer = {};
            handler(error, error ? 0 : size);
        });
}

void Http1Stream::asyncReadSome(asio::mutable_buffer buffer, IoHandler handler)
{
    if (m_body)
        return m_body->asyncReadSome(buffer, std::move(handler));
    if (m_responseRead) { // the head was refused
        asio::post(m_executor, [handler = std::move(handler)] {
            handler(std::make_error_code(std::errc::protocol_error), 0);
        });
        return;
    }
    m_responseRead = true;
    auto self = shared_from_this();
    readResponseHead(m_inner,
        [self, buffer, handler = std::move(handler)](const std::string &error,
            const http::ResponseHead &head, std::vector<std::uint8_t> rest) mutable {
            if (!error.empty())
                self->m_detail = "read response: " + error;
            else if (head.status != 200)
                self->m_detail = "v2ray-http: unexpected status: " + statusText(head.status);
            if (!self->m_detail.empty())
                return handler(std::make_error_code(std::errc::protocol_error), 0);
            self->m_body = std::make_shared<PrefixedStream>(
                self->m_executor, self->m_inner, std::move(rest));
            self->m_body->asyncReadSome(buffer, std::move(handler));
        });
}

} // namespace qivro::engine
