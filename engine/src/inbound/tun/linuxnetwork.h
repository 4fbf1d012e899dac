// The Linux side of a TUN inbound, over route netlink: the interface's addresses, MTU and state,
// and auto_route's table and policy rules. The rules carry a protocol number of their own, so
// the ones a crashed run left behind are found and removed before new ones go in.
#pragma once

#include "config/config.h"

#include <cstdint>
#include <string>
#include <vector>

namespace qivro::engine::tun {

class LinuxNetwork
{
public:
    // Marks the rules and routes this engine adds (their protocol field).
    static constexpr std::uint8_t ruleProtocol = 0x71;
    // The firewall mark of the engine's own sockets: their rule sends them past the TUN.
    static constexpr std::uint32_t socketMark = 0x71760000;

    struct Options
    {
        std::string interfaceName;
        std::uint32_t mtu = 9000;
        std::vector<IpPrefix> addresses;
        bool strictRoute = false;
        std::vector<IpPrefix> routeAddress;
        std::vector<IpPrefix> routeExcludeAddress;
        std::uint32_t table = 2022;
        std::uint32_t priority = 9000;
    };

    // MTU, addresses (IPv6 without duplicate address detection, so the listener can bind at
    // once) and the link up.
    static bool configureInterface(const Options &options, std::string &error);
    // auto_route's routes in its table and the rules that send traffic there.
    static bool installRoutes(const Options &options, std::string &error);
    // Every rule and table route of ours at these indexes, from this run or an earlier one.
    static void removeRoutes(std::uint32_t table, std::uint32_t priority);
};

} // namespace qivro::engine::tun
