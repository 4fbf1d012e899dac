#include "outbound/hysteria2client.h"

#include "common/log.h"
#include "outbound/dialer.h"
#include "outbound/salamander.h"

#include <asio/ip/udp.hpp>
#include <asio/post.hpp>
#include <cstring>
#include <openssl/rand.h>

namespace qivro::engine {

namespace {

constexpr std::int64_t kDefaultConnectTimeoutMs = 5000;

// The proxy stream: the request head goes out at once (so protocols where the server speaks
// first work), the response head is checked on the first read.
class Hysteria2Stream
    : public Stream
    , public std::enable_shared_from_this<Hysteria2Stream>
{
public:
    Hysteria2Stream(std::shared_ptr<quic::QuicStream> inner, std::string logPrefix,
        std::string destination, asio::any_io_executor executor)
        : m_inner(std::move(inner))
        , m_logPrefix(std::move(logPrefix))
        , m_destination(std::move(destination))
        , m_executor(std::move(executor))
    { }

    void asyncReadSome(asio::mutable_buffer buffer, IoHandler handler) override
    {
        if (m_headDone) {
            if (m_extraOffset < m_extra.size()) {
                const std::size_t size = std::min(buffer.size(), m_extra.size() - m_extraOffset);
                std::memcpy(buffer.data(), m_extra.data() + m_extraOffset, size);
                m_extraOffset += size;
                asio::post(m_executor, [handler = std::move(handler), size] { handler({}, size); });
                return;
            }
            m_inner->asyncReadSome(buffer, std::move(handler));
            return;
        }
        const std::size_t old = m_extra.size();
        m_extra.resize(old + 4096);
        auto self = shared_from_this();
        m_inner->asyncReadSome(asio::buffer(m_extra.data() + old, 4096),
            [self, buffer, old, handler = std::move(handler)](
                const std::error_code &error, std::size_t size) mutable {
                self->m_extra.resize(old + size);
                if (error) {
                    handler(error, 0);
                    return;
                }
                hy2::TcpResponse response;
                std::size_t consumed = 0;
                const ParseStatus status = hy2::parseTcpResponse(
                    self->m_extra.data(), self->m_extra.size(), response, consumed);
                if (status == ParseStatus::NeedMore) {
                    self->asyncReadSome(buffer, std::move(handler));
                    return;
                }
                if (status == ParseStatus::Invalid) {
                    logWarn(self->m_logPrefix, ": ", self->m_destination,
                        ": malformed response from the server");
                    handler(std::make_error_code(std::errc::protocol_error), 0);
                    return;
                }
                if (response.status != 0) {
                    logWarn(self->m_logPrefix, ": ", self->m_destination,
                        ": the server refused: ", response.message);
                    handler(asio::error::connection_refused, 0);
                    return;
                }
                self->m_headDone = true;
                self->m_extraOffset = consumed;
                self->asyncReadSome(buffer, std::move(handler));
            });
    }

    void asyncWrite(asio::const_buffer buffer, IoHandler handler) override
    {
        m_inner->asyncWrite(buffer, std::move(handler));
    }
    void shutdownSend() override { m_inner->shutdownSend(); }
    void close() override { m_inner->close(); }

private:
    std::shared_ptr<quic::QuicStream> m_inner;
    std::string m_logPrefix;
    std::string m_destination;
    asio::any_io_executor m_executor;
    bool m_headDone = false;
    std::vector<std::uint8_t> m_extra;
    std::size_t m_extraOffset = 0;
};

} // namespace

class Hysteria2PacketConn
    : public PacketConn
    , public std::enable_shared_from_this<Hysteria2PacketConn>
{
public:
    Hysteria2PacketConn(std::shared_ptr<Hysteria2Client> client, std::uint32_t id)
        : m_client(std::move(client))
        , m_id(id)
    { }
    ~Hysteria2PacketConn() override { close(); }

    void send(const Destination &to, const std::uint8_t *data, std::size_t size) override
    {
        if (!m_closed)
            m_client->sendUdp(m_id, to, data, size);
    }
    void startReceive(ReceiveHandler handler) override { m_handler = std::move(handler); }
    void close() override
    {
        if (m_closed)
            return;
        m_closed = true;
        m_handler = nullptr;
        m_client->removeUdp(m_id);
    }

    void deliver(const hy2::UdpMessage &message)
    {
        std::string address;
        if (!m_handler || !m_defragger.feed(message, m_packet, address))
            return;
        std::string host;
        std::uint16_t port = 0;
        if (!splitHostPort(address, host, port))
            return;
        m_handler(makeDestination(host, port), m_packet.data(), m_packet.size());
    }

private:
    std::shared_ptr<Hysteria2Client> m_client;
    std::uint32_t m_id;
    bool m_closed = false;
    ReceiveHandler m_handler;
    hy2::Defragger m_defragger;
    std::vector<std::uint8_t> m_packet;
};

Hysteria2Client::Hysteria2Client(
    const asio::any_io_executor &executor, const OutboundConfig &config, std::string logPrefix)
    : m_executor(executor)
    , m_config(config)
    , m_logPrefix(std::move(logPrefix))
    , m_timer(executor)
{ }

Hysteria2Client::~Hysteria2Client()
{
    if (m_quic) {
        m_quic->setApplication(nullptr);
        m_quic->close();
    }
}

void Hysteria2Client::close()
{
    if (m_state == Connecting)
        finishConnect("hysteria2: closed");
    m_state = Closed;
    m_timer.cancel();
    if (m_quic)
        m_quic->close();
}

void Hysteria2Client::whenReady(std::function<void(const std::string &)> handler)
{
    if (m_state == Ready || m_state == Closed) {
        asio::post(m_executor, [handler = std::move(handler), error = m_error] {
            handler(error.empty() ? std::string() : error);
        });
        return;
    }
    m_waiters.push_back(std::move(handler));
    if (m_state == Idle)
        start();
}

void Hysteria2Client::start()
{
    m_state = Connecting;
    const std::int64_t timeout
        = m_config.connectTimeoutMs > 0 ? m_config.connectTimeoutMs : kDefaultConnectTimeoutMs;
    m_timer.expires_after(std::chrono::milliseconds(timeout));
    m_timer.async_wait([weak = weak_from_this()](const std::error_code &error) {
        if (auto self = weak.lock(); self && !error && self->m_state == Connecting)
            self->finishConnect("quic: handshake timed out");
    });
    auto resolver = std::make_shared<asio::ip::udp::resolver>(m_executor);
    resolver->async_resolve(m_config.server, std::to_string(m_config.serverPort),
        [self = shared_from_this(), resolver](
            const std::error_code &error, asio::ip::udp::resolver::results_type results) {
            if (self->m_state != Connecting)
                return;
            if (error || results.empty()) {
                self->finishConnect("lookup " + self->m_config.server + ": " + errorText(error));
                return;
            }
            self->handshake(results.begin()->endpoint());
        });
}

void Hysteria2Client::handshake(asio::ip::udp::endpoint server)
{
    asio::ip::udp::socket socket(m_executor);
    std::error_code error = openUdpSocket(socket, server.protocol());
    if (!error)
        socket.connect(server, error);
    if (error) {
        finishConnect("dial udp " + m_config.server + ": " + errorText(error));
        return;
    }
    const TlsConfig &tls = m_config.tls;
    quic::QuicOptions options;
    const std::string name = tls.serverName.empty() ? m_config.server : tls.serverName;
    options.serverName = tls.disableSni ? std::string() : name;
    options.verifyName = name;
    options.insecure = tls.insecure;
    options.alpn = tls.alpn.empty() ? std::vector<std::string> {"h3"} : tls.alpn;
    options.certificatePem = tls.certificate;
    options.certificatePath = tls.certificatePath;
    options.datagrams = true;
    if (m_config.obfsType == "salamander")
        options.obfuscator = std::make_shared<Salamander>(m_config.obfsPassword);
    m_quic = std::make_shared<quic::QuicConnection>(std::move(socket), std::move(options));
    std::weak_ptr<Hysteria2Client> weak = weak_from_this();
    m_quic->setDatagramHandler([weak](const std::uint8_t *data, std::size_t size) {
        if (auto self = weak.lock())
            self->onDatagram(data, size);
    });
    m_quic->setClosedHandler([weak](const std::string &reason) {
        auto self = weak.lock();
        if (!self)
            return;
        if (self->m_state == Connecting) {
            self->finishConnect(reason);
            return;
        }
        logDebug(self->m_logPrefix, ": connection ended: ", reason);
        self->m_state = Closed;
        self->m_error = reason;
    });
    m_quic->connect([weak](const std::string &connectError) {
        auto self = weak.lock();
        if (!self || self->m_state != Connecting)
            return;
        if (!connectError.empty())
            self->finishConnect(connectError);
        else
            self->authenticate();
    });
}

void Hysteria2Client::authenticate()
{
    m_http3 = std::make_unique<quic::Http3Client>(*m_quic);
    std::string error;
    const quic::Http3Client::Headers headers = {
        {":method", "POST"},
        {":scheme", "https"},
        {":authority", "hysteria"},
        {":path", "/auth"},
        {"hysteria-auth", m_config.password},
        {"hysteria-cc-rx", std::to_string(static_cast<std::uint64_t>(m_config.downMbps) * 125000)},
        {"hysteria-padding", hy2::randomPadding(256, 2047)},
    };
    if (!m_http3->start(error)
        || !m_http3->request(
            headers,
            [weak = weak_from_this()](const std::string &requestError, int status,
                const quic::Http3Client::Headers &answer) {
                auto self = weak.lock();
                if (!self || self->m_state != Connecting)
                    return;
                if (!requestError.empty()) {
                    self->finishConnect(requestError);
                    return;
                }
                if (status != hy2::kAuthOkStatus) {
                    self->finishConnect(
                        "authentication failed, status code: " + std::to_string(status));
                    return;
                }
                for (const auto &[name, value] : answer) {
                    if (name == "hysteria-udp")
                        self->m_udpEnabled = value == "true";
                    else if (name == "hysteria-cc-rx" && value != "auto")
                        self->m_serverReceiveRate = std::strtoull(value.c_str(), nullptr, 10);
                }
                self->finishConnect({});
            },
            error))
        finishConnect(error);
}

void Hysteria2Client::finishConnect(const std::string &error)
{
    if (m_state != Connecting)
        return;
    m_timer.cancel();
    if (error.empty()) {
        m_state = Ready;
        // No pacing of our own: the congestion controller of the QUIC stack decides, whatever
        // rates the server or the configuration name.
        logDebug(m_logPrefix, ": connected, udp ", m_udpEnabled ? "on" : "off",
            ", server receive rate ", m_serverReceiveRate);
    } else {
        m_state = Closed;
        m_error = error;
        if (m_quic)
            m_quic->close(0, error);
    }
    for (auto &waiter : m_waiters)
        asio::post(m_executor, [waiter = std::move(waiter), error] { waiter(error); });
    m_waiters.clear();
}

void Hysteria2Client::openTcp(const Destination &destination, DialHandler handler)
{
    whenReady([self = shared_from_this(), destination, handler = std::move(handler)](
                  const std::string &error) mutable {
        if (!error.empty()) {
            handler(error, nullptr);
            return;
        }
        self->m_quic->openStream([self, destination, handler = std::move(handler)](
                                     const std::string &streamError,
                                     std::shared_ptr<quic::QuicStream> stream) {
            if (!streamError.empty()) {
                handler(streamError, nullptr);
                return;
            }
            const std::string address = destination.toString();
            const std::vector<std::uint8_t> request = hy2::tcpRequest(address);
            stream->asyncWrite(asio::buffer(request), [](const std::error_code &, std::size_t) {});
            handler({},
                std::make_shared<Hysteria2Stream>(
                    stream, self->m_logPrefix, address, self->m_executor));
        });
    });
}

void Hysteria2Client::openUdp(PacketHandler handler)
{
    whenReady([self = shared_from_this(), handler = std::move(handler)](const std::string &error) {
        if (!error.empty()) {
            handler(error, nullptr);
            return;
        }
        if (!self->m_udpEnabled) {
            handler("UDP disabled by server", nullptr);
            return;
        }
        const std::uint32_t id = self->m_nextSessionId++;
        auto conn = std::make_shared<Hysteria2PacketConn>(self, id);
        self->m_udpSessions[id] = conn;
        handler({}, conn);
    });
}

void Hysteria2Client::sendUdp(
    std::uint32_t sessionId, const Destination &to, const std::uint8_t *data, std::size_t size)
{
    if (m_state != Ready || !m_quic->isOpen())
        return;
    std::uint16_t packetId = 0;
    RAND_bytes(reinterpret_cast<unsigned char *>(&packetId), sizeof packetId);
    if (packetId == 0)
        packetId = 1;
    const auto messages = hy2::splitUdpPacket(
        sessionId, packetId, to.toString(), data, size, m_quic->maxDatagramSize());
    for (const auto &message : messages)
        m_quic->sendDatagram(message.data(), message.size());
}

void Hysteria2Client::removeUdp(std::uint32_t sessionId)
{
    m_udpSessions.erase(sessionId);
}

void Hysteria2Client::onDatagram(const std::uint8_t *data, std::size_t size)
{
    hy2::UdpMessage message;
    if (!hy2::parseUdpMessage(data, size, message))
        return;
    const auto found = m_udpSessions.find(message.sessionId);
    if (found == m_udpSessions.end())
        return;
    if (auto conn = found->second.lock())
        conn->deliver(message);
}

} // namespace qivro::engine
