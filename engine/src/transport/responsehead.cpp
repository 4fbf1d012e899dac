#include "transport/responsehead.h"

#include <algorithm>
#include <asio/post.hpp>
#include <asio/steady_timer.hpp>
#include <cstring>
#include <map>

namespace qivro::engine {

namespace {

struct HeadReader
{
    std::shared_ptr<Stream> stream;
    ResponseHeadHandler handler;
    std::string buffer;
    std::size_t filled = 0;

    static void next(std::shared_ptr<HeadReader> self)
    {
        if (self->buffer.size() - self->filled < 1024)
            self->buffer.resize(self->buffer.size() + 4096);
        Stream &stream = *self->stream;
        stream.asyncReadSome(
            asio::buffer(&self->buffer[self->filled], self->buffer.size() - self->filled),
            [self](const std::error_code &error, std::size_t size) {
                if (error) {
                    const std::string detail = self->stream->errorDetail();
                    return self->handler(detail.empty() ? errorText(error) : detail, {}, {});
                }
                self->filled += size;
                http::ResponseHead head;
                std::size_t consumed = 0;
                switch (
                    http::parseResponseHead(self->buffer.data(), self->filled, head, consumed)) {
                case ParseStatus::Done:
                    return self->handler({}, head,
                        std::vector<std::uint8_t>(
                            self->buffer.begin() + consumed, self->buffer.begin() + self->filled));
                case ParseStatus::Invalid:
                    return self->handler("malformed HTTP response", {}, {});
                case ParseStatus::NeedMore:
                    if (self->filled >= http::maxHeadSize)
                        return self->handler("malformed HTTP response: head too large", {}, {});
                    return next(self);
                }
            });
    }
};

} // namespace

void readResponseHead(std::shared_ptr<Stream> stream, ResponseHeadHandler handler)
{
    auto reader = std::make_shared<HeadReader>();
    reader->stream = std::move(stream);
    reader->handler = std::move(handler);
    HeadReader::next(reader);
}

void exchangeHeads(const asio::any_io_executor &executor, std::shared_ptr<Stream> stream,
    std::string request, int timeoutMs, ResponseHeadHandler handler)
{
    auto timer = std::make_shared<asio::steady_timer>(executor);
    timer->expires_after(std::chrono::milliseconds(timeoutMs));
    timer->async_wait([weak = std::weak_ptr<Stream>(stream)](const std::error_code &error) {
        if (auto stream = weak.lock(); stream && !error)
            stream->close();
    });
    auto text = std::make_shared<std::string>(std::move(request));
    auto finish = [stream, timer, handler = std::move(handler)](const std::string &error,
                      const http::ResponseHead &head, std::vector<std::uint8_t> rest) {
        timer->cancel();
        if (!error.empty())
            stream->close();
        handler(error, head, std::move(rest));
    };
    stream->asyncWrite(asio::buffer(*text),
        [stream, text, finish = std::move(finish)](const std::error_code &error, std::size_t) {
            if (error)
                return finish(errorText(error), {}, {});
            readResponseHead(stream, finish);
        });
}

std::string statusText(int status)
{
    static const std::map<int, const char *> texts = {{100, "Continue"},
        {101, "Switching Protocols"}, {200, "OK"}, {201, "Created"}, {204, "No Content"},
        {301, "Moved Permanently"}, {302, "Found"}, {304, "Not Modified"},
        {307, "Temporary Redirect"}, {308, "Permanent Redirect"}, {400, "Bad Request"},
        {401, "Unauthorized"}, {403, "Forbidden"}, {404, "Not Found"}, {405, "Method Not Allowed"},
        {408, "Request Timeout"}, {413, "Request Entity Too Large"}, {426, "Upgrade Required"},
        {429, "Too Many Requests"}, {500, "Internal Server Error"}, {501, "Not Implemented"},
        {502, "Bad Gateway"}, {503, "Service Unavailable"}, {504, "Gateway Timeout"}};
    const auto it = texts.find(status);
    return std::to_string(status) + " " + (it != texts.end() ? it->second : "status code");
}

PrefixedStream::PrefixedStream(const asio::any_io_executor &executor, std::shared_ptr<Stream> inner,
    std::vector<std::uint8_t> prefix)
    : m_executor(executor)
    , m_inner(std::move(inner))
    , m_prefix(std::move(prefix))
{ }

void PrefixedStream::asyncReadSome(asio::mutable_buffer buffer, IoHandler handler)
{
    if (m_offset == m_prefix.size())
        return m_inner->asyncReadSome(buffer, std::move(handler));
    const std::size_t size = std::min(buffer.size(), m_prefix.size() - m_offset);
    if (size > 0)
        std::memcpy(buffer.data(), m_prefix.data() + m_offset, size);
    m_offset += size;
    if (m_offset == m_prefix.size()) {
        m_prefix = {};
        m_offset = 0;
    }
    asio::post(m_executor, [handler = std::move(handler), size] { handler({}, size); });
}

void PrefixedStream::asyncWrite(asio::const_buffer buffer, IoHandler handler)
{
    m_inner->asyncWrite(buffer, std::move(handler));
}

void PrefixedStream::shutdownSend()
{
    m_inner->shutdownSend();
}

void PrefixedStream::close()
{
    m_inner->close();
}

} // namespace qivro::engine
