// linkemu's own check: round trip, loss and rate measured across it from outside match what it
// was set to within 5 % (root: it runs in network namespaces of its own).
#include "linkemulator.h"
#include "testing.h"

#include <algorithm>
#include <arpa/inet.h>
#include <chrono>
#include <cmath>
#include <mutex>
#include <netinet/in.h>
#include <poll.h>
#include <pthread.h>
#include <sched.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

using Clock = std::chrono::steady_clock;

namespace {

std::string g_linkemu;
bool g_isolated = false;
constexpr std::uint16_t probePort = 9000;
constexpr std::size_t ipAndUdpHeaders = 28;

// The measuring threads run in the real-time class below linkemu: on a loaded machine an ordinary
// thread wakes milliseconds late, which would count against the link.
void measureOnTime()
{
    const sched_param priority {5};
    pthread_setschedparam(pthread_self(), SCHED_FIFO, &priority);
}

double seconds(Clock::duration d)
{
    return std::chrono::duration<double>(d).count();
}

sockaddr_in farEndpoint()
{
    sockaddr_in to {};
    to.sin_family = AF_INET;
    to.sin_port = htons(probePort);
    ::inet_pton(AF_INET, support::LinkEmulator::farAddress, &to.sin_addr);
    return to;
}

// On the far side: echoes datagrams starting with 'e', counts the others with their arrival.
class FarReceiver
{
public:
    explicit FarReceiver(const support::LinkEmulator &link)
    {
        link.onFarSide([this] {
            m_fd = ::socket(AF_INET, SOCK_DGRAM, 0);
            const int buffer = 32 << 20;
            ::setsockopt(m_fd, SOL_SOCKET, SO_RCVBUFFORCE, &buffer, sizeof buffer);
            sockaddr_in local = farEndpoint();
            ::bind(m_fd, reinterpret_cast<sockaddr *>(&local), sizeof local);
            m_thread = std::thread([this] {
                measureOnTime();
                run();
            });
        });
    }
    ~FarReceiver()
    {
        ::shutdown(m_fd, SHUT_RDWR);
        m_thread.join();
        ::close(m_fd);
    }
    // Datagrams counted and the rate of the bytes (with their IP and UDP headers) that arrived
    // after the first `skip` seconds of the stream.
    void reset()
    {
        std::lock_guard lock(m_mutex);
        m_count = 0;
        m_arrivals.clear();
    }
    std::size_t count()
    {
        std::lock_guard lock(m_mutex);
        return m_count;
    }
    double bitsPerSecond(double skip)
    {
        std::lock_guard lock(m_mutex);
        if (m_arrivals.size() < 2)
            return 0;
        const Clock::time_point from = m_arrivals.front().first
            + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(skip));
        auto first = std::find_if(m_arrivals.begin(), m_arrivals.end(),
            [from](const auto &arrival) { return arrival.first >= from; });
        if (first == m_arrivals.end() || first + 1 >= m_arrivals.end())
            return 0;
        double bytes = 0;
        for (auto it = first + 1; it != m_arrivals.end(); ++it)
            bytes += static_cast<double>(it->second + ipAndUdpHeaders);
        return bytes * 8 / seconds(m_arrivals.back().first - first->first);
    }

private:
    void run()
    {
        char buffer[2048];
        while (true) {
            sockaddr_in from {};
            socklen_t length = sizeof from;
            const ssize_t size = ::recvfrom(
                m_fd, buffer, sizeof buffer, 0, reinterpret_cast<sockaddr *>(&from), &length);
            if (size <= 0)
                return;
            if (buffer[0] == 'e') {
                ::sendto(m_fd, buffer, static_cast<std::size_t>(size), 0,
                    reinterpret_cast<sockaddr *>(&from), length);
                continue;
            }
            std::lock_guard lock(m_mutex);
            ++m_count;
            m_arrivals.emplace_back(Clock::now(), static_cast<std::size_t>(size));
        }
    }

    int m_fd = -1;
    std::thread m_thread;
    std::mutex m_mutex;
    std::size_t m_count = 0;
    std::vector<std::pair<Clock::time_point, std::size_t>> m_arrivals;
};

