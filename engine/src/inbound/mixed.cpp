#include "inbound/mixed.h"

#include "common/httpparser.h"
#include "common/log.h"
#include "common/relay.h"
#include "inbound/socksparser.h"
#include "route/sniff.h"
#include "runtime/descriptorlimit.h"

#include <algorithm>
#include <asio/ip/udp.hpp>
#include <asio/ip/v6_only.hpp>
#include <asio/post.hpp>
#include <asio/steady_timer.hpp>
#include <asio/write.hpp>
#include <deque>
#include <map>
#include <openssl/evp.h>

namespace qivro::engine {

namespace {

constexpr std::size_t readChunk = 16 * 1024;

template <typename Endpoint>
Destination endpointDestination(const Endpoint &endpoint)
{
    Destination destination;
    destination.ip = endpoint.address();
    if (destination.ip.is_v6() && destination.ip.to_v6().is_v4_mapped())
        destination.ip = asio::ip::make_address_v4(asio::ip::v4_mapped, destination.ip.to_v6());
    destination.port = endpoint.port();
    return destination;
}

std::string base64Decode(const std::string &text)
{
    std::string out((text.size() / 4 + 1) * 3, '\0');
    const int length = EVP_DecodeBlock(reinterpret_cast<unsigned char *>(out.data()),
        reinterpret_cast<const unsigned char *>(text.data()), static_cast<int>(text.size()));
    if (length < 0)
        return {};
    out.resize(static_cast<std::size_t>(length));
    std::size_t padding = 0;
    for (auto it = text.rbegin(); it != text.rend() && *it == '='; ++it)
        ++padding;
    out.resize(out.size() - std::min(padding, out.size()));
    return out;
}

class UdpAssociation;

class Session : public std::enable_shared_from_this<Session>
{
public:
    // The ticket counts the session against the inbound's cap for as long as its client stream
    // lives, which is as long as any relay or association that took the stream over.
    Session(std::shared_ptr<MixedInbound> inbound, asio::ip::tcp::socket socket,
        std::shared_ptr<void> ticket)
        : m_inbound(std::move(inbound))
        , m_services(m_inbound->services())
        , m_executor(socket.get_executor())
        , m_client(new TcpStream(std::move(socket)),
              [ticket = std::move(ticket)](TcpStream *stream) { delete stream; })
        , m_timer(m_executor)
        , m_deadline(m_executor)
    {
        std::error_code ignored;
        m_source = endpointDestination(m_client->socket().remote_endpoint(ignored));
        m_local = m_client->socket().local_endpoint(ignored);
        m_client->socket().set_option(asio::ip::tcp::no_delay(true), ignored);
    }

    ~Session()
    {
        // The kept-alive upstream of plain HTTP forwarding is accounted for here.
        if (m_upstreamInfo)
            m_services.tracker.close(m_upstreamInfo->id);
    }

    void start()
    {
        logInfo(m_inbound->logPrefix(), ": inbound connection from ", m_source.toString());
        armDeadline(m_inbound->config().handshakeTimeoutMs, "handshake timed out");
        readMore([](Session &self) { self.dispatch(); });
    }

private:
    using Step = void (*)(Session &);

    // Reads what has arrived onto the end of buffer (a member), then calls done.
    template <typename Done>
    void appendRead(Stream &stream, std::vector<std::uint8_t> &buffer, Done done)
    {
        const std::size_t used = buffer.size();
        buffer.resize(used + readChunk);
        stream.asyncReadSome(asio::buffer(buffer.data() + used, readChunk),
            [self = shared_from_this(), &buffer, used, done](
                const std::error_code &error, std::size_t size) {
                buffer.resize(used + size);
                done(*self, error, size);
            });
    }

    void readMore(Step next)
    {
        appendRead(
            *m_client, m_buffer, [next](Session &self, const std::error_code &error, std::size_t) {
                if (error)
                    return self.closeClient();
                next(self);
            });
    }

    void consume(std::size_t size) { m_buffer.erase(m_buffer.begin(), m_buffer.begin() + size); }

    // Bounds the wait for a complete request, so a silent or stalled client cannot hold a
    // connection (and its memory) forever. Holds no reference: a finished session just goes.
    void armDeadline(std::int64_t milliseconds, const char *why)
    {
        m_deadline.expires_after(std::chrono::milliseconds(milliseconds));
        m_deadline.async_wait([weak = weak_from_this(), why](const std::error_code &error) {
            auto self = weak.lock();
            if (error || !self)
                return;
            logDebug(self->m_inbound->logPrefix(), ": ", self->m_source.toString(), ": ", why);
            self->closeClient();
        });
    }

