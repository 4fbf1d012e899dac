#include "inbound/tun/windowstunplatform.h"

#include "common/log.h"
#include "inbound/tun/windowsnetwork.h"
#include "inbound/tun/wintundevice.h"
#include "outbound/dialer.h"

// Windows headers in the order they need: winsock2.h before windows.h and the IP Helper ones.
// clang-format off
#include <winsock2.h>
#include <ws2ipdef.h>
#include <iphlpapi.h>
#include <netioapi.h>
// clang-format on

namespace qivro::engine::tun {

namespace {

WindowsNetwork::Options networkOptions(const InboundConfig &config, std::uint64_t luid)
{
    WindowsNetwork::Options options;
    options.luid = luid;
    options.mtu = config.mtu;
    options.addresses = config.address;
    options.routeAddress = config.routeAddress;
    options.routeExcludeAddress = config.routeExcludeAddress;
    return options;
}

void WINAPI routeChanged(PVOID context, PMIB_IPFORWARD_ROW2, MIB_NOTIFICATION_TYPE)
{
    static_cast<WindowsTunPlatform *>(context)->pinSockets();
}

} // namespace

std::unique_ptr<TunPlatform> createTunPlatform()
{
    return std::make_unique<WindowsTunPlatform>();
}

WindowsTunPlatform::~WindowsTunPlatform()
{
    restore();
}

std::unique_ptr<PacketDevice> WindowsTunPlatform::open(
    asio::io_context &io, const InboundConfig &config, std::string &error)
{
    std::unique_ptr<WintunDevice> device = WintunDevice::open(io, config.interfaceName, error);
    if (!device)
        return nullptr;
    m_name = config.interfaceName.empty() ? "qivro" : config.interfaceName;
    m_luid = device->luid();
    if (!WindowsNetwork::configureInterface(networkOptions(config, m_luid), error))
        return nullptr;
    return device;
}

bool WindowsTunPlatform::route(const InboundConfig &config, std::string &error)
{
    m_routed = true;
    // Pinned first: from the moment the default route points into the TUN, a socket of the
    // engine's own that is not pinned would loop back into it.
    pinSockets();
    HANDLE notification = nullptr;
    if (NotifyRouteChange2(AF_UNSPEC, routeChanged, this, FALSE, &notification) == NO_ERROR)
        m_routeNotification = notification;
    if (!WindowsNetwork::installRoutes(networkOptions(config, m_luid), error))
        return false;
    if (config.strictRoute) {
        bool ipv6 = false;
        for (const IpPrefix &prefix : config.address)
            ipv6 = ipv6 || prefix.address.is_v6();
        if (!m_firewall.install(m_luid, !ipv6, error))
            return false;
    }
    return true;
}

void WindowsTunPlatform::pinSockets()
{
    SocketControl control;
    control.interface4 = WindowsNetwork::defaultInterface(false, m_luid);
    control.interface6 = WindowsNetwork::defaultInterface(true, m_luid);
    if (control.interface4 == 0 && control.interface6 == 0)
        logWarn("tun: no default route outside the TUN; the engine's connections wait for one");
    setSocketControl(control);
}

void WindowsTunPlatform::restore()
{
    if (!m_routed)
        return;
    m_routed = false;
    if (m_routeNotification)
        CancelMibChangeNotify2(static_cast<HANDLE>(m_routeNotification));
    m_routeNotification = nullptr;
    m_firewall.remove();
    WindowsNetwork::removeExcludedRoutes();
    setSocketControl({});
}

} // namespace qivro::engine::tun
