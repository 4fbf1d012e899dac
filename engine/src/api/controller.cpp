#include "api/controller.h"

#include "common/httpparser.h"
#include "common/log.h"
#include "common/stream.h"
#include "common/websocket.h"
#include "group/groups.h"

#include <asio/post.hpp>
#include <asio/steady_timer.hpp>
#include <asio/write.hpp>
#include <ctime>
#include <deque>
#include <functional>
#include <nlohmann/json.hpp>

namespace qivro::engine {

using json = nlohmann::json;

namespace {

std::string rfc3339(std::chrono::system_clock::time_point time)
{
    const auto milliseconds
        = std::chrono::duration_cast<std::chrono::milliseconds>(time.time_since_epoch()).count()
        % 1000;
    const std::time_t seconds = std::chrono::system_clock::to_time_t(time);
    std::tm utc {};
#if defined(_WIN32)
    gmtime_s(&utc, &seconds);
#else
    gmtime_r(&seconds, &utc);
#endif
    char buffer[64];
    const std::size_t length = std::strftime(buffer, sizeof buffer, "%Y-%m-%dT%H:%M:%S", &utc);
    std::snprintf(
        buffer + length, sizeof buffer - length, ".%03dZ", static_cast<int>(milliseconds));
    return buffer;
}

const char *reasonPhrase(int status)
{
    switch (status) {
    case 200:
        return "OK";
    case 204:
        return "No Content";
    case 400:
        return "Bad Request";
    case 401:
        return "Unauthorized";
    case 403:
        return "Forbidden";
    case 404:
        return "Not Found";
    case 405:
        return "Method Not Allowed";
    case 413:
        return "Request Entity Too Large";
    case 503:
        return "Service Unavailable";
    case 504:
        return "Gateway Timeout";
    default:
        return "OK";
    }
}

std::map<std::string, std::string> parseQuery(const std::string &query)
{
    std::map<std::string, std::string> items;
    std::size_t position = 0;
    while (position < query.size()) {
        std::size_t amp = query.find('&', position);
        if (amp == std::string::npos)
            amp = query.size();
        const std::string pair = query.substr(position, amp - position);
        const std::size_t equals = pair.find('=');
        std::string key = pair.substr(0, equals);
        std::string value = equals == std::string::npos ? "" : pair.substr(equals + 1);
        std::replace(value.begin(), value.end(), '+', ' ');
        bool ok = true;
        key = http::percentDecode(key, ok);
        const std::string decoded = http::percentDecode(value, ok);
        if (ok && !items.count(key))
            items.emplace(key, decoded);
        position = amp + 1;
    }
    return items;
}

// A Host header value ("127.0.0.1:9090", "[::1]", "localhost") that names this machine's loopback.
bool namesLoopback(const std::string &hostPort)
{
    std::string host = hostPort;
    std::string port;
    if (!host.empty() && host.front() == '[') {
        const std::size_t close = host.find(']');
        if (close == std::string::npos)
            return false;
        const std::string rest = host.substr(close + 1);
        if (!rest.empty() && rest.front() != ':')
            return false;
        port = rest.empty() ? "" : rest.substr(1);
        host = host.substr(1, close - 1);
    } else if (const std::size_t colon = host.find(':');
               colon != std::string::npos && colon == host.rfind(':')) {
        port = host.substr(colon + 1);
        host = host.substr(0, colon);
    }
    if (!std::all_of(port.begin(), port.end(), [](unsigned char c) { return std::isdigit(c); }))
        return false;
    if (toLower(host) == "localhost")
        return true;
    std::error_code error;
    const asio::ip::address address = asio::ip::make_address(host, error);
    return !error && isLoopbackAddress(address);
}

// An Origin header ("http://localhost:5173") of a page served from this machine's loopback.
bool isLoopbackOrigin(const std::string &origin)
{
    const std::size_t scheme = origin.find("://");
    return scheme != std::string::npos && origin.find('/', scheme + 3) == std::string::npos
        && namesLoopback(origin.substr(scheme + 3));
}

int logRank(const std::string &clashLevel)
{
    if (clashLevel == "debug")
        return 0;
    if (clashLevel == "info")
        return 1;
    if (clashLevel == "warning")
        return 2;
    if (clashLevel == "error")
        return 3;
    return 4;
}

class ApiConnection : public std::enable_shared_from_this<ApiConnection>
{
public:
    ApiConnection(
        Controller &controller, asio::ip::tcp::socket socket, std::shared_ptr<void> ticket)
        : m_controller(controller)
        , m_services(controller.services())
        , m_socket(std::move(socket))
        , m_timer(m_socket.get_executor())
        , m_deadline(m_socket.get_executor())
        , m_ticket(std::move(ticket))
    { }

