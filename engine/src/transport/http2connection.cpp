#include "transport/http2connection.h"

#include "transport/http2stream.h"

#include <asio/post.hpp>
#include <nghttp2/nghttp2.h>

namespace qivro::engine {

namespace {

// Go's HTTP/2 client opens a stream's window to 4 MiB; the connection's is kept to a bound that
// caps what slow readers can make us buffer.
constexpr std::int32_t streamWindow = 4 << 20;
constexpr std::int32_t connectionWindow = 16 << 20;
constexpr std::size_t largestWriteBatch = 256 * 1024;
constexpr int idleCloseMs = 90 * 1000;

} // namespace

struct Http2Connection::Callbacks
{
    static Http2Connection &of(void *user) { return *static_cast<Http2Connection *>(user); }

    static Http2Stream *streamOf(nghttp2_session *session, std::int32_t id)
    {
        return static_cast<Http2Stream *>(nghttp2_session_get_stream_user_data(session, id));
    }

    static int onHeader(nghttp2_session *session, const nghttp2_frame *frame,
        const std::uint8_t *name, std::size_t nameSize, const std::uint8_t *value,
        std::size_t valueSize, std::uint8_t, void *)
    {
        if (frame->hd.type != NGHTTP2_HEADERS)
            return 0;
        if (Http2Stream *stream = streamOf(session, frame->hd.stream_id))
            stream->onHeader(std::string(reinterpret_cast<const char *>(name), nameSize),
                std::string(reinterpret_cast<const char *>(value), valueSize));
        return 0;
    }

    static int onFrame(nghttp2_session *session, const nghttp2_frame *frame, void *user)
    {
        Http2Connection &connection = of(user);
        connection.touch();
        if (frame->hd.type == NGHTTP2_GOAWAY) {
            connection.m_goaway = true;
            return 0;
        }
        if (frame->hd.type == NGHTTP2_PING && (frame->hd.flags & NGHTTP2_FLAG_ACK)) {
            connection.m_pingOutstanding = false;
            return 0;
        }
        Http2Stream *stream = streamOf(session, frame->hd.stream_id);
        if (!stream)
            return 0;
        if (frame->hd.type == NGHTTP2_HEADERS && frame->headers.cat == NGHTTP2_HCAT_RESPONSE)
            stream->onHeadersDone();
        if ((frame->hd.type == NGHTTP2_HEADERS || frame->hd.type == NGHTTP2_DATA)
            && (frame->hd.flags & NGHTTP2_FLAG_END_STREAM))
            stream->onRemoteEnd();
        return 0;
    }

    static int onData(nghttp2_session *session, std::uint8_t, std::int32_t id,
        const std::uint8_t *data, std::size_t size, void *)
    {
        if (Http2Stream *stream = streamOf(session, id))
            stream->onData(data, size);
        else // no one will read it: give the window back at once
            nghttp2_session_consume_connection(session, size);
        return 0;
    }

    static int onStreamClose(
        nghttp2_session *session, std::int32_t id, std::uint32_t errorCode, void *user)
    {
        Http2Connection &connection = of(user);
        if (Http2Stream *stream = streamOf(session, id))
            stream->onClosed(errorCode, {});
        nghttp2_session_set_stream_user_data(session, id, nullptr);
        connection.m_streams.erase(id);
        if (connection.m_streams.empty())
            connection.armIdle();
        return 0;
    }

