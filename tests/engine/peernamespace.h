// A second network namespace behind a veth pair, for the TUN tests: this side 198.18.2.1/30 with
// the default route through the pair, the peer 198.18.2.2/30 with the test hosts on its loopback
// and their replies routed back. The pair's MTU (16384) passes a 9000-byte datagram whole after
// a proxy's overhead, since some servers refuse to fragment. Nothing here touches a namespace the
// test did not make itself.
#pragma once

#include "support.h"

#include <memory>
#include <string>
#include <vector>

namespace support {

class PeerNamespace
{
public:
    static constexpr const char *ownAddress = "198.18.2.1";
    static constexpr const char *peerAddress = "198.18.2.2";

    // Moves this process into a network namespace of its own with loopback up: root only. False
    // (and why) when it cannot, and the caller skips what needs it.
    static bool isolate(std::string &why);
    // Whether this process is in a namespace other than the machine's.
    static bool isolated();

    // Creates the peer with hosts (addresses in 198.18.0.0/15) on its loopback.
    bool start(const std::vector<std::string> &hosts, std::string &error);
    // A program inside the peer, stopped by its PID when this object goes.
    void spawn(const std::vector<std::string> &argv, const std::string &logFile = "/dev/null");
    ~PeerNamespace();

private:
    std::vector<std::unique_ptr<Process>> m_programs; // the namespace's holder first
    int m_holder = -1;
};

} // namespace support
