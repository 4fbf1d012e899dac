// HTTP/2 connections to one server, shared by the requests of an outbound as Go's HTTP/2 client
// shares them: a new connection only when none can take another stream.
#pragma once

#include "transport/http2connection.h"
#include "transport/http2stream.h"
#include "transport/transport.h"

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace qivro::engine {

class Http2Client
{
public:
    using Handler = std::function<void(const std::string &error, std::shared_ptr<Http2Stream>)>;

    Http2Client(TransportContext context, Http2Settings settings);
    ~Http2Client();
    Http2Client(const Http2Client &) = delete;
    Http2Client &operator=(const Http2Client &) = delete;

    void open(const asio::any_io_executor &executor, Http2Connection::Headers headers,
        std::string statusPrefix, Handler handler);
    void closeAll();

private:
    TransportContext m_context;
    Http2Settings m_settings;
    std::vector<std::shared_ptr<Http2Connection>> m_pool;
};

} // namespace qivro::engine
