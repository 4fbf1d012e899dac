#include "linkemulator.h"

#include "peernamespace.h"
#include "testing.h"

#include <chrono>
#include <fcntl.h>
#include <fstream>
#include <sched.h>
#include <sstream>
#include <thread>
#include <unistd.h>

namespace support {

int LinkEmulator::runTests(int argc, char **argv, std::string &linkemu, bool &isolated)
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s <linkemu> [case]\n", argv[0]);
        return 2;
    }
    linkemu = argv[1];
    std::string why;
    isolated = PeerNamespace::isolate(why);
    if (!isolated)
        std::fprintf(stderr, "skipped: %s\n", why.c_str());
    return qtest::runAll(argc - 1, argv + 1);
}

bool LinkEmulator::start(
    const std::string &program, const std::vector<std::string> &options, std::string &error)
{
    std::vector<std::string> argv = {program, "--here"};
    argv.insert(argv.end(), options.begin(), options.end());
    m_log = writeTempFile("linkemu-" + std::to_string(::getpid()) + ".log", "");
    m_emulator = std::make_unique<Process>(argv, m_log);
    for (int i = 0; i < 500; ++i) {
        std::ifstream log(m_log);
        std::string word;
        int near = 0;
        if (log >> word && word == "ready" && log >> near >> m_farPid)
            return true;
        if (word == "linkemu:")
            break;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    std::ifstream log(m_log);
    error = "linkemu did not come up: "
        + std::string(std::istreambuf_iterator<char>(log), std::istreambuf_iterator<char>());
    return false;
}

void LinkEmulator::onFarSide(const std::function<void()> &work) const
{
    std::thread([&] {
        const int fd = ::open(
            ("/proc/" + std::to_string(m_farPid) + "/ns/net").c_str(), O_RDONLY | O_CLOEXEC);
        if (fd >= 0 && ::setns(fd, CLONE_NEWNET) == 0)
            work();
        if (fd >= 0)
            ::close(fd);
    }).join();
}

void LinkEmulator::spawnFar(const std::vector<std::string> &argv, const std::string &logFile)
{
    std::vector<std::string> full = {"nsenter", "-t", std::to_string(m_farPid), "-n"};
    full.insert(full.end(), argv.begin(), argv.end());
    m_programs.push_back(std::make_unique<Process>(full, logFile));
}

std::string LinkEmulator::stop()
{
    m_programs.clear();
    m_emulator.reset(); // SIGTERM: it writes its counts and ends
    std::ifstream log(m_log);
    std::string line, counts;
    while (std::getline(log, line)) {
        if (line.rfind("A->B", 0) == 0 || line.rfind("B->A", 0) == 0)
            counts += line + "\n";
    }
    return counts;
}

LinkEmulator::~LinkEmulator()
{
    stop();
}

bool waitForTcp(const std::string &address, std::uint16_t port, int timeoutMs)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (std::chrono::steady_clock::now() < deadline) {
        asio::io_context io;
        asio::ip::tcp::socket socket(io);
        std::error_code error;
        socket.connect({asio::ip::make_address(address), port}, error);
        if (!error)
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return false;
}

} // namespace support
