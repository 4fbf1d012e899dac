// Link profiles: a 100 KB page and a bulk download from one origin, without a proxy and through
// the engine with Shadowsocks, VLESS+REALITY+vision and Hysteria 2, across links that linkemu
// emulates (delay, random loss each way, rate). Root only: it runs in network namespaces of its
// own, the client side here, the servers and the origin behind the link.
//   bench_links <qivro-engine> <linkemu> [rounds [direct|shadowsocks|reality|hysteria2...]]
// Each round starts the engines afresh: its first page fetch pays every handshake (Hysteria 2's
// QUIC connection is then reused), the next ones are the medians. Rounds interleave the rows.
#include "farnodes.h"
#include "linkemulator.h"
#include "peernamespace.h"
#include "procstat.h"

#include <algorithm>
#include <arpa/inet.h>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <map>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <nlohmann/json.hpp>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

using Clock = std::chrono::steady_clock;
using nlohmann::json;

namespace {

std::string g_engine;
std::string g_linkemu;

struct Profile
{
    double rttMs;
    double lossPercent;
    double rateMbit;
};

constexpr std::size_t pageSize = 100 * 1000;
constexpr double bulkWarmUp = 2.0; // seconds of the download left out: slow start
constexpr double bulkWindow = 10.0;
constexpr int pagesPerRound = 10;

double ms(Clock::duration d)
{
    return std::chrono::duration<double, std::milli>(d).count();
}

std::string loadAverage()
{
    std::ifstream file("/proc/loadavg");
    std::string one, five, fifteen;
    file >> one >> five >> fifteen;
    return one + " " + five + " " + fifteen;
}

double median(std::vector<double> values)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

// On the far side: after "down\n" streams bytes until the connection closes; after "up\n"
// counts what arrives over bulkWindow seconds after bulkWarmUp from its first byte, then closes.
class Bulk
{
public:
    explicit Bulk(const support::LinkEmulator &link)
    {
        link.onFarSide([this] {
            m_listener
                = std::make_unique<support::Listener>([this](int fd) { serve(fd); }, "0.0.0.0");
        });
    }
    std::uint16_t port() const { return m_listener->port(); }
    // Mbit/s of the last upload.
    double uploaded() const { return m_uploaded.load(); }

private:
    void serve(int fd)
    {
        std::vector<char> block(256 * 1024, 'x');
        char line[5] = {};
        if (!support::readExact(fd, reinterpret_cast<std::uint8_t *>(line), 3))
            return;
        if (std::string(line) == "dow") {
            while (::send(fd, block.data(), block.size(), MSG_NOSIGNAL) > 0) { }
            return;
        }
        m_uploaded = 0;
        Clock::time_point first;
        std::uint64_t counted = 0;
        for (ssize_t size; (size = ::recv(fd, block.data(), block.size(), 0)) > 0;) {
            const auto now = Clock::now();
            if (first == Clock::time_point())
                first = now;
            const double at = ms(now - first) / 1000;
            if (at >= bulkWarmUp + bulkWindow)
                break;
            if (at >= bulkWarmUp)
                counted += static_cast<std::uint64_t>(size);
        }
        m_uploaded = static_cast<double>(counted) * 8 / bulkWindow / 1e6;
    }

