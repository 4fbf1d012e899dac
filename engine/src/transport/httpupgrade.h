// The httpupgrade transport: a WebSocket-shaped HTTP/1.1 upgrade without a key, then raw bytes.
#pragma once

#include "transport/transport.h"

#include <string>
#include <utility>
#include <vector>

namespace qivro::engine {

class HttpUpgradeTransport : public Transport
{
public:
    HttpUpgradeTransport(const TransportConfig &config, TransportContext context, std::string path);
    void dial(const asio::any_io_executor &executor, StreamHandler handler) override;

private:
    TransportContext m_context;
    std::string m_request;
};

// The head Go's http.Request.Write sends: request line, Host, User-Agent, then the other headers
// sorted by name.
std::string httpRequestHead(const std::string &method, const std::string &path,
    const std::string &host, std::vector<std::pair<std::string, std::string>> headers);

} // namespace qivro::engine
