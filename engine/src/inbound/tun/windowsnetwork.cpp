#include "inbound/tun/windowsnetwork.h"

#include "common/log.h"
#include "inbound/tun/tunplatform.h"

#include <cstring>
#include <limits>
#include <system_error>

// Windows headers in the order they need: winsock2.h before windows.h and the IP Helper ones.
// clang-format off
#include <winsock2.h>
#include <ws2ipdef.h>
#include <iphlpapi.h>
#include <netioapi.h>
// clang-format on

namespace qivro::engine::tun {

namespace {

std::string failure(const std::string &what, DWORD code)
{
    return what + ": " + std::system_category().message(static_cast<int>(code));
}

SOCKADDR_INET sockaddrOf(const asio::ip::address &address)
{
    SOCKADDR_INET out {};
    if (address.is_v4()) {
        out.Ipv4.sin_family = AF_INET;
        const auto bytes = address.to_v4().to_bytes();
        std::memcpy(&out.Ipv4.sin_addr, bytes.data(), bytes.size());
    } else {
        out.Ipv6.sin6_family = AF_INET6;
        const auto bytes = address.to_v6().to_bytes();
        std::memcpy(&out.Ipv6.sin6_addr, bytes.data(), bytes.size());
    }
    return out;
}

// The network of a prefix (host bits cleared), as routes want it.
asio::ip::address networkOf(const IpPrefix &prefix)
{
    if (prefix.address.is_v4()) {
        const std::uint32_t mask = prefix.length == 0 ? 0 : 0xFFFFFFFFu << (32 - prefix.length);
        return asio::ip::address_v4(prefix.address.to_v4().to_uint() & mask);
    }
    auto bytes = prefix.address.to_v6().to_bytes();
    for (int bit = prefix.length; bit < 128; ++bit)
        bytes[static_cast<std::size_t>(bit / 8)]
            &= static_cast<unsigned char>(~(0x80 >> (bit % 8)));
    return asio::ip::address_v6(bytes);
}

// SetInterfaceDnsSettings and its structure (Windows 10 2004 and later); MinGW's headers lack
// both, so the function is looked up at run time.
struct DnsInterfaceSettings
{
    ULONG version;
    ULONG64 flags;
    PWSTR domain;
    PWSTR nameServer;
    PWSTR searchList;
    ULONG registrationEnabled;
    ULONG registerAdapterName;
    ULONG enableLlmnr;
    ULONG queryAdapterName;
    PWSTR profileNameServer;
};
constexpr ULONG64 dnsSettingIpv6 = 0x1;
constexpr ULONG64 dnsSettingNameServer = 0x2;
using SetInterfaceDnsSettingsFn = DWORD(WINAPI *)(GUID, const DnsInterfaceSettings *);

bool setDnsServer(const NET_LUID &luid, const asio::ip::address &server, std::string &error)
{
    const auto set = reinterpret_cast<SetInterfaceDnsSettingsFn>(reinterpret_cast<void *>(
        GetProcAddress(GetModuleHandleW(L"iphlpapi.dll"), "SetInterfaceDnsSettings")));
    if (!set) {
        logWarn("tun: this Windows cannot set an adapter's DNS server; DNS may bypass the TUN");
        return true;
    }
    GUID guid;
    if (const DWORD code = ConvertInterfaceLuidToGuid(&luid, &guid); code != NO_ERROR) {
        error = failure("adapter guid", code);
        return false;
    }
    const std::string text = server.to_string();
    std::wstring wide(text.begin(), text.end());
    DnsInterfaceSettings settings {};
    settings.version = 1;
    settings.flags = dnsSettingNameServer | (server.is_v6() ? dnsSettingIpv6 : 0);
    settings.nameServer = wide.data();
    if (const DWORD code = set(guid, &settings); code != NO_ERROR) {
        error = failure("set DNS server " + text, code);
        return false;
    }
    return true;
}

asio::ip::address nextAddress(const asio::ip::address &address)
{
    if (address.is_v4())
        return asio::ip::address_v4(address.to_v4().to_uint() + 1);
    auto bytes = address.to_v6().to_bytes();
    for (std::size_t i = bytes.size(); i-- > 0;) {
        if (++bytes[i] != 0)
            break;
    }
    return asio::ip::address_v6(bytes);
}

bool addRoute(const NET_LUID &luid, const IpPrefix &prefix, const SOCKADDR_INET *nextHop,
    ULONG metric, std::string &error)
{
    MIB_IPFORWARD_ROW2 row;
    InitializeIpForwardEntry(&row);
    row.InterfaceLuid = luid;
    row.DestinationPrefix.Prefix = sockaddrOf(networkOf(prefix));
    row.DestinationPrefix.PrefixLength = static_cast<UINT8>(prefix.length);
    if (nextHop)
        row.NextHop = *nextHop;
    else
        row.NextHop.si_family = row.DestinationPrefix.Prefix.si_family; // on the link
    row.Metric = metric;
    row.Protocol = static_cast<NL_ROUTE_PROTOCOL>(MIB_IPPROTO_NETMGMT);
    const DWORD code = CreateIpForwardEntry2(&row);
    if (code != NO_ERROR && code != ERROR_OBJECT_ALREADY_EXISTS) {
        error = failure(
            "add route " + prefix.address.to_string() + "/" + std::to_string(prefix.length), code);
        return false;
    }
    return true;
}

// The lowest-metric default route of a family outside the adapter (route and interface metric
// together, as Windows weighs them).
bool bestDefault(bool v6, std::uint64_t adapter, MIB_IPFORWARD_ROW2 &best)
{
    PMIB_IPFORWARD_TABLE2 table = nullptr;
    if (GetIpForwardTable2(v6 ? AF_INET6 : AF_INET, &table) != NO_ERROR)
        return false;
    ULONG bestMetric = std::numeric_limits<ULONG>::max();
    for (ULONG i = 0; i < table->NumEntries; ++i) {
        const MIB_IPFORWARD_ROW2 &row = table->Table[i];
        if (row.DestinationPrefix.PrefixLength != 0 || row.InterfaceLuid.Value == adapter)
            continue;
        MIB_IPINTERFACE_ROW interfaceRow;
        InitializeIpInterfaceEntry(&interfaceRow);
        interfaceRow.Family = v6 ? AF_INET6 : AF_INET;
        interfaceRow.InterfaceLuid = row.InterfaceLuid;
        if (GetIpInterfaceEntry(&interfaceRow) != NO_ERROR || !interfaceRow.Connected)
            continue;
        const ULONG metric = row.Metric + interfaceRow.Metric;
        if (metric < bestMetric) {
            bestMetric = metric;
            best = row;
        }
    }
    FreeMibTable(table);
    return bestMetric != std::numeric_limits<ULONG>::max();
}

} // namespace

bool WindowsNetwork::configureInterface(const Options &options, std::string &error)
{
    NET_LUID luid;
    luid.Value = options.luid;
    bool families[2] = {false, false};
    for (const IpPrefix &prefix : options.addresses) {
        MIB_UNICASTIPADDRESS_ROW row;
        InitializeUnicastIpAddressEntry(&row);
        row.InterfaceLuid = luid;
        row.Address = sockaddrOf(prefix.address);
        row.OnLinkPrefixLength = static_cast<UINT8>(prefix.length);
        row.DadState = IpDadStatePreferred;
        const DWORD code = CreateUnicastIpAddressEntry(&row);
        if (code != NO_ERROR && code != ERROR_OBJECT_ALREADY_EXISTS) {
            error = failure("add address " + prefix.address.to_string(), code);
            return false;
        }
        families[prefix.address.is_v6()] = true;
    }
    for (const bool v6 : {false, true}) {
        if (!families[v6])
            continue;
        MIB_IPINTERFACE_ROW row;
        InitializeIpInterfaceEntry(&row);
        row.Family = v6 ? AF_INET6 : AF_INET;
        row.InterfaceLuid = luid;
        if (const DWORD code = GetIpInterfaceEntry(&row); code != NO_ERROR) {
            error = failure("read interface", code);
            return false;
        }
        // The adapter's routes win over the physical interface's at equal prefix length.
        row.NlMtu = options.mtu;
        row.UseAutomaticMetric = FALSE;
        row.Metric = 0;
        if (!v6)
            row.SitePrefixLength = 0; // Windows refuses anything else for IPv4
        if (const DWORD code = SetIpInterfaceEntry(&row); code != NO_ERROR) {
            error = failure("set mtu and metric", code);
            return false;
        }
    }
    for (const IpPrefix &prefix : options.addresses) {
        if (!setDnsServer(luid, nextAddress(prefix.address), error))
            return false;
    }
    return true;
}

bool WindowsNetwork::installRoutes(const Options &options, std::string &error)
{
    removeExcludedRoutes();
    NET_LUID luid;
    luid.Value = options.luid;
    for (const bool v6 : {false, true}) {
        bool own = false;
        for (const IpPrefix &prefix : options.addresses)
            own = own || prefix.address.is_v6() == v6;
        if (!own)
            continue;
        for (const IpPrefix &prefix : routedPrefixes(options.routeAddress, v6)) {
            if (!addRoute(luid, prefix, nullptr, 0, error))
                return false;
        }
        MIB_IPFORWARD_ROW2 physical;
        bool found = false;
        for (const IpPrefix &prefix : options.routeExcludeAddress) {
            if (prefix.address.is_v6() != v6)
                continue;
            if (!found && !(found = bestDefault(v6, options.luid, physical))) {
                error = "route_exclude_address: no default route outside the TUN";
                return false;
            }
            if (!addRoute(physical.InterfaceLuid, prefix, &physical.NextHop, excludeMetric, error))
                return false;
        }
    }
    return true;
}

void WindowsNetwork::removeExcludedRoutes()
{
    PMIB_IPFORWARD_TABLE2 table = nullptr;
    if (GetIpForwardTable2(AF_UNSPEC, &table) != NO_ERROR)
        return;
    for (ULONG i = 0; i < table->NumEntries; ++i) {
        MIB_IPFORWARD_ROW2 &row = table->Table[i];
        if (row.Metric == excludeMetric
            && row.Protocol == static_cast<NL_ROUTE_PROTOCOL>(MIB_IPPROTO_NETMGMT)
            && row.DestinationPrefix.PrefixLength > 0)
            DeleteIpForwardEntry2(&row);
    }
    FreeMibTable(table);
}

unsigned WindowsNetwork::defaultInterface(bool v6, std::uint64_t adapterLuid)
{
    MIB_IPFORWARD_ROW2 best;
    return bestDefault(v6, adapterLuid, best) ? best.InterfaceIndex : 0;
}

} // namespace qivro::engine::tun
