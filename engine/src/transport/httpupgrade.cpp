#include "transport/httpupgrade.h"

#include "transport/responsehead.h"

#include <algorithm>

namespace qivro::engine {

std::string httpRequestHead(const std::string &method, const std::string &path,
    const std::string &host, std::vector<std::pair<std::string, std::string>> headers)
{
    std::string agent = "Go-http-client/1.1";
    std::vector<std::pair<std::string, std::string>> rest;
    bool agentSeen = false;
    for (auto &[name, value] : headers) {
        const std::string canonical = canonicalHeaderName(name);
        if (canonical == "User-Agent") {
            if (!agentSeen)
                agent = value;
            agentSeen = true;
        } else if (canonical != "Host" && canonical != "Content-Length"
            && canonical != "Transfer-Encoding" && canonical != "Trailer") {
            rest.emplace_back(canonical, std::move(value));
        }
    }
    std::stable_sort(
        rest.begin(), rest.end(), [](const auto &a, const auto &b) { return a.first < b.first; });
    std::string text = method + " " + path + " HTTP/1.1\r\nHost: " + host + "\r\n";
    if (!agent.empty())
        text += "User-Agent: " + agent + "\r\n";
    for (const auto &[name, value] : rest)
        text += name + ": " + value + "\r\n";
    return text + "\r\n";
}

HttpUpgradeTransport::HttpUpgradeTransport(
    const TransportConfig &config, TransportContext context, std::string path)
    : m_context(std::move(context))
{
    std::string host = hostPort(m_context.server, m_context.port);
    if (!config.host.empty() && !config.host.front().empty())
        host = config.host.front();
    else if (m_context.tls && !m_context.tlsServerName.empty())
        host = m_context.tlsServerName;
    auto headers = config.headers;
    headers.erase(std::remove_if(headers.begin(), headers.end(),
                      [](const auto &header) {
                          const std::string name = canonicalHeaderName(header.first);
                          return name == "Connection" || name == "Upgrade";
                      }),
        headers.end());
    headers.emplace_back("Connection", "Upgrade");
    headers.emplace_back("Upgrade", "websocket");
    m_request = httpRequestHead("GET", path, host, std::move(headers));
}

void HttpUpgradeTransport::dial(const asio::any_io_executor &executor, StreamHandler handler)
{
    m_context.connect(executor,
        [executor, request = m_request, handler = std::move(handler)](
            const std::string &error, std::shared_ptr<Stream> inner) mutable {
            if (!error.empty())
                return handler(error, nullptr);
            exchangeHeads(executor, inner, request, 15000,
                [executor, inner, handler = std::move(handler)](const std::string &error,
                    const http::ResponseHead &head, std::vector<std::uint8_t> rest) {
                    if (!error.empty())
                        return handler(error, nullptr);
                    const std::string *connection = http::findHeader(head.headers, "Connection");
                    const std::string *upgrade = http::findHeader(head.headers, "Upgrade");
                    if (head.status != 101 || !connection || toLower(*connection) != "upgrade"
                        || !upgrade || toLower(*upgrade) != "websocket") {
                        inner->close();
                        return handler(
                            "v2ray-http-upgrade: unexpected status: " + statusText(head.status),
                            nullptr);
                    }
                    handler({}, std::make_shared<PrefixedStream>(executor, inner, std::move(rest)));
                });
        });
}

} // namespace qivro::engine
