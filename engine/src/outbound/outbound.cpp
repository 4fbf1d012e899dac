#include "outbound/outbound.h"

#include "common/log.h"

#include <asio/connect.hpp>
#include <asio/ip/udp.hpp>
#include <asio/ip/v6_only.hpp>
#include <asio/post.hpp>
#include <asio/steady_timer.hpp>
#include <asio/write.hpp>
#include <map>

namespace qivro::engine {

void Outbound::chain(std::vector<std::string> &tags)
{
    tags.push_back(m_tag);
    Outbound *next = current();
    if (next && next != this)
        next->chain(tags);
}

DirectOutbound::DirectOutbound(const OutboundConfig &config)
    : Outbound(config.type, config.tag)
    , m_overrideAddress(config.overrideAddress)
    , m_overridePort(config.overridePort)
    , m_connectTimeoutMs(static_cast<int>(config.connectTimeoutMs))
{ }

void DirectOutbound::dialTcp(
    const asio::any_io_executor &executor, const Destination &destination, DialHandler handler)
{
    dialTcpForClient(executor, destination, {}, std::move(handler));
}

void DirectOutbound::dialTcpForClient(const asio::any_io_executor &executor,
    const Destination &destination, const DialPolicy &policy, DialHandler handler)
{
    const std::string host = m_overrideAddress.empty() ? destination.hostText() : m_overrideAddress;
    const std::uint16_t port = m_overridePort ? m_overridePort : destination.port;
    connectTcp(
        executor, host, port, m_connectTimeoutMs,
        [handler = std::move(handler)](const std::string &error, asio::ip::tcp::socket socket) {
            if (!error.empty()) {
                handler(error, nullptr);
                return;
            }
            handler({}, std::make_shared<TcpStream>(std::move(socket)));
        },
        policy);
}

namespace {

Destination fromEndpoint(const asio::ip::udp::endpoint &endpoint)
{
    Destination destination;
    destination.ip = endpoint.address();
    if (destination.ip.is_v6() && destination.ip.to_v6().is_v4_mapped())
        destination.ip = asio::ip::make_address_v4(asio::ip::v4_mapped, destination.ip.to_v6());
    destination.port = endpoint.port();
    return destination;
}

class DirectPacketConn
    : public PacketConn
    , public std::enable_shared_from_this<DirectPacketConn>
{
public:
    DirectPacketConn(const asio::any_io_executor &executor, const DialPolicy &policy)
        : m_socket(executor)
        , m_executor(executor)
        , m_policy(policy)
    {
        std::error_code error;
        error = openUdpSocket(m_socket, asio::ip::udp::v6());
        if (!error) {
            m_socket.set_option(asio::ip::v6_only(false), error);
            m_socket.bind({asio::ip::udp::v6(), 0}, error);
            m_dualStack = !error;
        }
        if (error) {
            std::error_code ignored;
            m_socket.close(ignored);
            openUdpSocket(m_socket, asio::ip::udp::v4());
            m_socket.bind({asio::ip::udp::v4(), 0}, ignored);
        }
    }

    void send(const Destination &to, const std::uint8_t *data, std::size_t size) override
    {
        if (!to.isDomain()) {
            sendTo(asio::ip::udp::endpoint(to.ip, to.port), data, size);
            return;
        }
        const auto cached = m_resolved.find(to);
        if (cached != m_resolved.end()) {
            sendTo(cached->second, data, size);
            return;
        }
        auto payload = std::make_shared<std::vector<std::uint8_t>>(data, data + size);
        auto self = shared_from_this();
        resolveHost(m_executor, to.domain,
            [self, to, payload](
                const std::string &error, std::vector<asio::ip::address> addresses) {
                if (!error.empty() || self->m_closed)
                    return;
                const asio::ip::udp::endpoint endpoint(addresses.front(), to.port);
                self->m_resolved[to] = endpoint;
                self->m_reverse[self->normalise(endpoint)] = to;
                self->sendTo(endpoint, payload->data(), payload->size());
            });
    }

    void startReceive(ReceiveHandler handler) override
    {
        m_handler = std::move(handler);
        m_buffer.resize(65536);
        receive();
    }

    void close() override
    {
        m_closed = true;
        m_handler = nullptr;
        std::error_code ignored;
        m_socket.close(ignored);
    }

private:
    asio::ip::udp::endpoint normalise(const asio::ip::udp::endpoint &endpoint) const
    {
        if (m_dualStack && endpoint.address().is_v4())
            return {asio::ip::make_address_v6(asio::ip::v4_mapped, endpoint.address().to_v4()),
                endpoint.port()};
        return endpoint;
    }

    void sendTo(const asio::ip::udp::endpoint &endpoint, const std::uint8_t *data, std::size_t size)
    {
        if (!m_policy.check(endpoint.address(), endpoint.port()).empty())
            return;
        std::error_code ignored;
        m_socket.send_to(asio::buffer(data, size), normalise(endpoint), 0, ignored);
    }

    void receive()
    {
        auto self = shared_from_this();
        m_socket.async_receive_from(
            asio::buffer(m_buffer), m_from, [self](const std::error_code &error, std::size_t size) {
                if (error || self->m_closed || !self->m_handler)
                    return;
                const auto mapped = self->m_reverse.find(self->m_from);
                const Destination from
                    = mapped != self->m_reverse.end() ? mapped->second : fromEndpoint(self->m_from);
                self->m_handler(from, self->m_buffer.data(), size);
                self->receive();
            });
    }

    asio::ip::udp::socket m_socket;
    asio::any_io_executor m_executor;
    DialPolicy m_policy;
    bool m_dualStack = false;
    bool m_closed = false;
    std::vector<std::uint8_t> m_buffer;
    asio::ip::udp::endpoint m_from;
    ReceiveHandler m_handler;
    std::map<Destination, asio::ip::udp::endpoint> m_resolved;
    std::map<asio::ip::udp::endpoint, Destination> m_reverse;
};

} // namespace

void DirectOutbound::listenUdp(const asio::any_io_executor &executor, PacketHandler handler)
{
    listenUdpForClient(executor, {}, std::move(handler));
}

void DirectOutbound::listenUdpForClient(
    const asio::any_io_executor &executor, const DialPolicy &policy, PacketHandler handler)
{
    auto conn = std::make_shared<DirectPacketConn>(executor, policy);
    asio::post(executor, [conn, handler = std::move(handler)] { handler({}, conn); });
}

void BlockOutbound::dialTcp(
    const asio::any_io_executor &executor, const Destination &, DialHandler handler)
{
    asio::post(executor, [handler = std::move(handler)] { handler("blocked", nullptr); });
}

void BlockOutbound::listenUdp(const asio::any_io_executor &executor, PacketHandler handler)
{
    asio::post(executor, [handler = std::move(handler)] { handler("blocked", nullptr); });
}

UnsupportedOutbound::UnsupportedOutbound(
    const OutboundConfig &config, std::string clashType, std::string reason)
    : Outbound(config.type, config.tag)
    , m_clashType(std::move(clashType))
    , m_reason(std::move(reason))
{ }

void UnsupportedOutbound::dialTcp(
    const asio::any_io_executor &executor, const Destination &, DialHandler handler)
{
    logError(logPrefix(), ": ", m_reason);
    asio::post(
        executor, [handler = std::move(handler), reason = m_reason] { handler(reason, nullptr); });
}

void UnsupportedOutbound::listenUdp(const asio::any_io_executor &executor, PacketHandler handler)
{
    logError(logPrefix(), ": ", m_reason);
    asio::post(
        executor, [handler = std::move(handler), reason = m_reason] { handler(reason, nullptr); });
}

} // namespace qivro::engine
