// strict_route on Windows: filters in a dynamic filtering session (Windows Filtering Platform),
// which the system removes with the session, so a crashed engine leaves none behind. Outgoing
// connections may leave by the TUN or belong to the engine itself; DNS anywhere else, and IPv6
// when the TUN has none, is blocked. Connections into the engine's listener are let in.
#pragma once

#include <cstdint>
#include <string>

namespace qivro::engine::tun {

class WindowsFirewall
{
public:
    WindowsFirewall() = default;
    ~WindowsFirewall();
    WindowsFirewall(const WindowsFirewall &) = delete;
    WindowsFirewall &operator=(const WindowsFirewall &) = delete;

    bool install(std::uint64_t adapterLuid, bool blockIpv6, std::string &error);
    void remove();

private:
    void *m_engine = nullptr;
};

} // namespace qivro::engine::tun
