// Engine benchmarks on loopback, each measured side by side with a reference in one run:
//   throughput  1 GiB through mixed + Shadowsocks aes-128-gcm to ss-server, against ss-local
//   direct      1 GiB through mixed to direct, against a raw loopback copy and against the
//               tightest relay possible (blocking splice(), a thread per direction)
//   requests    short HTTP requests per second through mixed to direct, against the origin itself
//   put         latency of PUT /proxies/proxy while 1 GiB flows
//   memory      resident memory of the engine idle and with 1,000 idle connections
//   reality     256 MiB and 200 handshakes through mixed + VLESS+REALITY+vision to the tests'
//               REALITY server, against VLESS+TLS (OpenSSL, and the engine's chrome hello) to v2ray
//   load        concurrent relayed connections under a soft descriptor limit of 1024, and under a
//               hard one
//   abuse       time to refuse the self-loop, CPU while descriptors are exhausted, resident
//               memory after each abuse
//   vless       512 MiB through mixed + VLESS (plain, TLS, ws, ws+TLS) to v2ray, against v2ray's
//               own client
//   vless-memory  1,000 idle connections through VLESS+TLS against the same through Shadowsocks
//   hysteria2   bulk download through Hysteria 2 (to the test server) against Shadowsocks (to
//               ss-server), on loopback and, as root, with 2 % loss on the proxy leg inside a
//               private network namespace; engine CPU per GiB for both
//   tun         1 GiB through the TUN to direct, against the same through mixed, in one engine
//               (root: it runs in network namespaces of its own)
// Usage: bench_engine <qivro-engine binary> [name...]
#include "common/base64url.h"
#include "hy2server.h"
#include "peernamespace.h"
#include "procstat.h"
#include "realityserver.h"
#include "support.h"
#include "testcerts.h"
#include "visionserver.h"

#include <algorithm>
#include <asio/read.hpp>
#include <asio/read_until.hpp>
#include <asio/write.hpp>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <fcntl.h>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>
#include <sys/resource.h>
#include <sys/socket.h>
#include <thread>
#include <time.h>
#include <unistd.h>

using asio::ip::tcp;
using Clock = std::chrono::steady_clock;
using bench::machineTicks;
using bench::processCpuSeconds;
using nlohmann::json;

