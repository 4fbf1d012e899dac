// The mixed inbound's own limits and the routing decisions that depend on the client: deadlines
// for stalled clients, the control API's mode and the client's source address.
#include "config/config.h"
#include "enginefixture.h"
#include "support.h"

#include <asio/connect.hpp>
#include <asio/write.hpp>
#include <cerrno>
#include <chrono>

using asio::ip::tcp;
using nlohmann::json;
using support::Origin;

namespace {

using Clock = std::chrono::steady_clock;

qivro::engine::Config parsed(const json &config)
{
    qivro::engine::Config result;
    std::string error;
    CHECK_MSG(qivro::engine::parseConfig(config.dump(), result, error), error);
    return result;
}

tcp::socket connectTo(asio::io_context &io, std::uint16_t port)
{
    tcp::socket socket(io);
    std::error_code error;
    socket.connect({asio::ip::make_address("127.0.0.1"), port}, error);
    CHECK_MSG(!error, error.message());
    return socket;
}

void send(tcp::socket &socket, const std::string &bytes)
{
    std::error_code error;
    asio::write(socket, asio::buffer(bytes), error);
    CHECK_MSG(!error, error.message());
}

// One plain-forwarded GET on a kept-alive connection; returns the body.
std::string httpGet(tcp::socket &socket, std::uint16_t originPort, const std::string &path)
{
    const std::string host = "127.0.0.1:" + std::to_string(originPort);
    send(socket, "GET http://" + host + path + " HTTP/1.1\r\nHost: " + host + "\r\n\r\n");
    return support::readResponseBody(socket);
}

// GET /name through SOCKS5 from a client bound to the given local address and port.
std::string nameFrom(std::uint16_t proxyPort, const std::string &local, std::uint16_t localPort = 0)
{
    asio::io_context io;
    tcp::socket socket(io);
    std::error_code error;
    socket.open(tcp::v4(), error);
    socket.set_option(tcp::socket::reuse_address(true), error);
    socket.bind({asio::ip::make_address(local), localPort}, error);
    if (!error)
        socket.connect({asio::ip::make_address("127.0.0.1"), proxyPort}, error);
    CHECK_MSG(!error, local + ": " + error.message());
    return error ? "" : support::socksGet(socket, "name.test", 80, "/name", true);
}

json directConfig()
{
    return {{"log", {{"level", "warn"}}}, {"inbounds", {mixedInbound(false)}},
        {"outbounds", {{{"type", "direct"}, {"tag", "direct"}}}}, {"route", {{"final", "direct"}}}};
}

} // namespace

TEST_CASE(stalledClientsAreDropped)
{
    constexpr int handshakeMs = 400;
    constexpr int idleMs = 900;
    Origin origin("origin");
    qivro::engine::Config config = parsed(directConfig());
    config.inbounds[0].handshakeTimeoutMs = handshakeMs;
    config.inbounds[0].keepAliveIdleMs = idleMs;
    RunningEngine running(std::move(config));
    asio::io_context io;

    // A relay already past its handshake must outlive every deadline.
    tcp::socket relay = connectTo(io, running.mixedPort());
    CHECK_EQ(support::socksGet(relay, "127.0.0.1", origin.port(), "/first", true), "origin");
    tcp::socket keptAlive = connectTo(io, running.mixedPort());
    CHECK_EQ(httpGet(keptAlive, origin.port(), "/first"), "origin");

    const Clock::time_point began = Clock::now();
    tcp::socket silent = connectTo(io, running.mixedPort());
    tcp::socket halfGreeting = connectTo(io, running.mixedPort());
    send(halfGreeting, std::string("\x05\x02\x00", 3));
    tcp::socket halfSocks5 = connectTo(io, running.mixedPort());
    send(halfSocks5, std::string("\x05\x01\x00\x05\x01\x00\x03\x09local", 13));
    tcp::socket halfSocks4 = connectTo(io, running.mixedPort());
    send(halfSocks4, std::string("\x04\x01\x00\x50\x00\x00\x00\x01us", 10));
    tcp::socket halfHttp = connectTo(io, running.mixedPort());
    send(halfHttp, "GET http://127.0.0.1/ HTTP/1.1\r\nHost: 127.0.0.1\r\n");

    // None may go before its deadline. Checked on the spot: the reads below come later than that.
    const auto stalled = {&silent, &halfGreeting, &halfSocks5, &halfSocks4, &halfHttp};
    std::this_thread::sleep_until(began + std::chrono::milliseconds(handshakeMs - 100));
    for (tcp::socket *socket : stalled) {
        char buffer[64]; // a greeting's answer may be waiting: only the end of stream counts
        ssize_t got;
        while ((got = ::recv(socket->native_handle(), buffer, sizeof buffer, MSG_DONTWAIT)) > 0) { }
        CHECK_MSG(got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK),
            "closed before the handshake deadline");
    }

    // Half-way through the idle time a second request keeps the kept-alive client in use.
    std::this_thread::sleep_until(began + std::chrono::milliseconds(idleMs / 2));
    CHECK_EQ(httpGet(keptAlive, origin.port(), "/second"), "origin");
    const Clock::time_point lastAnswer = Clock::now();

    for (tcp::socket *socket : stalled) {
        const long after = readUntilClosed(*socket, 5000, began).closedAfterMs;
        CHECK_MSG(after >= 0 && after < handshakeMs + 2000,
            "closed after " + std::to_string(after) + " ms");
    }
    const long idle = readUntilClosed(keptAlive, 5000, lastAnswer).closedAfterMs;
    CHECK_MSG(
        idle >= idleMs - 100 && idle < idleMs + 2000, "idle closed after " + std::to_string(idle));
    CHECK_EQ(support::socksGet(relay, "127.0.0.1", origin.port(), "/again", false), "origin");
    tcp::socket fresh = connectTo(io, running.mixedPort());
    CHECK_EQ(support::socksGet(fresh, "127.0.0.1", origin.port(), "/fresh", true), "origin");
}