    void closeClient()
    {
        m_timer.cancel();
        m_deadline.cancel();
        m_client->close();
        if (m_upstream)
            m_upstream->close();
    }

    // Writes bytes, then either continues or (close) ends the connection.
    void reply(std::vector<std::uint8_t> bytes, Step next)
    {
        auto data = std::make_shared<std::vector<std::uint8_t>>(std::move(bytes));
        auto self = shared_from_this();
        m_client->asyncWrite(
            asio::buffer(*data), [self, data, next](const std::error_code &error, std::size_t) {
                if (error || !next) {
                    self->closeClient();
                    return;
                }
                next(*self);
            });
    }

    static std::vector<std::uint8_t> bytes(const std::string &text)
    {
        return {text.begin(), text.end()};
    }

    void reject(const std::string &why)
    {
        logDebug(m_inbound->logPrefix(), ": ", m_source.toString(), ": ", why);
        closeClient();
    }

    // One parse step over the buffered bytes: true once the message is complete (its bytes
    // consumed); otherwise it reads more and retries with again, or hands over to invalid.
    template <typename Message, typename Parse>
    bool parseStep(Parse parse, Message &message, Step again, Step invalid)
    {
        std::size_t consumed = 0;
        const ParseStatus status = m_buffer.empty()
            ? ParseStatus::NeedMore
            : parse(m_buffer.data(), m_buffer.size(), message, consumed);
        if (status == ParseStatus::NeedMore)
            readMore(again);
        else if (status == ParseStatus::Invalid)
            invalid(*this);
        else
            consume(consumed);
        return status == ParseStatus::Done;
    }

    void dispatch()
    {
        if (m_buffer.empty())
            return closeClient();
        if (m_buffer[0] == 5)
            socks5Greeting();
        else if (m_buffer[0] == 4)
            socks4Request();
        else
            httpRequest();
    }

    // SOCKS5 -----------------------------------------------------------------------------------

    void socks5Greeting()
    {
        socks::Greeting greeting;
        if (!parseStep(
                socks::parseGreeting, greeting, [](Session &self) { self.socks5Greeting(); },
                [](Session &self) { self.reject("malformed SOCKS5 greeting"); }))
            return;
        const bool needAuth = !m_inbound->config().users.empty();
        const std::uint8_t method = needAuth ? 2 : 0;
        if (std::find(greeting.methods.begin(), greeting.methods.end(), method)
            == greeting.methods.end())
            return reply({5, 0xFF}, nullptr);
        reply(
            {5, method}, needAuth ? [](Session &self) { self.socks5Auth(); } : [](Session &self) {
                self.socks5Request();
            });
    }

    void socks5Auth()
    {
        socks::Credentials credentials;
        if (!parseStep(
                socks::parseCredentials, credentials, [](Session &self) { self.socks5Auth(); },
                [](Session &self) { self.reject("malformed SOCKS5 authentication"); }))
            return;
        if (!authorised(credentials.username, credentials.password)) {
            logError(m_inbound->logPrefix(), ": ", m_source.toString(),
                ": socks5: authentication failed, username=", credentials.username);
            return reply({1, 1}, nullptr);
        }
        reply({1, 0}, [](Session &self) { self.socks5Request(); });
    }

    bool authorised(const std::string &username, const std::string &password) const
    {
        const auto &users = m_inbound->config().users;
        return users.empty()
            || std::any_of(users.begin(), users.end(), [&](const InboundUser &user) {
                   return user.username == username && user.password == password;
               });
    }

    void socks5Request()
    {
        socks::Request request;
        if (!parseStep(
                socks::parseRequest5, request, [](Session &self) { self.socks5Request(); },
                [](Session &self) { self.reject("malformed SOCKS5 request"); }))
            return;
        m_destination = request.destination;
        if (request.command == socks::Connect) {
            // Like sing-box, success is reported before dialing so the client's first bytes can
            // be sniffed for routing.
            Destination bound;
            bound.ip = asio::ip::address_v4::any();
            return reply(socks::reply5(0, bound), [](Session &self) { self.connect(); });
        }
        if (request.command == socks::UdpAssociate)
            return startUdpAssociate();
        Destination bound;
        bound.ip = asio::ip::address_v4::any();
        reply(socks::reply5(7, bound), nullptr);
    }

    void startUdpAssociate();

    // SOCKS4 -----------------------------------------------------------------------------------

    void socks4Request()
    {
        socks::Request4 request;
        if (!parseStep(
                socks::parseRequest4, request, [](Session &self) { self.socks4Request(); },
                [](Session &self) { self.reject("malformed SOCKS4 request"); }))
            return;
        if (request.command != socks::Connect || !m_inbound->config().users.empty())
            return reply(socks::reply4(false), nullptr);
        m_destination = request.destination;
        reply(socks::reply4(true), [](Session &self) { self.connect(); });
    }

