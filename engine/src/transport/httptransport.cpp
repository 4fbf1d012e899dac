#include "transport/httptransport.h"

#include "transport/http1stream.h"

#include <algorithm>
#include <map>
#include <random>

namespace qivro::engine {

HttpTransport::HttpTransport(
    const TransportConfig &config, TransportContext context, std::string path)
    : m_context(context)
    , m_client(context, Http2Settings {config.idleTimeoutMs, config.pingTimeoutMs})
    , m_method(config.method.empty() ? "PUT" : config.method)
    , m_path(std::move(path))
    , m_hosts(config.host)
    , m_headers(config.headers)
{ }

std::string HttpTransport::pickHost(const std::string &fallback) const
{
    if (m_hosts.empty())
        return fallback;
    static thread_local std::minstd_rand random(std::random_device {}());
    return m_hosts[random() % m_hosts.size()];
}

void HttpTransport::dial(const asio::any_io_executor &executor, StreamHandler handler)
{
    if (!m_context.tls) {
        // Joined per name, as Go's header map holds them; the server's address without its port
        // is the Host unless one is configured.
        std::map<std::string, std::string> fields;
        for (const auto &[name, value] : m_headers) {
            std::string &field = fields[canonicalHeaderName(name)];
            field += (field.empty() ? "" : ", ") + value;
        }
        if (fields["Host"].empty())
            fields["Host"] = pickHost(m_context.server);
        std::string head = m_method + " " + m_path + " HTTP/1.1\r\n";
        for (const auto &[name, value] : fields)
            head += name + ": " + value + "\r\n";
        head += "\r\n";
        m_context.connect(executor,
            [executor, head, handler = std::move(handler)](
                const std::string &error, std::shared_ptr<Stream> inner) {
                if (!error.empty())
                    return handler(error, nullptr);
                handler({}, std::make_shared<Http1Stream>(executor, inner, head));
            });
        return;
    }
    Http2Connection::Headers headers = {{":method", m_method}, {":scheme", "https"},
        {":path", m_path}, {":authority", pickHost("www.example.com")}};
    bool agent = false;
    bool encoding = false;
    for (const auto &[name, value] : m_headers) {
        const std::string lower = toLower(name);
        // HTTP/2 carries the host as :authority and has no connection-level headers.
        if (lower == "host" || lower == "connection" || lower == "keep-alive"
            || lower == "transfer-encoding" || lower == "upgrade" || lower == "proxy-connection")
            continue;
        agent = agent || lower == "user-agent";
        encoding = encoding || lower == "accept-encoding";
        headers.emplace_back(lower, value);
    }
    if (!encoding)
        headers.emplace_back("accept-encoding", "gzip");
    if (!agent)
        headers.emplace_back("user-agent", "Go-http-client/2.0");
    m_client.open(executor, std::move(headers), "v2ray-http: ",
        [handler = std::move(handler)](const std::string &error,
            std::shared_ptr<Http2Stream> stream) { handler(error, stream); });
}

} // namespace qivro::engine
