// Hostile clients: requests that point the engine at itself or, from another machine, at this
// machine's loopback; descriptor exhaustion; floods of idle connections; a WebSocket ping flood.
#include "common/address.h"
#include "enginefixture.h"
#include "support.h"

#include <asio/read.hpp>
#include <asio/read_until.hpp>
#include <asio/write.hpp>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <functional>
#include <openssl/evp.h>
#include <poll.h>
#include <sched.h>
#include <sys/resource.h>
#include <unistd.h>

using asio::ip::tcp;
using nlohmann::json;

namespace {

std::string g_runner;

struct Received
{
    std::string data;
    bool closed = false; // the peer closed before timeoutMs passed
};

Received readAll(tcp::socket &socket, int timeoutMs)
{
    Received received;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    char buffer[4096];
    while (true) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now())
                              .count();
        pollfd fd {socket.native_handle(), POLLIN, 0};
        if (left <= 0 || ::poll(&fd, 1, static_cast<int>(left)) <= 0)
            return received;
        const ssize_t size = ::recv(socket.native_handle(), buffer, sizeof buffer, 0);
        if (size <= 0) {
            received.closed = true;
            return received;
        }
        received.data.append(buffer, static_cast<std::size_t>(size));
    }
}

// "GET /name" for host:port through the proxy, as a SOCKS5 CONNECT (with user:password when
// given) or as a plain HTTP proxy request; what came back after the proxy's own handshake.
std::string throughProxy(const tcp::endpoint &proxy, bool socks, const std::string &host,
    std::uint16_t port, const std::string &credentials = {})
{
    asio::io_context io;
    tcp::socket socket(io);
    std::error_code error;
    socket.connect(proxy, error);
    const std::string target = qivro::engine::makeDestination(host, port).toString();
    std::string request = "GET /name HTTP/1.1\r\nHost: " + target + "\r\nConnection: close\r\n\r\n";
    if (socks) {
        const std::size_t colon = credentials.find(':');
        std::vector<std::uint8_t> hello {
            5, 1, static_cast<std::uint8_t>(credentials.empty() ? 0 : 2)};
        if (!credentials.empty()) {
            hello.insert(hello.end(), {1, static_cast<std::uint8_t>(colon)});
            hello.insert(hello.end(), credentials.begin(), credentials.begin() + colon);
            hello.push_back(static_cast<std::uint8_t>(credentials.size() - colon - 1));
            hello.insert(hello.end(), credentials.begin() + colon + 1, credentials.end());
        }
        hello.insert(hello.end(), {5, 1, 0});
        qivro::engine::appendSocksAddress(hello, qivro::engine::makeDestination(host, port));
        asio::write(socket, asio::buffer(hello), error);
        std::vector<std::uint8_t> reply(2 + (credentials.empty() ? 0 : 2) + 10);
        asio::read(socket, asio::buffer(reply), error);
    } else {
        request = "GET http://" + target + "/name HTTP/1.1\r\nHost: " + target
            + "\r\nConnection: close\r\n";
        if (!credentials.empty()) {
            std::string encoded(4 * ((credentials.size() + 2) / 3) + 1, '\0');
            encoded.resize(static_cast<std::size_t>(
                EVP_EncodeBlock(reinterpret_cast<unsigned char *>(encoded.data()),
                    reinterpret_cast<const unsigned char *>(credentials.data()),
                    static_cast<int>(credentials.size()))));
            request += "Proxy-Authorization: Basic " + encoded + "\r\n";
        }
        request += "\r\n";
    }
    asio::write(socket, asio::buffer(request), error);
    return error ? "write failed: " + error.message() : readAll(socket, 5000).data;
}

// One destination case: served means the origin's name came back.
struct GuardRow
{
    const char *name;
    bool socks;
    std::string host;
    std::uint16_t port;
    std::string served; // the origin that answers, "" when the engine must refuse
};

void checkGuardRows(
    const std::vector<GuardRow> &rows, const std::function<std::string(const GuardRow &)> &request)
{
    for (const GuardRow &row : rows) {
        const std::string got = request(row);
        const std::string label = std::string(row.name) + ": " + got.substr(0, 120);
        if (!row.served.empty())
            CHECK_MSG(got.rfind("HTTP/1.1 200", 0) == 0 && got.size() >= row.served.size()
                    && got.compare(got.size() - row.served.size(), std::string::npos, row.served)
                        == 0,
                label);
        else if (row.socks)
            CHECK_MSG(got.empty(), label); // the tunnel ends before a byte of it arrives
        else
            CHECK_MSG(got.rfind("HTTP/1.1 403", 0) == 0, label);
    }
}

