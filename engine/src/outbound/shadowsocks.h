// Shadowsocks AEAD outbound (TCP streams and UDP packets).
#pragma once

#include "outbound/outbound.h"
#include "outbound/sscrypto.h"

#include <vector>

namespace qivro::engine {

// Encrypts writes into the chunk stream (the first one carrying the target address) and
// decrypts reads.
class ShadowsocksStream
    : public Stream
    , public std::enable_shared_from_this<ShadowsocksStream>
{
public:
    ShadowsocksStream(std::shared_ptr<TcpStream> inner, ss::CipherKind kind,
        const std::vector<std::uint8_t> &master, std::vector<std::uint8_t> header);
    void asyncReadSome(asio::mutable_buffer buffer, IoHandler handler) override;
    void asyncWrite(asio::const_buffer buffer, IoHandler handler) override;
    void shutdownSend() override;
    void close() override;

private:
    void deliver(asio::mutable_buffer buffer, IoHandler &handler);

    std::shared_ptr<TcpStream> m_inner;
    ss::StreamEncryptor m_encryptor;
    ss::StreamDecryptor m_decryptor;
    std::vector<std::uint8_t> m_header;
    std::vector<std::uint8_t> m_writeBuffer;
    std::vector<std::uint8_t> m_readBuffer;
    std::vector<std::uint8_t> m_plain;
    std::size_t m_plainOffset = 0;
};

class ShadowsocksOutbound : public Outbound
{
public:
    ShadowsocksOutbound(const OutboundConfig &config, ss::CipherKind kind);
    std::string clashType() const override { return "Shadowsocks"; }
    bool supportsUdp() const override { return m_network != "tcp"; }
    void dialTcp(const asio::any_io_executor &executor, const Destination &destination,
        DialHandler handler) override;
    void listenUdp(const asio::any_io_executor &executor, PacketHandler handler) override;

private:
    std::string m_server;
    std::uint16_t m_port;
    std::string m_network;
    int m_connectTimeoutMs;
    ss::CipherKind m_kind;
    std::vector<std::uint8_t> m_master;
};

} // namespace qivro::engine
