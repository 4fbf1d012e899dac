// Hostile clients: requests that point the engine at itself or, from another machine, at this
// machine's loopback; descriptor exhaustion; floods of idle connections; a WebSocket ping flood;
// web pages driving a control API that has no secret.
#include "common/address.h"
#include "enginefixture.h"
#include "support.h"

#include <asio/read.hpp>
#include <asio/read_until.hpp>
#include <asio/write.hpp>
#include <fcntl.h>
#include <functional>
#include <sched.h>
#include <sys/resource.h>
#include <unistd.h>

using asio::ip::tcp;
using nlohmann::json;

namespace {

std::string g_runner;

// "GET /name" for host:port as a SOCKS5 CONNECT or a plain HTTP proxy request, as user "lan"
// (password "pw") when auth is set; what came back after the proxy's own handshake.
std::string throughProxy(const tcp::endpoint &proxy, bool socks, const std::string &host,
    std::uint16_t port, bool auth = false)
{
    asio::io_context io;
    tcp::socket socket(io);
    std::error_code error;
    socket.connect(proxy, error);
    const std::string target = qivro::engine::makeDestination(host, port).toString();
    std::string request = "GET /name HTTP/1.1\r\nHost: " + target + "\r\nConnection: close\r\n\r\n";
    if (socks) {
        std::vector<std::uint8_t> hello {5, 1, static_cast<std::uint8_t>(auth ? 2 : 0)};
        if (auth)
            hello.insert(hello.end(), {1, 3, 'l', 'a', 'n', 2, 'p', 'w'});
        hello.insert(hello.end(), {5, 1, 0});
        qivro::engine::appendSocksAddress(hello, qivro::engine::makeDestination(host, port));
        std::vector<std::uint8_t> reply(auth ? 14 : 12);
        asio::write(socket, asio::buffer(hello), error);
        asio::read(socket, asio::buffer(reply), error);
    } else {
        request = "GET http://" + target + "/name HTTP/1.1\r\nHost: " + target
            + (auth ? "\r\nProxy-Authorization: Basic bGFuOnB3" : "")
            + "\r\nConnection: close\r\n\r\n";
    }
    asio::write(socket, asio::buffer(request), error);
    return readUntilClosed(socket, 5000).data;
}

// One destination: served names the origin that must answer, "" when the engine must refuse.
struct GuardRow
{
    const char *name;
    bool socks;
    std::string host;
    std::uint16_t port;
    std::string served;
};

void checkGuardRows(
    const std::vector<GuardRow> &rows, const std::function<std::string(const GuardRow &)> &request)
{
    for (const GuardRow &row : rows) {
        const std::string got = request(row);
        const std::string label = std::string(row.name) + ": " + got.substr(0, 120);
        if (!row.served.empty())
            CHECK_MSG(got.rfind("HTTP/1.1 200", 0) == 0 && got.find(row.served) != got.npos, label);
        else // a refused tunnel ends before a byte of it arrives
            CHECK_MSG(row.socks ? got.empty() : got.rfind("HTTP/1.1 403", 0) == 0, label);
    }
}

json childConfig(std::uint16_t mixed, std::uint16_t api)
{
    json inbound = mixedInbound();
    inbound["listen_port"] = mixed;
    return {{"log", {{"level", "info"}}}, {"inbounds", {inbound}},
        {"experimental",
            {{"clash_api",
                {{"external_controller", "127.0.0.1:" + std::to_string(api)}, {"secret", "s"}}}}}};
}

// The runner as a child process on free loopback ports, logging to a file.
struct EngineChild
{
    std::uint16_t mixed = support::freeTcpPort();
    std::uint16_t api = support::freeTcpPort();
    std::string log = support::writeTempFile("engine-" + std::to_string(mixed) + ".log", "");
    // Started under a low soft descriptor limit, which it should lift to the hard one.
    support::Process process {
        {"sh", "-c", "ulimit -S -n 256 && exec \"$0\" run -c \"$1\"", g_runner,
            support::writeTempFile(
                "engine-" + std::to_string(mixed) + ".json", childConfig(mixed, api).dump())},
        log};
    tcp::endpoint proxy {asio::ip::make_address("127.0.0.1"), mixed};

