// One HTTP/2 client connection over a stream (TLS with ALPN h2, or prior-knowledge h2c), on
// nghttp2. Requests become Http2Streams whose bodies carry the proxied bytes; the flow-control
// windows are opened only as the reader takes the bytes, so a slow reader holds the sender back.
#pragma once

#include "common/inputbuffer.h"
#include "common/writequeue.h"

#include <asio/steady_timer.hpp>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

struct nghttp2_session;

namespace qivro::engine {

class Http2Stream;

struct Http2Settings
{
    std::int64_t idleTimeoutMs = 0; // a PING when nothing arrived for this long (0: never)
    std::int64_t pingTimeoutMs = 0; // then the connection fails without an answer in this time
};

class Http2Connection : public std::enable_shared_from_this<Http2Connection>
{
public:
    using Headers = std::vector<std::pair<std::string, std::string>>;

    Http2Connection(const asio::any_io_executor &executor, std::shared_ptr<Stream> transport,
        Http2Settings settings = {});
    ~Http2Connection();
    Http2Connection(const Http2Connection &) = delete;
    Http2Connection &operator=(const Http2Connection &) = delete;

    // Sends the preface and settings and starts reading; false when the session cannot be made.
    bool start();
    // A request with a streamed body (pseudo-headers first). statusPrefix names the transport in
    // errors ("v2ray-http: unexpected status: 404 Not Found"). nullptr when no stream can open.
    std::shared_ptr<Http2Stream> request(const Headers &headers, const std::string &statusPrefix);
    // Alive, not told to go away, and below the server's limit of concurrent streams.
    bool acceptsStreams() const;
    void close();
    const asio::any_io_executor &executor() const { return m_executor; }

    // For its streams.
    void resumeUpload(std::int32_t id);
    void consumed(std::int32_t id, std::size_t size);
    void cancel(std::int32_t id);
    void flush();

    // Feeds bytes from the server into the session; false once it failed. For the fuzzer.
    bool receive(const std::uint8_t *data, std::size_t size);

private:
    struct Callbacks;
    void readMore();
    void fail(const std::string &error);
    void armIdle();
    void touch();

    asio::any_io_executor m_executor;
    std::shared_ptr<Stream> m_transport;
    Http2Settings m_settings;
    nghttp2_session *m_session = nullptr;
    InputBuffer m_in;
    WriteQueue m_out;
    std::map<std::int32_t, std::shared_ptr<Http2Stream>> m_streams;
    asio::steady_timer m_idleTimer;
    bool m_pingOutstanding = false;
    bool m_reading = false;
    bool m_goaway = false;
    bool m_closed = false;
    std::string m_error;
};

} // namespace qivro::engine