TEST_CASE(modeAndSourceRules)
{
    Origin fallback("fallback"), global("global"), direct("direct"), bySource("source"),
        byPort("port"), never("never");
    const std::uint16_t fixedPort = support::freeTcpPort();
    const std::string secret = "mode-secret";
    const std::map<std::string, std::string> auth = {{"Authorization", "Bearer " + secret}};
    RunningEngine running(json {{"log", {{"level", "warn"}}}, {"inbounds", {mixedInbound(false)}},
        {"outbounds",
            {toOrigin("fallback", fallback), toOrigin("global", global), toOrigin("direct", direct),
                toOrigin("source", bySource), toOrigin("port", byPort), toOrigin("never", never)}},
        {"route",
            {{"rules",
                 {{{"process_name", {"curl"}}, {"outbound", "never"}},
                     {{"wifi_ssid", {"home"}}, {"outbound", "never"}},
                     {{"clash_mode", "global"}, {"outbound", "global"}},
                     {{"type", "logical"}, {"mode", "and"},
                         {"rules", {{{"clash_mode", "Direct"}}, {{"network", "tcp"}}}},
                         {"outbound", "direct"}},
                     {{"source_ip_cidr", {"127.0.0.2/32", "10.0.0.0/8"}}, {"outbound", "source"}},
                     {{"source_port", {fixedPort}}, {"source_port_range", {"1:2"}},
                         {"outbound", "port"}}}},
                {"final", "fallback"}}},
        {"experimental",
            {{"clash_api",
                {{"external_controller", "127.0.0.1:0"}, {"secret", secret},
                    {"default_mode", "Global"}}}}}});
    const std::uint16_t proxy = running.mixedPort();
    const std::uint16_t api = running.apiPort();
    const auto patchMode = [&](const std::string &mode) {
        CHECK_EQ(
            support::httpCall(api, "PATCH", "/configs", auth, json {{"mode", mode}}.dump()).status,
            204);
    };

    // The configuration's default mode holds until the API changes it; case does not matter.
    CHECK_EQ(nameFrom(proxy, "127.0.0.2"), "global");
    const json configs = json::parse(support::httpCall(api, "GET", "/configs", auth).body);
    CHECK_EQ(configs["mode"], "Global");
    CHECK_EQ(configs["mode-list"], json::array({"Global", "Direct"}));
    patchMode("DIRECT");
    CHECK_EQ(nameFrom(proxy, "127.0.0.1"), "direct");
    patchMode("Rule");
    CHECK_EQ(nameFrom(proxy, "127.0.0.1"), "fallback");
    CHECK_EQ(nameFrom(proxy, "127.0.0.2"), "source");
    CHECK_EQ(nameFrom(proxy, "127.0.0.1", fixedPort), "port");
}

QTEST_MAIN()