    ~ApiConnection()
    {
        if (m_logSubscription)
            Logger::instance().unsubscribe(m_logSubscription);
    }

    void start()
    {
        armDeadline(m_services.config.controllerRequestTimeoutMs);
        readRequest();
    }

private:
    // Bounds the wait for a complete request, so silent connections cannot pile up.
    void armDeadline(std::int64_t milliseconds)
    {
        m_deadline.expires_after(std::chrono::milliseconds(milliseconds));
        m_deadline.async_wait([weak = weak_from_this()](const std::error_code &error) {
            if (auto self = weak.lock(); self && !error)
                self->close();
        });
    }

    void readRequest()
    {
        http::RequestHead head;
        std::size_t consumed = 0;
        const ParseStatus status
            = http::parseRequestHead(m_buffer.data(), m_buffer.size(), head, consumed);
        if (status == ParseStatus::Invalid)
            return respondText(400, "400 Bad Request", false);
        if (status == ParseStatus::Done) {
            const http::BodyFraming framing = http::requestFraming(head);
            if (framing.kind == http::Framing::Invalid || framing.kind == http::Framing::Chunked)
                return respondText(400, "400 Bad Request", false);
            if (framing.length > 1024 * 1024)
                return respondText(413, "413 Request Entity Too Large", false);
            if (m_buffer.size() - consumed >= framing.length) {
                const std::string body = m_buffer.substr(consumed, framing.length);
                m_buffer.erase(0, consumed + framing.length);
                m_keepAlive = http::keepAlive(head.minorVersion, head.headers);
                m_deadline.cancel(); // a delay test may take its time; streams have no end
                return handle(head, body);
            }
        }
        auto self = shared_from_this();
        m_chunk.resize(8192);
        m_socket.async_read_some(
            asio::buffer(m_chunk), [self](const std::error_code &error, std::size_t size) {
                if (error)
                    return self->close();
                self->m_buffer.append(self->m_chunk.data(), size);
                self->readRequest();
            });
    }

    void close()
    {
        std::error_code ignored;
        m_timer.cancel();
        m_deadline.cancel();
        m_socket.close(ignored);
    }

    // Without a secret nothing but this machine's own pages may drive the API: a web page elsewhere
    // could otherwise use it through the browser, also by rebinding its name to loopback.
    bool openToBrowsers() const { return !m_services.config.secret.empty(); }

    bool fromLoopbackPage(const http::RequestHead &head) const
    {
        const std::string *host = http::findHeader(head.headers, "Host");
        const std::string *origin = http::findHeader(head.headers, "Origin");
        return host && namesLoopback(*host) && (!origin || isLoopbackOrigin(*origin));
    }

    std::string corsHeaders() const
    {
        if (!openToBrowsers())
            return {};
        const auto &origins = m_services.config.allowOrigin;
        std::string allowed;
        if (std::find(origins.begin(), origins.end(), "*") != origins.end())
            allowed = "*";
        else if (std::find(origins.begin(), origins.end(), m_origin) != origins.end())
            allowed = m_origin;
        if (allowed.empty())
            return {};
        return "Access-Control-Allow-Origin: " + allowed + "\r\nVary: Origin\r\n";
    }

    void send(int status, const std::string &contentType, const std::string &body,
        const std::string &extraHeaders = {})
    {
        std::string response
            = "HTTP/1.1 " + std::to_string(status) + " " + reasonPhrase(status) + "\r\n";
        response += corsHeaders() + extraHeaders;
        if (status != 204) {
            response += "Content-Type: " + contentType + "\r\n";
            response += "Content-Length: " + std::to_string(body.size()) + "\r\n";
        }
        if (!m_keepAlive)
            response += "Connection: close\r\n";
        response += "\r\n";
        if (status != 204)
            response += body;
        auto data = std::make_shared<std::string>(std::move(response));
        auto self = shared_from_this();
        asio::async_write(
            m_socket, asio::buffer(*data), [self, data](const std::error_code &error, std::size_t) {
                if (error || !self->m_keepAlive)
                    return self->close();
                self->armDeadline(self->m_services.config.controllerIdleMs);
                self->readRequest();
            });
    }