// Median round trip of probes echoed from the far side, one every 20 ms (lost ones left out), in
// ms.
double medianRoundTripMs(int probes, double patienceMs)
{
    const int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in to = farEndpoint();
    ::connect(fd, reinterpret_cast<sockaddr *>(&to), sizeof to);
    std::vector<Clock::time_point> sent;
    std::vector<double> times;
    const auto start = Clock::now();
    const auto end = start + std::chrono::milliseconds(20 * probes + static_cast<int>(patienceMs));
    for (auto now = start; now < end; now = Clock::now()) {
        if (sent.size() < static_cast<std::size_t>(probes)
            && now >= start + std::chrono::milliseconds(20 * sent.size())) {
            const std::string probe = "e" + std::to_string(sent.size());
            sent.push_back(now);
            ::send(fd, probe.data(), probe.size(), 0);
        }
        pollfd entry {fd, POLLIN, 0};
        if (::poll(&entry, 1, 1) <= 0)
            continue;
        char answer[64] = {};
        if (::recv(fd, answer, sizeof answer - 1, 0) > 1)
            times.push_back(seconds(Clock::now() - sent.at(std::stoul(answer + 1))) * 1000);
    }
    ::close(fd);
    std::sort(times.begin(), times.end());
    return times.empty() ? 0 : times[times.size() / 2];
}

// Sends count datagrams of size bytes at packetsPerSecond towards the far side.
void blast(std::size_t count, std::size_t size, double packetsPerSecond)
{
    const int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
    const int buffer = 8 << 20;
    ::setsockopt(fd, SOL_SOCKET, SO_SNDBUFFORCE, &buffer, sizeof buffer);
    sockaddr_in to = farEndpoint();
    const std::string payload(size, 'x');
    const auto start = Clock::now();
    for (std::size_t i = 0; i < count; ++i) {
        // Sleep-until against the schedule, so a late wake-up sends a burst, not fewer packets.
        std::this_thread::sleep_until(start
            + std::chrono::duration_cast<Clock::duration>(
                std::chrono::duration<double>(static_cast<double>(i) / packetsPerSecond)));
        ::sendto(
            fd, payload.data(), payload.size(), 0, reinterpret_cast<sockaddr *>(&to), sizeof to);
    }
    ::close(fd);
}

bool within5Percent(double measured, double expected, const std::string &what)
{
    std::fprintf(stderr, "%s: measured %.2f, set %.2f\n", what.c_str(), measured, expected);
    return CHECK_MSG(std::fabs(measured - expected) <= 0.05 * expected,
        what + ": measured " + std::to_string(measured) + ", set " + std::to_string(expected));
}

} // namespace

TEST_CASE(linkMatchesItsSettings)
{
    if (!g_isolated)
        return;
    measureOnTime();
    struct Row
    {
        double delayMs, lossPercent, rateMbit;
    };
    for (const Row row : {Row {50, 20, 50}, Row {125, 10, 20}}) {
        support::LinkEmulator link;
        std::string error;
        if (!CHECK_MSG(
                link.start(g_linkemu,
                    {"--delay", std::to_string(row.delayMs), "--loss",
                        std::to_string(row.lossPercent), "--rate", std::to_string(row.rateMbit)},
                    error),
                error))
            return;
        FarReceiver far(link);
        const std::string label = "delay " + std::to_string(row.delayMs) + " ms: ";
        within5Percent(
            medianRoundTripMs(50, 4 * row.delayMs), 2 * row.delayMs, label + "round trip (ms)");

        // Loss, one way and below the rate, over enough datagrams that the 5 % margin lies four
        // standard deviations of the count away.
        const double share = row.lossPercent / 100;
        const auto sent = static_cast<std::size_t>(6400 * (1 - share) / share);
        const double smallBits = (64 + ipAndUdpHeaders) * 8.0;
        blast(sent, 64, std::min(20000.0, row.rateMbit * 1e6 / smallBits / 2));
        std::this_thread::sleep_for(std::chrono::milliseconds(static_cast<int>(row.delayMs) + 300));
        const double lost = 100.0 * (1 - static_cast<double>(far.count()) / sent);
        within5Percent(lost, row.lossPercent, label + "loss (%)");

        // Rate: twice what the link takes for 3 s; the link's loss comes after the bottleneck.
        far.reset();
        const double bigBits = (1400 + ipAndUdpHeaders) * 8.0;
        const double offered = 2 * row.rateMbit * 1e6 / bigBits;
        blast(static_cast<std::size_t>(3 * offered), 1400, offered);
        std::this_thread::sleep_for(std::chrono::milliseconds(static_cast<int>(row.delayMs) + 300));
        within5Percent(far.bitsPerSecond(0.5) / 1e6 / (1 - row.lossPercent / 100), row.rateMbit,
            label + "rate (Mbit/s)");
        std::fprintf(stderr, "%s", link.stop().c_str());
    }
}

int main(int argc, char **argv)
{
    return support::LinkEmulator::runTests(argc, argv, g_linkemu, g_isolated);
}