namespace {

std::string g_engine;
constexpr std::uint64_t gib = 1ull << 30;

double seconds(Clock::duration d)
{
    return std::chrono::duration<double>(d).count();
}

double threadCpuSeconds()
{
    timespec now {};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

// Context switches of the calling thread so far: how often it slept waiting for its peer.
long threadSwitches()
{
    rusage usage {};
    getrusage(RUSAGE_THREAD, &usage);
    return usage.ru_nvcsw + usage.ru_nivcsw;
}

// Context switches of every thread of a process so far.
long processSwitches(int pid)
{
    long total = 0;
    const std::string base = "/proc/" + std::to_string(pid) + "/task/";
    for (int tid = pid; tid < pid + 64; ++tid) {
        std::ifstream status(base + std::to_string(tid) + "/status");
        std::string line;
        while (std::getline(status, line)) {
            if (line.rfind("voluntary_ctxt_switches:", 0) == 0
                || line.rfind("nonvoluntary_ctxt_switches:", 0) == 0)
                total += std::stol(line.substr(line.find(':') + 1));
        }
    }
    return total;
}

void addCpu(std::atomic<double> &total, double amount)
{
    double seen = total.load();
    while (!total.compare_exchange_weak(seen, seen + amount)) { }
}

// Streams `size` bytes to every connection once it has read one line.
class Source
{
public:
    explicit Source(std::uint64_t size)
        : m_size(size)
        , m_acceptor(m_io, {asio::ip::make_address("127.0.0.1"), 0})
    {
        m_thread = std::thread([this] {
            while (true) {
                tcp::socket socket(m_io);
                std::error_code error;
                m_acceptor.accept(socket, error);
                if (error || m_stop)
                    return;
                std::thread([this, socket = std::move(socket)]() mutable {
                    serve(socket);
                }).detach();
            }
        });
    }
    ~Source()
    {
        m_stop = true;
        support::waitForTcpPort(port(), 100);
        m_thread.join();
    }
    std::uint16_t port() const { return m_acceptor.local_endpoint().port(); }
    // CPU seconds of the serving threads since the last call.
    double takeCpu() { return m_cpu.exchange(0); }

private:
    void serve(tcp::socket &socket)
    {
        const double began = threadCpuSeconds();
        std::error_code error;
        std::string line;
        asio::read_until(socket, asio::dynamic_buffer(line), "\n", error);
        std::vector<char> block(256 * 1024, 'x');
        std::uint64_t left = m_size;
        while (left > 0 && !error) {
            const std::size_t n
                = static_cast<std::size_t>(std::min<std::uint64_t>(left, block.size()));
            asio::write(socket, asio::buffer(block.data(), n), error);
            left -= n;
        }
        addCpu(m_cpu, threadCpuSeconds() - began);
        socket.shutdown(tcp::socket::shutdown_send, error);
    }

    std::uint64_t m_size;
    std::atomic<double> m_cpu {0};
    asio::io_context m_io;
    tcp::acceptor m_acceptor;
    std::atomic<bool> m_stop {false};
    std::thread m_thread;
};

// Holds every accepted connection open without a thread each.
class Holder
{
public:
    Holder()
        : m_acceptor(m_io, {asio::ip::make_address("127.0.0.1"), 0})
    {
        m_thread = std::thread([this] {
            while (true) {
                auto socket = std::make_unique<tcp::socket>(m_io);
                std::error_code error;
                m_acceptor.accept(*socket, error);
                if (error || m_stop)
                    return;
                m_sockets.push_back(std::move(socket));
            }
        });
    }
    ~Holder()
    {
        m_stop = true;
        support::waitForTcpPort(port(), 100);
        m_thread.join();
    }
    std::uint16_t port() const { return m_acceptor.local_endpoint().port(); }

private:
    asio::io_context m_io;
    tcp::acceptor m_acceptor;
    std::atomic<bool> m_stop {false};
    std::vector<std::unique_ptr<tcp::socket>> m_sockets;
    std::thread m_thread;
};

// The least work any user-space relay can do on this machine: a blocking thread per direction
// moving bytes socket -> pipe -> socket with splice(), no event loop, no bookkeeping. Forwards
// every accepted connection to the target port.
class SpliceRelay
{
public:
    explicit SpliceRelay(std::uint16_t target)
        : m_acceptor(m_io, {asio::ip::make_address("127.0.0.1"), 0})
    {
        m_thread = std::thread([this, target] {
            while (true) {
                tcp::socket client(m_io);
                std::error_code error;
                m_acceptor.accept(client, error);
                if (error || m_stop)
                    return;
                tcp::socket upstream(m_io);
                upstream.connect({asio::ip::make_address("127.0.0.1"), target}, error);
                if (error)
                    continue;
                std::thread up([&] { pump(client.native_handle(), upstream.native_handle()); });
                pump(upstream.native_handle(), client.native_handle());
                up.join();
            }
        });
    }
    ~SpliceRelay()
    {
        m_stop = true;
        support::waitForTcpPort(port(), 100);
        m_thread.join();
    }
    std::uint16_t port() const { return m_acceptor.local_endpoint().port(); }
    double takeCpu() { return m_cpu.exchange(0); }
    long takeSwitches() { return m_switches.exchange(0); }

private:
    void pump(int from, int to)
    {
        const double began = threadCpuSeconds();
        const long switches = threadSwitches();
        int pipe[2];
        if (::pipe2(pipe, O_CLOEXEC) != 0)
            return;
        ::fcntl(pipe[1], F_SETPIPE_SZ, 1 << 20);
        while (true) {
            ssize_t moved = ::splice(from, nullptr, pipe[1], nullptr, 1 << 20, SPLICE_F_MOVE);
            if (moved <= 0)
                break;
            while (moved > 0) {
                const ssize_t written
                    = ::splice(pipe[0], nullptr, to, nullptr, moved, SPLICE_F_MOVE);
                if (written <= 0)
                    break;
                moved -= written;
            }
            if (moved > 0)
                break;
        }
        ::close(pipe[0]);
        ::close(pipe[1]);
        addCpu(m_cpu, threadCpuSeconds() - began);
        m_switches += threadSwitches() - switches;
        ::shutdown(to, SHUT_WR);
    }

    asio::io_context m_io;
    tcp::acceptor m_acceptor;
    std::atomic<bool> m_stop {false};
    std::atomic<double> m_cpu {0};
    std::atomic<long> m_switches {0};
    std::thread m_thread;
};

bool socksConnect(tcp::socket &socket, std::uint16_t proxyPort, std::uint16_t targetPort)
{
    std::error_code error;
    socket.connect({asio::ip::make_address("127.0.0.1"), proxyPort}, error);
    const unsigned char request[] = {5, 1, 0, 5, 1, 0, 1, 127, 0, 0, 1,
        static_cast<unsigned char>(targetPort >> 8), static_cast<unsigned char>(targetPort & 0xFF)};
    asio::write(socket, asio::buffer(request), error);
    unsigned char reply[12];
    asio::read(socket, asio::buffer(reply), error);
    return !error && reply[1] == 0 && reply[3] == 0;
}

// Bytes per second of one download from the source, through SOCKS5 when socks is set (else
// straight to port). clientCpu receives the CPU seconds the reading thread used.
double download(std::uint16_t port, std::uint16_t sourcePort, std::uint64_t expected,
    bool socks = true, double *clientCpu = nullptr)
{
    asio::io_context io;
    tcp::socket socket(io);
    std::error_code error;
    const double cpuBefore = threadCpuSeconds();
    const auto start = Clock::now();
    if (socks) {
        if (!socksConnect(socket, port, sourcePort))
            return 0;
    } else {
        socket.connect({asio::ip::make_address("127.0.0.1"), port}, error);
    }
    asio::write(socket, asio::buffer(std::string("go\n")), error);
    std::vector<char> buffer(256 * 1024);
    std::uint64_t total = 0;
    // The clock stops at the last byte: a server may hold a finished download open for a while
    // (v2ray waits its uplinkOnly policy, a second, for the upload to end), which says nothing of
    // either client's speed. The end of stream is still awaited, so extra bytes still fail.
    auto last = Clock::now();
    while (true) {
        const std::size_t n = socket.read_some(asio::buffer(buffer), error);
        total += n;
        if (n > 0)
            last = Clock::now();
        if (error)
            break;
    }
    const double elapsed = seconds(last - start);
    if (clientCpu)
        *clientCpu = threadCpuSeconds() - cpuBefore;
    if (total != expected) {
        std::printf("  short transfer: %llu of %llu bytes\n",
            static_cast<unsigned long long>(total), static_cast<unsigned long long>(expected));
        return 0;
    }
    return static_cast<double>(total) / elapsed;
}

struct EngineProcess
{
    std::uint16_t mixed = support::freeTcpPort();
    std::uint16_t api = support::freeTcpPort();
    std::string log = "/dev/null";
    std::unique_ptr<support::Process> process;

    // ulimit: options for the shell's ulimit before the engine starts ("-S -n 1024"), if any.
    explicit EngineProcess(json outbounds, const std::string &final, const std::string &ulimit = {},
        const std::string &logLevel = "error")
    {
        const json config = {{"log", {{"level", logLevel}}},
            {"inbounds",
                {{{"type", "mixed"}, {"tag", "mixed-in"}, {"listen", "127.0.0.1"},
                    {"listen_port", mixed}, {"sniff", true}}}},
            {"outbounds", outbounds}, {"route", {{"final", final}}},
            {"experimental",
                {{"clash_api",
                    {{"external_controller", "127.0.0.1:" + std::to_string(api)},
                        {"secret", "bench"}}}}}};
        const std::string path
            = support::writeTempFile("bench-" + std::to_string(mixed) + ".json", config.dump());
        std::vector<std::string> argv = {g_engine, "run", "-c", path};
        if (!ulimit.empty()) {
            log = path + ".log";
            argv.insert(argv.begin(), {"sh", "-c", "ulimit " + ulimit + " && exec \"$@\"", "sh"});
        }
        process = std::make_unique<support::Process>(argv, log);
        support::waitForTcpPort(mixed);
        support::waitForTcpPort(api);
    }
};

json directOutbounds()
{
    return {{{"type", "selector"}, {"tag", "proxy"}, {"outbounds", {"direct", "direct2"}}},
        {{"type", "direct"}, {"tag", "direct"}}, {{"type", "direct"}, {"tag", "direct2"}}};
}

void printRatio(
    const char *what, double ours, double reference, const char *unit, double scale, double target)
{
    const double ratio = reference > 0 ? ours / reference : 0.0;
    std::printf("  %-44s ours %10.1f %s   reference %10.1f %s   ratio %.2f", what, ours / scale,
        unit, reference / scale, unit, ratio);
    if (target > 0)
        std::printf(" (target >= %.1f: %s)\n", target, ratio >= target ? "met" : "missed");
    else
        std::printf("\n");
}

void benchThroughput()
{
    std::printf("throughput: 1 GiB through Shadowsocks aes-128-gcm to ss-server\n");
    if (!support::haveProgram("ss-server") || !support::haveProgram("ss-local")) {
        std::printf("  ss-server or ss-local missing (shadowsocks-libev): skipped\n");
        return;
    }
    Source source(gib);
    const std::uint16_t serverPort = support::freeTcpPort();
    support::Process server({"ss-server", "-s", "127.0.0.1", "-p", std::to_string(serverPort), "-k",
        "bench", "-m", "aes-128-gcm"});
    const std::uint16_t localPort = support::freeTcpPort();
    support::Process local({"ss-local", "-s", "127.0.0.1", "-p", std::to_string(serverPort), "-l",
        std::to_string(localPort), "-b", "127.0.0.1", "-k", "bench", "-m", "aes-128-gcm"});
    support::waitForTcpPort(serverPort);
    support::waitForTcpPort(localPort);
    EngineProcess engine(
        {{{"type", "shadowsocks"}, {"tag", "ss"}, {"server", "127.0.0.1"},
            {"server_port", serverPort}, {"method", "aes-128-gcm"}, {"password", "bench"}}},
        "ss");
    // Alternate and keep the best of two, so one busy moment on a shared machine decides less.
    double ours = 0, reference = 0;
    for (int round = 0; round < 2; ++round) {
        reference = std::max(reference, download(localPort, source.port(), gib));
        ours = std::max(ours, download(engine.mixed, source.port(), gib));
    }
    printRatio("mixed+shadowsocks vs ss-local", ours, reference, "MiB/s", 1 << 20, 1.0);
}

// One transfer: its rate and the CPU seconds each party spent on it.
struct Transfer
{
    double rate = 0;
    double source = 0;
    double relay = 0;
    double client = 0;
    long relaySwitches = 0;
    double idle = 0; // share of the machine's CPU time left idle during the run
};

void printTransfer(const char *what, const Transfer &run)
{
    std::printf("  %-22s %8.1f MiB/s   cpu: source %.2f s, relay %.2f s, client %.2f s;"
                " relay context switches %ld\n",
        what, run.rate / (1 << 20), run.source, run.relay, run.client, run.relaySwitches);
}

void benchDirect()
{
    std::printf("direct: 1 GiB through mixed to direct (best of 3 each, interleaved)\n");
    Source source(gib);
    SpliceRelay minimal(source.port());
    EngineProcess engine(directOutbounds(), "proxy");
    const int pid = engine.process->pid();
    Transfer raw, tight, ours;
    const auto keepBest = [](Transfer &best, const Transfer &run) {
        if (run.rate > best.rate)
            best = run;
    };
    for (int round = 0; round < 3; ++round) {
        Transfer run;
        source.takeCpu();
        run.rate = download(source.port(), 0, gib, false, &run.client);
        run.source = source.takeCpu();
        keepBest(raw, run);

        run = {};
        minimal.takeCpu();
        run.rate = download(minimal.port(), 0, gib, false, &run.client);
        run.source = source.takeCpu();
        run.relay = minimal.takeCpu();
        run.relaySwitches = minimal.takeSwitches();
        keepBest(tight, run);

        run = {};
        const double before = processCpuSeconds(pid);
        const long switches = processSwitches(pid);
        run.rate = download(engine.mixed, source.port(), gib, true, &run.client);
        run.source = source.takeCpu();
        run.relay = processCpuSeconds(pid) - before;
        run.relaySwitches = processSwitches(pid) - switches;
        keepBest(ours, run);
    }
    printTransfer("raw loopback copy", raw);
    printTransfer("minimal splice relay", tight);
    printTransfer("mixed+direct", ours);
    printRatio("mixed+direct vs raw loopback copy", ours.rate, raw.rate, "MiB/s", 1 << 20, 0.8);
    printRatio(
        "ceiling: minimal relay vs raw loopback copy", tight.rate, raw.rate, "MiB/s", 1 << 20, 0.0);
    printRatio("mixed+direct vs minimal relay", ours.rate, tight.rate, "MiB/s", 1 << 20, 0.0);
}

// Requests per second for `seconds` with `clients` parallel clients, each request on a new
// connection; through the proxy as an absolute-form request, or straight to the origin.
double requestRate(
    std::uint16_t port, std::uint16_t originPort, bool viaProxy, int clients, double duration)
{
    std::atomic<long> done {0};
    std::atomic<bool> stop {false};
    std::vector<std::thread> threads;
    const std::string target
        = viaProxy ? "http://127.0.0.1:" + std::to_string(originPort) + "/name" : "/name";
    const std::string request
        = "GET " + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n";
    const auto start = Clock::now();
    for (int i = 0; i < clients; ++i) {
        threads.emplace_back([&] {
            asio::io_context io;
            while (!stop) {
                tcp::socket socket(io);
                std::error_code error;
                socket.connect({asio::ip::make_address("127.0.0.1"), port}, error);
                asio::write(socket, asio::buffer(request), error);
                std::string response;
                asio::read(socket, asio::dynamic_buffer(response), error);
                if (response.compare(0, 12, "HTTP/1.1 200") == 0)
                    ++done;
            }
        });
    }
    std::this_thread::sleep_for(std::chrono::duration<double>(duration));
    stop = true;
    for (auto &thread : threads)
        thread.join();
    return static_cast<double>(done) / seconds(Clock::now() - start);
}

void benchRequests()
{
    std::printf(
        "requests: short HTTP requests through mixed to direct (4 clients, new connection each)\n");
    support::Origin origin("ok", 16);
    EngineProcess engine(directOutbounds(), "proxy");
    const double reference = requestRate(origin.port(), origin.port(), false, 4, 3.0);
    const double ours = requestRate(engine.mixed, origin.port(), true, 4, 3.0);
    printRatio("requests/s via mixed vs straight to origin", ours, reference, "req/s", 1, 0.0);
}

void benchPut()
{
    std::printf("put: PUT /proxies/proxy latency while 1 GiB flows through mixed\n");
    Source source(gib);
    EngineProcess engine(directOutbounds(), "proxy");
    std::atomic<bool> flowing {true};
    double rate = 0;
    std::thread transfer([&] {
        rate = download(engine.mixed, source.port(), gib);
        flowing = false;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    std::vector<double> latencies;
    const std::map<std::string, std::string> auth = {{"Authorization", "Bearer bench"}};
    int failures = 0;
    for (int i = 0; flowing && i < 2000; ++i) {
        const auto start = Clock::now();
        const auto result = support::httpCall(engine.api, "PUT", "/proxies/proxy", auth,
            i % 2 ? "{\"name\": \"direct\"}" : "{\"name\": \"direct2\"}");
        if (!flowing)
            break;
        latencies.push_back(seconds(Clock::now() - start) * 1000);
        failures += result.status != 204;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    transfer.join();
    std::sort(latencies.begin(), latencies.end());
    if (latencies.empty()) {
        std::printf("  no PUT finished during the transfer\n");
        return;
    }
    const auto at = [&](double q) {
        return latencies[std::min(
            latencies.size() - 1, static_cast<std::size_t>(q * latencies.size()))];
    };
    std::printf("  %zu PUTs during the transfer (%.1f MiB/s), %d not 204: p50 %.2f ms  p99 %.2f ms "
                " max %.2f ms"
                "  (target p99 < 5 ms: %s)\n",
        latencies.size(), rate / (1 << 20), failures, at(0.5), at(0.99), latencies.back(),
        at(0.99) < 5 ? "met" : "missed");
}

long rssKiB(int pid)
{
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmRSS:", 0) == 0)
            return std::stol(line.substr(6));
    }
    return -1;
}

// Resident memory of an engine idle, then holding 1,000 idle connections through its outbound
// to the holder.
struct IdleLoad
{
    long idleKiB = 0;
    long loadedKiB = 0;
    std::size_t connections = 0;
    double perConnectionKiB() const
    {
        return connections ? double(loadedKiB - idleKiB) / double(connections) : 0.0;
    }
};

IdleLoad measureIdleLoad(const json &outbounds, const std::string &final, std::uint16_t holderPort)
{
    EngineProcess engine(outbounds, final);
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    const int pid = engine.process->pid();
    IdleLoad load;
    load.idleKiB = rssKiB(pid);
    asio::io_context io;
    std::vector<std::unique_ptr<tcp::socket>> sockets;
    for (int i = 0; i < 1000; ++i) {
        auto socket = std::make_unique<tcp::socket>(io);
        if (!socksConnect(*socket, engine.mixed, holderPort))
            break;
        sockets.push_back(std::move(socket));
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(1500)); // sniffing and handshakes end
    load.loadedKiB = rssKiB(pid);
    load.connections = sockets.size();
    return load;
}

void benchMemory()
{
    std::printf("memory: resident set of the engine process\n");
    Holder holder;
    const IdleLoad load = measureIdleLoad(directOutbounds(), "proxy", holder.port());
    std::printf("  idle %.1f MiB (target < 20 MiB: %s)   with %zu idle connections %.1f MiB (%.1f "
                "KiB each)\n",
        load.idleKiB / 1024.0, load.idleKiB < 20 * 1024 ? "met" : "missed", load.connections,
        load.loadedKiB / 1024.0, load.perConnectionKiB());
}

// A v2ray VLESS server with a tcp, a tls, a ws and a ws+tls inbound, for both clients to share.
struct VlessServer
{
    support::CertificateSet certificates = support::makeCertificates("bench", {"localhost"});
    std::uint16_t plain = support::freeTcpPort();
    std::uint16_t tls = support::freeTcpPort();
    std::uint16_t ws = support::freeTcpPort();
    std::uint16_t wsPlain = support::freeTcpPort();
    std::unique_ptr<support::Process> process;
    const std::string uuid = "b831381d-6324-4d53-ad4f-8cda48b30811";

    VlessServer()
    {
        const json clients = {{"clients", {{{"id", uuid}}}}, {"decryption", "none"}};
        const json tlsSettings = {{"alpn", {"http/1.1"}},
            {"certificates",
                {{{"certificateFile", certificates.certificatePath},
                    {"keyFile", certificates.keyPath}}}}};
        const json inbound
            = {{"listen", "127.0.0.1"}, {"protocol", "vless"}, {"settings", clients}};
        json inbounds = {inbound, inbound, inbound, inbound};
        inbounds[0]["port"] = plain;
        inbounds[0]["streamSettings"] = {{"network", "tcp"}};
        inbounds[1]["port"] = tls;
        inbounds[1]["streamSettings"]
            = {{"network", "tcp"}, {"security", "tls"}, {"tlsSettings", tlsSettings}};
        inbounds[2]["port"] = ws;
        inbounds[2]["streamSettings"] = {{"network", "ws"}, {"wsSettings", {{"path", "/ws"}}},
            {"security", "tls"}, {"tlsSettings", tlsSettings}};
        inbounds[3]["port"] = wsPlain;
        inbounds[3]["streamSettings"] = {{"network", "ws"}, {"wsSettings", {{"path", "/ws"}}}};
        const json config = {{"log", {{"loglevel", "none"}}}, {"inbounds", inbounds},
            {"outbounds", {{{"protocol", "freedom"}}}}};
        const std::string path = support::writeTempFile("bench-v2ray-server.json", config.dump());
        process = std::make_unique<support::Process>(
            std::vector<std::string> {"v2ray", "-config", path});
        for (const std::uint16_t port : {plain, tls, ws, wsPlain})
            support::waitForTcpPort(port);
    }

    std::uint16_t port(const std::string &kind) const
    {
        return kind == "plain" ? plain : kind == "tls" ? tls : kind == "ws" ? wsPlain : ws;
    }

    // Our outbound for one of the inbounds.
    json outbound(const std::string &kind) const
    {
        json result = {{"type", "vless"}, {"tag", "vl"}, {"server", "127.0.0.1"}, {"uuid", uuid},
            {"server_port", port(kind)}};
        if (kind == "tls" || kind == "ws+tls")
            result["tls"] = {{"enabled", true}, {"server_name", "localhost"},
                {"certificate_path", certificates.caPath}};
        if (kind == "ws" || kind == "ws+tls")
            result["transport"] = {{"type", "ws"}, {"path", "/ws"}};
        return result;
    }

    // v2ray as the client: a socks inbound and the same VLESS outbound.
    std::unique_ptr<support::Process> reference(
        const std::string &kind, std::uint16_t socksPort) const
    {
        json stream = {{"network", kind == "ws" || kind == "ws+tls" ? "ws" : "tcp"}};
        if (kind == "tls" || kind == "ws+tls")
            stream.update({{"security", "tls"},
                {"tlsSettings", {{"serverName", "localhost"}, {"allowInsecure", true}}}});
        if (kind == "ws" || kind == "ws+tls")
            stream["wsSettings"] = {{"path", "/ws"}};
        const json config = {{"log", {{"loglevel", "none"}}},
            {"inbounds",
                {{{"listen", "127.0.0.1"}, {"port", socksPort}, {"protocol", "socks"},
                    {"settings", {{"udp", false}}}}}},
            {"outbounds",
                {{{"protocol", "vless"},
                    {"settings",
                        {{"vnext",
                            {{{"address", "127.0.0.1"}, {"port", port(kind)},
                                {"users", {{{"id", uuid}, {"encryption", "none"}}}}}}}}},
                    {"streamSettings", stream}}}}};
        const std::string path = support::writeTempFile(
            "bench-v2ray-" + std::to_string(socksPort) + ".json", config.dump());
        auto process = std::make_unique<support::Process>(
            std::vector<std::string> {"v2ray", "-config", path});
        support::waitForTcpPort(socksPort);
        return process;
    }
};

// Time from the SOCKS connect to the first byte of the answer, for count fresh connections.
std::vector<double> handshakeTimes(std::uint16_t proxyPort, std::uint16_t sourcePort, int count)
{
    std::vector<double> times;
    for (int i = 0; i < count; ++i) {
        asio::io_context io;
        tcp::socket socket(io);
        std::error_code error;
        const auto start = Clock::now();
        if (!socksConnect(socket, proxyPort, sourcePort))
            continue;
        asio::write(socket, asio::buffer(std::string("go\n")), error);
        char first = 0;
        if (asio::read(socket, asio::buffer(&first, 1), error) == 1)
            times.push_back(seconds(Clock::now() - start) * 1000);
    }
    std::sort(times.begin(), times.end());
    return times;
}

void benchReality()
{
    constexpr std::uint64_t size = 256ull << 20;
    constexpr int handshakes = 200;
    std::printf("reality: 256 MiB (best of 3, interleaved) and %d handshakes through mixed + "
                "VLESS; REALITY+vision to the tests' server in this process, TLS to v2ray\n",
        handshakes);
    if (!support::haveProgram("v2ray")) {
        std::printf("  v2ray missing: skipped\n");
        return;
    }
    Source source(size);
    VlessServer v2ray;
    support::VisionServer vision(v2ray.uuid);
    const support::Octets privateKey(32, 0x5a);
    support::RealityServer::Options options;
    options.privateKey = privateKey;
    options.shortIds = {"0123"};
    options.serverNames = {"example.test"};
    options.serve = [&vision](support::TlsServerSession &session) { vision.serve(session); };
    support::RealityServer reality(options);
    const auto publicKey = support::RealityServer::publicKeyOf(privateKey);

    json utls = v2ray.outbound("tls");
    utls["tls"]["utls"] = {{"enabled", true}, {"fingerprint", "chrome"}};
    const json realityOutbound = {{"type", "vless"}, {"tag", "vl"}, {"server", "127.0.0.1"},
        {"server_port", reality.port()}, {"uuid", v2ray.uuid}, {"flow", "xtls-rprx-vision"},
        {"tls",
            {{"enabled", true}, {"server_name", "example.test"},
                {"utls", {{"enabled", true}, {"fingerprint", "chrome"}}},
                {"reality",
                    {{"enabled", true},
                        {"public_key",
                            qivro::engine::encodeBase64Url(publicKey.data(), publicKey.size())},
                        {"short_id", "0123"}}}}}};
    const std::vector<std::pair<std::string, json>> rows
        = {{"vless+tls to v2ray", v2ray.outbound("tls")}, {"vless+tls chrome hello to v2ray", utls},
            {"vless+reality+vision to test server", realityOutbound}};
    std::vector<std::unique_ptr<EngineProcess>> engines;
    for (const auto &row : rows)
        engines.push_back(std::make_unique<EngineProcess>(json::array({row.second}), "vl"));
    std::vector<double> best(rows.size(), 0.0);
    for (int round = 0; round < 3; ++round)
        for (std::size_t i = 0; i < rows.size(); ++i)
            best[i] = std::max(best[i], download(engines[i]->mixed, source.port(), size));
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const std::vector<double> times
            = handshakeTimes(engines[i]->mixed, source.port(), handshakes);
        const auto at = [&times](double share) {
            return times.empty()
                ? 0.0
                : times[std::min(times.size() - 1, static_cast<std::size_t>(share * times.size()))];
        };
        std::printf(
            "  %-38s %8.1f MiB/s   connect to answer: median %.2f ms, p99 %.2f ms (%zu of %d)\n",
            rows[i].first.c_str(), best[i] / (1 << 20), at(0.5), at(0.99), times.size(),
            handshakes);
    }
}

void benchVless()
{
    constexpr std::uint64_t size = 512ull << 20;
    std::printf("vless: 512 MiB through mixed + VLESS to v2ray, against v2ray's own client "
                "(socks inbound, vless outbound); best of 3 each, interleaved\n");
    if (!support::haveProgram("v2ray")) {
        std::printf("  v2ray missing: skipped\n");
        return;
    }
    Source source(size);
    VlessServer server;
    const std::vector<std::pair<std::string, double>> rows
        = {{"plain", 1.2}, {"tls", 1.5}, {"ws", 0.0}, {"ws+tls", 1.5}};
    for (const auto &[kind, target] : rows) {
        EngineProcess engine({server.outbound(kind)}, "vl");
        const std::uint16_t socksPort = support::freeTcpPort();
        const auto reference = server.reference(kind, socksPort);
        // The server's CPU is shared by both runs; it bounds how far a cheaper client can go.
        const int serverPid = server.process->pid();
        Transfer ours, theirs;
        const auto measure = [&](Transfer &best, std::uint16_t port, int clientPid) {
            const double client = processCpuSeconds(clientPid);
            const double serverCpu = processCpuSeconds(serverPid);
            const auto ticks = machineTicks();
            Transfer run;
            run.rate = download(port, source.port(), size);
            run.relay = processCpuSeconds(clientPid) - client;
            run.source = processCpuSeconds(serverPid) - serverCpu;
            const auto after = machineTicks();
            if (after.second > ticks.second)
                run.idle = (after.first - ticks.first) / (after.second - ticks.second);
            if (run.rate > best.rate)
                best = run;
        };
        for (int round = 0; round < 3; ++round) {
            measure(theirs, socksPort, reference->pid());
            measure(ours, engine.mixed, engine.process->pid());
        }
        printRatio(("mixed+vless " + kind + " vs v2ray client").c_str(), ours.rate, theirs.rate,
            "MiB/s", 1 << 20, target);
        // A server busy for the whole transfer is the limit: no client can go faster than it sends.
        const auto serverBusy = [size](const Transfer &run) {
            return run.rate > 0 ? 100 * run.source * run.rate / static_cast<double>(size) : 0;
        };
        std::printf("  %-44s cpu: client ours %.2f s, v2ray %.2f s; server %.2f s, %.2f s (busy "
                    "%.0f %%, %.0f %% of the transfer); machine idle %.0f %%, %.0f %%\n",
            "", ours.relay, theirs.relay, ours.source, theirs.source, serverBusy(ours),
            serverBusy(theirs), ours.idle * 100, theirs.idle * 100);
    }
}

void benchVlessMemory()
{
    std::printf("vless-memory: resident memory per idle connection, VLESS+TLS to v2ray against "
                "Shadowsocks aes-128-gcm to ss-server\n");
    if (!support::haveProgram("v2ray") || !support::haveProgram("ss-server")) {
        std::printf("  v2ray or ss-server missing: skipped\n");
        return;
    }
    Holder holder;
    const std::uint16_t ssPort = support::freeTcpPort();
    support::Process ssServer({"ss-server", "-s", "127.0.0.1", "-p", std::to_string(ssPort), "-k",
        "bench", "-m", "aes-128-gcm"});
    support::waitForTcpPort(ssPort);
    VlessServer server;
    const json shadowsocksOutbound
        = {{"type", "shadowsocks"}, {"tag", "ss"}, {"server", "127.0.0.1"}, {"server_port", ssPort},
            {"method", "aes-128-gcm"}, {"password", "bench"}};
    // Resident memory moves in steps the allocator and the kernel choose; the median of three
    // rounds, alternated, says more than one.
    std::vector<double> shadowsocks, vless;
    std::size_t ssOpened = 0, vlessOpened = 0;
    for (int round = 0; round < 3; ++round) {
        IdleLoad load = measureIdleLoad(json::array({shadowsocksOutbound}), "ss", holder.port());
        shadowsocks.push_back(load.perConnectionKiB());
        ssOpened = load.connections;
        load = measureIdleLoad(json::array({server.outbound("tls")}), "vl", holder.port());
        vless.push_back(load.perConnectionKiB());
        vlessOpened = load.connections;
    }
    const auto median = [](std::vector<double> values) {
        std::sort(values.begin(), values.end());
        return values[values.size() / 2];
    };
    const double ss = median(shadowsocks);
    const double vl = median(vless);
    std::printf("  shadowsocks: %zu connections, %.1f KiB each (rounds %.1f %.1f %.1f)\n", ssOpened,
        ss, shadowsocks[0], shadowsocks[1], shadowsocks[2]);
    std::printf("  vless+tls:   %zu connections, %.1f KiB each (rounds %.1f %.1f %.1f)\n",
        vlessOpened, vl, vless[0], vless[1], vless[2]);
    std::printf("  ratio %.2f (target <= 2.0: %s)\n", ss > 0 ? vl / ss : 0.0,
        ss > 0 && vl <= 2 * ss ? "met" : "missed");
}

// One download through an engine process: MiB/s and the engine's CPU seconds per GiB.
struct Measured
{
    double rate = 0;
    double cpuPerGib = 0;
};

Measured measure(const EngineProcess &engine, const Source &source, std::uint64_t size)
{
    const int pid = engine.process->pid();
    const double before = processCpuSeconds(pid);
    Measured out;
    out.rate = download(engine.mixed, source.port(), size);
    out.cpuPerGib = (processCpuSeconds(pid) - before) * double(gib) / double(size);
    return out;
}

void benchHysteria2(bool lossy)
{
    const std::uint64_t size = lossy ? gib / 8 : gib / 2;
    std::printf("hysteria2: %llu MiB through Hysteria 2 and through Shadowsocks aes-128-gcm%s\n",
        static_cast<unsigned long long>(size >> 20),
        lossy ? ", 2 % of the proxy leg's packets dropped" : " on loopback");
    if (!support::haveProgram("ss-server")) {
        std::printf("  ss-server missing (shadowsocks-libev): skipped\n");
        return;
    }
    Source source(size);
    const std::uint16_t ssPort = support::freeTcpPort();
    support::Process ssServer({"ss-server", "-s", "127.0.0.1", "-p", std::to_string(ssPort), "-k",
        "bench", "-m", "aes-128-gcm"});
    support::waitForTcpPort(ssPort);
    const support::CertificateSet certificate
        = support::makeCertificates("hy2", {"hy2.test", "127.0.0.1"});
    support::Hy2ServerOptions options;
    support::Hy2Server hy2Server(options, certificate);
    if (lossy) {
        const std::string ss = std::to_string(ssPort);
        const std::string hy = std::to_string(hy2Server.port());
        std::string rules = "add table inet loss; add chain inet loss input { type filter hook "
                            "input priority 0; }; ";
        for (const std::string &match :
            {"tcp sport " + ss, "tcp dport " + ss, "udp sport " + hy, "udp dport " + hy})
            rules += "add rule inet loss input " + match + " numgen random mod 100 < 2 drop; ";
        if (support::run({"nft", rules}).exitCode != 0) {
            std::printf("  nft failed: skipped\n");
            return;
        }
    }
    EngineProcess shadowsocks(
        {{{"type", "shadowsocks"}, {"tag", "ss"}, {"server", "127.0.0.1"}, {"server_port", ssPort},
            {"method", "aes-128-gcm"}, {"password", "bench"}}},
        "ss");
    EngineProcess hysteria2({{{"type", "hysteria2"}, {"tag", "hy"}, {"server", "127.0.0.1"},
                                {"server_port", hy2Server.port()}, {"password", options.password},
                                {"tls",
                                    {{"enabled", true}, {"server_name", "hy2.test"},
                                        {"certificate_path", certificate.caPath}}}}},
        "hy");
    Measured ss, hy;
    const auto keepBest = [](Measured &best, const Measured &run) {
        if (run.rate > best.rate)
            best = run;
    };
    for (int round = 0; round < 2; ++round) {
        keepBest(ss, measure(shadowsocks, source, size));
        keepBest(hy, measure(hysteria2, source, size));
    }
    std::printf("  %-12s %8.1f MiB/s   engine cpu %.2f s/GiB\n", "shadowsocks", ss.rate / (1 << 20),
        ss.cpuPerGib);
    std::printf("  %-12s %8.1f MiB/s   engine cpu %.2f s/GiB\n", "hysteria2", hy.rate / (1 << 20),
        hy.cpuPerGib);
    printRatio("hysteria2 vs shadowsocks", hy.rate, ss.rate, "MiB/s", 1 << 20, 0.0);
}

// The lossy run needs a network namespace of its own: this program again, inside unshare -n.
void benchHysteria2Lossy()
{
    if (::geteuid() != 0 || !support::haveProgram("unshare") || !support::haveProgram("nft")) {
        std::printf("hysteria2 with loss: needs root, unshare and nft: skipped\n");
        return;
    }
    char self[4096] = {};
    if (::readlink("/proc/self/exe", self, sizeof self - 1) <= 0)
        return;
    const auto result = support::run(
        {"unshare", "-n", "sh", "-c",
            "ip link set lo up && exec \"$0\" \"$1\" hysteria2-in-namespace", self, g_engine},
        1800);
    std::printf("%s", result.output.c_str());
}

// Echoes on every connection it accepts, thousands of them on one thread.
class EchoHolder
{
public:
    EchoHolder()
        : m_acceptor(m_io, {asio::ip::make_address("127.0.0.1"), 0})
    {
        accept();
        m_thread = std::thread([this] { m_io.run(); });
    }
    ~EchoHolder()
    {
        m_io.stop();
        m_thread.join();
    }
    std::uint16_t port() const { return m_acceptor.local_endpoint().port(); }

private:
    struct Connection : std::enable_shared_from_this<Connection>
    {
        explicit Connection(tcp::socket s)
            : socket(std::move(s))
        { }
        void echo()
        {
            socket.async_read_some(asio::buffer(buffer),
                [self = shared_from_this()](const std::error_code &error, std::size_t size) {
                    if (error)
                        return;
                    asio::async_write(self->socket, asio::buffer(self->buffer, size),
                        [self](const std::error_code &writeError, std::size_t) {
                            if (!writeError)
                                self->echo();
                        });
                });
        }
        tcp::socket socket;
        char buffer[512];
    };
    void accept()
    {
        m_acceptor.async_accept([this](const std::error_code &error, tcp::socket socket) {
            if (error)
                return;
            std::make_shared<Connection>(std::move(socket))->echo();
            accept();
        });
    }

    asio::io_context m_io;
    tcp::acceptor m_acceptor;
    std::thread m_thread;
};

// Opens count relayed connections that each echo a line, all held at once; returns how many
// worked.
std::size_t holdRelays(std::vector<std::unique_ptr<tcp::socket>> &sockets, asio::io_context &io,
    std::uint16_t proxy, std::uint16_t target, std::size_t count)
{
    std::size_t ok = 0;
    const timeval wait {5, 0};
    for (std::size_t i = 0; i < count; ++i) {
        auto socket = std::make_unique<tcp::socket>(io);
        std::error_code error;
        socket->open(tcp::v4(), error);
        ::setsockopt(socket->native_handle(), SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait);
        char line[5] = {};
        if (!error && socksConnect(*socket, proxy, target)) {
            asio::write(*socket, asio::buffer("ping\n", 5), error);
            asio::read(*socket, asio::buffer(line), error);
        }
        ok += !error && std::string(line, 5) == "ping\n";
        sockets.push_back(std::move(socket));
    }
    return ok;
}

void benchLoad()
{
    std::printf("load: 2,000 relayed connections held at once, each echoing a line\n");
    EchoHolder echo;
    for (const char *limit : {"-S -n 1024", "-n 1024"}) {
        EngineProcess engine(directOutbounds(), "proxy", limit);
        asio::io_context io;
        std::vector<std::unique_ptr<tcp::socket>> sockets;
        const std::size_t ok = holdRelays(sockets, io, engine.mixed, echo.port(), 2000);
        const int pid = engine.process->pid();
        std::printf("  ulimit %-11s %zu of 2000 worked (%.0f %% failed), resident %.1f MiB, %zu "
                    "descriptors open (%.2f per working relay)\n",
            limit, ok, 100.0 * double(2000 - ok) / 2000, rssKiB(pid) / 1024.0,
            support::openDescriptors(pid),
            ok ? double(support::openDescriptors(pid)) / double(ok) : 0.0);
    }
}

void benchAbuse()
{
    std::printf("abuse: one engine (soft limit 1024) through each abuse in turn\n");
    EchoHolder echo;
    EngineProcess engine(directOutbounds(), "proxy", "-S -n 1024", "warn");
    const int pid = engine.process->pid();
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    std::printf("  idle: resident %.1f MiB\n", rssKiB(pid) / 1024.0);

    // The self-loop, as reported: time until the engine has answered and closed.
    const std::string request
        = "GET / HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(engine.mixed) + "\r\n\r\n";
    std::vector<double> took;
    for (int i = 0; i < 200; ++i) {
        asio::io_context io;
        tcp::socket socket(io);
        const auto start = Clock::now();
        std::error_code error;
        socket.connect({asio::ip::make_address("127.0.0.1"), engine.mixed}, error);
        asio::write(socket, asio::buffer(request), error);
        std::string answer;
        asio::read(socket, asio::dynamic_buffer(answer), error);
        took.push_back(seconds(Clock::now() - start) * 1000);
    }
    std::sort(took.begin(), took.end());
    std::printf("  self-loop refused in median %.2f ms, max %.2f ms (200 times); resident %.1f MiB,"
                " %zu descriptors\n",
        took[took.size() / 2], took.back(), rssKiB(pid) / 1024.0, support::openDescriptors(pid));

    // Pings that are never read back.
    {
        asio::io_context io;
        tcp::socket socket(io);
        socket.open(tcp::v4());
        socket.set_option(asio::socket_base::receive_buffer_size(4096));
        socket.connect({asio::ip::make_address("127.0.0.1"), engine.api});
        asio::write(socket,
            asio::buffer(std::string("GET /traffic HTTP/1.1\r\nHost: 127.0.0.1\r\n"
                                     "Authorization: Bearer bench\r\nUpgrade: websocket\r\n"
                                     "Connection: Upgrade\r\nSec-WebSocket-Key: YmVuY2g=\r\n"
                                     "Sec-WebSocket-Version: 13\r\n\r\n")));
        std::string frame = {'\x89', static_cast<char>(0x80 | 125), 1, 2, 3, 4};
        frame.append(125, 'p');
        std::string burst;
        for (int i = 0; i < 512; ++i)
            burst += frame;
        std::error_code error;
        std::size_t sent = 0;
        while (!error && sent < (512u << 20))
            sent += asio::write(socket, asio::buffer(burst), error);
        std::printf("  ping flood: closed by the engine after %.1f MiB of pings (%s); resident "
                    "%.1f MiB\n",
            double(sent) / (1 << 20), error ? error.message().c_str() : "never",
            rssKiB(pid) / 1024.0);
    }

    // Out of descriptors: as if the rest of the process held all but 1024 of them.
    rlimit limit {1024, 1024};
    prlimit(pid, RLIMIT_NOFILE, &limit, nullptr);
    asio::io_context io;
    std::vector<std::unique_ptr<tcp::socket>> idle;
    for (int i = 0; i < 1100; ++i) {
        idle.push_back(std::make_unique<tcp::socket>(io));
        std::error_code error;
        idle.back()->connect({asio::ip::make_address("127.0.0.1"), engine.mixed}, error);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    const double cpuBefore = processCpuSeconds(pid);
    const auto measured = Clock::now();
    std::this_thread::sleep_for(std::chrono::seconds(5));
    const double cpu = (processCpuSeconds(pid) - cpuBefore) / seconds(Clock::now() - measured);
    idle.clear();
    const auto released = Clock::now();
    std::vector<std::unique_ptr<tcp::socket>> good;
    while (holdRelays(good, io, engine.mixed, echo.port(), 1) == 0
        && Clock::now() - released < std::chrono::seconds(10))
        good.clear();
    std::printf("  1,100 idle connections at a limit of 1024: CPU %.1f %% of a core, %zu accept "
                "lines logged; served again %.0f ms after they left; resident %.1f MiB\n",
        cpu * 100, support::linesWith(engine.log, "accept:"),
        seconds(Clock::now() - released) * 1000, rssKiB(pid) / 1024.0);
}

// The origin sits behind a veth pair in a second namespace; one engine has a TUN inbound (MTU
// 1500, as the client writes it) and a mixed inbound, both ending in the direct outbound.
void benchTun()
{
    std::printf("tun: 1 GiB through the TUN to direct, against the same through mixed (best of "
                "3 each, interleaved)\n");
    std::string why;
    if (!support::PeerNamespace::isolate(why)) {
        std::printf("  %s: skipped\n", why.c_str());
        return;
    }
    support::PeerNamespace peer;
    if (!peer.start({"198.18.1.10"}, why)) {
        std::printf("  %s\n", why.c_str());
        return;
    }
    peer.spawn({QIVRO_TUNPEER_PATH, "7000"});
    const std::uint16_t mixed = support::freeTcpPort();
    const json config = {{"log", {{"level", "error"}}},
        {"inbounds",
            {{{"type", "tun"}, {"tag", "tun-in"}, {"interface_name", "tun0"},
                 {"address", {"198.18.0.1/30"}}, {"mtu", 1500}, {"auto_route", true},
                 {"strict_route", true}, {"sniff", true}, {"stack", "mixed"}},
                {{"type", "mixed"}, {"tag", "mixed-in"}, {"listen", "127.0.0.1"},
                    {"listen_port", mixed}, {"sniff", true}}}},
        {"outbounds", {{{"type", "direct"}, {"tag", "direct"}}}}, {"route", {{"final", "direct"}}}};
    const std::string path = support::writeTempFile("bench-tun.json", config.dump());
    support::Process engine({g_engine, "run", "-c", path});
    support::waitForTcpPort(mixed);
    const int pid = engine.pid();
    const auto transfer = [&](bool viaTun) {
        Transfer run;
        asio::io_context io;
        tcp::socket socket(io);
        std::error_code error;
        const double before = processCpuSeconds(pid);
        const double cpuBefore = threadCpuSeconds();
        const auto start = Clock::now();
        const tcp::endpoint origin(asio::ip::make_address("198.18.1.10"), 7003);
        if (viaTun) {
            socket.connect(origin, error);
        } else {
            socket.connect({asio::ip::make_address("127.0.0.1"), mixed}, error);
            const unsigned char request[]
                = {5, 1, 0, 5, 1, 0, 1, 198, 18, 1, 10, 7003 >> 8, 7003 & 0xFF};
            asio::write(socket, asio::buffer(request), error);
            unsigned char reply[12];
            asio::read(socket, asio::buffer(reply), error);
        }
        asio::write(socket, asio::buffer(std::to_string(gib) + "\n"), error);
        std::vector<char> buffer(256 * 1024);
        std::uint64_t total = 0;
        while (!error)
            total += socket.read_some(asio::buffer(buffer), error);
        run.rate = total == gib ? static_cast<double>(total) / seconds(Clock::now() - start) : 0;
        run.relay = processCpuSeconds(pid) - before;
        run.client = threadCpuSeconds() - cpuBefore;
        return run;
    };
    Transfer tun, proxy;
    for (int round = 0; round < 3; ++round) {
        const Transfer viaTun = transfer(true);
        if (viaTun.rate > tun.rate)
            tun = viaTun;
        const Transfer viaMixed = transfer(false);
        if (viaMixed.rate > proxy.rate)
            proxy = viaMixed;
    }
    std::printf("  %-22s %8.1f MiB/s   engine cpu %.2f s/GiB   client cpu %.2f s/GiB\n",
        "tun+direct", tun.rate / (1 << 20), tun.relay, tun.client);
    std::printf("  %-22s %8.1f MiB/s   engine cpu %.2f s/GiB   client cpu %.2f s/GiB\n",
        "mixed+direct", proxy.rate / (1 << 20), proxy.relay, proxy.client);
    printRatio("tun+direct vs mixed+direct", tun.rate, proxy.rate, "MiB/s", 1 << 20, 0.8);
}

} // namespace

int main(int argc, char **argv)
{
    if (argc < 2) {
        std::fprintf(stderr,
            "usage: %s <qivro-engine> "
            "[throughput|direct|requests|put|memory|load|abuse|vless|vless-memory|hysteria2|"
            "reality]...\n",
            argv[0]);
        return 2;
    }
    g_engine = argv[1];
    rlimit limit {};
    if (getrlimit(RLIMIT_NOFILE, &limit) == 0) {
        limit.rlim_cur
            = limit.rlim_max; // 1,000 connections need more than the usual 1,024 descriptors
        setrlimit(RLIMIT_NOFILE, &limit);
    }
    std::vector<std::string> wanted(argv + 2, argv + argc);
    if (wanted.empty())
        wanted = {"throughput", "direct", "requests", "put", "memory", "load", "abuse", "tun"};
    const auto loadAverage = [] {
        std::ifstream file("/proc/loadavg");
        std::string one, five, fifteen;
        file >> one >> five >> fifteen;
        return one + " " + five + " " + fifteen;
    };
    for (const std::string &name : wanted) {
        std::printf("[load average %s]\n", loadAverage().c_str());
        if (name == "throughput")
            benchThroughput();
        else if (name == "direct")
            benchDirect();
        else if (name == "requests")
            benchRequests();
        else if (name == "put")
            benchPut();
        else if (name == "memory")
            benchMemory();
        else if (name == "load")
            benchLoad();
        else if (name == "abuse")
            benchAbuse();
        else if (name == "reality")
            benchReality();
        else if (name == "vless")
            benchVless();
        else if (name == "vless-memory")
            benchVlessMemory();
        else if (name == "hysteria2") {
            benchHysteria2(false);
            benchHysteria2Lossy();
        } else if (name == "hysteria2-in-namespace")
            benchHysteria2(true);
        else if (name == "tun")
            benchTun();
        else
            std::fprintf(stderr, "unknown benchmark: %s\n", name.c_str());
    }
    return 0;
}
