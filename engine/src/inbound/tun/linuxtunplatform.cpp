#include "inbound/tun/linuxtunplatform.h"

#include "inbound/tun/linuxnetwork.h"
#include "inbound/tun/linuxtundevice.h"
#include "outbound/dialer.h"

namespace qivro::engine::tun {

namespace {

LinuxNetwork::Options networkOptions(const InboundConfig &config, const std::string &name)
{
    LinuxNetwork::Options options;
    options.interfaceName = name;
    options.mtu = config.mtu;
    options.addresses = config.address;
    options.strictRoute = config.strictRoute;
    options.routeAddress = config.routeAddress;
    options.routeExcludeAddress = config.routeExcludeAddress;
    options.table = config.iproute2TableIndex;
    options.priority = config.iproute2RuleIndex;
    return options;
}

} // namespace

std::unique_ptr<TunPlatform> createTunPlatform()
{
    return std::make_unique<LinuxTunPlatform>();
}

LinuxTunPlatform::~LinuxTunPlatform()
{
    restore();
}

std::unique_ptr<PacketDevice> LinuxTunPlatform::open(
    asio::io_context &io, const InboundConfig &config, std::string &error)
{
    // Rules a crashed run left behind would still steer traffic towards a TUN that is gone.
    LinuxNetwork::removeRoutes(config.iproute2TableIndex, config.iproute2RuleIndex);
    std::unique_ptr<LinuxTunDevice> device
        = LinuxTunDevice::open(io, config.interfaceName, true, error);
    if (!device)
        return nullptr;
    m_name = device->name();
    if (!LinuxNetwork::configureInterface(networkOptions(config, m_name), error))
        return nullptr;
    return device;
}

bool LinuxTunPlatform::route(const InboundConfig &config, std::string &error)
{
    m_table = config.iproute2TableIndex;
    m_priority = config.iproute2RuleIndex;
    m_routed = true;
    if (!LinuxNetwork::installRoutes(networkOptions(config, m_name), error))
        return false;
    SocketControl control;
    control.mark = LinuxNetwork::socketMark;
    setSocketControl(control);
    return true;
}

void LinuxTunPlatform::restore()
{
    if (!m_routed)
        return;
    m_routed = false;
    setSocketControl({});
    LinuxNetwork::removeRoutes(m_table, m_priority);
}

} // namespace qivro::engine::tun