    void respondJson(int status, const json &body)
    {
        send(status, "application/json; charset=utf-8", body.dump() + "\n");
    }
    void respondMessage(int status, const std::string &message)
    {
        respondJson(status, {{"message", message}});
    }
    void respondText(int status, const std::string &text, bool keepAlive)
    {
        m_keepAlive = m_keepAlive && keepAlive;
        send(status, "text/plain; charset=utf-8", text + "\n");
    }
    void respondEmpty() { send(204, {}, {}); }
    void notFound() { respondText(404, "404 page not found", true); }

    void handle(const http::RequestHead &head, const std::string &body)
    {
        const std::string *origin = http::findHeader(head.headers, "Origin");
        m_origin = origin ? *origin : "";
        const std::size_t question = head.target.find('?');
        const std::string rawPath = head.target.substr(0, question);
        const auto query
            = parseQuery(question == std::string::npos ? "" : head.target.substr(question + 1));
        if (!openToBrowsers() && !fromLoopbackPage(head)) {
            logDebug("clash-api: refused a request for ", rawPath, " from a page elsewhere");
            m_keepAlive = false;
            return respondMessage(403, "Forbidden");
        }
        if (head.method == "OPTIONS"
            && http::findHeader(head.headers, "Access-Control-Request-Method")) {
            std::string headers = "Access-Control-Allow-Methods: GET, POST, PUT, PATCH, DELETE\r\n"
                                  "Access-Control-Allow-Headers: Content-Type, Authorization\r\n"
                                  "Access-Control-Max-Age: 300\r\n";
            return send(204, {}, {}, headers);
        }
        const std::string &secret = m_services.config.secret;
        if (!secret.empty()) {
            const std::string *authorization = http::findHeader(head.headers, "Authorization");
            const bool websocket = http::headerHasToken(head.headers, "Upgrade", "websocket");
            const auto token = query.find("token");
            const bool ok = (authorization && *authorization == "Bearer " + secret)
                || (websocket && token != query.end() && token->second == secret);
            if (!ok)
                return respondMessage(401, "Unauthorized");
        }
        // Split the path into decoded segments.
        std::vector<std::string> segments;
        std::size_t position = 1;
        while (position <= rawPath.size()) {
            std::size_t slash = rawPath.find('/', position);
            if (slash == std::string::npos)
                slash = rawPath.size();
            bool ok = true;
            const std::string segment
                = http::percentDecode(rawPath.substr(position, slash - position), ok);
            if (!ok)
                return respondText(400, "400 Bad Request", true);
            segments.push_back(segment);
            position = slash + 1;
        }
        while (!segments.empty() && segments.back().empty() && segments.size() > 1)
            segments.pop_back();
        const std::string &method = head.method;
        const std::string first = segments.empty() ? "" : segments[0];
        const std::size_t count = segments.size();
        const auto only = [&](std::initializer_list<const char *> methods) {
            for (const char *allowed : methods) {
                if (method == allowed)
                    return true;
            }
            send(405, "text/plain; charset=utf-8", "Method Not Allowed\n");
            return false;
        };
        if (count == 1 && first.empty()) {
            if (only({"GET"}))
                respondJson(200, {{"hello", "clash"}});
        } else if (count == 1 && first == "version") {
            if (only({"GET"}))
                respondJson(200,
                    {{"version", std::string("qivro-engine ") + QIVRO_ENGINE_VERSION},
                        {"premium", true}, {"meta", true}});
        } else if (first == "proxies" && count == 1) {
            if (only({"GET"}))
                respondJson(200, {{"proxies", allProxies()}});
        } else if (first == "proxies" && count == 2) {
            if (method == "GET")
                getProxy(segments[1]);
            else if (method == "PUT")
                putProxy(segments[1], body);
            else
                only({});
        } else if (first == "proxies" && count == 3 && segments[2] == "delay") {
            if (only({"GET"}))
                proxyDelay(segments[1], query);
        } else if (first == "group" && count == 1) {
            if (only({"GET"}))
                groups();
        } else if (first == "group" && count == 2) {
            if (only({"GET"}))
                group(segments[1]);
        } else if (first == "group" && count == 3 && segments[2] == "delay") {
            if (only({"GET"}))
                groupDelay(segments[1], query);
        } else if (first == "traffic" && count == 1) {
            if (only({"GET"}))
                streamTraffic(head);
        } else if (first == "logs" && count == 1) {
            if (only({"GET"}))
                streamLogs(head, query);
        } else if (first == "connections" && count == 1) {
            if (method == "GET" && wantsWebSocket(head))
                streamConnections(head, query);
            else if (method == "GET")
                respondJson(200, connections());
            else if (method == "DELETE") {
                m_services.tracker.closeAll();
                respondEmpty();
            } else
                only({});
        } else if (first == "connections" && count == 2) {
            if (only({"DELETE"})) {
                m_services.tracker.closeConnection(segments[1]);
                respondEmpty();
            }
        } else if (first == "configs" && count == 1) {
            if (method == "GET")
                respondJson(200, configs());
            else if (method == "PATCH" || method == "PUT")
                patchConfigs(body);
            else
                only({});
        } else {
            notFound();
        }
    }

