#include "inbound/tun/tuninbound.h"

#include "common/log.h"
#include "inbound/tun/tunconnection.h"
#include "inbound/tun/tunudpsession.h"
#include "outbound/dialer.h"

#include <algorithm>
#include <asio/ip/v6_only.hpp>
#include <asio/post.hpp>
#include <cstring>
#if defined(__linux__)
#include <netinet/in.h>
#include <netinet/tcp.h>
#endif

namespace qivro::engine {

namespace {

// Packets handled per turn of the event loop before others get theirs.
constexpr int packetsPerTurn = 64;

bool isLocalhost(const std::string &host)
{
    return host == "localhost"
        || (host.size() > 10 && host.compare(host.size() - 10, 10, ".localhost") == 0);
}

// The listener's connections reach the application through the device, where the only delay is
// the engine's own turn-around. A model-based algorithm (the system's default may be one) sizes
// its window and pacing from the shortest turn-around it saw and so keeps the connection waiting
// for acknowledgements; a loss-based one fills the socket's buffer. Accepted connections inherit
// the choice.
void preferLossBased(asio::ip::tcp::acceptor &acceptor)
{
#if defined(__linux__)
    for (const char *name : {"cubic", "reno"}) {
        if (::setsockopt(acceptor.native_handle(), IPPROTO_TCP, TCP_CONGESTION, name,
                static_cast<socklen_t>(std::strlen(name)))
            == 0)
            return;
    }
#else
    (void)acceptor;
#endif
}

} // namespace

TunInbound::TunInbound(asio::io_context &io, const InboundConfig &config, Services &services)
    : m_io(io)
    , m_config(config)
    , m_services(services)
    , m_expiry(io)
{ }

TunInbound::~TunInbound()
{
    close();
}

std::string TunInbound::interfaceName() const
{
    return m_platform ? m_platform->interfaceName() : std::string();
}

bool TunInbound::open(std::string &error)
{
    const std::string where = "start " + logPrefix() + ": ";
    tun::StackAddresses listen;
    for (const IpPrefix &prefix : m_config.address) {
        if (prefix.address.is_v4() && !listen.inet4)
            listen.inet4 = prefix.address.to_v4();
        if (prefix.address.is_v6() && !listen.inet6)
            listen.inet6 = prefix.address.to_v6();
    }
    if (!listen.inet4 && !listen.inet6) {
        error = where + "missing interface address";
        return false;
    }
    if (m_config.stack == "gvisor" || m_config.stack == "mixed")
        logInfo(logPrefix(), ": stack ", m_config.stack, " runs as the system stack");
    m_platform = tun::createTunPlatform();
    if (!m_platform) {
        error = where + "configure tun interface: TUN is not supported on this system";
        return false;
    }
    std::string reason;
    std::unique_ptr<tun::PacketDevice> device = m_platform->open(m_io, m_config, reason);
    if (!device) {
        error = where + "configure tun interface: " + reason;
        return false;
    }
    if (!openWith(std::move(device), listen, error))
        return false;
    if (m_config.autoRoute) {
        if (!m_platform->route(m_config, reason)) {
            error = where + "configure tun interface: auto route: " + reason;
            close();
            return false;
        }
        // The system's resolver would ask through the TUN and get the engine's own fake answers.
        if (m_services.dns.serverText() != "none") {
            setResolver([&dns = m_services.dns](const asio::any_io_executor &executor,
                            const std::string &host, ResolveHandler handler) {
                if (isLocalhost(host)) {
                    asio::post(executor, [handler = std::move(handler)] {
                        handler({}, {asio::ip::address_v4::loopback()});
                    });
                    return;
                }
                dns.lookup(executor, host, std::move(handler));
            });
        } else {
            logWarn(logPrefix(), ": no plain DNS server for the engine's own lookups");
        }
    }
    logInfo(logPrefix(), ": started at ", interfaceName());
    return true;
}

bool TunInbound::openWith(std::unique_ptr<tun::PacketDevice> device,
    const tun::StackAddresses &addresses, std::string &error)
{
    m_device = std::move(device);
    m_stack = std::make_unique<tun::SystemStack>(
        *m_device, *this, std::chrono::milliseconds(m_config.udpTimeoutMs));
    // Offloaded segments reach 64 KiB whatever the MTU.
    m_buffer.resize(m_device->headerSize()
        + (m_device->headerSize() ? 65536 : std::max<std::size_t>(m_config.mtu, 1500)));
    if (!listen(addresses, error)) {
        close();
        return false;
    }
    return true;
}

bool TunInbound::listen(const tun::StackAddresses &addresses, std::string &error)
{
    tun::StackAddresses bound = addresses;
    for (const bool v6 : {false, true}) {
        if (v6 ? !addresses.inet6 : !addresses.inet4)
            continue;
        const asio::ip::address address
            = v6 ? asio::ip::address(*addresses.inet6) : asio::ip::address(*addresses.inet4);
        const asio::ip::tcp::endpoint endpoint(address, 0);
        auto acceptor = std::make_unique<asio::ip::tcp::acceptor>(m_io);
        std::error_code code;
        acceptor->open(endpoint.protocol(), code);
        if (!code && v6)
            acceptor->set_option(asio::ip::v6_only(true), code);
        if (!code)
            preferLossBased(*acceptor);
        if (!code)
            acceptor->bind(endpoint, code);
        if (!code)
            acceptor->listen(asio::socket_base::max_listen_connections, code);
        if (code) {
            error = "start " + logPrefix() + ": listen tcp "
                + Destination {{}, address, 0}.toString() + ": " + code.message();
            return false;
        }
        (v6 ? bound.port6 : bound.port4) = acceptor->local_endpoint(code).port();
        m_acceptors.push_back(std::move(acceptor));
    }
    m_stack->setAddresses(bound);
    return true;
}

void TunInbound::start()
{
    for (auto &acceptor : m_acceptors)
        accept(*acceptor);
    armExpiry();
    readPackets();
}

void TunInbound::close()
{
    if (m_closed)
        return;
    m_closed = true;
    if (m_config.autoRoute)
        setResolver({});
    if (m_platform)
        m_platform->restore();
    std::error_code ignored;
    for (auto &acceptor : m_acceptors)
        acceptor->close(ignored);
    m_expiry.cancel();
    if (m_device)
        m_device->close();
}

void TunInbound::readPackets()
{
    if (m_closed)
        return;
    const auto now = tun::SystemStack::Clock::now();
    for (int i = 0; i < packetsPerTurn; ++i) {
        std::error_code error;
        const std::size_t size = m_device->read(m_buffer.data(), m_buffer.size(), error);
        if (error) {
            logError(logPrefix(), ": read packet: ", error.message());
            return;
        }
        if (size == 0) {
            m_device->asyncWait([self = shared_from_this()](const std::error_code &waitError) {
                if (!waitError)
                    self->readPackets();
            });
            return;
        }
        m_stack->input(m_buffer.data(), size, now);
    }
    asio::post(m_io, [self = shared_from_this()] { self->readPackets(); });
}

void TunInbound::accept(asio::ip::tcp::acceptor &acceptor)
{
    acceptor.async_accept([self = shared_from_this(), &acceptor](
                              const std::error_code &error, asio::ip::tcp::socket socket) {
        if (error == asio::error::operation_aborted || self->m_closed)
            return;
        if (!error) {
            std::error_code ignored;
            const asio::ip::tcp::endpoint peer = socket.remote_endpoint(ignored);
            const std::optional<tun::Flow> flow
                = self->m_stack->accepted(peer.address(), peer.port());
            if (flow) {
                Destination destination {{}, flow->dst.toAddress(), flow->dport};
                destination = self->m_services.dnsRouter.restore(destination);
                std::weak_ptr<TunInbound> weak = self;
                const std::uint16_t port = peer.port();
                std::make_shared<TunConnection>(self->m_config, self->m_services, std::move(socket),
                    Destination {{}, flow->src.toAddress(), flow->sport}, destination,
                    [weak, port] {
                        if (auto inbound = weak.lock(); inbound && !inbound->m_closed)
                            inbound->m_stack->closed(port);
                    })
                    ->start();
            } else {
                // Not one of ours: someone reached the listener directly.
                socket.close(ignored);
            }
        } else {
            logWarn(self->logPrefix(), ": accept: ", error.message());
        }
        self->accept(acceptor);
    });
}

void TunInbound::armExpiry()
{
    const auto interval = std::clamp(std::chrono::milliseconds(m_config.udpTimeoutMs / 4),
        std::chrono::milliseconds(100), std::chrono::milliseconds(10000));
    m_expiry.expires_after(interval);
    m_expiry.async_wait([weak = weak_from_this()](const std::error_code &error) {
        auto self = weak.lock();
        if (error || !self || self->m_closed)
            return;
        self->m_stack->expire();
        self->armExpiry();
    });
}

std::shared_ptr<tun::UdpSession> TunInbound::openUdp(
    const tun::Flow &flow, const std::uint8_t *payload, std::size_t size)
{
    std::weak_ptr<TunInbound> weak = shared_from_this();
    auto session = std::make_shared<TunUdpSession>(
        m_io.get_executor(), m_config, m_services, flow,
        [weak](const tun::Flow &replyFlow, const std::uint8_t *data, std::size_t length) {
            if (auto self = weak.lock(); self && !self->m_closed)
                self->m_stack->replyUdp(replyFlow, data, length);
        },
        [weak](const tun::Flow &removeFlow) {
            if (auto self = weak.lock(); self && !self->m_closed)
                self->m_stack->removeUdp(removeFlow);
        });
    if (!session->begin(payload, size))
        return nullptr;
    return session;
}

} // namespace qivro::engine
