// Runs an engine in-process on free ports for one test.
#pragma once

#include "common/log.h"
#include "engine.h"
#include "support.h"
#include "testing.h"

#include <chrono>
#include <memory>
#include <mutex>
#include <nlohmann/json.hpp>
#include <poll.h>
#include <string>
#include <vector>

struct RunningEngine
{
    qivro::engine::Engine engine;
    std::string error;

    explicit RunningEngine(const nlohmann::json &config)
    {
        error = engine.startWithText(config.dump());
        CHECK_MSG(error.empty(), error);
    }
    // For values no configuration file sets (time-outs shortened for a test).
    explicit RunningEngine(qivro::engine::Config config)
    {
        error = engine.startParsed(std::move(config));
        CHECK_MSG(error.empty(), error);
    }
    ~RunningEngine() { engine.stop(); }
    std::uint16_t mixedPort() const
    {
        const auto ports = engine.inboundPorts();
        return ports.empty() ? 0 : ports.front();
    }
    std::uint16_t apiPort() const { return engine.controllerPort(); }
};

// Collects log lines while alive.
struct LogCapture
{
    std::mutex mutex;
    std::vector<std::string> lines;
    std::uint64_t id;

    LogCapture()
    {
        id = qivro::engine::Logger::instance().subscribe(
            [this](qivro::engine::LogLevel, const std::string &text) {
                std::lock_guard lock(mutex);
                lines.push_back(text);
            });
    }
    ~LogCapture() { qivro::engine::Logger::instance().unsubscribe(id); }
    bool contains(const std::string &fragment)
    {
        std::lock_guard lock(mutex);
        for (const std::string &line : lines) {
            if (line.find(fragment) != std::string::npos)
                return true;
        }
        return false;
    }
};

// A v2ray with these inbounds, each on a free loopback port.
struct V2ray
{
    std::vector<std::uint16_t> ports;
    std::unique_ptr<support::Process> process;

    explicit V2ray(std::vector<nlohmann::json> inbounds)
    {
        for (nlohmann::json &inbound : inbounds) {
            ports.push_back(support::freeTcpPort());
            inbound.update({{"listen", "127.0.0.1"}, {"port", ports.back()}});
        }
        const nlohmann::json config = {{"log", {{"loglevel", "warning"}}}, {"inbounds", inbounds},
            {"outbounds", {{{"protocol", "freedom"}}}}};
        process = std::make_unique<support::Process>(std::vector<std::string> {"v2ray", "-config",
            support::writeTempFile(
                "v2ray-" + std::to_string(ports.front()) + ".json", config.dump())});
        for (const std::uint16_t port : ports)
            CHECK(support::waitForTcpPort(port));
    }
};

// A direct outbound that sends every connection to one origin, whatever the destination.
inline nlohmann::json toOrigin(const std::string &tag, const support::Origin &origin)
{
    return {{"type", "direct"}, {"tag", tag}, {"override_address", "127.0.0.1"},
        {"override_port", origin.port()}};
}

// What the peer sent until it closed the connection (or reset it) or timeoutMs from since ran out.
struct Received
{
    std::string data;
    long closedAfterMs = -1; // from since; -1 while still open
    bool closed() const { return closedAfterMs >= 0; }
};

inline Received readUntilClosed(asio::ip::tcp::socket &socket, int timeoutMs,
    std::chrono::steady_clock::time_point since = std::chrono::steady_clock::now())
{
    using namespace std::chrono;
    Received received;
    for (char buffer[4096];;) {
        const auto left
            = duration_cast<milliseconds>(since + milliseconds(timeoutMs) - steady_clock::now());
        pollfd entry {socket.native_handle(), POLLIN, 0};
        if (left.count() <= 0 || ::poll(&entry, 1, static_cast<int>(left.count())) <= 0)
            return received;
        const ssize_t size = ::recv(socket.native_handle(), buffer, sizeof buffer, 0);
        if (size <= 0) {
            received.closedAfterMs
                = duration_cast<milliseconds>(steady_clock::now() - since).count();
            return received;
        }
        received.data.append(buffer, static_cast<std::size_t>(size));
    }
}

// GET path from host:port through a new SOCKS5 connection to proxyPort; the body.
inline std::string socksFetch(std::uint16_t proxyPort, const std::string &host, std::uint16_t port,
    const std::string &path = "/name")
{
    asio::io_context io;
    asio::ip::tcp::socket socket(io);
    std::error_code error;
    socket.connect({asio::ip::make_address("127.0.0.1"), proxyPort}, error);
    return error ? "" : support::socksGet(socket, host, port, path, true);
}

// The origin's blob down (SOCKS5) and up to its echo (HTTP proxy) through the mixed inbound on
// proxyPort, each compared whole; host names the origin.
inline bool carriesBlob(std::uint16_t proxyPort, const support::Origin &origin,
    const std::string &label, const std::string &host = "127.0.0.1")
{
    const std::string proxy = "127.0.0.1:" + std::to_string(proxyPort);
    const std::string base = "http://" + host + ":" + std::to_string(origin.port());
    const std::string expected = support::sha256Hex(origin.blob());
    const std::string body = support::curl({"-x", "socks5h://" + proxy, base + "/blob"});
    const std::string upload = support::writeTempFile("upload-" + proxy + ".bin", origin.blob());
    // Without "Expect:" curl holds a large body back for a second, waiting for a 100 Continue.
    const std::string echoed = support::curl(
        {"-x", "http://" + proxy, "-H", "Expect:", "--data-binary", "@" + upload, base + "/echo"});
    const bool down = CHECK_MSG(support::sha256Hex(body) == expected,
        label + ": download of " + std::to_string(body.size()) + " bytes");
    return CHECK_MSG(support::sha256Hex(echoed) == expected,
               label + ": upload of " + std::to_string(echoed.size()) + " bytes echoed")
        && down;
}

// One datagram to the echo through SOCKS5 UDP ASSOCIATE on proxyPort, its answer checked.
inline bool udpEchoes(std::uint16_t proxyPort, const support::UdpEcho &echo,
    const std::string &payload, const std::string &label, int timeoutMs = 3000)
{
    const std::string answer
        = support::socksUdpExchange(proxyPort, "127.0.0.1", echo.port(), payload, timeoutMs);
    return CHECK_MSG(answer == "echo:" + payload,
        label + ": udp answer of " + std::to_string(answer.size()) + " bytes \""
            + answer.substr(0, 40) + "\"");
}

inline nlohmann::json mixedInbound(bool sniff = true)
{
    return {{"type", "mixed"}, {"tag", "mixed-in"}, {"listen", "127.0.0.1"}, {"listen_port", 0},
        {"sniff", sniff}};
}

// The usual engine of an outbound's test: the mixed inbound, the outbound as the final one (or
// through a selector "proxy" for the control API's views of it), a direct outbound beside it, and
// a control API without a secret on a free port.
inline nlohmann::json proxyConfig(
    const nlohmann::json &outbound, bool viaSelector = false, bool sniff = true)
{
    nlohmann::json outbounds = {outbound, {{"type", "direct"}, {"tag", "direct"}}};
    if (viaSelector)
        outbounds.push_back(
            {{"type", "selector"}, {"tag", "proxy"}, {"outbounds", {outbound["tag"]}}});
    return {{"log", {{"level", "warn"}}}, {"inbounds", {mixedInbound(sniff)}},
        {"outbounds", outbounds},
        {"route", {{"final", viaSelector ? nlohmann::json("proxy") : outbound["tag"]}}},
        {"experimental", {{"clash_api", {{"external_controller", "127.0.0.1:0"}}}}}};
}