    // Proxies ----------------------------------------------------------------------------------

    std::shared_ptr<Outbound> findOutbound(const std::string &name) const
    {
        const auto it = m_services.outbounds.find(name);
        return it == m_services.outbounds.end() ? nullptr : it->second;
    }

    static Outbound *realOf(Outbound *outbound)
    {
        while (outbound->current() != outbound)
            outbound = outbound->current();
        return outbound;
    }

    json history(Outbound &outbound) const
    {
        json list = json::array();
        if (const auto record = m_services.history.load(realOf(&outbound)->tag()))
            list.push_back({{"time", rfc3339(record->time)}, {"delay", record->delay}});
        return list;
    }

    json proxyInfo(Outbound &outbound) const
    {
        json info = {{"type", outbound.clashType()}, {"name", outbound.tag()},
            {"udp", outbound.supportsUdp()}, {"history", history(outbound)}};
        if (auto *group = dynamic_cast<GroupOutbound *>(&outbound)) {
            json all = json::array();
            for (const auto &member : group->members())
                all.push_back(member->tag());
            info["all"] = all;
            info["now"] = group->current()->tag();
        }
        return info;
    }

    json globalInfo() const
    {
        const std::string final = m_services.config.finalOutbound();
        json all = json::array();
        if (findOutbound(final))
            all.push_back(final);
        for (const OutboundConfig &config : m_services.config.outbounds) {
            if (config.tag == final || config.type == "direct" || config.type == "block"
                || config.type == "dns")
                continue;
            all.push_back(config.tag);
        }
        return {{"type", "Fallback"}, {"name", "GLOBAL"}, {"udp", true}, {"history", json::array()},
            {"all", all}, {"now", final}};
    }

    json allProxies() const
    {
        json proxies = json::object();
        for (const OutboundConfig &config : m_services.config.outbounds) {
            if (auto outbound = findOutbound(config.tag))
                proxies[config.tag] = proxyInfo(*outbound);
        }
        proxies["GLOBAL"] = globalInfo();
        return proxies;
    }

    void getProxy(const std::string &name)
    {
        if (name == "GLOBAL")
            return respondJson(200, globalInfo());
        auto outbound = findOutbound(name);
        if (!outbound)
            return respondMessage(404, "Resource not found");
        respondJson(200, proxyInfo(*outbound));
    }

    void putProxy(const std::string &name, const std::string &body)
    {
        auto outbound = findOutbound(name);
        if (!outbound)
            return respondMessage(404, "Resource not found");
        const json request = json::parse(body, nullptr, false);
        if (request.is_discarded() || !request.is_object()
            || (request.contains("name") && !request["name"].is_string()))
            return respondMessage(400, "Body invalid");
        auto *selector = dynamic_cast<SelectorOutbound *>(outbound.get());
        if (!selector)
            return respondMessage(400, "Must be a Selector");
        const std::string member = request.value("name", "");
        if (!selector->select(member))
            return respondMessage(400, "Selector update error: not found");
        logInfo("clash-api: selector ", name, " switched to ", member);
        respondEmpty();
    }

    // Parses ?timeout=; false after answering 400.
    bool readTimeout(const std::map<std::string, std::string> &query, int &timeout)
    {
        const auto it = query.find("timeout");
        char *end = nullptr;
        long value = 0;
        if (it != query.end() && !it->second.empty())
            value = std::strtol(it->second.c_str(), &end, 10);
        if (it == query.end() || it->second.empty() || *end != '\0' || value > 32767
            || value < -32768) {
            respondMessage(400, "Body invalid");
            return false;
        }
        timeout = static_cast<int>(value);
        return true;
    }

    static std::string testUrl(const std::map<std::string, std::string> &query)
    {
        const auto it = query.find("url");
        std::string url = it == query.end() ? "" : it->second;
        if (url.rfind("http://", 0) == 0)
            url.clear(); // plain http is replaced by the default https test
        return effectiveTestUrl(url);
    }

