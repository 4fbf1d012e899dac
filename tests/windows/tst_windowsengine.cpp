// The Windows build of the engine under wine, against Linux servers on loopback:
//   tst_windowsengine <wine> <wineserver> <folder with qivro-engine.exe, qivroengine.dll and
//                     qivro-enginehost.exe> [test]
// Wine runs in a prefix of this test's own (WINEPREFIX, set by ctest), without a display.
#include "enginefixture.h"
#include "hy2server.h"
#include "support.h"

#include <algorithm>
#include <cstdlib>

using nlohmann::json;
using support::Origin;

namespace {

std::string g_wine;
std::string g_wineserver;
std::string g_bin;

// Wine maps drive Z: to the host's root.
std::string windowsPath(const std::string &path)
{
    return "Z:" + path;
}

// qivro-engine.exe under wine with this configuration, its mixed inbound (and control API, when
// the configuration has one) on free loopback ports.
struct WindowsRunner
{
    std::uint16_t mixedPort = support::freeTcpPort();
    std::uint16_t apiPort = 0;
    std::string log;
    std::unique_ptr<support::Process> process;

    explicit WindowsRunner(json config, const std::string &name)
    {
        config["inbounds"][0]["listen_port"] = mixedPort;
        if (config.contains("experimental")) {
            apiPort = support::freeTcpPort();
            config["experimental"]["clash_api"]["external_controller"]
                = "127.0.0.1:" + std::to_string(apiPort);
        }
        const std::string path = support::writeTempFile("windows-" + name + ".json", config.dump());
        log = path + ".log";
        process = std::make_unique<support::Process>(
            std::vector<std::string> {
                g_wine, g_bin + "/qivro-engine.exe", "run", "-c", windowsPath(path)},
            log);
        const bool up = support::waitForTcpPort(mixedPort, 60000)
            && (apiPort == 0 || support::waitForTcpPort(apiPort, 10000));
        CHECK_MSG(up, name + ": the runner did not start; see " + log);
    }
};

json runnerConfig(const json &outbound)
{
    return {{"log", {{"level", "warn"}}}, {"inbounds", {mixedInbound(false)}},
        {"outbounds", {outbound, {{"type", "direct"}, {"tag", "direct"}}}},
        {"route", {{"final", outbound["tag"]}}}};
}

// A blob through the runner byte for byte, over both SOCKS5 and HTTP CONNECT.
void checkBlob(const WindowsRunner &runner, const Origin &origin, const std::string &what)
{
    const std::string url = "http://127.0.0.1:" + std::to_string(origin.port()) + "/blob";
    const std::string proxy = std::to_string(runner.mixedPort);
    const std::string viaSocks = support::curl({"--socks5-hostname", "127.0.0.1:" + proxy, url});
    const std::string viaHttp = support::curl({"-p", "-x", "http://127.0.0.1:" + proxy, url});
    CHECK_MSG(support::sha256Hex(viaSocks) == support::sha256Hex(origin.blob()), what + " socks");
    CHECK_MSG(support::sha256Hex(viaHttp) == support::sha256Hex(origin.blob()), what + " http");
}

} // namespace

TEST_CASE(shadowsocksToSsServer)
{
    if (!support::haveProgram("ss-server")) {
        std::fprintf(stderr, "ss-server missing (shadowsocks-libev): skipped\n");
        return;
    }
    const Origin origin("ss", 8 << 20);
    const support::UdpEcho echo;
    for (const char *method : {"aes-128-gcm", "aes-256-gcm", "chacha20-ietf-poly1305"}) {
        const std::uint16_t port = support::freeTcpPort();
        support::Process server({"ss-server", "-s", "127.0.0.1", "-p", std::to_string(port), "-k",
            "loopback-secret", "-m", method, "-u"});
        CHECK(support::waitForTcpPort(port));
        const WindowsRunner runner(
            runnerConfig({{"type", "shadowsocks"}, {"tag", "ss"}, {"server", "127.0.0.1"},
                {"server_port", port}, {"method", method}, {"password", "loopback-secret"}}),
            std::string("ss-") + method);
        checkBlob(runner, origin, method);
        CHECK_EQ(support::socksUdpExchange(runner.mixedPort, "127.0.0.1", echo.port(), method),
            std::string("echo:") + method);
    }
}

TEST_CASE(vlessToV2ray)
{
    if (!support::haveProgram("v2ray")) {
        std::fprintf(stderr, "v2ray missing: skipped\n");
        return;
    }
    const std::string uuid = "b831381d-6324-4d53-ad4f-8cda48b30811";
    const V2ray server(std::vector<json> {{{"protocol", "vless"},
        {"settings", {{"clients", {{{"id", uuid}}}}, {"decryption", "none"}}},
        {"streamSettings", {{"network", "tcp"}}}}});
    const Origin origin("vless", 4 << 20);
    const WindowsRunner runner(
        runnerConfig({{"type", "vless"}, {"tag", "vl"}, {"server", "127.0.0.1"},
            {"server_port", server.ports[0]}, {"uuid", uuid}}),
        "vless");
    checkBlob(runner, origin, "vless");
}

