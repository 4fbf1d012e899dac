// TUN on Windows: a wintun adapter configured through the IP Helper API, strict_route through
// the filtering platform, and the engine's own sockets pinned to the physical interface
// (IP_UNICAST_IF), kept current as the default route moves.
#pragma once

#include "inbound/tun/tunplatform.h"
#include "inbound/tun/windowsfirewall.h"

#include <cstdint>

namespace qivro::engine::tun {

class WindowsTunPlatform : public TunPlatform
{
public:
    ~WindowsTunPlatform() override;
    std::unique_ptr<PacketDevice> open(
        asio::io_context &io, const InboundConfig &config, std::string &error) override;
    std::string interfaceName() const override { return m_name; }
    bool route(const InboundConfig &config, std::string &error) override;
    void restore() override;

    // Points the engine's sockets at the interfaces the default routes now leave by.
    void pinSockets();

private:
    std::string m_name;
    std::uint64_t m_luid = 0;
    WindowsFirewall m_firewall;
    void *m_routeNotification = nullptr;
    bool m_routed = false;
};

} // namespace qivro::engine::tun