    void proxyDelay(const std::string &name, const std::map<std::string, std::string> &query)
    {
        auto outbound = findOutbound(name);
        if (!outbound)
            return respondMessage(404, "Resource not found");
        int timeout = 0;
        if (!readTimeout(query, timeout))
            return;
        const std::string realTag = realOf(outbound.get())->tag();
        auto self = shared_from_this();
        urlTest(m_socket.get_executor(), *outbound, testUrl(query), std::max(timeout, 0),
            [self, realTag, outbound](const std::string &error, std::uint16_t delay) {
                if (!error.empty()) {
                    self->m_services.history.erase(realTag);
                    if (error == "timeout")
                        return self->respondMessage(504, "Timeout");
                    logDebug("clash-api: delay test of ", outbound->tag(), ": ", error);
                    return self->respondMessage(503, "An error occurred in the delay test");
                }
                self->m_services.history.store(realTag, delay);
                self->respondJson(200, {{"delay", delay}});
            });
    }

    void groups()
    {
        json list = json::array();
        for (const OutboundConfig &config : m_services.config.outbounds) {
            auto outbound = findOutbound(config.tag);
            if (outbound && outbound->isGroup())
                list.push_back(proxyInfo(*outbound));
        }
        respondJson(200, {{"proxies", list}});
    }

    void group(const std::string &name)
    {
        auto outbound = findOutbound(name);
        if (!outbound || !outbound->isGroup())
            return respondMessage(404, "Resource not found");
        respondJson(200, proxyInfo(*outbound));
    }

    void groupDelay(const std::string &name, const std::map<std::string, std::string> &query)
    {
        auto outbound = findOutbound(name);
        auto *group = outbound ? dynamic_cast<GroupOutbound *>(outbound.get()) : nullptr;
        if (!group)
            return respondMessage(404, "Resource not found");
        int timeout = 0;
        if (!readTimeout(query, timeout))
            return;
        // A latency test group runs its own test, with its own URL, and re-selects on the
        // results, so a client can make it leave a dead member without waiting for the interval.
        if (auto urltest = std::dynamic_pointer_cast<UrlTestOutbound>(outbound)) {
            auto self = shared_from_this();
            urltest->checkNow([self, urltest] {
                json result = json::object();
                for (const auto &member : urltest->members()) {
                    if (const auto record
                        = self->m_services.history.load(realOf(member.get())->tag()))
                        result[member->tag()] = record->delay;
                }
                asio::post(self->m_socket.get_executor(),
                    [self, result] { self->respondJson(200, result); });
            });
            return;
        }
        struct Pending
        {
            json result = json::object();
            std::size_t left = 0;
        };
        auto pending = std::make_shared<Pending>();
        pending->left = group->members().size();
        auto self = shared_from_this();
        const std::string url = testUrl(query);
        for (const auto &member : group->members()) {
            const std::string realTag = realOf(member.get())->tag();
            const std::string tag = member->tag();
            urlTest(m_socket.get_executor(), *member, url, std::max(timeout, 0),
                [self, pending, realTag, tag, outbound](
                    const std::string &error, std::uint16_t delay) {
                    if (error.empty()) {
                        self->m_services.history.store(realTag, delay);
                        pending->result[tag] = delay;
                    } else {
                        self->m_services.history.erase(realTag);
                    }
                    if (--pending->left == 0)
                        self->respondJson(200, pending->result);
                });
        }
        if (pending->left == 0)
            respondJson(200, pending->result);
    }

    // Connections and configs ------------------------------------------------------------------

    json connections() const
    {
        json list = json::array();
        for (const auto &info : m_services.tracker.snapshot()) {
            list.push_back({{"id", info->id},
                {"metadata",
                    {{"network", info->network}, {"type", info->inboundType},
                        {"sourceIP", info->sourceIp}, {"destinationIP", info->destinationIp},
                        {"sourcePort", info->sourcePort},
                        {"destinationPort", info->destinationPort}, {"host", info->host},
                        {"dnsMode", "normal"}, {"processPath", ""}}},
                {"upload", info->upload.load()}, {"download", info->download.load()},
                {"start", rfc3339(info->start)}, {"chains", info->chains}, {"rule", info->rule},
                {"rulePayload", info->rulePayload}});
        }
        return {{"connections", list}, {"downloadTotal", m_services.tracker.downloadTotal()},
            {"uploadTotal", m_services.tracker.uploadTotal()}, {"memory", 0}};
    }