    // HTTP -------------------------------------------------------------------------------------

    void httpRequest()
    {
        const auto parseHead = [](const std::uint8_t *data, std::size_t size,
                                   http::RequestHead &head, std::size_t &consumed) {
            return http::parseRequestHead(
                reinterpret_cast<const char *>(data), size, head, consumed);
        };
        if (!parseStep(
                parseHead, m_request, [](Session &self) { self.httpRequest(); },
                [](Session &self) { self.httpError(400, "Bad Request"); }))
            return;
        m_deadline.cancel();
        if (!m_inbound->config().users.empty() && !httpAuthorised()) {
            return reply(bytes("HTTP/1.1 407 Proxy Authentication Required\r\n"
                               "Proxy-Authenticate: Basic realm=\"proxy\"\r\nConnection: close\r\n"
                               "Content-Length: 0\r\n\r\n"),
                nullptr);
        }
        if (!http::proxyTarget(m_request, m_destination, m_path))
            return httpError(400, "Bad Request");
        if (m_request.method == "CONNECT") {
            return reply(bytes("HTTP/1.1 200 Connection established\r\n\r\n"),
                [](Session &self) { self.connect(); });
        }
        forwardRequest();
    }

    bool httpAuthorised() const
    {
        const std::string *value = http::findHeader(m_request.headers, "Proxy-Authorization");
        if (!value || value->compare(0, 6, "Basic ") != 0)
            return false;
        const std::string decoded = base64Decode(value->substr(6));
        const std::size_t colon = decoded.find(':');
        return colon != std::string::npos
            && authorised(decoded.substr(0, colon), decoded.substr(colon + 1));
    }

    void httpError(int status, const std::string &reason)
    {
        logDebug(m_inbound->logPrefix(), ": ", m_source.toString(), ": malformed HTTP request");
        reply(bytes("HTTP/1.1 " + std::to_string(status) + " " + reason
                  + "\r\nConnection: close\r\nContent-Length: 0\r\n\r\n"),
            nullptr);
    }

    // Plain HTTP forwarding with keep-alive: one request at a time, the upstream connection kept
    // while the destination stays the same.
    void forwardRequest()
    {
        m_requestFraming = http::requestFraming(m_request);
        if (m_requestFraming.kind == http::Framing::Invalid)
            return httpError(400, "Bad Request");
        m_keepAlive = http::keepAlive(m_request.minorVersion, m_request.headers);
        m_requestMethod = m_request.method;
        m_outgoing = bytes(http::rewriteForOrigin(m_request, m_path));
        m_chunks = http::ChunkedScanner();
        m_remaining = m_requestFraming.length;
        if (m_upstream && m_upstreamDestination == m_destination)
            return sendRequestHead();
        if (m_upstream) {
            m_upstream->close();
            m_upstream.reset();
            m_services.tracker.close(m_upstreamInfo->id);
            m_upstreamInfo.reset();
        }
        Metadata metadata = baseMetadata();
        metadata.sniffedDomain = m_destination.domain;
        metadata.protocol = "http";
        const RouteDecision decision = m_services.router.route(metadata);
        if (!decision.refusal.empty())
            return refused();
        if (decision.action != RouteDecision::Action::Route)
            return httpError(503, "Service Unavailable");
        m_info = openInfo(decision);
        auto self = shared_from_this();
        decision.outbound->dialTcpForClient(m_executor, m_destination, dialPolicy(),
            [self](const std::string &error, std::shared_ptr<Stream> stream) {
                if (!error.empty()) {
                    self->dialFailed(error);
                    if (DialGuard::isRefusal(error))
                        return self->refused();
                    self->httpError(502, "Bad Gateway");
                    return;
                }
                self->m_upstream = std::move(stream);
                self->m_upstreamDestination = self->m_destination;
                self->m_upstreamInfo = self->m_info;
                self->m_services.tracker.setCloser(*self->m_info,
                    [executor = self->m_executor, weak = std::weak_ptr<Session>(self)] {
                        asio::post(executor, [weak] {
                            if (auto session = weak.lock())
                                session->closeClient();
                        });
                    });
                self->sendRequestHead();
            });
    }

    void writeUpstream(std::vector<std::uint8_t> data, Step next)
    {
        auto payload = std::make_shared<std::vector<std::uint8_t>>(std::move(data));
        if (m_upstreamInfo)
            m_services.tracker.addUpload(*m_upstreamInfo, payload->size());
        auto self = shared_from_this();
        m_upstream->asyncWrite(asio::buffer(*payload),
            [self, payload, next](const std::error_code &error, std::size_t) {
                if (error)
                    return self->closeClient();
                next(*self);
            });
    }