    EngineChild() { CHECK(support::waitForTcpPort(mixed) && support::waitForTcpPort(api)); }
    // Closed sessions take a moment to let go of their descriptors.
    std::size_t settle(std::size_t most) const
    {
        for (int i = 0; i < 100 && support::openDescriptors(process.pid()) > most; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        return support::openDescriptors(process.pid());
    }
};

// A network namespace of its own, kept by a descriptor; run() works there on a new thread.
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
    ~Namespace() { ::close(fd); }
    void run(const std::function<void()> &work) const
    {
        std::thread([&] {
            if (CHECK(::setns(fd, CLONE_NEWNET) == 0))
                work();
        }).join();
    }
};

bool ip(const std::string &arguments)
{
    return CHECK_MSG(support::run({"sh", "-c", "ip " + arguments}).exitCode == 0, arguments);
}

} // namespace

TEST_CASE(selfAndLoopbackDestinations)
{
    support::Origin origin("origin");
    EngineChild engine;
    const std::size_t baseline = support::openDescriptors(engine.process.pid());
    checkGuardRows(
        {
            {"the self-loop", false, "127.0.0.1", engine.mixed, ""},
            {"own controller by name", false, "localhost", engine.api, ""},
            {"own inbound by the unspecified address", true, "0.0.0.0", engine.mixed, ""},
            {"own controller, IPv4-mapped", true, "::ffff:127.0.0.1", engine.api, ""},
            {"loopback origin", false, "127.0.0.1", origin.port(), "origin"},
            {"loopback origin by name", true, "localhost", origin.port(), "origin"},
        },
        [&](const GuardRow &row) {
            return throughProxy(engine.proxy, row.socks, row.host, row.port);
        });
    // Nothing went on looping, and the client was named in one line.
    CHECK(engine.settle(baseline + 2) <= baseline + 2);
    CHECK_EQ(support::linesWith(engine.log, "(logged once per client)"), 1u);
}

TEST_CASE(lanClientsAndLoopback)
{
    Namespace server, client;
    if (::geteuid() != 0 || server.fd < 0 || client.fd < 0 || !support::haveProgram("ip")) {
        std::fprintf(stderr, "skipped: needs root, network namespaces and iproute2\n");
        return;
    }
    server.run([&] {
        const std::string peer
            = "/proc/" + std::to_string(::getpid()) + "/fd/" + std::to_string(client.fd);
        if (!ip("link set lo up") || !ip("link add qvs type veth peer name qvc netns " + peer)
            || !ip("addr add 198.18.0.1/30 dev qvs") || !ip("link set qvs up"))
            return;
        client.run([] {
            ip("link set lo up") && ip("addr add 198.18.0.2/30 dev qvc") && ip("link set qvc up");
        });
        support::Origin local("local"), lan("lan", 16, 0, "198.18.0.1");
        json lanIn = mixedInbound(), anyIn = mixedInbound();
        lanIn.update({{"tag", "lan-in"}, {"listen", "198.18.0.1"},
            {"users", {{{"username", "lan"}, {"password", "pw"}}}}});
        anyIn.update({{"tag", "any-in"}, {"listen", "::"}});
        RunningEngine running(json {{"log", {{"level", "error"}}}, {"inbounds", {lanIn, anyIn}},
            {"experimental",
                {{"clash_api", {{"external_controller", "127.0.0.1:0"}, {"secret", "s"}}}}}});
        const auto ports = running.engine.inboundPorts();
        if (!CHECK_EQ(ports.size(), 2u))
            return;
        // From the other namespace unless the name says "here".
        checkGuardRows(
            {
                {"loopback origin", true, "127.0.0.1", local.port(), ""},
                {"loopback origin by name", false, "localhost", local.port(), ""},
                {"loopback origin over IPv6", true, "::1", local.port(), ""},
                {"control API", false, "127.0.0.1", running.apiPort(), ""},
                {"the proxy itself", true, "198.18.0.1", ports[0], ""},
                {"the wildcard inbound by the LAN address", true, "198.18.0.1", ports[1], ""},
                {"this machine's LAN address", false, "198.18.0.1", lan.port(), "lan"},
                {"here: loopback origin", true, "127.0.0.1", local.port(), "local"},
                {"here: wildcard inbound by another loopback address", true, "127.0.0.2", ports[1],
                    ""},
            },
            [&](const GuardRow &row) {
                if (std::string(row.name).rfind("here:", 0) == 0)
                    return throughProxy({asio::ip::make_address("127.0.0.1"), ports[1]}, row.socks,
                        row.host, row.port);
                std::string got;
                client.run([&] {
                    got = throughProxy({asio::ip::make_address("198.18.0.1"), ports[0]}, row.socks,
                        row.host, row.port, true);
                });
                return got;
            });
    });
}