    json configs() const
    {
        const std::string mode = m_controller.mode();
        std::string level = "info";
        switch (m_services.config.logLevel) {
        case LogLevel::Trace:
        case LogLevel::Debug:
            level = "debug";
            break;
        case LogLevel::Info:
            level = "info";
            break;
        case LogLevel::Warn:
            level = "warning";
            break;
        default:
            level = "error";
            break;
        }
        if (m_services.config.logDisabled)
            level = "silent";
        return {{"port", 0}, {"socks-port", 0}, {"redir-port", 0}, {"tproxy-port", 0},
            {"mixed-port", m_controller.mixedPort()}, {"allow-lan", false}, {"bind-address", "*"},
            {"mode", mode}, {"mode-list", modeList()}, {"log-level", level}, {"ipv6", false},
            {"tun", nullptr}};
    }

    // The default mode first, then every mode a route rule asks for.
    json modeList() const
    {
        std::vector<std::string> modes = {m_services.config.defaultMode};
        std::function<void(const std::vector<RuleConfig> &)> collect;
        collect = [&](const std::vector<RuleConfig> &rules) {
            for (const RuleConfig &rule : rules) {
                collect(rule.rules);
                const auto known = [&](const std::string &mode) {
                    return toLower(mode) == toLower(rule.clashMode);
                };
                if (!rule.clashMode.empty() && std::none_of(modes.begin(), modes.end(), known))
                    modes.push_back(rule.clashMode);
            }
        };
        collect(m_services.config.routeRules);
        return modes;
    }

    void patchConfigs(const std::string &body)
    {
        const json request = json::parse(body.empty() ? "{}" : body, nullptr, false);
        if (request.is_discarded() || !request.is_object())
            return respondMessage(400, "Body invalid");
        if (request.contains("mode") && request["mode"].is_string())
            m_controller.setMode(request["mode"].get<std::string>());
        respondEmpty();
    }

    // Streams ----------------------------------------------------------------------------------

    static bool wantsWebSocket(const http::RequestHead &head)
    {
        return http::headerHasToken(head.headers, "Upgrade", "websocket");
    }

    // Streams answer as one chunked HTTP response, or as WebSocket text messages when the client
    // asks to upgrade. False after answering an unusable upgrade request.
    bool startStream(const http::RequestHead &head)
    {
        if (wantsWebSocket(head)) {
            const std::string *key = http::findHeader(head.headers, "Sec-WebSocket-Key");
            const std::string *version = http::findHeader(head.headers, "Sec-WebSocket-Version");
            if (!key || key->empty() || !version || *version != "13") {
                respondText(400, "400 Bad Request", false);
                return false;
            }
            m_websocket = true;
            queueWrite("HTTP/1.1 101 Switching Protocols\r\nUpgrade: websocket\r\n"
                       "Connection: Upgrade\r\nSec-WebSocket-Accept: "
                + websocket::acceptKey(*key) + "\r\n\r\n");
            readFrames();
            return true;
        }
        queueWrite("HTTP/1.1 200 OK\r\n" + corsHeaders()
            + "Content-Type: application/json\r\nTransfer-Encoding: chunked\r\n\r\n");
        // Reading on tells us when the client goes away.
        auto self = shared_from_this();
        m_chunk.resize(1024);
        m_socket.async_read_some(
            asio::buffer(m_chunk), [self](const std::error_code &error, std::size_t) {
                if (error)
                    self->close();
            });
        return true;
    }

    // What a WebSocket client sends: pings are answered, a close is returned and ends the stream,
    // anything else is ignored.
    void readFrames()
    {
        while (!m_closing) {
            websocket::Frame frame;
            std::size_t consumed = 0;
            const ParseStatus status
                = websocket::parseClientFrame(m_buffer.data(), m_buffer.size(), frame, consumed);
            if (status == ParseStatus::Invalid)
                return close();
            if (status == ParseStatus::NeedMore)
                break;
            m_buffer.erase(0, consumed);
            if (frame.opcode == websocket::Ping)
                queueWrite(websocket::encodeFrame(websocket::Pong, frame.payload));
            if (frame.opcode == websocket::Close) {
                m_closing = true;
                queueWrite(websocket::encodeFrame(websocket::Close, frame.payload.substr(0, 2)));
            }
        }
        if (m_closing)
            return;
        auto self = shared_from_this();
        m_chunk.resize(4096);
        m_socket.async_read_some(
            asio::buffer(m_chunk), [self](const std::error_code &error, std::size_t size) {
                if (error)
                    return self->close();
                self->m_buffer.append(self->m_chunk.data(), size);
                self->readFrames();
            });
    }