    static ssize_t readUpload(nghttp2_session *, std::int32_t, std::uint8_t *out, std::size_t size,
        std::uint32_t *flags, nghttp2_data_source *source, void *)
    {
        return static_cast<Http2Stream *>(source->ptr)->takeUpload(out, size, flags);
    }
};

Http2Connection::Http2Connection(const asio::any_io_executor &executor,
    std::shared_ptr<Stream> transport, Http2Settings settings)
    : m_executor(executor)
    , m_transport(std::move(transport))
    , m_settings(settings)
    , m_in(16 * 1024, 256 * 1024)
    , m_out(executor)
    , m_idleTimer(executor)
{
    m_out.setIdleHandler([this](const std::error_code &error) {
        if (error)
            fail("http2: "
                + (m_transport && !m_transport->errorDetail().empty() ? m_transport->errorDetail()
                                                                      : errorText(error)));
        else
            flush();
    });
}

Http2Connection::~Http2Connection()
{
    nghttp2_session_del(m_session);
}

bool Http2Connection::start()
{
    nghttp2_session_callbacks *callbacks = nullptr;
    nghttp2_option *option = nullptr;
    if (nghttp2_session_callbacks_new(&callbacks) != 0 || nghttp2_option_new(&option) != 0) {
        nghttp2_session_callbacks_del(callbacks);
        return false;
    }
    nghttp2_session_callbacks_set_on_header_callback(callbacks, Callbacks::onHeader);
    nghttp2_session_callbacks_set_on_frame_recv_callback(callbacks, Callbacks::onFrame);
    nghttp2_session_callbacks_set_on_data_chunk_recv_callback(callbacks, Callbacks::onData);
    nghttp2_session_callbacks_set_on_stream_close_callback(callbacks, Callbacks::onStreamClose);
    nghttp2_option_set_no_auto_window_update(option, 1);
    const int made = nghttp2_session_client_new2(&m_session, callbacks, this, option);
    nghttp2_session_callbacks_del(callbacks);
    nghttp2_option_del(option);
    if (made != 0)
        return false;
    const nghttp2_settings_entry settings[]
        = {{NGHTTP2_SETTINGS_ENABLE_PUSH, 0}, {NGHTTP2_SETTINGS_INITIAL_WINDOW_SIZE, streamWindow}};
    nghttp2_submit_settings(m_session, NGHTTP2_FLAG_NONE, settings, 2);
    nghttp2_session_set_local_window_size(m_session, NGHTTP2_FLAG_NONE, 0, connectionWindow);
    if (m_transport) {
        flush();
        readMore();
    }
    armIdle();
    return true;
}

std::shared_ptr<Http2Stream> Http2Connection::request(
    const Headers &headers, const std::string &statusPrefix)
{
    if (!acceptsStreams())
        return nullptr;
    std::vector<nghttp2_nv> fields;
    for (const auto &[name, value] : headers)
        fields.push_back({reinterpret_cast<std::uint8_t *>(const_cast<char *>(name.data())),
            reinterpret_cast<std::uint8_t *>(const_cast<char *>(value.data())), name.size(),
            value.size(), NGHTTP2_NV_FLAG_NONE});
    auto stream = std::make_shared<Http2Stream>(shared_from_this(), statusPrefix);
    nghttp2_data_provider body;
    body.source.ptr = stream.get();
    body.read_callback = Callbacks::readUpload;
    const std::int32_t id = nghttp2_submit_request(
        m_session, nullptr, fields.data(), fields.size(), &body, stream.get());
    if (id < 0)
        return nullptr;
    stream->setId(id);
    m_streams[id] = stream;
    m_idleTimer.cancel();
    flush();
    return stream;
}

bool Http2Connection::acceptsStreams() const
{
    if (m_closed || m_goaway || !m_session)
        return false;
    const std::uint32_t limit
        = nghttp2_session_get_remote_settings(m_session, NGHTTP2_SETTINGS_MAX_CONCURRENT_STREAMS);
    return m_streams.size() < limit && nghttp2_session_get_next_stream_id(m_session) < (1u << 30);
}

void Http2Connection::resumeUpload(std::int32_t id)
{
    if (m_session && !m_closed)
        nghttp2_session_resume_data(m_session, id);
}

void Http2Connection::consumed(std::int32_t id, std::size_t size)
{
    if (m_session && !m_closed)
        nghttp2_session_consume(m_session, id, size);
}

void Http2Connection::cancel(std::int32_t id)
{
    if (m_session && !m_closed)
        nghttp2_submit_rst_stream(m_session, NGHTTP2_FLAG_NONE, id, NGHTTP2_CANCEL);
}

void Http2Connection::flush()
{
    if (m_closed || !m_session)
        return;
    std::vector<std::uint8_t> &out = m_out.pending();
    while (out.size() < largestWriteBatch) {
        const std::uint8_t *data = nullptr;
        const ssize_t size = nghttp2_session_mem_send(m_session, &data);
        if (size < 0) {
            fail(std::string("http2: ") + nghttp2_strerror(static_cast<int>(size)));
            return;
        }
        if (size == 0)
            break;
        out.insert(out.end(), data, data + size);
    }
    if (!out.empty() && m_transport)
        m_out.flush(m_transport, shared_from_this());
    if (!nghttp2_session_want_read(m_session) && !nghttp2_session_want_write(m_session)
        && m_out.empty())
        close();
}

bool Http2Connection::receive(const std::uint8_t *data, std::size_t size)
{
    if (m_closed || !m_session)
        return false;
    const ssize_t used = nghttp2_session_mem_recv(m_session, data, size);
    if (used < 0) {
        fail(std::string("http2: ") + nghttp2_strerror(static_cast<int>(used)));
        return false;
    }
    flush();
    return !m_closed;
}

void Http2Connection::readMore()
{
    if (m_reading || m_closed)
        return;
    m_reading = true;
    auto self = shared_from_this();
    m_transport->asyncReadSome(
        m_in.prepare(), [self](const std::error_code &error, std::size_t size) {
            self->m_reading = false;
            if (error) {
                const std::string detail = self->m_transport->errorDetail();
                return self->fail("http2: " + (detail.empty() ? errorText(error) : detail));
            }
            self->m_in.commit(size);
            const bool alive = self->receive(self->m_in.data(), self->m_in.size());
            self->m_in.consume(self->m_in.size());
            if (alive)
                self->readMore();
        });
}

void Http2Connection::touch()
{
    if (m_settings.idleTimeoutMs > 0 && !m_pingOutstanding)
        armIdle();
}

// With streams open and a health check configured, silence brings a PING and an unanswered one
// ends the connection; without streams, a connection idle for long is closed.
void Http2Connection::armIdle()
{
    if (m_closed)
        return;
    const bool health = m_settings.idleTimeoutMs > 0 && !m_streams.empty();
    if (!health && !m_streams.empty())
        return;
    std::int64_t wait = idleCloseMs;
    if (health)
        wait = m_pingOutstanding ? (m_settings.pingTimeoutMs > 0 ? m_settings.pingTimeoutMs : 15000)
                                 : m_settings.idleTimeoutMs;
    std::weak_ptr<Http2Connection> weak = weak_from_this();
    m_idleTimer.expires_after(std::chrono::milliseconds(wait));
    m_idleTimer.async_wait([weak](const std::error_code &error) {
        auto self = weak.lock();
        if (error || !self || self->m_closed)
            return;
        if (self->m_streams.empty())
            return self->close();
        if (self->m_pingOutstanding)
            return self->fail("http2: ping timeout");
        self->m_pingOutstanding = true;
        nghttp2_submit_ping(self->m_session, NGHTTP2_FLAG_NONE, nullptr);
        self->flush();
        self->armIdle();
    });
}

void Http2Connection::fail(const std::string &error)
{
    if (m_closed)
        return;
    m_error = error;
    auto streams = std::move(m_streams);
    m_streams.clear();
    for (auto &[id, stream] : streams) {
        nghttp2_session_set_stream_user_data(m_session, id, nullptr);
        stream->onClosed(NGHTTP2_INTERNAL_ERROR, error);
    }
    close();
}

void Http2Connection::close()
{
    if (m_closed)
        return;
    m_closed = true;
    m_idleTimer.cancel();
    m_out.fail(asio::error::operation_aborted);
    if (m_transport)
        m_transport->close();
    auto streams = std::move(m_streams);
    m_streams.clear();
    for (auto &[id, stream] : streams) {
        if (m_session)
            nghttp2_session_set_stream_user_data(m_session, id, nullptr);
        stream->onClosed(NGHTTP2_CANCEL, m_error.empty() ? "http2: connection closed" : m_error);
    }
}

} // namespace qivro::engine
