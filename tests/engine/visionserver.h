// The server side of VLESS with the vision flow, for RealityServer's authenticated connections,
// written from the protocol's description: it takes the client's frames apart, connects to the
// destination (TCP, or UDP through XUDP), pads its own answers, and leaves the TLS session for
// the bare TCP connection in each direction where the inner TLS 1.3 allows it.
#pragma once

#include "realityserver.h"

#include <atomic>
#include <string>

namespace support {

class VisionServer
{
public:
    explicit VisionServer(const std::string &uuid);

    // Serves one session; give it to RealityServer::Options::serve.
    void serve(TlsServerSession &session);

    int uplinkDirect() const { return m_uplinkDirect.load(); }
    int downlinkDirect() const { return m_downlinkDirect.load(); }
    int uplinkEnds() const { return m_uplinkEnds.load(); }
    int udpPackets() const { return m_udpPackets.load(); }
    int finished() const { return m_finished.load(); }

private:
    void serveTcp(TlsServerSession &session, int target, const Octets &early);
    void serveXudp(TlsServerSession &session, const Octets &early);

    Octets m_uuid;
    std::atomic<int> m_uplinkDirect {0};
    std::atomic<int> m_downlinkDirect {0};
    std::atomic<int> m_uplinkEnds {0};
    std::atomic<int> m_udpPackets {0};
    std::atomic<int> m_finished {0};
};

} // namespace support