    void sendRequestHead()
    {
        writeUpstream(std::move(m_outgoing), [](Session &self) { self.sendRequestBody(); });
    }

    // How much of the buffered bytes belongs to the body being forwarded, and whether that ends
    // it; false on broken chunked framing.
    bool takeBody(
        http::Framing kind, const std::vector<std::uint8_t> &buffer, std::size_t &take, bool &done)
    {
        take = 0;
        done = true;
        switch (kind) {
        case http::Framing::Length:
            take = static_cast<std::size_t>(std::min<std::uint64_t>(m_remaining, buffer.size()));
            m_remaining -= take;
            done = m_remaining == 0;
            return true;
        case http::Framing::Chunked:
            take = m_chunks.feed(reinterpret_cast<const char *>(buffer.data()), buffer.size());
            done = m_chunks.done();
            return !m_chunks.invalid();
        case http::Framing::UntilClose:
            take = buffer.size();
            done = m_upstreamEof;
            return true;
        default:
            return true;
        }
    }

    void sendRequestBody()
    {
        std::size_t take = 0;
        bool done = false;
        if (!takeBody(m_requestFraming.kind, m_buffer, take, done))
            return closeClient();
        if (take > 0) {
            std::vector<std::uint8_t> chunk(m_buffer.begin(), m_buffer.begin() + take);
            consume(take);
            return writeUpstream(
                std::move(chunk),
                done ? [](Session &self) { self.readResponse(); }
                     : [](Session &self) { self.sendRequestBody(); });
        }
        if (done)
            return readResponse();
        readMore([](Session &self) { self.sendRequestBody(); });
    }

    void readUpstream(Step next)
    {
        appendRead(*m_upstream, m_response,
            [next](Session &self, const std::error_code &error, std::size_t size) {
                if (self.m_upstreamInfo)
                    self.m_services.tracker.addDownload(*self.m_upstreamInfo, size);
                if (error == asio::error::eof)
                    self.m_upstreamEof = true;
                else if (error)
                    return self.closeClient();
                next(self);
            });
    }

    void readResponse()
    {
        http::ResponseHead head;
        std::size_t consumed = 0;
        const ParseStatus status = http::parseResponseHead(
            reinterpret_cast<const char *>(m_response.data()), m_response.size(), head, consumed);
        if (status == ParseStatus::Invalid || (status == ParseStatus::NeedMore && m_upstreamEof))
            return closeClient();
        if (status == ParseStatus::NeedMore)
            return readUpstream([](Session &self) { self.readResponse(); });
        std::vector<std::uint8_t> headBytes(m_response.begin(), m_response.begin() + consumed);
        m_response.erase(m_response.begin(), m_response.begin() + consumed);
        if (head.status == 101) {
            // Upgraded: from here on it is an opaque stream both ways.
            return reply(std::move(headBytes), [](Session &self) { self.startUpgradedRelay(); });
        }
        if (head.status >= 100 && head.status < 200)
            return reply(std::move(headBytes), [](Session &self) { self.readResponse(); });
        m_responseFraming = http::responseFraming(head, m_requestMethod);
        if (m_responseFraming.kind == http::Framing::Invalid)
            return closeClient();
        m_keepAlive = m_keepAlive && http::keepAlive(head.minorVersion, head.headers)
            && m_responseFraming.kind != http::Framing::UntilClose;
        m_remaining = m_responseFraming.length;
        m_chunks = http::ChunkedScanner();
        reply(std::move(headBytes), [](Session &self) { self.sendResponseBody(); });
    }

    void sendResponseBody()
    {
        std::size_t take = 0;
        bool done = false;
        if (!takeBody(m_responseFraming.kind, m_response, take, done))
            return closeClient();
        if (take > 0) {
            std::vector<std::uint8_t> chunk(m_response.begin(), m_response.begin() + take);
            m_response.erase(m_response.begin(), m_response.begin() + take);
            return reply(
                std::move(chunk),
                done ? [](Session &self) { self.responseDone(); }
                     : [](Session &self) { self.sendResponseBody(); });
        }
        if (done)
            return responseDone();
        if (m_upstreamEof)
            return closeClient();
        readUpstream([](Session &self) { self.sendResponseBody(); });
    }

    void responseDone()
    {
        if (!m_keepAlive || m_upstreamEof) {
            m_client->shutdownSend();
            return closeClient();
        }
        m_response.clear();
        armDeadline(m_inbound->config().keepAliveIdleMs, "idle keep-alive connection closed");
        httpRequest();
    }

