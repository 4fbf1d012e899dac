// The TUN inbound: the system's TUN device, the system stack on its packets, the listeners that
// receive its TCP connections, and auto_route while it runs.
#pragma once

#include "config/config.h"
#include "inbound/tun/packetdevice.h"
#include "inbound/tun/systemstack.h"
#include "inbound/tun/tunplatform.h"
#include "runtime/services.h"

#include <asio/io_context.hpp>
#include <asio/ip/tcp.hpp>
#include <asio/steady_timer.hpp>
#include <memory>
#include <string>
#include <vector>

namespace qivro::engine {

class TunInbound
    : public std::enable_shared_from_this<TunInbound>
    , public tun::StackHandler
{
public:
    TunInbound(asio::io_context &io, const InboundConfig &config, Services &services);
    ~TunInbound() override;

    // Creates the device, binds the listeners on its addresses and, with auto_route, routes the
    // system's traffic into it; error in the engine's "start inbound/tun[...]: ..." form.
    bool open(std::string &error);
    // The same on a given device (a stand-in), listening on the given addresses; no routes.
    bool openWith(std::unique_ptr<tun::PacketDevice> device, const tun::StackAddresses &listen,
        std::string &error);
    void start();
    void close();

    std::string logPrefix() const { return "inbound/tun[" + m_config.tag + "]"; }
    std::string interfaceName() const;
    const tun::SystemStack &stack() const { return *m_stack; }

private:
    bool listen(const tun::StackAddresses &addresses, std::string &error);
    void accept(asio::ip::tcp::acceptor &acceptor);
    void readPackets();
    void armExpiry();
    std::shared_ptr<tun::UdpSession> openUdp(
        const tun::Flow &flow, const std::uint8_t *payload, std::size_t size) override;

    asio::io_context &m_io;
    InboundConfig m_config;
    Services &m_services;
    std::unique_ptr<tun::TunPlatform> m_platform;
    std::unique_ptr<tun::PacketDevice> m_device;
    std::unique_ptr<tun::SystemStack> m_stack;
    std::vector<std::unique_ptr<asio::ip::tcp::acceptor>> m_acceptors;
    asio::steady_timer m_expiry;
    std::vector<std::uint8_t> m_buffer;
    bool m_closed = false;
};

} // namespace qivro::engine
