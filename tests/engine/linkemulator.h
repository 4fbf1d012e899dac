// linkemu for a test or a benchmark: this process's namespace (made private first) is the near
// end of an emulated link, a namespace linkemu makes is the far end, where the servers go.
#pragma once

#include "support.h"

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace support {

class LinkEmulator
{
public:
    static constexpr const char *nearAddress = "198.18.100.1";
    static constexpr const char *farAddress = "198.18.100.2";

    // main() of a test across the link: argv[1] names linkemu, the rest picks cases. The process
    // moves into a network namespace of its own first; without one (not root) the cases skip.
    static int runTests(int argc, char **argv, std::string &linkemu, bool &isolated);

    // options are linkemu's ("--delay", "50", ...). False (and why) when it did not come up.
    bool start(
        const std::string &program, const std::vector<std::string> &options, std::string &error);
    // Runs work on a thread inside the far namespace and waits for it: sockets and threads it
    // makes stay there, whoever uses them later.
    void onFarSide(const std::function<void()> &work) const;
    // A program in the far namespace, stopped by its PID when this object goes.
    void spawnFar(const std::vector<std::string> &argv, const std::string &logFile = "/dev/null");
    // Stops linkemu; its counts per direction.
    std::string stop();
    ~LinkEmulator();

private:
    std::vector<std::unique_ptr<Process>> m_programs;
    std::unique_ptr<Process> m_emulator;
    std::string m_log;
    int m_farPid = -1;
};

// Whether a TCP connection to address:port opens within timeoutMs.
bool waitForTcp(const std::string &address, std::uint16_t port, int timeoutMs = 10000);

} // namespace support