    // One message: a chunk of the HTTP stream or one WebSocket text frame. A reader that falls
    // behind misses messages rather than growing the queue.
    void queueMessage(const std::string &line)
    {
        if (m_closing || m_queued > m_services.config.controllerMaxQueuedBytes / 2)
            return;
        if (m_websocket)
            return queueWrite(websocket::encodeFrame(websocket::Text, line));
        char size[32];
        std::snprintf(size, sizeof size, "%zx\r\n", line.size());
        queueWrite(size + line + "\r\n");
    }

    void queueWrite(std::string data)
    {
        if (m_queued + data.size() > m_services.config.controllerMaxQueuedBytes) {
            if (!m_closing)
                logDebug("clash-api: closing a connection that leaves ", m_queued, " bytes unread");
            m_closing = true; // the pending write may still use its buffer: only close
            return close();
        }
        const bool idle = m_writes.empty();
        m_queued += data.size();
        m_writes.push_back(std::move(data));
        if (idle)
            writeNext();
    }

    void writeNext()
    {
        auto self = shared_from_this();
        asio::async_write(m_socket, asio::buffer(m_writes.front()),
            [self](const std::error_code &error, std::size_t) {
                if (error) {
                    self->m_writes.clear();
                    self->m_queued = 0;
                    return self->close();
                }
                self->m_queued -= self->m_writes.front().size();
                self->m_writes.pop_front();
                if (!self->m_writes.empty())
                    self->writeNext();
                else if (self->m_closing)
                    self->close();
            });
    }

    void streamTraffic(const http::RequestHead &head)
    {
        if (!startStream(head))
            return;
        m_lastUp = m_services.tracker.uploadTotal();
        m_lastDown = m_services.tracker.downloadTotal();
        tick();
    }

    void tick()
    {
        auto self = shared_from_this();
        m_timer.expires_after(std::chrono::seconds(1));
        m_timer.async_wait([self](const std::error_code &error) {
            if (error || !self->m_socket.is_open())
                return;
            const std::uint64_t up = self->m_services.tracker.uploadTotal();
            const std::uint64_t down = self->m_services.tracker.downloadTotal();
            const json line = {{"up", up - self->m_lastUp}, {"down", down - self->m_lastDown}};
            self->m_lastUp = up;
            self->m_lastDown = down;
            if (self->m_writes.size() < 64)
                self->queueMessage(line.dump() + "\n");
            self->tick();
        });
    }

    void streamLogs(const http::RequestHead &head, const std::map<std::string, std::string> &query)
    {
        const auto it = query.find("level");
        const std::string level = it == query.end() || it->second.empty() ? "info" : it->second;
        if (level != "debug" && level != "info" && level != "warning" && level != "error"
            && level != "silent")
            return respondMessage(400, "Body invalid");
        // Subscribed before the stream's head goes out: a client that acts as soon as it has the
        // head must find its lines in the stream. What the subscriber posts runs after this.
        const int minimum = logRank(level);
        std::weak_ptr<ApiConnection> weak = shared_from_this();
        asio::any_io_executor executor = m_socket.get_executor();
        m_logSubscription = Logger::instance().subscribe(
            [weak, executor, minimum](LogLevel logLevel, const std::string &text) {
                const std::string type = clashLevelName(logLevel);
                if (logRank(type) < minimum)
                    return;
                const std::string line = json {{"type", type}, {"payload", text}}.dump() + "\n";
                asio::post(executor, [weak, line] {
                    auto self = weak.lock();
                    if (self && self->m_socket.is_open() && self->m_writes.size() < 256)
                        self->queueMessage(line);
                });
            });
        if (!startStream(head)) {
            Logger::instance().unsubscribe(m_logSubscription);
            m_logSubscription = 0;
        }
    }

    // The WebSocket form of /connections: a snapshot at once, then one every interval.
    void streamConnections(
        const http::RequestHead &head, const std::map<std::string, std::string> &query)
    {
        const auto it = query.find("interval");
        long interval = 1000;
        if (it != query.end() && !it->second.empty()) {
            char *end = nullptr;
            interval = std::strtol(it->second.c_str(), &end, 10);
            if (*end != '\0' || interval <= 0)
                return respondMessage(400, "Body invalid");
        }
        if (!startStream(head))
            return;
        m_interval = std::chrono::milliseconds(interval);
        sendConnections();
    }