TEST_CASE(descriptorsUnderPressure)
{
    support::Origin origin("origin");
    EngineChild engine;
    const int pid = engine.process.pid();
    const std::size_t baseline = support::openDescriptors(pid);
    rlimit limit {};
    CHECK(::prlimit(pid, RLIMIT_NOFILE, nullptr, &limit) == 0 && limit.rlim_cur == limit.rlim_max);
    asio::io_context io;
    // Relayed connections that moved bytes and went quiet hold their two sockets, not pipes.
    constexpr std::size_t relays = 60, sparePipes = 16;
    std::vector<std::unique_ptr<tcp::socket>> sockets;
    for (std::size_t i = 0; i < relays; ++i) {
        sockets.push_back(std::make_unique<tcp::socket>(io));
        sockets.back()->connect(engine.proxy);
        CHECK_EQ(support::socksGet(*sockets.back(), "127.0.0.1", origin.port(), "/name", true),
            "origin");
    }
    const std::size_t held = support::openDescriptors(pid) - baseline;
    CHECK_MSG(held <= 2 * relays + 2 * sparePipes, std::to_string(held) + " descriptors");
    sockets.clear();

    // Out of descriptors: one line, no spinning, and service again once the clients leave.
    limit.rlim_cur = limit.rlim_max = engine.settle(baseline + 2 * sparePipes) + 16;
    CHECK(::prlimit(pid, RLIMIT_NOFILE, &limit, nullptr) == 0);
    for (int i = 0; i < 64; ++i) {
        sockets.push_back(std::make_unique<tcp::socket>(io));
        sockets.back()->connect(engine.proxy);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    CHECK_EQ(support::linesWith(engine.log, "accept: Too many open files"), 1u);
    sockets.clear();
    std::string answer;
    for (int i = 0; i < 50 && answer.rfind("HTTP/1.1 200", 0) != 0; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        answer = throughProxy(engine.proxy, false, "127.0.0.1", origin.port());
    }
    CHECK_MSG(answer.rfind("HTTP/1.1 200", 0) == 0, answer);
    CHECK_EQ(
        support::linesWith(engine.log, "accept: Too many open files"), 1u); // also on the way out
}

TEST_CASE(floods)
{
    qivro::engine::Config config;
    std::string error;
    CHECK(qivro::engine::parseConfig(
        json {{"inbounds", {mixedInbound()}},
            {"experimental",
                {{"clash_api", {{"external_controller", "127.0.0.1:0"}, {"secret", "s"}}}}}}
            .dump(),
        config, error));
    constexpr int cap = 4;
    config.inbounds[0].maxSessions = config.controllerMaxConnections = cap;
    config.inbounds[0].handshakeTimeoutMs = config.controllerRequestTimeoutMs = 2000;
    config.controllerIdleMs = 2000;
    LogCapture logs;
    RunningEngine running(std::move(config));
    asio::io_context io;
    const auto connect = [&](std::uint16_t port) {
        auto socket = std::make_unique<tcp::socket>(io);
        socket->connect({asio::ip::make_address("127.0.0.1"), port});
        return socket;
    };
    // Past the cap: closed at once, logged once; within it: closed at the request deadline.
    for (const std::uint16_t port : {running.mixedPort(), running.apiPort()}) {
        std::vector<std::unique_ptr<tcp::socket>> idle;
        for (int i = 0; i < cap + 2; ++i)
            idle.push_back(connect(port));
        for (int i = 0; i < cap + 2; ++i)
            CHECK_MSG(readUntilClosed(*idle[i], i < cap ? 5000 : 1000).closed(), std::to_string(i));
    }
    {
        std::lock_guard lock(logs.mutex);
        CHECK_EQ(
            std::count_if(logs.lines.begin(), logs.lines.end(),
                [](const std::string &line) { return line.find("the most allowed") != line.npos; }),
            2);
    }
    // A kept-alive control connection goes after the idle limit.
    const std::string auth = "Host: 127.0.0.1\r\nAuthorization: Bearer s\r\n";
    auto keptAlive = connect(running.apiPort());
    asio::write(*keptAlive, asio::buffer("GET /version HTTP/1.1\r\n" + auth + "\r\n"));
    const Received kept = readUntilClosed(*keptAlive, 5000);
    CHECK(kept.closed() && kept.data.rfind("HTTP/1.1 200", 0) == 0);

    // Masked pings that are never answered by reading the pongs: closed, not buffered.
    auto socket = std::make_unique<tcp::socket>(io);
    socket->open(tcp::v4());
    socket->set_option(asio::socket_base::receive_buffer_size(4096));
    socket->connect({asio::ip::make_address("127.0.0.1"), running.apiPort()});
    asio::write(*socket,
        asio::buffer("GET /traffic HTTP/1.1\r\n" + auth
            + "Upgrade: websocket\r\nConnection: Upgrade\r\nSec-WebSocket-Key: dGhlIHNhbXBsZQ==\r\n"
              "Sec-WebSocket-Version: 13\r\n\r\n"));
    std::string head;
    asio::read_until(*socket, asio::dynamic_buffer(head), "\r\n\r\n");
    CHECK(head.rfind("HTTP/1.1 101", 0) == 0);
    std::string pings;
    for (int i = 0; i < 512; ++i)
        pings += std::string {'\x89', static_cast<char>(0x80 | 125), 1, 2, 3, 4}
            + std::string(125, 'p');
    std::error_code writeError;
    std::size_t sent = 0;
    while (!writeError && sent < (64u << 20))
        sent += asio::write(*socket, asio::buffer(pings), writeError);
    CHECK_MSG(writeError, "the engine took " + std::to_string(sent >> 20) + " MiB of pings");
}

TEST_CASE(controlApiWithoutSecret)
{
    const auto config = [](const std::string &controller) {
        return json {{"inbounds", {mixedInbound()}},
            {"experimental",
                {{"clash_api", {{"external_controller", controller}, {"secret", ""}}}}}};
    };
    for (const char *everywhere : {"0.0.0.0:0", "[::]:0"}) {
        qivro::engine::Engine engine;
        const std::string error = engine.startWithText(config(everywhere).dump());
        CHECK_MSG(error.find("a secret is required") != std::string::npos, error);
    }
    RunningEngine running(config(":0"));
    const std::string api = std::to_string(running.apiPort());
    asio::io_context io;
    tcp::socket elsewhere(io);
    std::error_code error;
    elsewhere.connect({asio::ip::make_address("127.0.0.2"), running.apiPort()}, error);
    CHECK_MSG(error, "\":PORT\" listens beyond 127.0.0.1");
    // What pages send, also one served elsewhere that rebound its name to loopback.
    const std::vector<std::tuple<std::string, std::string, int>> rows = {
        {"127.0.0.1:" + api, "", 200},
        {"LocalHost", "", 200},
        {"[::1]:9090", "", 200},
        {"127.0.0.1", "http://localhost:5173", 200},
        {"", "", 403},
        {"rebound.example:" + api, "", 403},
        {"127.0.0.1.rebound.example", "", 403},
        {"localhost:90x", "", 403},
        {"127.0.0.1", "http://rebound.example", 403},
        {"127.0.0.1", "null", 403},
    };
    for (const auto &[host, origin, status] : rows) {
        std::map<std::string, std::string> headers = {{"Host", host}};
        if (!origin.empty())
            headers["Origin"] = origin;
        support::HttpResult result
            = support::httpCall(running.apiPort(), "GET", "/version", headers);
        CHECK_MSG(result.status == status, host + " " + origin);
        CHECK_MSG(!result.headers.count("access-control-allow-origin"), host);
    }
    support::HttpResult preflight = support::httpCall(running.apiPort(), "OPTIONS", "/proxies",
        {{"Origin", "http://localhost:5173"}, {"Access-Control-Request-Method", "PUT"}});
    CHECK(preflight.status == 204 && !preflight.headers.count("access-control-allow-origin"));
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
