#include "outbound/vless.h"

#include "common/gatheringtcpstream.h"
#include "common/log.h"
#include "outbound/visionstream.h"
#include "outbound/vlesspacketconn.h"
#include "tls/tlsstream.h"
#include "tls/utls/utlsstream.h"

#include <asio/post.hpp>
#include <cstring>

namespace qivro::engine {

namespace {

constexpr int tlsHandshakeTimeoutMs = 15000;

void refuse(const asio::any_io_executor &executor, const std::string &reason,
    std::function<void(const std::string &)> handler)
{
    asio::post(executor, [handler = std::move(handler), reason] { handler(reason); });
}

} // namespace

VlessStream::VlessStream(
    std::shared_ptr<Stream> inner, std::vector<std::uint8_t> header, std::string logPrefix)
    : m_inner(std::move(inner))
    , m_header(std::move(header))
    , m_logPrefix(std::move(logPrefix))
{ }

std::string VlessStream::errorDetail() const
{
    return m_detail.empty() ? m_inner->errorDetail() : m_detail;
}

void VlessStream::asyncWrite(asio::const_buffer buffer, IoHandler handler)
{
    if (m_header.empty())
        return m_inner->asyncWrite(buffer, std::move(handler));
    auto request = std::make_shared<std::vector<std::uint8_t>>(std::move(m_header));
    m_header.clear();
    const auto *data = static_cast<const std::uint8_t *>(buffer.data());
    request->insert(request->end(), data, data + buffer.size());
    m_inner->asyncWrite(asio::buffer(*request),
        [request, size = buffer.size(), handler = std::move(handler)](
            const std::error_code &error, std::size_t) { handler(error, error ? 0 : size); });
}

void VlessStream::asyncReadSome(asio::mutable_buffer buffer, IoHandler handler)
{
    if (m_response.done())
        return m_inner->asyncReadSome(buffer, std::move(handler));
    auto self = shared_from_this();
    m_inner->asyncReadSome(buffer,
        [self, buffer, handler = std::move(handler)](
            const std::error_code &error, std::size_t size) mutable {
            if (error) {
                if (!self->m_closed) {
                    const std::string detail = self->m_inner->errorDetail();
                    self->responseFailed(detail.empty() ? errorText(error) : detail);
                }
                return handler(error, 0);
            }
            auto *data = static_cast<std::uint8_t *>(buffer.data());
            const std::size_t header = self->m_response.feed(data, size);
            if (self->m_response.failed()) {
                self->m_detail = self->m_response.error();
                self->responseFailed(self->m_detail);
                return handler(std::make_error_code(std::errc::protocol_error), 0);
            }
            if (header == size)
                return self->asyncReadSome(buffer, std::move(handler));
            std::memmove(data, data + header, size - header);
            handler({}, size - header);
        });
}

void VlessStream::responseFailed(const std::string &why)
{
    if (why == "EOF")
        logError(m_logPrefix,
            ": read VLESS response: EOF (the server closed the connection "
            "without answering, as it does for an unknown UUID)");
    else
        logError(m_logPrefix, ": read VLESS response: ", why);
}

void VlessStream::shutdownSend()
{
    if (m_header.empty())
        return m_inner->shutdownSend();
    // Nothing was written yet: the request still has to reach the server first.
    auto self = shared_from_this();
    asyncWrite(asio::const_buffer(), [self](const std::error_code &error, std::size_t) {
        if (!error)
            self->m_inner->shutdownSend();
    });
}

void VlessStream::close()
{
    m_closed = true;
    m_inner->close();
}

VlessOutbound::VlessOutbound(const OutboundConfig &config)
    : Outbound(config.type, config.tag)
    , m_server(config.server)
    , m_port(config.serverPort)
    , m_network(config.network)
    , m_connectTimeoutMs(static_cast<int>(config.connectTimeoutMs))
    , m_uuid(vless::parseUuid(config.uuid))
    , m_flow(config.flow)
    , m_packetEncoding(config.packetEncoding)
    , m_tlsConfig(config.tls)
{
    if (utls::UtlsSettings::wanted(m_tlsConfig, m_flow)) {
        m_utls = utls::UtlsSettings::create(
            m_tlsConfig, m_server, m_setupError, transportAlpn(config.transport.type));
    } else if (m_tlsConfig.enabled) {
        m_tls = std::make_unique<TlsClient>(
            m_tlsConfig, m_server, transportAlpn(config.transport.type));
        m_setupError = m_tls->setupError();
    }
    // The direct copy hands inner records to the TCP connection: nothing may sit in between.
    if (m_setupError.empty() && !m_flow.empty() && !m_tlsConfig.enabled)
        m_setupError = "flow " + m_flow + " needs tls or reality";
    if (m_setupError.empty() && !m_flow.empty() && !config.transport.type.empty())
        m_setupError
            = "flow " + m_flow + " runs over TCP only, not transport " + config.transport.type;
    if (!config.transport.type.empty() && m_setupError.empty()) {
        TransportContext context;
        context.server = m_server;
        context.port = m_port;
        context.tls = m_tlsConfig.enabled;
        context.tlsServerName = m_tlsConfig.serverName;
        context.connect = [this](const asio::any_io_executor &executor, StreamHandler handler) {
            connect(executor, std::move(handler));
        };
        m_transport = createTransport(config.transport, std::move(context), m_setupError);
    }
}

VlessOutbound::~VlessOutbound() = default;

void VlessOutbound::closeConnections()
{
    if (m_transport)
        m_transport->stop();
}

std::string VlessOutbound::refusal()
{
    if (!m_setupError.empty())
        logError(logPrefix(), ": ", m_setupError);
    return m_setupError;
}

void VlessOutbound::connect(const asio::any_io_executor &executor, StreamHandler handler)
{
    connectTcp(executor, m_server, m_port, m_connectTimeoutMs,
        [this, executor, handler = std::move(handler)](
            const std::string &error, asio::ip::tcp::socket socket) mutable {
            if (!error.empty())
                return handler(error, nullptr);
            // Servers write TLS records and transport frames a few KiB at a time; taking them in
            // batches spares a wake-up per record. Plain VLESS arrives in large writes already.
            const std::shared_ptr<TcpStream> tcp = m_tls || m_utls || m_transport
                ? std::make_shared<GatheringTcpStream>(std::move(socket))
                : std::make_shared<TcpStream>(std::move(socket));
            if (m_utls)
                return utls::UtlsStream::connect(executor, tcp, m_utls->options(),
                    tlsHandshakeTimeoutMs,
                    [handler = std::move(handler)](const std::string &error,
                        std::shared_ptr<utls::UtlsStream> stream) { handler(error, stream); });
            if (!m_tls)
                return handler({}, tcp);
            m_tls->handshake(executor, tcp, tlsHandshakeTimeoutMs,
                [handler = std::move(handler)](const std::string &error,
                    std::shared_ptr<TlsStream> stream) { handler(error, stream); });
        });
}

std::shared_ptr<Stream> VlessOutbound::request(const asio::any_io_executor &executor,
    const std::shared_ptr<Stream> &opened, std::vector<std::uint8_t> header) const
{
    auto stream = std::make_shared<VlessStream>(opened, std::move(header), logPrefix());
    if (m_flow.empty())
        return stream;
    return std::make_shared<VisionStream>(
        executor, stream, std::dynamic_pointer_cast<utls::UtlsStream>(opened), m_uuid);
}

void VlessOutbound::openStream(const asio::any_io_executor &executor, StreamHandler handler)
{
    if (m_transport)
        m_transport->dial(executor, std::move(handler));
    else
        connect(executor, std::move(handler));
}

void VlessOutbound::dialTcp(
    const asio::any_io_executor &executor, const Destination &destination, DialHandler handler)
{
    std::string reason = m_network == "udp" ? "tcp is disabled" : refusal();
    std::vector<std::uint8_t> header;
    if (reason.empty()
        && !vless::appendRequest(header, m_uuid, vless::CommandTcp, destination, m_flow))
        reason = "domain name too long: " + destination.domain;
    if (!reason.empty())
        return refuse(
            executor, reason, [handler](const std::string &text) { handler(text, nullptr); });
    openStream(executor,
        [this, executor, header = std::move(header), handler = std::move(handler)](
            const std::string &error, std::shared_ptr<Stream> stream) mutable {
            if (!error.empty())
                return handler(error, nullptr);
            handler({}, request(executor, stream, std::move(header)));
        });
}

void VlessOutbound::listenUdp(const asio::any_io_executor &executor, PacketHandler handler)
{
    std::string reason = m_network == "tcp" ? "udp is disabled" : refusal();
    if (reason.empty() && m_packetEncoding == "packetaddr") {
        reason = "packet encoding packetaddr is not supported by this engine build";
        logError(logPrefix(), ": ", reason);
    }
    const bool vision = !m_flow.empty();
    if (reason.empty() && vision && m_packetEncoding != "xudp") {
        reason = "flow " + m_flow + " carries UDP through xudp only";
        logError(logPrefix(), ": ", reason);
    }
    if (!reason.empty())
        return refuse(
            executor, reason, [handler](const std::string &text) { handler(text, nullptr); });
    auto conn = std::make_shared<VlessPacketConn>(
        executor,
        [this, vision](const asio::any_io_executor &on, StreamHandler opened) {
            if (!vision)
                return openStream(on, std::move(opened));
            openStream(on,
                [this, on, opened = std::move(opened)](
                    const std::string &error, std::shared_ptr<Stream> stream) {
                    if (!error.empty())
                        return opened(error, nullptr);
                    std::vector<std::uint8_t> header;
                    vless::appendRequest(header, m_uuid, vless::CommandMux, {}, m_flow);
                    opened({}, request(on, stream, std::move(header)));
                });
        },
        m_uuid, m_packetEncoding == "xudp", logPrefix(), vision);
    asio::post(executor, [handler = std::move(handler), conn] { handler({}, conn); });
}

} // namespace qivro::engine