    void sendConnections()
    {
        if (m_writes.size() < 64)
            queueMessage(connections().dump() + "\n");
        auto self = shared_from_this();
        m_timer.expires_after(m_interval);
        m_timer.async_wait([self](const std::error_code &error) {
            if (!error && self->m_socket.is_open() && !self->m_closing)
                self->sendConnections();
        });
    }

    Controller &m_controller;
    Services &m_services;
    asio::ip::tcp::socket m_socket;
    asio::steady_timer m_timer;
    asio::steady_timer m_deadline;
    std::shared_ptr<void> m_ticket; // counts against the controller's connection cap
    std::string m_buffer;
    std::vector<char> m_chunk;
    std::string m_origin;
    bool m_keepAlive = true;
    bool m_websocket = false;
    bool m_closing = false; // a WebSocket close was answered; nothing more is sent
    std::chrono::milliseconds m_interval {1000};
    std::deque<std::string> m_writes;
    std::size_t m_queued = 0; // bytes in m_writes
    std::uint64_t m_lastUp = 0;
    std::uint64_t m_lastDown = 0;
    std::uint64_t m_logSubscription = 0;
};

} // namespace

Controller::Controller(Services &services)
    : m_services(services)
    , m_acceptor(m_io)
    , m_limiter(m_io.get_executor(), "clash-api", services.config.controllerMaxConnections)
{ }

Controller::~Controller()
{
    stop();
}

bool Controller::listen(std::string &error)
{
    std::string host;
    std::uint16_t port = 0;
    splitHostPort(m_services.config.controller, host, port);
    if (host.empty())
        host = "127.0.0.1"; // ":9090" asks for the port, not for every interface
    std::error_code code;
    const asio::ip::address address = asio::ip::make_address(host, code);
    const std::string where = "start clash-api: listen tcp " + m_services.config.controller + ": ";
    if (code) {
        error = where + "invalid address";
        return false;
    }
    if (m_services.config.secret.empty() && !isLoopbackAddress(address)) {
        error = where + "a secret is required to listen on an address other than loopback";
        return false;
    }
    const asio::ip::tcp::endpoint endpoint(address, port);
    m_acceptor.open(endpoint.protocol(), code);
#if !defined(_WIN32)
    if (!code)
        m_acceptor.set_option(asio::ip::tcp::acceptor::reuse_address(true), code);
#endif
    if (!code)
        keepFromChildren(m_acceptor.native_handle());
    if (!code)
        m_acceptor.bind(endpoint, code);
    if (code) {
        error = where + "bind: " + toLower(code.message());
        return false;
    }
    m_acceptor.listen(asio::socket_base::max_listen_connections, code);
    if (code) {
        error = where + "listen: " + code.message();
        return false;
    }
    m_services.guard.addListener(m_acceptor.local_endpoint(code));
    logInfo(
        "clash-api: restful api listening at ", Destination {{}, address, this->port()}.toString());
    return true;
}

void Controller::start()
{
    accept();
    m_thread = std::thread([this] { m_io.run(); });
}

void Controller::stop()
{
    if (!m_thread.joinable())
        return;
    asio::post(m_io, [this] {
        std::error_code ignored;
        m_acceptor.close(ignored);
        m_limiter.cancel();
    });
    m_io.stop();
    m_thread.join();
    std::error_code ignored;
    m_acceptor.close(ignored);
}

std::uint16_t Controller::port() const
{
    std::error_code ignored;
    return m_acceptor.local_endpoint(ignored).port();
}

std::string Controller::mode()
{
    return m_services.router.mode();
}

void Controller::setMode(const std::string &mode)
{
    m_services.router.setMode(mode);
}

std::uint16_t Controller::mixedPort() const
{
    for (const InboundConfig &inbound : m_services.config.inbounds) {
        if (inbound.type == "mixed")
            return inbound.listenPort;
    }
    return 0;
}

void Controller::accept()
{
    m_acceptor.async_accept([this](const std::error_code &error, asio::ip::tcp::socket socket) {
        if (error == asio::error::operation_aborted || !m_acceptor.is_open())
            return;
        if (error)
            return m_limiter.failed(error, [this] { accept(); });
        keepFromChildren(socket.native_handle());
        std::error_code ignored;
        if (auto ticket = m_limiter.admit()) {
            socket.set_option(asio::ip::tcp::no_delay(true), ignored);
            std::make_shared<ApiConnection>(*this, std::move(socket), std::move(ticket))->start();
        } else {
            socket.close(ignored);
        }
        accept();
    });
}

} // namespace qivro::engine