    void startUpgradedRelay()
    {
        auto relay
            = std::make_shared<Relay>(m_client, m_upstream, m_upstreamInfo, m_services.tracker);
        // Bytes the origin already sent after its head go to the client first.
        auto early = std::make_shared<std::vector<std::uint8_t>>(std::move(m_response));
        std::vector<std::uint8_t> initial = std::move(m_buffer);
        m_upstream.reset();
        auto self = shared_from_this();
        m_client->asyncWrite(asio::buffer(*early),
            [self, relay, early, initial = std::move(initial)](
                const std::error_code &error, std::size_t) mutable {
                if (error)
                    return relay->close();
                relay->start(self->m_executor, std::move(initial));
            });
    }

    // Connect: sniff, route, dial, relay -------------------------------------------------------

    Metadata baseMetadata() const
    {
        Metadata metadata;
        metadata.inbound = m_inbound->config().tag;
        metadata.network = "tcp";
        metadata.destination = m_destination;
        metadata.source = m_source;
        return metadata;
    }

    std::shared_ptr<ConnectionInfo> openInfo(const RouteDecision &decision)
    {
        auto info = Tracker::create();
        info->network = "tcp";
        info->inboundType = m_inbound->config().type + "/" + m_inbound->config().tag;
        info->sourceIp = m_source.hostText();
        info->sourcePort = std::to_string(m_source.port);
        info->destinationIp = m_destination.isDomain() ? "" : m_destination.ip.to_string();
        info->destinationPort = std::to_string(m_destination.port);
        info->host = !m_sniffed.empty() ? m_sniffed : m_destination.domain;
        info->rule = decision.rule;
        info->rulePayload = decision.payload;
        if (decision.outbound) {
            std::vector<std::string> chain;
            decision.outbound->chain(chain);
            info->chains.assign(chain.rbegin(), chain.rend());
            logInfo(m_inbound->logPrefix(), ": inbound connection to ", m_destination.toString());
            Outbound *real = decision.outbound.get();
            while (real->current() != real)
                real = real->current();
            logInfo(real->logPrefix(), ": outbound connection to ", m_destination.toString());
        }
        m_services.tracker.add(info);
        return info;
    }

    void dialFailed(const std::string &error)
    {
        // The guard has logged its refusals once per client already.
        if (!DialGuard::isRefusal(error))
            logError(m_inbound->logPrefix(), ": ", m_source.toString(),
                ": open outbound connection: ", error);
        m_services.tracker.close(m_info->id);
    }

    DialPolicy dialPolicy() const { return {&m_services.guard, m_source.ip}; }

    // A destination the guard refused: plain HTTP learns why, tunnels just end.
    void refused()
    {
        reply(bytes("HTTP/1.1 403 Forbidden\r\nConnection: close\r\nContent-Length: 0\r\n\r\n"),
            nullptr);
    }

    void connect()
    {
        m_deadline.cancel(); // the request is complete; sniffing has its own bound
        if (!m_inbound->config().sniff)
            return route();
        if (sniffBuffer())
            return route();
        m_sniffing = true;
        auto self = shared_from_this();
        m_timer.expires_after(std::chrono::milliseconds(m_inbound->config().sniffTimeoutMs));
        m_timer.async_wait([self](const std::error_code &error) {
            if (error || !self->m_sniffing)
                return;
            self->m_sniffing = false;
            std::error_code ignored;
            self->m_client->socket().cancel(ignored);
            self->route();
        });
        sniffRead();
    }

    void sniffRead()
    {
        appendRead(
            *m_client, m_buffer, [](Session &self, const std::error_code &error, std::size_t) {
                if (!self.m_sniffing)
                    return; // timed out: route() already runs
                if (error) {
                    self.m_sniffing = false;
                    return self.closeClient();
                }
                if (self.sniffBuffer()) {
                    self.m_sniffing = false;
                    self.m_timer.cancel();
                    return self.route();
                }
                self.sniffRead();
            });
    }

    // True once sniffing has an answer (a name, or certainty that there is none).
    bool sniffBuffer()
    {
        return sniff::classifyStream(m_buffer.data(), m_buffer.size(), m_sniffed, m_protocol);
    }

    void route()
    {
        m_destination = m_services.dnsRouter.restore(m_destination);
        Metadata metadata = baseMetadata();
        metadata.sniffedDomain = m_sniffed;
        metadata.protocol = m_protocol;
        const RouteDecision decision = m_services.router.route(metadata);
        if (decision.action == RouteDecision::Action::Reject) {
            if (decision.refusal.empty())
                logInfo(
                    m_inbound->logPrefix(), ": ", m_destination.toString(), ": rejected by rule");
            return closeClient();
        }
        if (decision.action == RouteDecision::Action::HijackDns)
            return serveDnsOverTcp();
        m_info = openInfo(decision);
        auto self = shared_from_this();
        decision.outbound->dialTcpForClient(m_executor, m_destination, dialPolicy(),
            [self](const std::string &error, std::shared_ptr<Stream> stream) {
                if (!error.empty()) {
                    self->dialFailed(error);
                    return self->closeClient();
                }
                auto relay = std::make_shared<Relay>(
                    self->m_client, std::move(stream), self->m_info, self->m_services.tracker);
                relay->start(self->m_executor, std::move(self->m_buffer));
            });
    }

