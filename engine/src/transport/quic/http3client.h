// The HTTP/3 side of a QUIC connection: control and QPACK streams (kept open for the life of the
// connection) and body-less requests whose response head is all the caller needs.
#pragma once

#include "transport/quic/quicconnection.h"

#include <functional>
#include <map>
#include <string>
#include <utility>
#include <vector>

typedef struct nghttp3_conn nghttp3_conn;
typedef struct nghttp3_rcbuf nghttp3_rcbuf;

namespace qivro::engine::quic {

class Http3Client : public QuicApplication
{
public:
    using Headers = std::vector<std::pair<std::string, std::string>>;
    // status 0 with an error when the request failed before a response head arrived.
    using ResponseHandler
        = std::function<void(const std::string &error, int status, const Headers &headers)>;

    explicit Http3Client(QuicConnection &connection);
    ~Http3Client() override;
    Http3Client(const Http3Client &) = delete;
    Http3Client &operator=(const Http3Client &) = delete;

    // Once the handshake is done: opens and binds the control and QPACK streams.
    bool start(std::string &error);
    // Pseudo-header fields first, in order. The handler runs on the connection's executor.
    bool request(const Headers &headers, ResponseHandler handler, std::string &error);

    bool receiveStreamData(
        std::int64_t id, const std::uint8_t *data, std::size_t size, bool fin) override;
    void streamClosed(std::int64_t id, std::uint64_t errorCode) override;
    void streamReset(std::int64_t id, std::uint64_t errorCode) override;
    void streamAcked(std::int64_t id, std::uint64_t size) override;
    void streamUnblocked(std::int64_t id) override;
    long pendingData(std::int64_t &id, bool &fin, ngtcp2_vec *vec, std::size_t capacity) override;
    void dataWritten(std::int64_t id, std::size_t size) override;
    void streamBlocked(std::int64_t id) override;
    void streamWriteShut(std::int64_t id) override;

private:
    struct Request
    {
        int status = 0;
        Headers headers;
        ResponseHandler handler;
    };
    void finish(std::int64_t id, const std::string &error);

    static int onHeader(nghttp3_conn *, std::int64_t id, std::int32_t, nghttp3_rcbuf *name,
        nghttp3_rcbuf *value, std::uint8_t, void *user, void *);
    static int onEndHeaders(nghttp3_conn *, std::int64_t id, int, void *user, void *);
    static int onData(nghttp3_conn *, std::int64_t id, const std::uint8_t *, std::size_t size,
        void *user, void *);
    static int onDeferredConsume(
        nghttp3_conn *, std::int64_t id, std::size_t size, void *user, void *);
    static int onStreamClose(nghttp3_conn *, std::int64_t id, std::uint64_t, void *user, void *);

    QuicConnection &m_connection;
    nghttp3_conn *m_h3 = nullptr;
    std::map<std::int64_t, Request> m_requests;
};

} // namespace qivro::engine::quic
