#include "outbound/dialguard.h"

#include "common/address.h"
#include "common/log.h"

#include <asio/ip/udp.hpp>

#if defined(_WIN32)
#include <winsock2.h>
#else
#include <sys/socket.h>
#include <unistd.h>
#endif

namespace qivro::engine {

namespace {

constexpr const char *refusalMarker = "destination refused: ";
constexpr std::size_t warnedClientsKept = 4096;

// The address a connection to ip really reaches: connecting to the unspecified address reaches
// this host's loopback.
asio::ip::address effective(const asio::ip::address &ip)
{
    if (ip.is_v6() && ip.to_v6().is_v4_mapped())
        return effective(asio::ip::make_address_v4(asio::ip::v4_mapped, ip.to_v6()));
    if (ip.is_unspecified())
        return ip.is_v4() ? asio::ip::address(asio::ip::address_v4::loopback())
                          : asio::ip::address(asio::ip::address_v6::loopback());
    return ip;
}

// Only addresses of this host can be bound, so a bind decides what a wildcard listener serves
// without walking the interfaces. When no socket can be made, the answer errs on "ours".
bool isLocalAddress(const asio::ip::address &ip)
{
    const asio::ip::udp::endpoint endpoint(ip, 0);
#if defined(_WIN32)
    const SOCKET handle = ::socket(endpoint.protocol().family(), SOCK_DGRAM, 0);
    if (handle == INVALID_SOCKET)
        return true;
    const bool bound = ::bind(handle, endpoint.data(), static_cast<int>(endpoint.size())) == 0;
    ::closesocket(handle);
#else
    int type = SOCK_DGRAM;
#if defined(SOCK_CLOEXEC)
    type |= SOCK_CLOEXEC;
#endif
    const int handle = ::socket(endpoint.protocol().family(), type, 0);
    if (handle < 0)
        return true;
    const bool bound
        = ::bind(handle, endpoint.data(), static_cast<socklen_t>(endpoint.size())) == 0;
    ::close(handle);
#endif
    return bound;
}

} // namespace

bool isLoopbackAddress(const asio::ip::address &address)
{
    if (address.is_v6() && address.to_v6().is_v4_mapped())
        return isLoopbackAddress(asio::ip::make_address_v4(asio::ip::v4_mapped, address.to_v6()));
    return address.is_v4() ? (address.to_v4().to_uint() >> 24) == 127
                           : address.to_v6().is_loopback();
}

void DialGuard::addListener(const asio::ip::tcp::endpoint &endpoint)
{
    m_listeners.push_back(endpoint);
}

bool DialGuard::isListener(const asio::ip::address &address, std::uint16_t port) const
{
    const asio::ip::address ip = effective(address);
    for (const asio::ip::tcp::endpoint &listener : m_listeners) {
        if (listener.port() != port)
            continue;
        const asio::ip::address bound = listener.address();
        if (!bound.is_unspecified()) {
            if (effective(bound) == ip)
                return true;
            continue;
        }
        // "::" serves IPv4 as well; "0.0.0.0" only IPv4.
        if ((ip.is_v4() || bound.is_v6()) && isLocalAddress(ip))
            return true;
    }
    return false;
}

std::string DialGuard::check(const asio::ip::address &address, std::uint16_t port,
    const std::optional<asio::ip::address> &client) const
{
    std::string reason;
    if (isListener(address, port))
        reason = "the engine's own listener";
    else if (client && !isLoopbackAddress(*client) && isLoopbackAddress(effective(address)))
        reason = "loopback of this machine, asked for by a client on another machine";
    if (reason.empty())
        return {};
    reason = refusalMarker + reason;
    logOnce(client.value_or(asio::ip::address()),
        Destination {{}, address, port}.toString() + ": " + reason);
    return reason;
}

bool DialGuard::isRefusal(const std::string &error)
{
    return error.find(refusalMarker) != std::string::npos;
}

void DialGuard::logOnce(const asio::ip::address &client, const std::string &what) const
{
    {
        std::lock_guard lock(m_mutex);
        if (m_warned.size() >= warnedClientsKept)
            m_warned.clear();
        if (!m_warned.insert(client).second) {
            logDebug("client ", client.to_string(), ": ", what);
            return;
        }
    }
    logWarn("client ", client.to_string(), ": ", what, " (logged once per client)");
}

} // namespace qivro::engine
