// The operating system's side of a TUN inbound: the device, its addresses, and auto_route with
// what keeps the engine's own sockets out of the TUN. One implementation per system.
#pragma once

#include "config/config.h"
#include "inbound/tun/packetdevice.h"

#include <asio/io_context.hpp>
#include <memory>
#include <string>
#include <vector>

namespace qivro::engine::tun {

class TunPlatform
{
public:
    virtual ~TunPlatform() = default;
    // The device with the inbound's name, addresses and MTU, up and ready to bind to.
    virtual std::unique_ptr<PacketDevice> open(
        asio::io_context &io, const InboundConfig &config, std::string &error)
        = 0;
    // The interface's name as the system knows it.
    virtual std::string interfaceName() const = 0;
    // auto_route (with strict_route and the address lists) and the engine's loop avoidance.
    virtual bool route(const InboundConfig &config, std::string &error) = 0;
    // Undoes route(); safe to call when it never ran.
    virtual void restore() = 0;
};

// nullptr on a system without TUN support in this build.
std::unique_ptr<TunPlatform> createTunPlatform();

// What auto_route sends into the TUN for one family: route_address's prefixes of it, or all.
inline std::vector<IpPrefix> routedPrefixes(const std::vector<IpPrefix> &routeAddress, bool v6)
{
    std::vector<IpPrefix> routes;
    for (const IpPrefix &prefix : routeAddress) {
        if (prefix.address.is_v6() == v6)
            routes.push_back(prefix);
    }
    if (routes.empty())
        routes.push_back({v6 ? asio::ip::address(asio::ip::address_v6())
                             : asio::ip::address(asio::ip::address_v4()),
            0});
    return routes;
}

} // namespace qivro::engine::tun
