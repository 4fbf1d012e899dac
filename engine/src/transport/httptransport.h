// The http transport: with TLS, a request on a shared HTTP/2 connection whose body carries the
// upload and whose 200 response the download; without TLS, one HTTP/1.1 request, then raw bytes.
#pragma once

#include "transport/http2client.h"
#include "transport/transport.h"

#include <string>
#include <utility>
#include <vector>

namespace qivro::engine {

class HttpTransport : public Transport
{
public:
    HttpTransport(const TransportConfig &config, TransportContext context, std::string path);
    void dial(const asio::any_io_executor &executor, StreamHandler handler) override;
    void stop() override { m_client.closeAll(); }

private:
    // One of the configured hosts at random, as each request picks it.
    std::string pickHost(const std::string &fallback) const;

    TransportContext m_context;
    Http2Client m_client;
    std::string m_method;
    std::string m_path;
    std::vector<std::string> m_hosts;
    std::vector<std::pair<std::string, std::string>> m_headers;
};

} // namespace qivro::engine
