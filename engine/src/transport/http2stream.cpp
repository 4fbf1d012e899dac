#include "transport/http2stream.h"

#include "transport/http2connection.h"
#include "transport/responsehead.h"

#include <algorithm>
#include <asio/post.hpp>
#include <cstring>
#include <nghttp2/nghttp2.h>

namespace qivro::engine {

Http2Stream::Http2Stream(std::shared_ptr<Http2Connection> connection, std::string statusPrefix)
    : m_connection(std::move(connection))
    , m_statusPrefix(std::move(statusPrefix))
{ }

void Http2Stream::asyncReadSome(asio::mutable_buffer buffer, IoHandler handler)
{
    m_readBuffer = buffer;
    m_readHandler = std::move(handler);
    serveRead();
}

// Never called from inside nghttp2's callbacks: it gives flow-control window back.
void Http2Stream::serveRead()
{
    m_servePosted = false;
    if (!m_readHandler)
        return;
    std::error_code error;
    std::size_t size = 0;
    if (m_closed) {
        error = asio::error::operation_aborted;
    } else if (m_bodyOffset < m_body.size() && !m_failed) {
        size = std::min(m_readBuffer.size(), m_body.size() - m_bodyOffset);
        if (size > 0)
            std::memcpy(m_readBuffer.data(), m_body.data() + m_bodyOffset, size);
        m_bodyOffset += size;
        if (m_bodyOffset == m_body.size()) {
            m_body.clear();
            m_bodyOffset = 0;
        }
        m_connection->consumed(m_id, size);
        m_connection->flush();
    } else if (m_failed) {
        error = std::make_error_code(std::errc::connection_reset);
    } else if (m_remoteEnded) {
        error = asio::error::eof;
    } else {
        return; // wait for the server
    }
    auto handler = std::move(m_readHandler);
    m_readHandler = nullptr;
    asio::post(m_connection->executor(),
        [handler = std::move(handler), error, size] { handler(error, size); });
}

void Http2Stream::postServe()
{
    if (m_servePosted || !m_readHandler)
        return;
    m_servePosted = true;
    asio::post(m_connection->executor(), [self = shared_from_this()] { self->serveRead(); });
}

void Http2Stream::asyncWrite(asio::const_buffer buffer, IoHandler handler)
{
    std::error_code error;
    if (m_failed)
        error = std::make_error_code(std::errc::connection_reset);
    else if (m_closed || m_uploadEnded)
        error = asio::error::operation_aborted;
    if (error || buffer.size() == 0) {
        asio::post(
            m_connection->executor(), [handler = std::move(handler), error] { handler(error, 0); });
        return;
    }
    const auto *data = static_cast<const std::uint8_t *>(buffer.data());
    m_upload.insert(m_upload.end(), data, data + buffer.size());
    m_uploadQueued += buffer.size();
    m_uploadWaiters.emplace_back(std::move(handler), buffer.size(), m_uploadQueued);
    m_connection->resumeUpload(m_id);
    m_connection->flush();
}

long Http2Stream::takeUpload(std::uint8_t *out, std::size_t size, std::uint32_t *flags)
{
    const std::size_t waiting = m_upload.size() - m_uploadOffset;
    const std::size_t count = std::min(size, waiting);
    if (count > 0)
        std::memcpy(out, m_upload.data() + m_uploadOffset, count);
    m_uploadOffset += count;
    m_uploadTaken += count;
    if (m_uploadOffset == m_upload.size()) {
        m_upload.clear();
        m_uploadOffset = 0;
    }
    // A write is done once all of it went into frames; the connection's own queue holds it back.
    while (!m_uploadWaiters.empty() && std::get<2>(m_uploadWaiters.front()) <= m_uploadTaken) {
        asio::post(m_connection->executor(),
            [handler = std::move(std::get<0>(m_uploadWaiters.front())),
                written = std::get<1>(m_uploadWaiters.front())] { handler({}, written); });
        m_uploadWaiters.erase(m_uploadWaiters.begin());
    }
    if (m_upload.empty() && (m_uploadEnded || m_closed))
        *flags |= NGHTTP2_DATA_FLAG_EOF;
    else if (count == 0)
        return NGHTTP2_ERR_DEFERRED;
    return static_cast<long>(count);
}

void Http2Stream::shutdownSend()
{
    if (m_uploadEnded || m_closed || m_failed)
        return;
    m_uploadEnded = true;
    m_connection->resumeUpload(m_id);
    m_connection->flush();
}

void Http2Stream::close()
{
    if (m_closed)
        return;
    m_closed = true;
    if (!m_streamClosed) {
        // Unread bytes still hold the connection's window.
        m_connection->consumed(m_id, m_body.size() - m_bodyOffset);
        m_body.clear();
        m_bodyOffset = 0;
        m_connection->cancel(m_id);
        m_connection->flush();
    }
    failUploads(asio::error::operation_aborted);
    postServe();
}

void Http2Stream::onHeader(const std::string &name, const std::string &value)
{
    if (name == ":status" && !m_headersDone)
        m_status = std::atoi(value.c_str());
}

void Http2Stream::onHeadersDone()
{
    if (m_headersDone)
        return; // trailers
    m_headersDone = true;
    if (m_status != 200)
        fail(m_statusPrefix + "unexpected status: " + statusText(m_status));
}

void Http2Stream::onData(const std::uint8_t *data, std::size_t size)
{
    if (m_failed || m_closed) {
        m_connection->consumed(m_id, size);
        return;
    }
    m_body.insert(m_body.end(), data, data + size);
    postServe();
}

void Http2Stream::onRemoteEnd()
{
    m_remoteEnded = true;
    postServe();
}

void Http2Stream::onClosed(std::uint32_t errorCode, const std::string &connectionError)
{
    m_streamClosed = true;
    if (!connectionError.empty())
        fail(connectionError);
    else if (errorCode != NGHTTP2_NO_ERROR || !m_remoteEnded)
        fail(
            "http2: stream reset by the server: " + std::string(nghttp2_http2_strerror(errorCode)));
    failUploads(std::make_error_code(std::errc::connection_reset));
}

void Http2Stream::fail(const std::string &detail)
{
    if (m_failed)
        return;
    m_failed = true;
    m_detail = detail;
    failUploads(std::make_error_code(std::errc::connection_reset));
    postServe();
}

void Http2Stream::failUploads(const std::error_code &error)
{
    for (auto &waiter : m_uploadWaiters)
        asio::post(m_connection->executor(),
            [handler = std::move(std::get<0>(waiter)), error] { handler(error, 0); });
    m_uploadWaiters.clear();
}

} // namespace qivro::engine