std::size_t openDescriptors(int pid)
{
    const std::filesystem::path dir = "/proc/" + std::to_string(pid) + "/fd";
    std::error_code error;
    return static_cast<std::size_t>(std::distance(
        std::filesystem::directory_iterator(dir, error), std::filesystem::directory_iterator()));
}

std::size_t linesWith(const std::string &path, const std::string &fragment)
{
    std::ifstream in(path);
    std::size_t count = 0;
    for (std::string line; std::getline(in, line);)
        count += line.find(fragment) != std::string::npos;
    return count;
}

// The runner as a child process, on free loopback ports, logging to a file.
struct EngineChild
{
    std::uint16_t mixed = support::freeTcpPort();
    std::uint16_t api = support::freeTcpPort();
    std::string log = support::writeTempFile("engine-" + std::to_string(mixed) + ".log", "");
    std::unique_ptr<support::Process> process;

    EngineChild()
    {
        const json config = {{"log", {{"level", "info"}}},
            {"inbounds",
                {{{"type", "mixed"}, {"tag", "mixed-in"}, {"listen", "127.0.0.1"},
                    {"listen_port", mixed}, {"sniff", true}}}},
            {"outbounds", {{{"type", "direct"}, {"tag", "direct"}}}},
            {"experimental",
                {{"clash_api",
                    {{"external_controller", "127.0.0.1:" + std::to_string(api)},
                        {"secret", "s"}}}}}};
        const std::string path
            = support::writeTempFile("engine-" + std::to_string(mixed) + ".json", config.dump());
        process = std::make_unique<support::Process>(
            std::vector<std::string> {g_runner, "run", "-c", path}, log);
        CHECK(support::waitForTcpPort(mixed) && support::waitForTcpPort(api));
    }
    int pid() const { return process->pid(); }
    tcp::endpoint proxy() const { return {asio::ip::make_address("127.0.0.1"), mixed}; }
    // Descriptors settle as closed sessions finish; waits until at most `most` remain.
    std::size_t settle(std::size_t most) const
    {
        std::size_t now = openDescriptors(pid());
        for (int i = 0; i < 100 && now > most; ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
            now = openDescriptors(pid());
        }
        return now;
    }
};

// A network namespace of its own, kept by a descriptor; run() executes there on a new thread.
struct Namespace
{
    int fd = -1;
    Namespace()
    {
        std::thread([this] {
            if (::unshare(CLONE_NEWNET) == 0)
                fd = ::open("/proc/thread-self/ns/net", O_RDONLY | O_CLOEXEC);
        }).join();
    }
    ~Namespace()
    {
        if (fd >= 0)
            ::close(fd);
    }
    void run(const std::function<void()> &work) const
    {
        std::thread([&] {
            if (::setns(fd, CLONE_NEWNET) == 0)
                work();
        }).join();
    }
    std::string path() const
    {
        return "/proc/" + std::to_string(::getpid()) + "/fd/" + std::to_string(fd);
    }
};

bool ip(const std::string &arguments)
{
    const support::CommandResult result = support::run({"sh", "-c", "ip " + arguments});
    CHECK_MSG(result.exitCode == 0, "ip " + arguments);
    return result.exitCode == 0;
}

} // namespace

