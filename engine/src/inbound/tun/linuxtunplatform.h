// TUN on Linux: /dev/net/tun, route netlink, and a firewall mark on the engine's own sockets.
#pragma once

#include "inbound/tun/tunplatform.h"

namespace qivro::engine::tun {

class LinuxTunPlatform : public TunPlatform
{
public:
    ~LinuxTunPlatform() override;
    std::unique_ptr<PacketDevice> open(
        asio::io_context &io, const InboundConfig &config, std::string &error) override;
    std::string interfaceName() const override { return m_name; }
    bool route(const InboundConfig &config, std::string &error) override;
    void restore() override;

private:
    std::string m_name;
    bool m_routed = false;
    std::uint32_t m_table = 0;
    std::uint32_t m_priority = 0;
};

} // namespace qivro::engine::tun
