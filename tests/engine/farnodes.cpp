#include "farnodes.h"

#include "common/base64url.h"

namespace support {

namespace {

constexpr const char *uuid = "b831381d-6324-4d53-ad4f-8cda48b30811";
constexpr const char *password = "across the sea";

} // namespace

const std::vector<std::string> &FarNodes::protocols()
{
    static const std::vector<std::string> names = {"shadowsocks", "reality", "hysteria2"};
    return names;
}

FarNodes::FarNodes(LinkEmulator &link, std::size_t blobSize)
    : m_certificates(makeCertificates("far-hy2", {"hy2.test"}))
{
    link.onFarSide([&] {
        m_origin = std::make_unique<Origin>("far", blobSize, 0, "0.0.0.0");
        m_vision = std::make_unique<VisionServer>(uuid);
        RealityServer::Options reality;
        reality.address = LinkEmulator::farAddress;
        reality.privateKey = m_realityKey;
        reality.shortIds = {"0123"};
        reality.serverNames = {"example.test"};
        reality.serve
            = [vision = m_vision.get()](TlsServerSession &session) { vision->serve(session); };
        m_reality = std::make_unique<RealityServer>(reality);
        Hy2ServerOptions hysteria2;
        hysteria2.address = LinkEmulator::farAddress;
        hysteria2.password = password;
        m_hysteria2 = std::make_unique<Hy2Server>(hysteria2, m_certificates);
    });
    link.spawnFar({"ss-server", "-s", LinkEmulator::farAddress, "-p",
        std::to_string(shadowsocksPort), "-k", password, "-m", "aes-128-gcm"});
    m_ready = waitForTcp(LinkEmulator::farAddress, shadowsocksPort)
        && waitForTcp(LinkEmulator::farAddress, m_origin->port())
        && waitForTcp(LinkEmulator::farAddress, m_reality->port());
}

// The servers' threads and sockets live in the far namespace, but can be stopped from here.
FarNodes::~FarNodes() = default;

nlohmann::json FarNodes::outbound(const std::string &protocol) const
{
    const std::string server = LinkEmulator::farAddress;
    if (protocol == "shadowsocks")
        return {{"type", "shadowsocks"}, {"tag", "node"}, {"server", server},
            {"server_port", shadowsocksPort}, {"method", "aes-128-gcm"}, {"password", password}};
    if (protocol == "reality") {
        const Octets key = RealityServer::publicKeyOf(m_realityKey);
        return {{"type", "vless"}, {"tag", "node"}, {"server", server},
            {"server_port", m_reality->port()}, {"uuid", uuid}, {"flow", "xtls-rprx-vision"},
            {"tls",
                {{"enabled", true}, {"server_name", "example.test"},
                    {"utls", {{"enabled", true}, {"fingerprint", "chrome"}}},
                    {"reality",
                        {{"enabled", true},
                            {"public_key", qivro::engine::encodeBase64Url(key.data(), key.size())},
                            {"short_id", "0123"}}}}}};
    }
    return {{"type", "hysteria2"}, {"tag", "node"}, {"server", server},
        {"server_port", m_hysteria2->port()}, {"password", password},
        {"tls",
            {{"enabled", true}, {"server_name", "hy2.test"},
                {"certificate_path", m_certificates.caPath}}}};
}

} // namespace support