TEST_CASE(selfAndLoopbackDestinations)
{
    support::Origin origin("origin");
    EngineChild engine;
    const std::size_t baseline = openDescriptors(engine.pid());
    const std::vector<GuardRow> rows = {
        {"the self-loop, as the report sent it", false, "", 0, ""},
        {"own controller by name", false, "localhost", engine.api, ""},
        {"own inbound by the unspecified address", true, "0.0.0.0", engine.mixed, ""},
        {"own inbound by name", true, "localhost", engine.mixed, ""},
        {"own controller, IPv4-mapped", true, "::ffff:127.0.0.1", engine.api, ""},
        {"loopback origin", false, "127.0.0.1", origin.port(), "origin"},
        {"loopback origin by name", true, "localhost", origin.port(), "origin"},
    };
    checkGuardRows(rows, [&](const GuardRow &row) {
        if (row.port != 0)
            return throughProxy(engine.proxy(), row.socks, row.host, row.port);
        asio::io_context io;
        tcp::socket socket(io);
        socket.connect(engine.proxy());
        asio::write(socket,
            asio::buffer(
                "GET / HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(engine.mixed) + "\r\n\r\n"));
        return readAll(socket, 5000).data;
    });
    // Nothing kept looping, and the client was told of it in one line.
    const std::size_t after = engine.settle(baseline + 2);
    CHECK_MSG(after <= baseline + 2, std::to_string(baseline) + " -> " + std::to_string(after));
    CHECK_EQ(linesWith(engine.log, "(logged once per client)"), 1u);
}

TEST_CASE(lanClientsAndLoopback)
{
    if (::geteuid() != 0 || !support::haveProgram("ip")) {
        std::fprintf(stderr, "skipped: network namespaces need root and iproute2\n");
        return;
    }
    Namespace server, client;
    if (server.fd < 0 || client.fd < 0) {
        std::fprintf(stderr, "skipped: no network namespaces here\n");
        return;
    }
    server.run([&] {
        if (!ip("link set lo up")
            || !ip("link add qvs type veth peer name qvc netns " + client.path())
            || !ip("addr add 198.18.0.1/30 dev qvs") || !ip("link set qvs up"))
            return;
        client.run([] {
            ip("link set lo up") && ip("addr add 198.18.0.2/30 dev qvc") && ip("link set qvc up");
        });
        support::Origin local("local"), lan("lan", 16, 0, "198.18.0.1");
        json lanIn = mixedInbound();
        lanIn["tag"] = "lan-in";
        lanIn["listen"] = "198.18.0.1";
        lanIn["users"] = {{{"username", "lan"}, {"password", "pw"}}};
        json anyIn = mixedInbound();
        anyIn["tag"] = "any-in";
        anyIn["listen"] = "::";
        RunningEngine running(json {{"log", {{"level", "error"}}}, {"inbounds", {lanIn, anyIn}},
            {"outbounds", {{{"type", "direct"}, {"tag", "direct"}}}},
            {"experimental",
                {{"clash_api", {{"external_controller", "127.0.0.1:0"}, {"secret", "s"}}}}}});
        const auto ports = running.engine.inboundPorts();
        if (ports.size() != 2)
            return;
        const tcp::endpoint lanProxy(asio::ip::make_address("198.18.0.1"), ports[0]);
        const tcp::endpoint localProxy(asio::ip::make_address("127.0.0.1"), ports[1]);
        // From the other namespace unless the name says "here".
        const std::vector<GuardRow> rows = {
            {"loopback origin", true, "127.0.0.1", local.port(), ""},
            {"loopback origin by name", false, "localhost", local.port(), ""},
            {"loopback origin over IPv6", true, "::1", local.port(), ""},
            {"control API", false, "127.0.0.1", running.apiPort(), ""},
            {"the proxy itself", true, "198.18.0.1", ports[0], ""},
            {"the wildcard inbound by the LAN address", true, "198.18.0.1", ports[1], ""},
            {"this machine's LAN address", false, "198.18.0.1", lan.port(), "lan"},
            {"here: loopback origin", true, "127.0.0.1", local.port(), "local"},
            {"here: wildcard inbound by another loopback address", true, "127.0.0.2", ports[1], ""},
        };
        checkGuardRows(rows, [&](const GuardRow &row) {
            std::string got;
            if (std::string(row.name).rfind("here:", 0) == 0)
                return throughProxy(localProxy, row.socks, row.host, row.port);
            client.run(
                [&] { got = throughProxy(lanProxy, row.socks, row.host, row.port, "lan:pw"); });
            return got;
        });
    });
}

TEST_CASE(descriptorsUnderPressure)
{
    support::Origin origin("origin");
    EngineChild engine;
    const std::size_t baseline = openDescriptors(engine.pid());
    asio::io_context io;

    // Relayed connections that moved bytes and went quiet hold their two sockets, not pipes.
    constexpr std::size_t relays = 60;
    std::vector<std::unique_ptr<tcp::socket>> sockets;
    for (std::size_t i = 0; i < relays; ++i) {
        sockets.push_back(std::make_unique<tcp::socket>(io));
        sockets.back()->connect(engine.proxy());
        CHECK(support::socksGet(*sockets.back(), "127.0.0.1", origin.port(), "/name", true)
            == "origin");
    }
    const std::size_t held = openDescriptors(engine.pid()) - baseline;
    constexpr std::size_t sparePipes = 16;
    CHECK_MSG(held <= 2 * relays + 2 * sparePipes, std::to_string(held) + " descriptors");
    sockets.clear();
    engine.settle(baseline + 2 * sparePipes);

    // Out of descriptors: one line, no spinning, and service again once clients leave.
    rlimit limit {};
    limit.rlim_cur = limit.rlim_max = openDescriptors(engine.pid()) + 16;
    CHECK(::prlimit(engine.pid(), RLIMIT_NOFILE, &limit, nullptr) == 0);
    for (int i = 0; i < 64; ++i) {
        sockets.push_back(std::make_unique<tcp::socket>(io));
        sockets.back()->connect(engine.proxy());
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    CHECK_EQ(linesWith(engine.log, "accept: Too many open files"), 1u);
    sockets.clear();
    std::string answer;
    for (int i = 0; i < 50 && answer.rfind("HTTP/1.1 200", 0) != 0; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        answer = throughProxy(engine.proxy(), false, "127.0.0.1", origin.port());
    }
    CHECK_MSG(answer.rfind("HTTP/1.1 200", 0) == 0, answer);
    CHECK_EQ(linesWith(engine.log, "accepting again"), 1u);
}

TEST_CASE(idleFloodsAndCaps)
{
    qivro::engine::Config config;
    std::string error;
    CHECK(qivro::engine::parseConfig(
        json {{"log", {{"level", "warn"}}}, {"inbounds", {mixedInbound()}},
            {"experimental",
                {{"clash_api", {{"external_controller", "127.0.0.1:0"}, {"secret", "s"}}}}}}
            .dump(),
        config, error));
    constexpr int cap = 4;
    config.inbounds[0].maxSessions = cap;
    config.inbounds[0].handshakeTimeoutMs = 2000;
    config.controllerMaxConnections = cap;
    config.controllerRequestTimeoutMs = 2000;
    config.controllerIdleMs = 2000;
    LogCapture logs;
    RunningEngine running(std::move(config));
    asio::io_context io;
    for (const std::uint16_t port : {running.mixedPort(), running.apiPort()}) {
        const tcp::endpoint endpoint(asio::ip::make_address("127.0.0.1"), port);
        std::vector<std::unique_ptr<tcp::socket>> idle;
        for (int i = 0; i < cap + 2; ++i) {
            idle.push_back(std::make_unique<tcp::socket>(io));
            idle.back()->connect(endpoint);
        }
        // Past the cap: closed at once; within it: closed at the request deadline.
        for (int i = cap; i < cap + 2; ++i)
            CHECK_MSG(readAll(*idle[i], 1000).closed, "over the cap on " + std::to_string(port));
        for (int i = 0; i < cap; ++i)
            CHECK_MSG(readAll(*idle[i], 5000).closed, "idle on " + std::to_string(port));
    }
    // A kept-alive control connection is closed after the idle limit.
    tcp::socket keptAlive(io);
    keptAlive.connect({asio::ip::make_address("127.0.0.1"), running.apiPort()});
    asio::write(keptAlive,
        asio::buffer(std::string("GET /version HTTP/1.1\r\nHost: 127.0.0.1\r\n"
                                 "Authorization: Bearer s\r\n\r\n")));
    const Received kept = readAll(keptAlive, 5000);
    CHECK(kept.closed && kept.data.rfind("HTTP/1.1 200", 0) == 0);
    CHECK_EQ(
        support::httpCall(running.apiPort(), "GET", "/version", {{"Authorization", "Bearer s"}})
            .status,
        200);
    std::size_t capLines = 0;
    std::lock_guard lock(logs.mutex);
    for (const std::string &line : logs.lines)
        capLines += line.find("the most allowed") != std::string::npos;
    CHECK_EQ(capLines, 2u);
}

TEST_CASE(pingFlood)
{
    RunningEngine running(json {{"log", {{"level", "warn"}}}, {"inbounds", {mixedInbound()}},
        {"experimental",
            {{"clash_api", {{"external_controller", "127.0.0.1:0"}, {"secret", "s"}}}}}});
    asio::io_context io;
    tcp::socket socket(io);
    socket.open(tcp::v4());
    socket.set_option(asio::socket_base::receive_buffer_size(4096)); // pongs back up quickly
    socket.connect({asio::ip::make_address("127.0.0.1"), running.apiPort()});
    asio::write(socket,
        asio::buffer(std::string("GET /traffic HTTP/1.1\r\nHost: 127.0.0.1\r\n"
                                 "Authorization: Bearer s\r\nUpgrade: websocket\r\n"
                                 "Connection: Upgrade\r\nSec-WebSocket-Key: dGhlIHNhbXBsZQ==\r\n"
                                 "Sec-WebSocket-Version: 13\r\n\r\n")));
    std::string head;
    asio::read_until(socket, asio::dynamic_buffer(head), "\r\n\r\n");
    CHECK(head.rfind("HTTP/1.1 101", 0) == 0);
    // Masked pings of 125 bytes, never a pong read: the engine must give up, not buffer them all.
    std::string frame = {'\x89', static_cast<char>(0x80 | 125), 1, 2, 3, 4};
    frame.append(125, 'p');
    std::string burst;
    for (int i = 0; i < 512; ++i)
        burst += frame;
    std::error_code error;
    std::size_t sent = 0;
    while (!error && sent < (64u << 20))
        sent += asio::write(socket, asio::buffer(burst), error);
    CHECK_MSG(error, "the engine took " + std::to_string(sent >> 20) + " MiB of pings");
}

TEST_CASE(controlApiWithoutSecret)
{
    const auto config = [](const std::string &controller) {
        return json {{"log", {{"level", "error"}}}, {"inbounds", {mixedInbound()}},
            {"experimental",
                {{"clash_api", {{"external_controller", controller}, {"secret", ""}}}}}};
    };
    for (const char *everywhere : {"0.0.0.0:0", "[::]:0"}) {
        qivro::engine::Engine engine;
        const std::string error = engine.startWithText(config(everywhere).dump());
        CHECK_MSG(error.find("a secret is required") != std::string::npos, error);
    }
    RunningEngine running(config(":0"));
    const std::uint16_t api = running.apiPort();
    asio::io_context io;
    tcp::socket elsewhere(io);
    std::error_code error;
    elsewhere.connect({asio::ip::make_address("127.0.0.2"), api}, error);
    CHECK_MSG(error, "\":PORT\" listens beyond 127.0.0.1");

    // What a page served elsewhere (also one that rebound its name to loopback) sends.
    struct Row
    {
        std::string host;
        std::string origin;
        int status;
    };
    const std::vector<Row> rows = {
        {"127.0.0.1:" + std::to_string(api), "", 200},
        {"LocalHost", "", 200},
        {"[::1]:9090", "", 200},
        {"127.0.0.1", "http://localhost:5173", 200},
        {"", "", 403},
        {"rebound.example:" + std::to_string(api), "", 403},
        {"127.0.0.1.rebound.example", "", 403},
        {"localhost:90x", "", 403},
        {"127.0.0.1", "http://rebound.example", 403},
        {"127.0.0.1", "null", 403},
    };
    for (const Row &row : rows) {
        std::map<std::string, std::string> headers = {{"Host", row.host}};
        if (!row.origin.empty())
            headers["Origin"] = row.origin;
        support::HttpResult result = support::httpCall(api, "GET", "/version", headers);
        CHECK_MSG(result.status == row.status,
            row.host + " " + row.origin + " -> " + std::to_string(result.status));
        CHECK_MSG(!result.headers.count("access-control-allow-origin"), row.host);
    }
    support::HttpResult preflight = support::httpCall(api, "OPTIONS", "/proxies",
        {{"Origin", "http://localhost:5173"}, {"Access-Control-Request-Method", "PUT"}});
    CHECK_EQ(preflight.status, 204);
    CHECK(!preflight.headers.count("access-control-allow-origin"));
}

int main(int argc, char **argv)
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s <qivro-engine> [test]\n", argv[0]);
        return 2;
    }
    g_runner = argv[1];
    return qtest::runAll(argc - 1, argv + 1);
}