    std::atomic<double> m_uploaded {0};
    std::unique_ptr<support::Listener> m_listener;
};

// A connection to the far side, through SOCKS5 on proxyPort unless it is 0; -1 on failure.
int open(std::uint16_t proxyPort, std::uint16_t port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in to {};
    to.sin_family = AF_INET;
    to.sin_port = htons(proxyPort ? proxyPort : port);
    ::inet_pton(AF_INET, proxyPort ? "127.0.0.1" : support::LinkEmulator::farAddress, &to.sin_addr);
    const int one = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    if (::connect(fd, reinterpret_cast<sockaddr *>(&to), sizeof to) != 0) {
        ::close(fd);
        return -1;
    }
    if (proxyPort) {
        std::uint8_t request[] = {5, 1, 0, 5, 1, 0, 1, 0, 0, 0, 0,
            static_cast<std::uint8_t>(port >> 8), static_cast<std::uint8_t>(port)};
        ::inet_pton(AF_INET, support::LinkEmulator::farAddress, request + 7);
        std::uint8_t reply[12];
        if (!support::sendAll(fd, request, sizeof request)
            || !support::readExact(fd, reply, sizeof reply) || reply[1] != 0 || reply[3] != 0) {
            ::close(fd);
            return -1;
        }
    }
    return fd;
}

struct Fetch
{
    double firstByteMs = 0; // from the start of the connection
    double totalMs = 0;
    bool ok = false;
};

// GET /blob on a new connection, timed from the connect to the first and the last byte of the
// answer (not its close, which a proxy may pass on later).
Fetch fetchPage(std::uint16_t proxyPort, std::uint16_t originPort)
{
    Fetch fetch;
    const auto start = Clock::now();
    const int fd = open(proxyPort, originPort);
    if (fd < 0)
        return fetch;
    const std::string request = "GET /blob HTTP/1.1\r\nHost: origin\r\n\r\n";
    support::sendAll(fd, reinterpret_cast<const std::uint8_t *>(request.data()), request.size());
    std::string response;
    char buffer[65536];
    for (ssize_t size; !fetch.ok && (size = ::recv(fd, buffer, sizeof buffer, 0)) > 0;) {
        if (response.empty())
            fetch.firstByteMs = ms(Clock::now() - start);
        response.append(buffer, static_cast<std::size_t>(size));
        const std::size_t body = response.find("\r\n\r\n");
        fetch.ok = body != std::string::npos && response.size() - body - 4 == pageSize;
    }
    fetch.totalMs = ms(Clock::now() - start);
    ::close(fd);
    return fetch;
}

// A download counted over bulkWindow seconds after bulkWarmUp from the first byte: Mbit/s, and
// the CPU seconds the engine and this process (the servers and the client) used meanwhile.
struct Download
{
    double mbit = 0;
    double engineCpu = 0;
    double ownCpu = 0;
    double machineIdle = 0; // share of the machine's CPU time left idle
};

Download download(std::uint16_t proxyPort, std::uint16_t sourcePort, int enginePid)
{
    Download bulk;
    const int fd = open(proxyPort, sourcePort);
    if (fd < 0 || ::send(fd, "dow", 3, MSG_NOSIGNAL) != 3)
        return bulk;
    std::vector<char> buffer(1 << 20);
    Clock::time_point first;
    std::uint64_t counted = 0;
    bool started = false;
    bool counting = false;
    std::pair<double, double> ticks;
    const auto sample = [&](double sign) {
        bulk.engineCpu += sign * (enginePid > 0 ? bench::processCpuSeconds(enginePid) : 0);
        bulk.ownCpu += sign * bench::processCpuSeconds(::getpid());
    };
    while (true) {
        pollfd entry {fd, POLLIN, 0};
        if (::poll(&entry, 1, 30000) <= 0)
            break;
        const ssize_t size = ::recv(fd, buffer.data(), buffer.size(), 0);
        if (size <= 0)
            break;
        const auto now = Clock::now();
        if (!started) {
            started = true;
            first = now;
        }
        const double at = ms(now - first) / 1000;
        if (at >= bulkWarmUp + bulkWindow)
            break;
        if (at >= bulkWarmUp && !counting) {
            counting = true;
            sample(-1);
            ticks = bench::machineTicks();
        }
        if (counting)
            counted += static_cast<std::uint64_t>(size);
    }
    ::close(fd);
    if (counting) {
        sample(1);
        const auto after = bench::machineTicks();
        if (after.second > ticks.second)
            bulk.machineIdle = (after.first - ticks.first) / (after.second - ticks.second);
    }
    bulk.mbit = static_cast<double>(counted) * 8 / bulkWindow / 1e6;
    return bulk;
}

// Streams to the far side's counter until it closes; the Mbit/s it counted.
double upload(std::uint16_t proxyPort, const Bulk &sink)
{
    const int fd = open(proxyPort, sink.port());
    const std::vector<char> block(256 * 1024, 'x');
    const auto start = Clock::now();
    if (fd < 0 || ::send(fd, "upp", 3, MSG_NOSIGNAL) != 3)
        return 0;
    const timeval patience {1, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &patience, sizeof patience);
    while (ms(Clock::now() - start) < 1000 * (bulkWarmUp + bulkWindow + 10)) {
        if (::send(fd, block.data(), block.size(), MSG_NOSIGNAL) < 0 && errno != EAGAIN)
            break;
    }
    ::close(fd);
    // The counter finishes its window before it closes; its figure is in by now.
    return sink.uploaded();
}

// The engine runner with a mixed inbound on loopback and the node as the final outbound.
struct Engine
{
    std::uint16_t mixed = support::freeTcpPort();
    std::unique_ptr<support::Process> process;

