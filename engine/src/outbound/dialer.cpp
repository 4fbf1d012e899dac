#include "outbound/dialer.h"

#include "common/address.h"
#include "common/stream.h"

#include <asio/post.hpp>
#include <asio/steady_timer.hpp>
#include <chrono>
#include <memory>
#include <mutex>

#if defined(_WIN32)
#include <winsock2.h>
#include <ws2tcpip.h>
#elif defined(__linux__)
#include <sys/socket.h>
#endif

namespace qivro::engine {

namespace {

std::mutex &settingsMutex()
{
    static std::mutex mutex;
    return mutex;
}
SocketControl g_control;
Resolver g_resolver;

template <typename Socket>
std::error_code openControlled(Socket &socket, const typename Socket::protocol_type &protocol)
{
    std::error_code error;
    socket.open(protocol, error);
    if (error)
        return error;
    // A program the client starts must not inherit the engine's connections.
    keepFromChildren(socket.native_handle());
    const SocketControl control = socketControl();
#if defined(__linux__)
    if (control.mark != 0
        && ::setsockopt(
               socket.native_handle(), SOL_SOCKET, SO_MARK, &control.mark, sizeof(control.mark))
            != 0)
        error = std::error_code(errno, asio::error::get_system_category());
#elif defined(_WIN32)
    // IP_UNICAST_IF takes the index in network byte order, IPV6_UNICAST_IF in host order. A
    // dual-stack socket reaches IPv4 destinations too, so it gets both.
    constexpr int unicastInterface = 31;
    if (control.interface4 != 0 && (protocol.family() == AF_INET || control.interface6 != 0)) {
        const DWORD index = htonl(control.interface4);
        if (protocol.family() == AF_INET
            && ::setsockopt(socket.native_handle(), IPPROTO_IP, unicastInterface,
                   reinterpret_cast<const char *>(&index), sizeof(index))
                != 0)
            error = std::error_code(::WSAGetLastError(), asio::error::get_system_category());
        if (protocol.family() == AF_INET6)
            ::setsockopt(socket.native_handle(), IPPROTO_IP, unicastInterface,
                reinterpret_cast<const char *>(&index), sizeof(index));
    }
    if (!error && control.interface6 != 0 && protocol.family() == AF_INET6) {
        const DWORD index = control.interface6;
        if (::setsockopt(socket.native_handle(), IPPROTO_IPV6, unicastInterface,
                reinterpret_cast<const char *>(&index), sizeof(index))
            != 0)
            error = std::error_code(::WSAGetLastError(), asio::error::get_system_category());
    }
#endif
    if (error) {
        std::error_code ignored;
        socket.close(ignored);
    }
    return error;
}

struct ConnectState
{
    ConnectState(const asio::any_io_executor &executor)
        : socket(executor)
        , timer(executor)
    { }
    asio::ip::tcp::socket socket;
    asio::steady_timer timer;
    std::vector<asio::ip::address> addresses;
    std::size_t next = 0;
    std::uint16_t port = 0;
    std::error_code lastError;
    bool timedOut = false;
    bool done = false;
    std::string where; // "dial tcp host:port: "
    std::function<void(const std::string &, asio::ip::tcp::socket)> handler;

    void finish(const std::string &error)
    {
        if (done)
            return;
        done = true;
        timer.cancel();
        if (!error.empty()) {
            std::error_code ignored;
            socket.close(ignored);
            handler(error, asio::ip::tcp::socket(timer.get_executor()));
            return;
        }
        std::error_code ignored;
        socket.set_option(asio::ip::tcp::no_delay(true), ignored);
        handler({}, std::move(socket));
    }

