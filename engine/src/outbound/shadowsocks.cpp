#include "outbound/shadowsocks.h"

#include <algorithm>
#include <asio/ip/udp.hpp>
#include <asio/post.hpp>
#include <asio/write.hpp>
#include <cstring>

namespace qivro::engine {

ShadowsocksStream::ShadowsocksStream(std::shared_ptr<TcpStream> inner, ss::CipherKind kind,
    const std::vector<std::uint8_t> &master, std::vector<std::uint8_t> header)
    : m_inner(std::move(inner))
    , m_encryptor(kind, master)
    , m_decryptor(kind, master)
    , m_header(std::move(header))
{ }

void ShadowsocksStream::asyncWrite(asio::const_buffer buffer, IoHandler handler)
{
    m_writeBuffer.clear();
    const auto *data = static_cast<const std::uint8_t *>(buffer.data());
    bool ok;
    if (!m_header.empty()) {
        m_header.insert(m_header.end(), data, data + buffer.size());
        ok = m_encryptor.encrypt(m_header.data(), m_header.size(), m_writeBuffer);
        m_header.clear();
        m_header.shrink_to_fit();
    } else if (buffer.size() == 0) {
        asio::post(
            m_inner->socket().get_executor(), [handler = std::move(handler)] { handler({}, 0); });
        return;
    } else {
        ok = m_encryptor.encrypt(data, buffer.size(), m_writeBuffer);
    }
    if (!ok) {
        asio::post(m_inner->socket().get_executor(), [handler = std::move(handler)] {
            handler(std::make_error_code(std::errc::protocol_error), 0);
        });
        return;
    }
    const std::size_t size = buffer.size();
    auto self = shared_from_this();
    asio::async_write(m_inner->socket(), asio::buffer(m_writeBuffer),
        [self, size, handler = std::move(handler)](
            const std::error_code &error, std::size_t) { handler(error, error ? 0 : size); });
}

void ShadowsocksStream::deliver(asio::mutable_buffer buffer, IoHandler &handler)
{
    const std::size_t size = std::min(buffer.size(), m_plain.size() - m_plainOffset);
    std::memcpy(buffer.data(), m_plain.data() + m_plainOffset, size);
    m_plainOffset += size;
    if (m_plainOffset == m_plain.size()) {
        m_plain.clear();
        m_plainOffset = 0;
    }
    asio::post(m_inner->socket().get_executor(),
        [handler = std::move(handler), size] { handler({}, size); });
}

void ShadowsocksStream::asyncReadSome(asio::mutable_buffer buffer, IoHandler handler)
{
    if (m_plainOffset < m_plain.size()) {
        deliver(buffer, handler);
        return;
    }
    if (m_readBuffer.empty())
        m_readBuffer.resize(32 * 1024);
    auto self = shared_from_this();
    m_inner->socket().async_read_some(asio::buffer(m_readBuffer),
        [self, buffer, handler = std::move(handler)](
            const std::error_code &error, std::size_t size) mutable {
            if (error) {
                handler(error, 0);
                return;
            }
            if (!self->m_decryptor.feed(self->m_readBuffer.data(), size, self->m_plain)) {
                handler(std::make_error_code(std::errc::bad_message), 0);
                return;
            }
            if (self->m_plain.empty()) {
                self->asyncReadSome(buffer, std::move(handler));
                return;
            }
            self->deliver(buffer, handler);
        });
}

void ShadowsocksStream::shutdownSend()
{
    m_inner->shutdownSend();
}

void ShadowsocksStream::close()
{
    m_inner->close();
}

ShadowsocksOutbound::ShadowsocksOutbound(const OutboundConfig &config, ss::CipherKind kind)
    : Outbound(config.type, config.tag)
    , m_server(config.server)
    , m_port(config.serverPort)
    , m_network(config.network)
    , m_connectTimeoutMs(static_cast<int>(config.connectTimeoutMs))
    , m_kind(kind)
    , m_master(ss::masterKey(config.password, ss::keySize(kind)))
{ }

void ShadowsocksOutbound::dialTcp(
    const asio::any_io_executor &executor, const Destination &destination, DialHandler handler)
{
    if (m_network == "udp") {
        asio::post(
            executor, [handler = std::move(handler)] { handler("tcp is disabled", nullptr); });
        return;
    }
    std::vector<std::uint8_t> header;
    appendSocksAddress(header, destination);
    connectTcp(executor, m_server, m_port, m_connectTimeoutMs,
        [this, header = std::move(header), handler = std::move(handler)](
            const std::string &error, asio::ip::tcp::socket socket) mutable {
            if (!error.empty()) {
                handler(error, nullptr);
                return;
            }
            handler({},
                std::make_shared<ShadowsocksStream>(std::make_shared<TcpStream>(std::move(socket)),
                    m_kind, m_master, std::move(header)));
        });
}

namespace {

class ShadowsocksPacketConn
    : public PacketConn
    , public std::enable_shared_from_this<ShadowsocksPacketConn>
{
public:
    ShadowsocksPacketConn(const asio::any_io_executor &executor, asio::ip::udp::endpoint server,
        ss::CipherKind kind, std::vector<std::uint8_t> master)
        : m_socket(executor)
        , m_server(server)
        , m_kind(kind)
        , m_master(std::move(master))
    {
        std::error_code ignored = openUdpSocket(m_socket, server.protocol());
        m_socket.connect(server, ignored);
    }

    void send(const Destination &to, const std::uint8_t *data, std::size_t size) override
    {
        std::vector<std::uint8_t> plain;
        appendSocksAddress(plain, to);
        plain.insert(plain.end(), data, data + size);
        std::vector<std::uint8_t> packet;
        if (!ss::sealPacket(m_kind, m_master, plain.data(), plain.size(), packet))
            return;
        std::error_code ignored;
        m_socket.send(asio::buffer(packet), 0, ignored);
    }

    void startReceive(ReceiveHandler handler) override
    {
        m_handler = std::move(handler);
        m_buffer.resize(65536);
        receive();
    }

    void close() override
    {
        m_handler = nullptr;
        std::error_code ignored;
        m_socket.close(ignored);
    }

private:
    void receive()
    {
        auto self = shared_from_this();
        m_socket.async_receive(
            asio::buffer(m_buffer), [self](const std::error_code &error, std::size_t size) {
                if (error == asio::error::operation_aborted || error == asio::error::bad_descriptor
                    || !self->m_handler)
                    return;
                std::vector<std::uint8_t> plain;
                Destination from;
                std::size_t addressSize = 0;
                if (!error
                    && ss::openPacket(
                        self->m_kind, self->m_master, self->m_buffer.data(), size, plain)
                    && parseSocksAddress(plain.data(), plain.size(), from, addressSize)
                        == ParseStatus::Done)
                    self->m_handler(from, plain.data() + addressSize, plain.size() - addressSize);
                self->receive();
            });
    }

    asio::ip::udp::socket m_socket;
    asio::ip::udp::endpoint m_server;
    ss::CipherKind m_kind;
    std::vector<std::uint8_t> m_master;
    std::vector<std::uint8_t> m_buffer;
    ReceiveHandler m_handler;
};

} // namespace

void ShadowsocksOutbound::listenUdp(const asio::any_io_executor &executor, PacketHandler handler)
{
    if (m_network == "tcp") {
        asio::post(
            executor, [handler = std::move(handler)] { handler("udp is disabled", nullptr); });
        return;
    }
    resolveHost(executor, m_server,
        [this, executor, handler = std::move(handler)](
            const std::string &error, std::vector<asio::ip::address> addresses) {
            if (!error.empty()) {
                handler(error, nullptr);
                return;
            }
            handler({},
                std::make_shared<ShadowsocksPacketConn>(executor,
                    asio::ip::udp::endpoint(addresses.front(), m_port), m_kind, m_master));
        });
}

} // namespace qivro::engine