    explicit Engine(const json &outbound)
    {
        const json config = {{"log", {{"level", "error"}}},
            {"inbounds",
                {{{"type", "mixed"}, {"tag", "mixed-in"}, {"listen", "127.0.0.1"},
                    {"listen_port", mixed}, {"sniff", true}}}},
            {"outbounds", {outbound}}, {"route", {{"final", "node"}}}};
        const std::string path = support::writeTempFile(
            "bench-links-" + std::to_string(mixed) + ".json", config.dump());
        process = std::make_unique<support::Process>(
            std::vector<std::string> {g_engine, "run", "-c", path});
        support::waitForTcpPort(mixed);
    }
};

struct Row
{
    std::vector<double> firstByteCold, pageCold, firstByte, page, rate, up;
    double engineCpu = 0, ownCpu = 0, idle = 0; // summed over the rounds
    int failures = 0;
};

void runProfile(const Profile &profile, int rounds, const std::vector<std::string> &only)
{
    std::printf("\nlink: %.0f ms round trip, %.0f %% loss each way, %.0f Mbit/s each way "
                "[load average %s]\n",
        profile.rttMs, profile.lossPercent, profile.rateMbit, loadAverage().c_str());
    support::LinkEmulator link;
    std::string error;
    if (!link.start(g_linkemu,
            {"--delay", std::to_string(profile.rttMs / 2), "--loss",
                std::to_string(profile.lossPercent), "--rate", std::to_string(profile.rateMbit)},
            error)) {
        std::printf("  %s\n", error.c_str());
        return;
    }
    support::FarNodes nodes(link, pageSize);
    Bulk traffic(link);
    if (!nodes.ready()) {
        std::printf("  the servers did not come up\n");
        return;
    }
    std::vector<std::string> names;
    for (const char *name : {"direct", "shadowsocks", "reality", "hysteria2"}) {
        if (only.empty() || std::find(only.begin(), only.end(), name) != only.end())
            names.push_back(name);
    }
    std::map<std::string, Row> rows;
    const std::uint16_t originPort = nodes.origin().port();
    for (int round = 0; round < rounds; ++round) {
        std::map<std::string, std::unique_ptr<Engine>> engines;
        for (const std::string &name : names) {
            if (name != "direct")
                engines[name] = std::make_unique<Engine>(nodes.outbound(name));
        }
        for (int i = 0; i <= pagesPerRound; ++i) {
            for (const std::string &name : names) {
                const std::uint16_t proxy = name == "direct" ? 0 : engines[name]->mixed;
                const Fetch fetch = fetchPage(proxy, originPort);
                Row &row = rows[name];
                if (!fetch.ok) {
                    ++row.failures;
                    continue;
                }
                (i == 0 ? row.firstByteCold : row.firstByte).push_back(fetch.firstByteMs);
                (i == 0 ? row.pageCold : row.page).push_back(fetch.totalMs);
            }
        }
        for (const std::string &name : names) {
            const bool direct = name == "direct";
            const std::uint16_t proxy = direct ? 0 : engines[name]->mixed;
            const Download down
                = download(proxy, traffic.port(), direct ? 0 : engines[name]->process->pid());
            Row &row = rows[name];
            row.rate.push_back(down.mbit);
            row.engineCpu += down.engineCpu;
            row.ownCpu += down.ownCpu;
            row.idle += down.machineIdle;
            row.up.push_back(upload(proxy, traffic));
        }
    }
    const double rtt = profile.rttMs;
    const auto listed = [](const std::vector<double> &values) {
        std::string text;
        for (const double value : values)
            text += (text.empty() ? "" : " ") + std::to_string(static_cast<int>(value + 0.5));
        return text;
    };
    std::printf("  %-12s %-22s %-22s %s\n", "", "first fetch (new engine)", "next fetches (median)",
        "Mbit/s, median (rounds)");
    std::printf("  %-12s %9s %12s %9s %12s   %-18s %s\n", "", "ttfb RTT", "100 KB RTT", "ttfb RTT",
        "100 KB RTT", "download", "upload");
    for (const std::string &name : names) {
        const Row &row = rows[name];
        std::printf("  %-12s %9.2f %12.2f %9.2f %12.2f   %5.1f (%-10s) %5.1f (%s)%s\n",
            name.c_str(), median(row.firstByteCold) / rtt, median(row.pageCold) / rtt,
            median(row.firstByte) / rtt, median(row.page) / rtt, median(row.rate),
            listed(row.rate).c_str(), median(row.up), listed(row.up).c_str(),
            row.failures ? (" " + std::to_string(row.failures) + " fetches failed").c_str() : "");
    }
    for (const std::string &name : names) {
        const Row &row = rows[name];
        std::printf("  %-12s download cpu per round: engine %.2f s, servers and client %.2f s; "
                    "machine idle %.0f %%\n",
            name.c_str(), row.engineCpu / rounds, row.ownCpu / rounds, 100 * row.idle / rounds);
    }
    const Row &direct = rows["direct"];
    for (const std::string &protocol : names) {
        if (protocol == "direct" || direct.page.empty())
            continue;
        const Row &row = rows[protocol];
        const double extra = (median(row.page) - median(direct.page)) / rtt;
        const double extraCold = (median(row.pageCold) - median(direct.page)) / rtt;
        std::printf("  %-12s 100 KB page vs direct: %+.2f RTT, first %+.2f RTT (target <= +1: %s)",
            protocol.c_str(), extra, extraCold, extra <= 1 && extraCold <= 1 ? "met" : "missed");
        if (protocol == "hysteria2") {
            const double down = median(row.rate) / profile.rateMbit;
            const double up = median(row.up) / profile.rateMbit;
            std::printf("; of the link rate: down %.0f %%, up %.0f %%", down * 100, up * 100);
            if (profile.lossPercent > 0)
                std::printf(" (target >= 80 %%: %s)", down >= 0.8 && up >= 0.8 ? "met" : "missed");
        } else {
            // Medians of a few rounds: within 5 % counts as no worse.
            const auto ratio
                = [](const std::vector<double> &ours, const std::vector<double> &base) {
                      return median(base) > 0 ? median(ours) / median(base) : 0;
                  };
            const double down = ratio(row.rate, direct.rate);
            const double up = ratio(row.up, direct.up);
            std::printf("; of direct: down %.2f, up %.2f (target no worse, >= 0.95: %s)", down, up,
                down >= 0.95 && up >= 0.95 ? "met" : "missed");
        }
        std::printf("\n");
    }
    std::printf("  linkemu: %s", link.stop().c_str());
}

} // namespace

