#include "peernamespace.h"

#include <chrono>
#include <sched.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace support {

namespace {

ino_t namespaceOf(const std::string &pid)
{
    struct stat info
    { };
    if (::stat(("/proc/" + pid + "/ns/net").c_str(), &info) != 0)
        return 0;
    return info.st_ino;
}

bool ok(const std::vector<std::string> &argv, std::string &error)
{
    const CommandResult result = run(argv);
    if (result.exitCode == 0)
        return true;
    error.clear();
    for (const std::string &arg : argv)
        error += arg + " ";
    error += "failed";
    return false;
}

} // namespace

bool PeerNamespace::isolate(std::string &why)
{
    if (::geteuid() != 0) {
        why = "needs root (a network namespace of its own)";
        return false;
    }
    if (::unshare(CLONE_NEWNET) != 0) {
        why = "unshare(CLONE_NEWNET) failed";
        return false;
    }
    return ok({"ip", "link", "set", "lo", "up"}, why);
}

bool PeerNamespace::isolated()
{
    const ino_t own = namespaceOf("self");
    return own != 0 && own != namespaceOf("1");
}

bool PeerNamespace::start(const std::vector<std::string> &hosts, std::string &error)
{
    if (!isolated()) {
        error = "refusing to add links and routes in the machine's own network namespace";
        return false;
    }
    m_programs.push_back(
        std::make_unique<Process>(std::vector<std::string> {"unshare", "-n", "sleep", "3600"}));
    const std::string pid = std::to_string(m_programs.back()->pid());
    m_holder = m_programs.back()->pid();
    for (int i = 0; i < 200 && namespaceOf(pid) == namespaceOf("self"); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    if (namespaceOf(pid) == namespaceOf("self")) {
        error = "the peer namespace did not come up";
        return false;
    }
    const std::vector<std::string> inPeer = {"nsenter", "-t", pid, "-n"};
    const auto peer = [&](std::vector<std::string> argv) {
        argv.insert(argv.begin(), inPeer.begin(), inPeer.end());
        return ok(argv, error);
    };
    if (!ok({"ip", "link", "add", "veth0", "type", "veth", "peer", "name", "veth1", "netns", pid},
            error)
        || !ok({"ip", "addr", "add", std::string(ownAddress) + "/30", "dev", "veth0"}, error)
        || !ok({"ip", "link", "set", "veth0", "mtu", "16384", "up"}, error)
        || !ok({"ip", "route", "add", "default", "via", peerAddress}, error)
        || !peer({"ip", "link", "set", "lo", "up"})
        || !peer({"ip", "addr", "add", std::string(peerAddress) + "/30", "dev", "veth1"})
        || !peer({"ip", "link", "set", "veth1", "mtu", "16384", "up"})
        || !peer({"ip", "route", "add", "default", "via", ownAddress}))
        return false;
    for (const std::string &host : hosts) {
        if (!peer({"ip", "addr", "add", host + "/32", "dev", "lo"}))
            return false;
    }
    return true;
}

void PeerNamespace::spawn(const std::vector<std::string> &argv, const std::string &logFile)
{
    std::vector<std::string> full = {"nsenter", "-t", std::to_string(m_holder), "-n"};
    full.insert(full.end(), argv.begin(), argv.end());
    m_programs.push_back(std::make_unique<Process>(full, logFile));
}

PeerNamespace::~PeerNamespace()
{
    // Programs first, the holder (and with it the namespace and the pair) last.
    while (!m_programs.empty())
        m_programs.pop_back();
}

} // namespace support