    // Each address in turn, on a socket opened (and controlled) afresh for it.
    static void tryNext(const std::shared_ptr<ConnectState> &state)
    {
        if (state->done)
            return;
        if (state->timedOut || state->next >= state->addresses.size()) {
            state->finish(state->where
                + (state->timedOut ? std::string("i/o timeout") : errorText(state->lastError)));
            return;
        }
        const asio::ip::tcp::endpoint endpoint(state->addresses[state->next++], state->port);
        std::error_code ignored;
        state->socket.close(ignored);
        const std::error_code error = openTcpSocket(state->socket, endpoint.protocol());
        if (error) {
            state->lastError = error;
            return tryNext(state);
        }
        state->socket.async_connect(endpoint, [state](const std::error_code &connectError) {
            if (state->done)
                return;
            if (!connectError)
                return state->finish({});
            state->lastError = connectError;
            tryNext(state);
        });
    }
};

} // namespace

void setSocketControl(const SocketControl &control)
{
    std::lock_guard lock(settingsMutex());
    g_control = control;
}

SocketControl socketControl()
{
    std::lock_guard lock(settingsMutex());
    return g_control;
}

void setResolver(Resolver resolver)
{
    std::lock_guard lock(settingsMutex());
    g_resolver = std::move(resolver);
}

void resolveHost(
    const asio::any_io_executor &executor, const std::string &host, ResolveHandler handler)
{
    std::error_code literal;
    const asio::ip::address ip = asio::ip::make_address(host, literal);
    if (!literal) {
        asio::post(executor, [handler = std::move(handler), ip] { handler({}, {ip}); });
        return;
    }
    Resolver resolver;
    {
        std::lock_guard lock(settingsMutex());
        resolver = g_resolver;
    }
    if (resolver) {
        resolver(executor, host, std::move(handler));
        return;
    }
    auto system = std::make_shared<asio::ip::tcp::resolver>(executor);
    system->async_resolve(host, "",
        [system, host, handler = std::move(handler)](
            const std::error_code &error, const asio::ip::tcp::resolver::results_type &results) {
            std::vector<asio::ip::address> addresses;
            for (const auto &entry : results)
                addresses.push_back(entry.endpoint().address());
            if (error || addresses.empty()) {
                handler("lookup " + host + ": " + errorText(error), {});
                return;
            }
            handler({}, std::move(addresses));
        });
}

void connectTcp(const asio::any_io_executor &executor, const std::string &host, std::uint16_t port,
    int timeoutMs, std::function<void(const std::string &, asio::ip::tcp::socket)> handler,
    const DialPolicy &policy)
{
    auto state = std::make_shared<ConnectState>(executor);
    state->handler = std::move(handler);
    state->port = port;
    state->where = "dial tcp " + makeDestination(host, port).toString() + ": ";
    state->timer.expires_after(std::chrono::milliseconds(timeoutMs > 0 ? timeoutMs : 5000));
    state->timer.async_wait([state](const std::error_code &error) {
        if (error || state->done)
            return;
        state->timedOut = true;
        std::error_code ignored;
        state->socket.close(ignored); // the pending connect completes with an error
        if (state->next == 0)
            state->finish(state->where + "i/o timeout"); // still resolving
    });
    resolveHost(executor, host,
        [state, policy](const std::string &error, std::vector<asio::ip::address> addresses) {
            if (state->done)
                return;
            if (!error.empty()) {
                state->finish(state->where + (state->timedOut ? "i/o timeout" : error));
                return;
            }
            // One refused address refuses the name: a name that mixes a public address with a
            // loopback one is a rebinding attempt, not a fallback.
            for (const asio::ip::address &address : addresses) {
                const std::string refusal = policy.check(address, state->port);
                if (!refusal.empty()) {
                    state->finish(state->where + refusal);
                    return;
                }
            }
            state->addresses = std::move(addresses);
            ConnectState::tryNext(state);
        });
}

std::error_code openUdpSocket(asio::ip::udp::socket &socket, const asio::ip::udp &protocol)
{
    return openControlled(socket, protocol);
}

std::error_code openTcpSocket(asio::ip::tcp::socket &socket, const asio::ip::tcp &protocol)
{
    return openControlled(socket, protocol);
}

} // namespace qivro::engine