int main(int argc, char **argv)
{
    if (argc < 3) {
        std::fprintf(stderr,
            "usage: %s <qivro-engine> <linkemu> [rounds "
            "[direct|shadowsocks|reality|hysteria2...]]\n",
            argv[0]);
        return 2;
    }
    g_engine = argv[1];
    g_linkemu = argv[2];
    std::setvbuf(stdout, nullptr, _IOLBF, 0); // each profile's lines as they come, into a file too
    const int rounds = argc > 3 ? std::max(1, std::atoi(argv[3])) : 3;
    const std::vector<std::string> only(argv + std::min(argc, 4), argv + argc);
    std::string why;
    if (!support::PeerNamespace::isolate(why)) {
        std::printf("links: %s: skipped\n", why.c_str());
        return 0;
    }
    std::ifstream congestion("/proc/sys/net/ipv4/tcp_congestion_control");
    std::string algorithm;
    congestion >> algorithm;
    std::printf("links: %d rounds; TCP congestion control %s; the page is %zu bytes, the download "
                "counted for %.0f s after %.0f s\n",
        rounds, algorithm.c_str(), pageSize, bulkWindow, bulkWarmUp);
    for (const Profile &profile :
        {Profile {50, 0, 100}, Profile {150, 1, 100}, Profile {250, 3, 50}})
        runProfile(profile, rounds, only);
    return 0;
}
