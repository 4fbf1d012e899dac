// VLESS outbound: TCP to the server, TLS when configured (the engine's own browser-shaped TLS for
// utls, REALITY and the vision flow), a V2Ray transport when configured, and the VLESS header on
// the first write of each connection.
#pragma once

#include "outbound/outbound.h"
#include "outbound/vlessprotocol.h"
#include "tls/tlsclient.h"
#include "tls/utls/utlssettings.h"
#include "transport/transport.h"

#include <memory>
#include <string>
#include <vector>

namespace qivro::engine {

// The request header goes out with the first write; the response header is read off the first
// read. Afterwards bytes pass straight through.
class VlessStream
    : public Stream
    , public std::enable_shared_from_this<VlessStream>
{
public:
    VlessStream(
        std::shared_ptr<Stream> inner, std::vector<std::uint8_t> header, std::string logPrefix);
    void asyncReadSome(asio::mutable_buffer buffer, IoHandler handler) override;
    void asyncWrite(asio::const_buffer buffer, IoHandler handler) override;
    void shutdownSend() override;
    void close() override;
    std::string errorDetail() const override;

private:
    void responseFailed(const std::string &why);

    std::shared_ptr<Stream> m_inner;
    std::vector<std::uint8_t> m_header;
    std::string m_logPrefix;
    vless::ResponseParser m_response;
    std::string m_detail;
    bool m_closed = false;
};

class VlessOutbound : public Outbound
{
public:
    explicit VlessOutbound(const OutboundConfig &config);
    ~VlessOutbound() override;
    std::string clashType() const override { return "VLESS"; }
    bool supportsUdp() const override { return m_network != "tcp"; }
    void dialTcp(const asio::any_io_executor &executor, const Destination &destination,
        DialHandler handler) override;
    void listenUdp(const asio::any_io_executor &executor, PacketHandler handler) override;
    void closeConnections() override;

    // The stream a VLESS request runs over: TCP, TLS, transport.
    void openStream(const asio::any_io_executor &executor, StreamHandler handler);

private:
    // Why this outbound cannot dial at all ("" when it can); logged with each refusal.
    std::string refusal();
    void connect(const asio::any_io_executor &executor, StreamHandler handler);
    // The VLESS request over an opened stream, with the vision flow on top when configured.
    std::shared_ptr<Stream> request(const asio::any_io_executor &executor,
        const std::shared_ptr<Stream> &opened, std::vector<std::uint8_t> header) const;

    std::string m_server;
    std::uint16_t m_port;
    std::string m_network;
    int m_connectTimeoutMs;
    vless::Uuid m_uuid;
    std::string m_flow;
    std::string m_packetEncoding;
    TlsConfig m_tlsConfig;
    std::unique_ptr<TlsClient> m_tls;
    std::shared_ptr<const utls::UtlsSettings> m_utls;
    std::unique_ptr<Transport> m_transport;
    std::string m_setupError;
};

} // namespace qivro::engine
