// The Windows side of a TUN inbound, over the IP Helper API: the adapter's addresses, MTU,
// metric and DNS server, auto_route's routes, and the physical interface the engine's own
// sockets are pinned to.
#pragma once

#include "config/config.h"

#include <cstdint>
#include <string>
#include <vector>

namespace qivro::engine::tun {

class WindowsNetwork
{
public:
    // Routes this engine adds outside its adapter (route_exclude_address) carry this metric, so
    // the ones a crashed run left are found at the next start.
    static constexpr unsigned long excludeMetric = 2022;

    struct Options
    {
        std::uint64_t luid = 0;
        std::uint32_t mtu = 9000;
        std::vector<IpPrefix> addresses;
        std::vector<IpPrefix> routeAddress;
        std::vector<IpPrefix> routeExcludeAddress;
    };

    // Addresses, MTU, a metric of 0 (no automatic metric), and the DNS server at the first
    // address + 1, which routes into the TUN where the engine answers it.
    static bool configureInterface(const Options &options, std::string &error);
    // The default route (or route_address) on the adapter; route_exclude_address through the
    // physical default gateway.
    static bool installRoutes(const Options &options, std::string &error);
    // The routes installRoutes put outside the adapter, from this run or an earlier one.
    static void removeExcludedRoutes();
    // The interface index the default route leaves by, not counting the adapter; 0 for none.
    static unsigned defaultInterface(bool v6, std::uint64_t adapterLuid);
};

} // namespace qivro::engine::tun
