#include "transport/quic/http3client.h"

#include <asio/post.hpp>
#include <nghttp3/nghttp3.h>

namespace qivro::engine::quic {

static_assert(sizeof(nghttp3_vec) == sizeof(ngtcp2_vec), "vectors are handed over as they are");

Http3Client::Http3Client(QuicConnection &connection)
    : m_connection(connection)
{ }

Http3Client::~Http3Client()
{
    if (m_h3)
        nghttp3_conn_del(m_h3);
}

bool Http3Client::start(std::string &error)
{
    nghttp3_callbacks callbacks {};
    callbacks.recv_header = &Http3Client::onHeader;
    callbacks.end_headers = &Http3Client::onEndHeaders;
    callbacks.recv_data = &Http3Client::onData;
    callbacks.deferred_consume = &Http3Client::onDeferredConsume;
    callbacks.stream_close = &Http3Client::onStreamClose;
    nghttp3_settings settings;
    nghttp3_settings_default(&settings);
    if (nghttp3_conn_client_new(&m_h3, &callbacks, &settings, nullptr, this) != 0) {
        m_h3 = nullptr;
        error = "http3: cannot create a session";
        return false;
    }
    std::int64_t control = -1;
    std::int64_t encoder = -1;
    std::int64_t decoder = -1;
    if (!m_connection.openRawUniStream(control) || !m_connection.openRawUniStream(encoder)
        || !m_connection.openRawUniStream(decoder)
        || nghttp3_conn_bind_control_stream(m_h3, control) != 0
        || nghttp3_conn_bind_qpack_streams(m_h3, encoder, decoder) != 0) {
        error = "http3: the server allows no control streams";
        return false;
    }
    m_connection.setApplication(this);
    return true;
}

bool Http3Client::request(const Headers &headers, ResponseHandler handler, std::string &error)
{
    std::int64_t id = -1;
    if (!m_h3 || !m_connection.openRawBidiStream(id)) {
        error = "http3: cannot open a request stream";
        return false;
    }
    std::vector<nghttp3_nv> fields;
    for (const auto &[name, value] : headers)
        fields.push_back({reinterpret_cast<std::uint8_t *>(const_cast<char *>(name.data())),
            reinterpret_cast<std::uint8_t *>(const_cast<char *>(value.data())), name.size(),
            value.size(), NGHTTP3_NV_FLAG_NONE});
    if (nghttp3_conn_submit_request(m_h3, id, fields.data(), fields.size(), nullptr, nullptr)
        != 0) {
        error = "http3: cannot submit the request";
        return false;
    }
    m_requests[id].handler = std::move(handler);
    m_connection.scheduleFlush();
    return true;
}

void Http3Client::finish(std::int64_t id, const std::string &error)
{
    const auto found = m_requests.find(id);
    if (found == m_requests.end() || !found->second.handler)
        return;
    Request &request = found->second;
    asio::post(m_connection.executor(),
        [handler = std::move(request.handler), error, status = error.empty() ? request.status : 0,
            headers = std::move(request.headers)] { handler(error, status, headers); });
    request.handler = nullptr;
}

int Http3Client::onHeader(nghttp3_conn *, std::int64_t id, std::int32_t, nghttp3_rcbuf *name,
    nghttp3_rcbuf *value, std::uint8_t, void *user, void *)
{
    auto *self = static_cast<Http3Client *>(user);
    const auto found = self->m_requests.find(id);
    if (found == self->m_requests.end())
        return 0;
    const nghttp3_vec n = nghttp3_rcbuf_get_buf(name);
    const nghttp3_vec v = nghttp3_rcbuf_get_buf(value);
    std::string key(reinterpret_cast<const char *>(n.base), n.len);
    std::string text(reinterpret_cast<const char *>(v.base), v.len);
    if (key == ":status") {
        int status = 0;
        for (const char c : text)
            status = c >= '0' && c <= '9' && status < 1000 ? status * 10 + (c - '0') : 1000;
        found->second.status = status;
    }
    found->second.headers.emplace_back(std::move(key), std::move(text));
    return 0;
}

int Http3Client::onEndHeaders(nghttp3_conn *, std::int64_t id, int, void *user, void *)
{
    auto *self = static_cast<Http3Client *>(user);
    const auto found = self->m_requests.find(id);
    // Informational heads (1xx) are followed by the real one.
    if (found != self->m_requests.end() && found->second.status >= 200) {
        self->finish(id, {});
    } else if (found != self->m_requests.end()) {
        found->second.headers.clear();
        found->second.status = 0;
    }
    return 0;
}

int Http3Client::onData(
    nghttp3_conn *, std::int64_t id, const std::uint8_t *, std::size_t size, void *user, void *)
{
    static_cast<Http3Client *>(user)->m_connection.consume(id, size);
    return 0;
}

int Http3Client::onDeferredConsume(
    nghttp3_conn *, std::int64_t id, std::size_t size, void *user, void *)
{
    static_cast<Http3Client *>(user)->m_connection.consume(id, size);
    return 0;
}

int Http3Client::onStreamClose(nghttp3_conn *, std::int64_t id, std::uint64_t, void *user, void *)
{
    auto *self = static_cast<Http3Client *>(user);
    self->finish(id, "http3: the request stream closed without a response");
    self->m_requests.erase(id);
    return 0;
}

bool Http3Client::receiveStreamData(
    std::int64_t id, const std::uint8_t *data, std::size_t size, bool fin)
{
    const nghttp3_ssize consumed = nghttp3_conn_read_stream(m_h3, id, data, size, fin ? 1 : 0);
    if (consumed < 0)
        return false;
    m_connection.consume(id, static_cast<std::size_t>(consumed));
    return true;
}

void Http3Client::streamClosed(std::int64_t id, std::uint64_t errorCode)
{
    if (!errorCode)
        errorCode = NGHTTP3_H3_NO_ERROR;
    nghttp3_conn_close_stream(m_h3, id, errorCode);
}

void Http3Client::streamReset(std::int64_t id, std::uint64_t)
{
    nghttp3_conn_shutdown_stream_read(m_h3, id);
}

void Http3Client::streamAcked(std::int64_t id, std::uint64_t size)
{
    nghttp3_conn_add_ack_offset(m_h3, id, size);
}

void Http3Client::streamUnblocked(std::int64_t id)
{
    nghttp3_conn_unblock_stream(m_h3, id);
}

long Http3Client::pendingData(std::int64_t &id, bool &fin, ngtcp2_vec *vec, std::size_t capacity)
{
    int finFlag = 0;
    const nghttp3_ssize count = nghttp3_conn_writev_stream(
        m_h3, &id, &finFlag, reinterpret_cast<nghttp3_vec *>(vec), capacity);
    fin = finFlag != 0;
    return static_cast<long>(count);
}

void Http3Client::dataWritten(std::int64_t id, std::size_t size)
{
    nghttp3_conn_add_write_offset(m_h3, id, size);
}

void Http3Client::streamBlocked(std::int64_t id)
{
    nghttp3_conn_block_stream(m_h3, id);
}

void Http3Client::streamWriteShut(std::int64_t id)
{
    nghttp3_conn_shutdown_stream_write(m_h3, id);
}

} // namespace qivro::engine::quic
