// VLESS with REALITY and the vision flow, through a running engine: an inner TLS 1.3 connection
// leaves the outer TLS in both directions, other traffic stays inside it, UDP goes through XUDP,
// and the node behaves like any other in the API. A wrong key and a real site at the address are
// the REALITY suite's rows.
#include "common/base64url.h"
#include "enginefixture.h"
#include "realityserver.h"
#include "support.h"
#include "tlspeers.h"
#include "visionserver.h"

#include <openssl/ssl.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <thread>

using namespace qivro::engine;
using nlohmann::json;

namespace {

const char *const uuid = "b831381d-6324-4d53-ad4f-8cda48b30811";

// A REALITY server with the vision server behind it, and the real site it imitates.
struct RealityNode
{
    support::TestPki pki;
    std::string site = pki.leaf("p256", "DNS:example.test");
    support::SServer realSite {site, {"-tls1_3", "-rev"}};
    support::Octets privateKey = support::Octets(32, 0x5a);
    support::VisionServer vision {uuid};
    std::unique_ptr<support::RealityServer> server;

    RealityNode()
    {
        support::RealityServer::Options options;
        options.privateKey = privateKey;
        options.shortIds = {"c0ffee"};
        options.serverNames = {"example.test"};
        options.fallbackPort = realSite.port();
        options.serve = [this](support::TlsServerSession &session) { vision.serve(session); };
        server = std::make_unique<support::RealityServer>(options);
    }

    std::string publicKey() const
    {
        const auto key = support::RealityServer::publicKeyOf(privateKey);
        return encodeBase64Url(key.data(), key.size());
    }

    json outbound(std::uint16_t port, const std::string &key, const std::string &shortId)
    {
        return {{"type", "vless"}, {"tag", "reality"}, {"server", "127.0.0.1"},
            {"server_port", port}, {"uuid", uuid}, {"flow", "xtls-rprx-vision"},
            {"packet_encoding", "xudp"},
            {"tls",
                {{"enabled", true}, {"server_name", "example.test"}, {"certificate", {pki.caPem()}},
                    {"utls", {{"enabled", true}, {"fingerprint", "chrome"}}},
                    {"reality", {{"enabled", true}, {"public_key", key}, {"short_id", shortId}}}}}};
    }
};

json config(const json &outbound)
{
    return proxyConfig(outbound, true, false);
}

// An inner TLS connection by OpenSSL over the proxied socket; each line must come back reversed
// (s_server -rev answers line by line, so lines stay below its 16 KiB buffer).
bool reversedLines(int fd, const std::string &caPath, const std::vector<std::string> &lines)
{
    SSL_CTX *ctx = SSL_CTX_new(TLS_client_method());
    SSL_CTX_load_verify_locations(ctx, caPath.c_str(), nullptr);
    SSL_CTX_set_verify(ctx, SSL_VERIFY_PEER, nullptr);
    SSL *ssl = SSL_new(ctx);
    SSL_set_tlsext_host_name(ssl, "example.test");
    SSL_set1_host(ssl, "example.test");
    SSL_set_fd(ssl, fd);
    // A flow out of step must fail its row, not hang the suite until ctest gives up.
    const timeval patience {10, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &patience, sizeof patience);
    bool ok = SSL_connect(ssl) == 1;
    for (const std::string &line : lines) {
        ok = ok && SSL_write(ssl, line.data(), static_cast<int>(line.size())) > 0;
        std::string back;
        char buffer[16384];
        while (ok && back.size() < line.size()) {
            const int got = SSL_read(ssl, buffer, sizeof buffer);
            ok = got > 0;
            back.append(buffer, static_cast<std::size_t>(std::max(got, 0)));
        }
        ok = ok && std::equal(line.rbegin() + 1, line.rend(), back.begin()) && back.back() == '\n';
    }
    SSL_shutdown(ssl);
    SSL_free(ssl);
    SSL_CTX_free(ctx);
    return ok;
}

} // namespace

TEST_CASE(innerTrafficThroughVision)
{
    if (!support::haveProgram("openssl"))
        return;
    RealityNode node;
    support::SServer tls13(node.site, {"-tls1_3", "-rev"});
    support::SServer tls12(node.site, {"-tls1_2", "-rev"});
    support::Origin origin("vision-origin", 1 << 20);
    // Plain http test URLs are otherwise replaced by a public one.
    ::setenv("QIVRO_ENGINE_TEST_URL",
        ("http://127.0.0.1:" + std::to_string(origin.port()) + "/ping").c_str(), 1);
    RunningEngine engine(config(node.outbound(node.server->port(), node.publicKey(), "c0ffee")));

    struct Row
    {
        const char *name;
        std::uint16_t port;
        bool direct;
    };
    const Row rows[]
        = {{"inner TLS 1.3", tls13.port(), true}, {"inner TLS 1.2", tls12.port(), false}};
    for (const Row &row : rows) {
        const int uplinkBefore = node.vision.uplinkDirect();
        const int downlinkBefore = node.vision.downlinkDirect();
        const int endsBefore = node.vision.uplinkEnds();
        const int finishedBefore = node.vision.finished();
        {
            asio::io_context io;
            asio::ip::tcp::socket socket(io);
            CHECK_MSG(
                support::socksConnect(socket, engine.mixedPort(), "127.0.0.1", row.port), row.name);
            std::vector<std::string> lines = {"ping\n"};
            for (int i = 0; i < 12; ++i) {
                lines.emplace_back(10000, '\n');
                for (std::size_t k = 0; k + 1 < lines.back().size(); ++k)
                    lines.back()[k]
                        = static_cast<char>('a' + (k * 7 + static_cast<std::size_t>(i)) % 26);
            }
            CHECK_MSG(reversedLines(socket.native_handle(), node.pki.caPath(), lines), row.name);
        }
        // The server counts once its session is over.
        for (int i = 0; i < 250 && node.vision.finished() == finishedBefore; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        CHECK_MSG(node.vision.uplinkDirect() - uplinkBefore == (row.direct ? 1 : 0), row.name);
        CHECK_MSG(node.vision.downlinkDirect() - downlinkBefore == (row.direct ? 1 : 0), row.name);
        CHECK_MSG(node.vision.uplinkEnds() - endsBefore == (row.direct ? 0 : 1), row.name);
    }

    // Plain HTTP stays inside the outer TLS and arrives whole.
    CHECK(socksFetch(engine.mixedPort(), "127.0.0.1", origin.port(), "/blob") == origin.blob());

    // UDP through XUDP.
    support::UdpEcho echo;
    udpEchoes(engine.mixedPort(), echo, "over xudp", "vision");
    CHECK(node.vision.udpPackets() >= 1);

    // The node in the control API like any other.
    const auto proxy = support::httpCall(engine.apiPort(), "GET", "/proxies/reality");
    CHECK_EQ(json::parse(proxy.body, nullptr, false).value("type", ""), "VLESS");
    const auto delay
        = support::httpCall(engine.apiPort(), "GET", "/proxies/reality/delay?timeout=5000");
    CHECK_MSG(delay.status == 200 && json::parse(delay.body, nullptr, false).contains("delay"),
        delay.body);
    ::unsetenv("QIVRO_ENGINE_TEST_URL");
}

QTEST_MAIN()