    // DNS over TCP caught by hijack-dns: each length-prefixed query is answered by the forwarder.
    void serveDnsOverTcp()
    {
        armDeadline(m_inbound->config().keepAliveIdleMs, "idle DNS connection closed");
        if (m_buffer.size() < 2)
            return readMore([](Session &self) { self.serveDnsOverTcp(); });
        const std::size_t length = (static_cast<std::size_t>(m_buffer[0]) << 8) | m_buffer[1];
        if (m_buffer.size() < 2 + length)
            return readMore([](Session &self) { self.serveDnsOverTcp(); });
        std::vector<std::uint8_t> query(
            m_buffer.begin() + 2, m_buffer.begin() + 2 + static_cast<std::ptrdiff_t>(length));
        consume(2 + length);
        auto self = shared_from_this();
        m_services.dnsRouter.exchange(m_executor, query.data(), query.size(),
            [self](const std::vector<std::uint8_t> &response) {
                if (response.empty())
                    return self->closeClient();
                std::vector<std::uint8_t> framed {static_cast<std::uint8_t>(response.size() >> 8),
                    static_cast<std::uint8_t>(response.size() & 0xFF)};
                framed.insert(framed.end(), response.begin(), response.end());
                self->reply(std::move(framed), [](Session &s) { s.serveDnsOverTcp(); });
            });
    }

    friend class UdpAssociation;

    std::shared_ptr<MixedInbound> m_inbound;
    Services &m_services;
    asio::any_io_executor m_executor;
    std::shared_ptr<TcpStream> m_client;
    asio::steady_timer m_timer;
    asio::steady_timer m_deadline;
    Destination m_source;
    asio::ip::tcp::endpoint m_local;
    std::vector<std::uint8_t> m_buffer;
    Destination m_destination;
    std::string m_sniffed;
    std::string m_protocol;
    bool m_sniffing = false;
    std::shared_ptr<ConnectionInfo> m_info;

    // HTTP forwarding state.
    http::RequestHead m_request;
    std::string m_path;
    std::string m_requestMethod;
    http::BodyFraming m_requestFraming;
    http::BodyFraming m_responseFraming;
    http::ChunkedScanner m_chunks;
    std::uint64_t m_remaining = 0;
    bool m_keepAlive = false;
    std::vector<std::uint8_t> m_outgoing;
    std::vector<std::uint8_t> m_response;
    std::shared_ptr<Stream> m_upstream;
    std::shared_ptr<ConnectionInfo> m_upstreamInfo;
    Destination m_upstreamDestination;
    bool m_upstreamEof = false;
};

// SOCKS5 UDP ASSOCIATE: lives as long as its TCP control connection.
class UdpAssociation : public std::enable_shared_from_this<UdpAssociation>
{
public:
    UdpAssociation(std::shared_ptr<Session> session)
        : m_session(std::move(session))
        , m_services(m_session->m_services)
        , m_socket(m_session->m_executor)
        , m_idle(m_session->m_executor)
    { }

    ~UdpAssociation()
    {
        for (auto &entry : m_conns) {
            if (entry.second.conn)
                entry.second.conn->close();
            if (entry.second.info)
                m_services.tracker.close(entry.second.info->id);
        }
    }

    void start()
    {
        asio::ip::address local = m_session->m_local.address();
        if (local.is_v6() && local.to_v6().is_v4_mapped())
            local = asio::ip::make_address_v4(asio::ip::v4_mapped, local.to_v6());
        std::error_code error;
        m_socket.open(local.is_v4() ? asio::ip::udp::v4() : asio::ip::udp::v6(), error);
        if (!error)
            m_socket.bind({local, 0}, error);
        Destination bound;
        bound.ip = local;
        bound.port = error ? 0 : m_socket.local_endpoint(error).port();
        if (error) {
            logError(m_session->m_inbound->logPrefix(), ": udp associate: ", error.message());
            return m_session->reply(socks::reply5(1, bound), nullptr);
        }
        m_buffer.resize(65536);
        m_session->reply(socks::reply5(0, bound), [](Session &) {});
        receive();
        watchControl();
        armIdle();
    }

private:
    struct OutboundConn
    {
        std::shared_ptr<PacketConn> conn;
        std::shared_ptr<ConnectionInfo> info;
        bool pending = true;
        std::deque<std::pair<Destination, std::vector<std::uint8_t>>> queue;
    };