TEST_CASE(hysteria2ToTestServer)
{
    const support::CertificateSet certificate
        = support::makeCertificates("hy2", {"hy2.test", "127.0.0.1"});
    support::Hy2Server server({}, certificate);
    const Origin origin("hy2", 4 << 20);
    const WindowsRunner runner(
        runnerConfig({{"type", "hysteria2"}, {"tag", "hy"}, {"server", "127.0.0.1"},
            {"server_port", server.port()}, {"password", support::Hy2ServerOptions().password},
            {"tls",
                {{"enabled", true}, {"server_name", "hy2.test"},
                    {"certificate_path", windowsPath(certificate.caPath)}}}}),
        "hysteria2");
    checkBlob(runner, origin, "hysteria2");
    CHECK(server.counters().logins.load() >= 1);
}

TEST_CASE(controlApiContract)
{
    const Origin origin("api");
    json config = runnerConfig({{"type", "selector"}, {"tag", "pick"}, {"outbounds", {"a", "b"}}});
    config["outbounds"].push_back(toOrigin("a", origin));
    config["outbounds"].push_back(toOrigin("b", origin));
    config["experimental"] = {{"clash_api", {{"secret", "s3"}}}};
    // Wine hands the environment on: the delay test's URL goes to the origin, not the network.
    ::setenv("QIVRO_ENGINE_TEST_URL",
        ("http://127.0.0.1:" + std::to_string(origin.port()) + "/").c_str(), 1);
    const WindowsRunner runner(config, "api");
    const std::map<std::string, std::string> auth = {{"Authorization", "Bearer s3"}};
    struct Call
    {
        std::string method, target, body;
        std::map<std::string, std::string> headers;
        int status;
        std::string expected; // prefix of the body
    };
    // The rules behind each answer are the Linux build's (tst_engineapi); here, that the
    // Windows build serves them: refusal, a switch, a delay test through its own sockets.
    const std::vector<Call> calls = {
        {"GET", "/proxies/pick", "", {}, 401, "{\"message\":\"Unauthorized\"}"},
        {"PUT", "/proxies/pick", "{\"name\":\"b\"}", auth, 204, ""},
        {"GET", "/proxies/a/delay?timeout=5000", "", auth, 200, "{\"delay\":"},
    };
    for (const Call &call : calls) {
        const support::HttpResult result
            = support::httpCall(runner.apiPort, call.method, call.target, call.headers, call.body);
        const std::string what = call.method + " " + call.target;
        CHECK_MSG(result.status == call.status, what + ": " + std::to_string(result.status));
        CHECK_MSG(result.body.rfind(call.expected, 0) == 0, what + ": " + result.body);
    }
    const json pick = json::parse(
        support::httpCall(runner.apiPort, "GET", "/proxies/pick", auth).body, nullptr, false);
    CHECK(pick.is_object() && pick.value("now", "") == "b");
}

TEST_CASE(libraryStartStopCycles)
{
    const std::uint16_t port = support::freeTcpPort();
    json config = runnerConfig({{"type", "direct"}, {"tag", "out"}});
    config["outbounds"].erase(1);
    config["inbounds"][0]["listen_port"] = port;
    const std::string path = support::writeTempFile("windows-cycles.json", config.dump());
    // Wine has no wintun driver: a TUN inbound (after the mixed one, which must be closed again)
    // has to fail the start with the adapter's error.
    std::fprintf(stderr, "wine lacks wintun: the TUN inbound's failure path only\n");
    config["inbounds"].push_back(
        {{"type", "tun"}, {"tag", "tun-in"}, {"address", {"172.19.0.1/30"}}, {"auto_route", true},
            {"strict_route", true}, {"stack", "mixed"}});
    const std::string tun = support::writeTempFile("windows-tun.json", config.dump());
    const support::CommandResult result
        = support::run({g_wine, g_bin + "/qivro-enginehost.exe", g_bin + "/qivroengine.dll",
                           windowsPath(path), "100", std::to_string(port), windowsPath(tun)},
            240);
    CHECK_MSG(result.exitCode == 0, result.output);
    std::string output = result.output;
    output.erase(std::remove(output.begin(), output.end(), '\r'), output.end()); // text-mode stdout
    CHECK_EQ(output,
        std::string(
            "refused: start inbound/tun[tun-in]: configure tun interface: wintun.dll not "
            "found next to the program (get it from https://www.wintun.net/)\n100 cycles\n"));
}

int main(int argc, char **argv)
{
    if (argc < 4) {
        std::fprintf(
            stderr, "usage: %s <wine> <wineserver> <windows bin folder> [test]\n", argv[0]);
        return 2;
    }
    g_wine = argv[1];
    g_wineserver = argv[2];
    g_bin = argv[3];
    // No display and no prompts for the add-ons a fresh prefix offers to install.
    ::unsetenv("DISPLAY");
    ::setenv("WINEDEBUG", "-all", 1);
    ::setenv("WINEDLLOVERRIDES", "mscoree,mshtml=", 1);
    support::run({g_wine, "wineboot", "-i"}, 240);
    argv[3] = argv[0];
    const int result = qtest::runAll(argc - 3, argv + 3);
    // The prefix's wineserver, and with it anything left in this prefix only.
    support::run({g_wineserver, "-k"}, 30);
    return result;
}
