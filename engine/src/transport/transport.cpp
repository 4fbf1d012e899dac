#include "transport/transport.h"

#include "transport/grpctransport.h"
#include "transport/httptransport.h"
#include "transport/httpupgrade.h"
#include "transport/websocketclient.h"

#include <asio/ip/address.hpp>
#include <asio/post.hpp>
#include <cctype>

namespace qivro::engine {

namespace {

// Go's URL rules for a path: which bytes go out as they are, and which a valid escaped path may
// hold besides those.
bool pathKeeps(unsigned char c)
{
    return std::isalnum(c) || c == '-' || c == '_' || c == '.' || c == '~' || c == '$' || c == '&'
        || c == '+' || c == ',' || c == '/' || c == ':' || c == ';' || c == '=' || c == '@';
}

bool validEscapedPath(const std::string &text)
{
    for (const unsigned char c : text) {
        if (!pathKeeps(c)
            && std::string("!'()*[]%").find(static_cast<char>(c)) == std::string::npos)
            return false;
    }
    return true;
}

bool unescape(const std::string &text, std::string &out)
{
    out.clear();
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '%') {
            out += text[i];
            continue;
        }
        if (i + 2 >= text.size() || hexDigit(text[i + 1]) < 0 || hexDigit(text[i + 2]) < 0)
            return false;
        out += static_cast<char>(hexDigit(text[i + 1]) << 4 | hexDigit(text[i + 2]));
        i += 2;
    }
    return true;
}

std::string escape(const std::string &text, bool segment)
{
    static const char digits[] = "0123456789ABCDEF";
    std::string out;
    for (const unsigned char c : text) {
        if (pathKeeps(c) && !(segment && (c == '/' || c == ';' || c == ',')))
            out += static_cast<char>(c);
        else
            out += {'%', digits[c >> 4], digits[c & 0x0F]};
    }
    return out;
}

class UnsupportedTransport : public Transport
{
public:
    explicit UnsupportedTransport(std::string reason)
        : m_reason(std::move(reason))
    { }
    void dial(const asio::any_io_executor &executor, StreamHandler handler) override
    {
        asio::post(executor,
            [handler = std::move(handler), reason = m_reason] { handler(reason, nullptr); });
    }

private:
    std::string m_reason;
};

} // namespace

std::string hostPort(const std::string &host, std::uint16_t port)
{
    std::error_code error;
    const asio::ip::address address = asio::ip::make_address(host, error);
    const std::string text = !error && address.is_v6() ? "[" + host + "]" : host;
    return text + ":" + std::to_string(port);
}

bool requestPath(const std::string &path, std::string &out)
{
    std::string decoded;
    if (!unescape(path, decoded))
        return false;
    // Go keeps the text as written when it differs from the canonical escaping yet is valid.
    const std::string raw = escape(decoded, false) == path ? std::string() : path;
    if (decoded.empty() || decoded.front() != '/')
        decoded = "/" + decoded;
    std::string rawDecoded;
    if (!raw.empty() && validEscapedPath(raw) && unescape(raw, rawDecoded) && rawDecoded == decoded)
        out = raw;
    else
        out = escape(decoded, false);
    return true;
}

std::string canonicalHeaderName(std::string name)
{
    for (const char c : name) {
        if (c == ' ' || static_cast<unsigned char>(c) > 0x7E)
            return name;
    }
    bool upper = true;
    for (char &c : name) {
        c = static_cast<char>(upper ? std::toupper(static_cast<unsigned char>(c))
                                    : std::tolower(static_cast<unsigned char>(c)));
        upper = c == '-';
    }
    return name;
}

std::string grpcPath(const std::string &serviceName)
{
    return "/" + escape(serviceName, true) + "/Tun";
}

std::vector<std::string> transportAlpn(const std::string &type)
{
    if (type == "ws" || type == "httpupgrade")
        return {"http/1.1"};
    if (type == "grpc" || type == "http")
        return {"h2"};
    return {};
}

std::unique_ptr<Transport> createTransport(
    const TransportConfig &config, TransportContext context, std::string &error)
{
    std::string path;
    if (!requestPath(config.path, path)) {
        error = "create client transport: " + config.type + ": parse path: invalid URL escape";
        return nullptr;
    }
    if (config.type == "ws")
        return std::make_unique<WebSocketTransport>(config, std::move(context), path);
    if (config.type == "httpupgrade")
        return std::make_unique<HttpUpgradeTransport>(config, std::move(context), path);
    if (config.type == "grpc")
        return std::make_unique<GrpcTransport>(config, std::move(context));
    if (config.type == "http")
        return std::make_unique<HttpTransport>(config, std::move(context), path);
    return std::make_unique<UnsupportedTransport>(
        "transport " + config.type + " is not supported by this engine build");
}

} // namespace qivro::engine