    void close()
    {
        if (m_closed)
            return;
        m_closed = true;
        std::error_code ignored;
        m_socket.close(ignored);
        m_idle.cancel();
        m_session->closeClient();
        for (auto &entry : m_conns) {
            if (entry.second.conn)
                entry.second.conn->close();
        }
    }

    void armIdle()
    {
        auto self = shared_from_this();
        m_idle.expires_after(
            std::chrono::milliseconds(m_session->m_inbound->config().udpTimeoutMs));
        m_idle.async_wait([self](const std::error_code &error) {
            if (error)
                return;
            if (std::chrono::steady_clock::now() - self->m_lastActivity
                >= std::chrono::milliseconds(self->m_session->m_inbound->config().udpTimeoutMs))
                return self->close();
            self->armIdle();
        });
    }

    void watchControl()
    {
        auto self = shared_from_this();
        m_control.resize(512);
        m_session->m_client->asyncReadSome(
            asio::buffer(m_control), [self](const std::error_code &error, std::size_t) {
                if (error)
                    return self->close();
                self->watchControl();
            });
    }

    void receive()
    {
        auto self = shared_from_this();
        m_socket.async_receive_from(
            asio::buffer(m_buffer), m_from, [self](const std::error_code &error, std::size_t size) {
                if (self->m_closed)
                    return;
                if (error == asio::error::operation_aborted || error == asio::error::bad_descriptor)
                    return;
                if (!error)
                    self->handlePacket(size);
                self->receive();
            });
    }

    void handlePacket(std::size_t size)
    {
        socks::Datagram datagram;
        if (!socks::parseDatagram(m_buffer.data(), size, datagram))
            return; // fragments and garbage are dropped, as RFC 1928 allows
        m_client = m_from;
        m_haveClient = true;
        m_lastActivity = std::chrono::steady_clock::now();
        const std::uint8_t *payload = m_buffer.data() + datagram.payloadOffset;
        const std::size_t payloadSize = size - datagram.payloadOffset;
        Metadata metadata;
        metadata.inbound = m_session->m_inbound->config().tag;
        metadata.network = "udp";
        metadata.destination = m_services.dnsRouter.restore(datagram.destination);
        metadata.source = endpointDestination(m_from);
        if (m_session->m_inbound->config().sniff && sniff::isDnsQuery(payload, payloadSize))
            metadata.protocol = "dns";
        const RouteDecision decision = m_services.router.route(metadata);
        if (decision.action == RouteDecision::Action::Reject)
            return;
        const Destination destination = metadata.destination;
        if (decision.action == RouteDecision::Action::HijackDns) {
            auto self = shared_from_this();
            m_services.dnsRouter.exchange(m_session->m_executor, payload, payloadSize,
                [self, destination](const std::vector<std::uint8_t> &response) {
                    if (!response.empty())
                        self->sendToClient(destination, response.data(), response.size());
                });
            return;
        }
        OutboundConn &entry = m_conns[decision.outbound->tag()];
        if (entry.conn && !entry.pending) {
            m_services.tracker.addUpload(*entry.info, payloadSize);
            entry.conn->send(destination, payload, payloadSize);
            return;
        }
        entry.queue.emplace_back(
            destination, std::vector<std::uint8_t>(payload, payload + payloadSize));
        if (entry.info)
            return; // listening already in progress
        entry.info = Tracker::create();
        entry.info->network = "udp";
        entry.info->inboundType
            = m_session->m_inbound->config().type + "/" + m_session->m_inbound->config().tag;
        entry.info->sourceIp = m_session->m_source.hostText();
        entry.info->sourcePort = std::to_string(m_from.port());
        entry.info->destinationIp = destination.isDomain() ? "" : destination.ip.to_string();
        entry.info->destinationPort = std::to_string(destination.port);
        entry.info->host = destination.domain;
        entry.info->rule = decision.rule;
        entry.info->rulePayload = decision.payload;
        std::vector<std::string> chain;
        decision.outbound->chain(chain);
        entry.info->chains.assign(chain.rbegin(), chain.rend());
        entry.info->closer = [executor = m_session->m_executor, weak = weak_from_this()] {
            asio::post(executor, [weak] {
                if (auto association = weak.lock())
                    association->close();
            });
        };
        m_services.tracker.add(entry.info);
        logInfo(m_session->m_inbound->logPrefix(), ": inbound packet connection to ",
            destination.toString());
        const std::string tag = decision.outbound->tag();
        auto self = shared_from_this();
        decision.outbound->listenUdpForClient(m_session->m_executor, m_session->dialPolicy(),
            [self, tag](const std::string &error, std::shared_ptr<PacketConn> conn) {
                OutboundConn &entry = self->m_conns[tag];
                if (!error.empty() || self->m_closed) {
                    if (!error.empty())
                        logError(self->m_session->m_inbound->logPrefix(),
                            ": open outbound packet connection: ", error);
                    if (conn)
                        conn->close();
                    self->m_services.tracker.close(entry.info->id);
                    self->m_conns.erase(tag);
                    return;
                }
                entry.conn = conn;
                entry.pending = false;
                std::weak_ptr<UdpAssociation> weak = self;
                auto info = entry.info;
                conn->startReceive([weak, info](const Destination &from, const std::uint8_t *data,
                                       std::size_t size) {
                    if (auto association = weak.lock()) {
                        association->m_services.tracker.addDownload(*info, size);
                        association->sendToClient(from, data, size);
                    }
                });
                for (auto &[destination, payload] : entry.queue) {
                    self->m_services.tracker.addUpload(*entry.info, payload.size());
                    conn->send(destination, payload.data(), payload.size());
                }
                entry.queue.clear();
            });
    }

