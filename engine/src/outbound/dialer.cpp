#include "outbound/dialer.h"

#include "common/address.h"

#include <asio/connect.hpp>
#include <asio/steady_timer.hpp>
#include <chrono>
#include <memory>

namespace qivro::engine {

namespace {

struct ConnectState
{
    ConnectState(const asio::any_io_executor &executor)
        : resolver(executor)
        , socket(executor)
        , timer(executor)
    { }
    asio::ip::tcp::resolver resolver;
    asio::ip::tcp::socket socket;
    asio::steady_timer timer;
    bool timedOut = false;
    std::function<void(const std::string &, asio::ip::tcp::socket)> handler;
};

} // namespace

void connectTcp(const asio::any_io_executor &executor, const std::string &host, std::uint16_t port,
    int timeoutMs, std::function<void(const std::string &, asio::ip::tcp::socket)> handler,
    const DialPolicy &policy)
{
    auto state = std::make_shared<ConnectState>(executor);
    state->handler = std::move(handler);
    state->timer.expires_after(std::chrono::milliseconds(timeoutMs > 0 ? timeoutMs : 5000));
    state->timer.async_wait([state](const std::error_code &error) {
        if (error)
            return;
        state->timedOut = true;
        state->resolver.cancel();
        std::error_code ignored;
        state->socket.close(ignored);
    });
    const std::string address = "dial tcp " + makeDestination(host, port).toString() + ": ";
    state->resolver.async_resolve(host, std::to_string(port),
        [state, address, policy](
            const std::error_code &error, asio::ip::tcp::resolver::results_type results) {
            if (error || results.empty()) {
                state->timer.cancel();
                state->handler(state->timedOut ? address + "i/o timeout"
                                               : "lookup " + address + errorText(error),
                    asio::ip::tcp::socket(state->resolver.get_executor()));
                return;
            }
            // One refused address refuses the name: a name that mixes a public address with a
            // loopback one is a rebinding attempt, not a fallback.
            for (const auto &entry : results) {
                const std::string refusal
                    = policy.check(entry.endpoint().address(), entry.endpoint().port());
                if (!refusal.empty()) {
                    state->timer.cancel();
                    state->handler(
                        address + refusal, asio::ip::tcp::socket(state->resolver.get_executor()));
                    return;
                }
            }
            asio::async_connect(state->socket, results,
                [state, address](
                    const std::error_code &connectError, const asio::ip::tcp::endpoint &) {
                    state->timer.cancel();
                    if (connectError) {
                        state->handler(address
                                + (state->timedOut ? std::string("i/o timeout")
                                                   : errorText(connectError)),
                            asio::ip::tcp::socket(state->resolver.get_executor()));
                        return;
                    }
                    std::error_code ignored;
                    state->socket.set_option(asio::ip::tcp::no_delay(true), ignored);
                    state->handler({}, std::move(state->socket));
                });
        });
}

std::error_code openUdpSocket(asio::ip::udp::socket &socket, const asio::ip::udp &protocol)
{
    std::error_code error;
    socket.open(protocol, error);
    return error;
}

} // namespace qivro::engine
