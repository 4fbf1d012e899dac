#include "outbound.h"

#include "groups.h"
#include "log.h"
#include "shadowsocks.h"

#include <asio/connect.hpp>
#include <asio/ip/udp.hpp>
#include <asio/ip/v6_only.hpp>
#include <asio/post.hpp>
#include <asio/steady_timer.hpp>
#include <asio/write.hpp>
#include <map>

namespace qivro::engine {

TcpStream::TcpStream(asio::ip::tcp::socket socket)
    : m_socket(std::move(socket))
{ }

void TcpStream::asyncReadSome(asio::mutable_buffer buffer, IoHandler handler)
{
    m_socket.async_read_some(buffer, std::move(handler));
}

void TcpStream::asyncWrite(asio::const_buffer buffer, IoHandler handler)
{
    if (buffer.size() == 0) {
        asio::post(m_socket.get_executor(), [handler = std::move(handler)] { handler({}, 0); });
        return;
    }
    asio::async_write(m_socket, buffer, std::move(handler));
}

void TcpStream::shutdownSend()
{
    std::error_code ignored;
    m_socket.shutdown(asio::ip::tcp::socket::shutdown_send, ignored);
}

void TcpStream::close()
{
    std::error_code ignored;
    m_socket.close(ignored);
}

void Outbound::chain(std::vector<std::string> &tags)
{
    tags.push_back(m_tag);
    Outbound *next = current();
    if (next && next != this)
        next->chain(tags);
}

std::string errorText(const std::error_code &error)
{
    if (error == asio::error::connection_refused)
        return "connection refused";
    if (error == asio::error::timed_out || error == asio::error::operation_aborted)
        return "i/o timeout";
    if (error == asio::error::eof)
        return "EOF";
    return error.message();
}

namespace {

struct ConnectState
{
    ConnectState(const asio::any_io_executor &executor)
        : resolver(executor)
        , socket(executor)
        , timer(executor)
    { }
    asio::ip::tcp::resolver resolver;
    asio::ip::tcp::socket socket;
    asio::steady_timer timer;
    bool timedOut = false;
    std::function<void(const std::string &, asio::ip::tcp::socket)> handler;
};

} // namespace

void connectTcp(const asio::any_io_executor &executor, const std::string &host, std::uint16_t port,
    int timeoutMs, std::function<void(const std::string &, asio::ip::tcp::socket)> handler)
{
    auto state = std::make_shared<ConnectState>(executor);
    state->handler = std::move(handler);
    state->timer.expires_after(std::chrono::milliseconds(timeoutMs > 0 ? timeoutMs : 5000));
    state->timer.async_wait([state](const std::error_code &error) {
        if (error)
            return;
        state->timedOut = true;
        state->resolver.cancel();
        std::error_code ignored;
        state->socket.close(ignored);
    });
    const std::string address = "dial tcp " + makeDestination(host, port).toString() + ": ";
    state->resolver.async_resolve(host, std::to_string(port),
        [state, address](
            const std::error_code &error, asio::ip::tcp::resolver::results_type results) {
            if (error || results.empty()) {
                state->timer.cancel();
                state->handler(state->timedOut ? address + "i/o timeout"
                                               : "lookup " + address + errorText(error),
                    asio::ip::tcp::socket(state->resolver.get_executor()));
                return;
            }
            asio::async_connect(state->socket, results,
                [state, address](
                    const std::error_code &connectError, const asio::ip::tcp::endpoint &) {
                    state->timer.cancel();
                    if (connectError) {
                        state->handler(address
                                + (state->timedOut ? std::string("i/o timeout")
                                                   : errorText(connectError)),
                            asio::ip::tcp::socket(state->resolver.get_executor()));
                        return;
                    }
                    keepFromChildren(state->socket.native_handle());
                    std::error_code ignored;
                    state->socket.set_option(asio::ip::tcp::no_delay(true), ignored);
                    state->handler({}, std::move(state->socket));
                });
        });
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
    const std::string host = m_overrideAddress.empty() ? destination.hostText() : m_overrideAddress;
    const std::uint16_t port = m_overridePort ? m_overridePort : destination.port;
    connectTcp(executor, host, port, m_connectTimeoutMs,
        [handler = std::move(handler)](const std::string &error, asio::ip::tcp::socket socket) {
            if (!error.empty()) {
                handler(error, nullptr);
                return;
            }
            handler({}, std::make_shared<TcpStream>(std::move(socket)));
        });
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
    explicit DirectPacketConn(const asio::any_io_executor &executor)
        : m_socket(executor)
        , m_resolver(executor)
    {
        std::error_code error;
        m_socket.open(asio::ip::udp::v6(), error);
        if (!error) {
            m_socket.set_option(asio::ip::v6_only(false), error);
            m_socket.bind({asio::ip::udp::v6(), 0}, error);
            m_dualStack = !error;
        }
        if (error) {
            std::error_code ignored;
            m_socket.close(ignored);
            m_socket.open(asio::ip::udp::v4(), ignored);
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
        m_resolver.async_resolve(to.domain, std::to_string(to.port),
            [self, to, payload](
                const std::error_code &error, asio::ip::udp::resolver::results_type results) {
                if (error || results.empty() || self->m_closed)
                    return;
                const asio::ip::udp::endpoint endpoint = results.begin()->endpoint();
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
        m_resolver.cancel();
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
    asio::ip::udp::resolver m_resolver;
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
    auto conn = std::make_shared<DirectPacketConn>(executor);
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

std::shared_ptr<Outbound> createOutbound(const OutboundConfig &config)
{
    if (config.type == "direct")
        return std::make_shared<DirectOutbound>(config);
    if (config.type == "block" || config.type == "dns")
        return std::make_shared<BlockOutbound>(config);
    if (config.type == "selector")
        return std::make_shared<SelectorOutbound>(config);
    if (config.type == "urltest")
        return std::make_shared<UrlTestOutbound>(config);
    if (config.type == "shadowsocks") {
        ss::CipherKind kind;
        if (!config.plugin.empty())
            return std::make_shared<UnsupportedOutbound>(config, "Shadowsocks",
                "plugin " + config.plugin + " is not supported by this engine build");
        if (!ss::cipherFromMethod(config.method, kind))
            return std::make_shared<UnsupportedOutbound>(config, "Shadowsocks",
                "method " + config.method + " is not supported by this engine build");
        return std::make_shared<ShadowsocksOutbound>(config, kind);
    }
    if (config.type == "vless")
        return std::make_shared<UnsupportedOutbound>(
            config, "VLESS", "VLESS is not supported by this engine build");
    if (config.type == "hysteria2")
        return std::make_shared<UnsupportedOutbound>(
            config, "Hysteria2", "Hysteria2 is not supported by this engine build");
    return nullptr;
}

} // namespace qivro::engine