    void sendToClient(const Destination &from, const std::uint8_t *data, std::size_t size)
    {
        if (m_closed || !m_haveClient)
            return;
        m_lastActivity = std::chrono::steady_clock::now();
        std::vector<std::uint8_t> packet = socks::datagramHeader(from);
        packet.insert(packet.end(), data, data + size);
        std::error_code ignored;
        m_socket.send_to(asio::buffer(packet), m_client, 0, ignored);
    }

    std::shared_ptr<Session> m_session;
    Services &m_services;
    asio::ip::udp::socket m_socket;
    asio::steady_timer m_idle;
    std::vector<std::uint8_t> m_buffer;
    std::vector<std::uint8_t> m_control;
    asio::ip::udp::endpoint m_from;
    asio::ip::udp::endpoint m_client;
    bool m_haveClient = false;
    bool m_closed = false;
    std::chrono::steady_clock::time_point m_lastActivity = std::chrono::steady_clock::now();
    std::map<std::string, OutboundConn> m_conns;
};

void Session::startUdpAssociate()
{
    m_deadline.cancel(); // the association lives as long as its control connection
    std::make_shared<UdpAssociation>(shared_from_this())->start();
}

} // namespace

MixedInbound::MixedInbound(asio::io_context &io, const InboundConfig &config, Services &services)
    : m_config(config)
    , m_services(services)
    , m_acceptor(io)
    , m_limiter(io.get_executor(), logPrefix(),
          config.maxSessions ? config.maxSessions : defaultSessionCap())
{ }

bool MixedInbound::listen(std::string &error)
{
    std::error_code code;
    const asio::ip::address address = asio::ip::make_address(m_config.listen, code);
    const asio::ip::tcp::endpoint endpoint(address, m_config.listenPort);
    const std::string where = "start " + logPrefix() + ": listen tcp "
        + Destination {{}, address, m_config.listenPort}.toString() + ": ";
    m_acceptor.open(endpoint.protocol(), code);
    if (!code && address.is_v6())
        m_acceptor.set_option(asio::ip::v6_only(false), code); // "::" serves IPv4 too
#if !defined(_WIN32)
    if (!code)
        m_acceptor.set_option(asio::ip::tcp::acceptor::reuse_address(true), code);
#endif
    if (!code)
        keepFromChildren(m_acceptor.native_handle());
    if (code) {
        error = where + "socket: " + code.message();
        return false;
    }
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
    logInfo(logPrefix(), ": tcp server started at ", Destination {{}, address, port()}.toString());
    return true;
}

void MixedInbound::startAccepting()
{
    accept();
}

std::uint16_t MixedInbound::port() const
{
    std::error_code ignored;
    return m_acceptor.local_endpoint(ignored).port();
}

void MixedInbound::close()
{
    std::error_code ignored;
    m_acceptor.close(ignored);
    m_limiter.cancel();
}

void MixedInbound::accept()
{
    auto self = shared_from_this();
    m_acceptor.async_accept([self](const std::error_code &error, asio::ip::tcp::socket socket) {
        if (error == asio::error::operation_aborted || !self->m_acceptor.is_open())
            return;
        if (error)
            return self->m_limiter.failed(error, [self] { self->accept(); });
        keepFromChildren(socket.native_handle());
        if (auto ticket = self->m_limiter.admit()) {
            std::make_shared<Session>(self, std::move(socket), std::move(ticket))->start();
        } else {
            std::error_code ignored;
            socket.close(ignored);
        }
        self->accept();
    });
}

} // namespace qivro::engine
