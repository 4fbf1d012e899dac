// The three kinds of node users meet (Shadowsocks on ss-server, VLESS+REALITY+vision and
// Hysteria 2 on the tests' own servers) and one origin, all on the far side of an emulated link,
// for the roads and the link-profile benchmark.
#pragma once

#include "hy2server.h"
#include "linkemulator.h"
#include "realityserver.h"
#include "visionserver.h"

#include <memory>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

namespace support {

class FarNodes
{
public:
    static const std::vector<std::string> &protocols(); // shadowsocks, reality, hysteria2

    // The origin serves a blob of blobSize on every address of the far side (the vision server
    // reaches it on loopback there). ready() says whether everything came up.
    FarNodes(LinkEmulator &link, std::size_t blobSize);
    ~FarNodes();
    bool ready() const { return m_ready; }
    const Origin &origin() const { return *m_origin; }
    // The engine outbound, tagged "node", for one of protocols().
    nlohmann::json outbound(const std::string &protocol) const;

private:
    static constexpr std::uint16_t shadowsocksPort = 8388;
    CertificateSet m_certificates;
    Octets m_realityKey = Octets(32, 0x5a);
    std::unique_ptr<Origin> m_origin;
    std::unique_ptr<VisionServer> m_vision;
    std::unique_ptr<RealityServer> m_reality;
    std::unique_ptr<Hy2Server> m_hysteria2;
    bool m_ready = false;
};

} // namespace support
