// The mixed inbound and the Shadowsocks outbound against real third-party software on loopback:
// curl as the client, ss-server and v2ray as Shadowsocks servers.
#include "enginefixture.h"
#include "support.h"

#include <asio/write.hpp>

using nlohmann::json;
using support::Origin;

namespace {

std::string curlGet(std::vector<std::string> arguments, const std::string &url)
{
    arguments.push_back(url);
    return support::curl(arguments);
}

json shadowsocksConfig(std::uint16_t serverPort, const std::string &method)
{
    return proxyConfig({{"type", "shadowsocks"}, {"tag", "ss"}, {"server", "127.0.0.1"},
        {"server_port", serverPort}, {"method", method}, {"password", "loopback-secret"}});
}

// TCP and UDP through the engine's Shadowsocks outbound to a server already listening.
void checkShadowsocks(
    std::uint16_t serverPort, const std::string &method, const std::string &server)
{
    Origin origin("origin");
    support::UdpEcho echo;
    RunningEngine running(shadowsocksConfig(serverPort, method));
    carriesBlob(running.mixedPort(), origin, server + " " + method, "localhost");
    udpEchoes(running.mixedPort(), echo, "ping " + method, server + " " + method);
}

} // namespace

TEST_CASE(curlThroughMixedInbound)
{
    Origin origin("origin");
    RunningEngine running(proxyConfig({{"type", "direct"}, {"tag", "out"}}, true));
    const std::string port = std::to_string(running.mixedPort());
    const std::string expected = support::sha256Hex(origin.blob());
    const std::string target = "127.0.0.1:" + std::to_string(origin.port()) + "/blob";
    const std::vector<std::vector<std::string>> proxies
        = {{"-x", "socks5h://127.0.0.1:" + port}, {"-x", "socks5://127.0.0.1:" + port},
            {"-x", "socks4a://127.0.0.1:" + port}, {"-x", "socks4://127.0.0.1:" + port},
            {"-x", "http://127.0.0.1:" + port}, {"-p", "-x", "http://127.0.0.1:" + port}};
    for (const auto &proxy : proxies) {
        CHECK_MSG(support::sha256Hex(curlGet(proxy, "http://" + target)) == expected,
            proxy.back() + " " + proxy.front());
        CHECK_MSG(support::sha256Hex(
                      curlGet(proxy, "http://localhost:" + std::to_string(origin.port()) + "/blob"))
                == expected,
            proxy.back() + " by name");
    }
    // A request body through plain forwarding, and two requests on one kept-alive connection.
    const std::string upload
        = support::writeTempFile("upload.bin", origin.blob().substr(0, 300000));
    const std::string echoed = support::curl({"-x", "http://127.0.0.1:" + port, "--data-binary",
        "@" + upload, "http://127.0.0.1:" + std::to_string(origin.port()) + "/echo"});
    CHECK(echoed == origin.blob().substr(0, 300000));
    const int before = origin.connections();
    const std::string twice
        = support::curl({"-x", "http://127.0.0.1:" + port, "http://" + target, "http://" + target});
    CHECK_EQ(twice.size(), 2 * origin.blob().size());
    CHECK_EQ(origin.connections() - before, 1);
}

TEST_CASE(usersMustAuthenticate)
{
    Origin origin("origin");
    json inbound = mixedInbound();
    inbound["users"] = {{{"username", "ann"}, {"password", "secret"}}};
    RunningEngine running({{"log", {{"level", "warn"}}}, {"inbounds", {inbound}},
        {"outbounds", {{{"type", "direct"}, {"tag", "direct"}}}}});
    const std::string port = std::to_string(running.mixedPort());
    const std::string url = "http://127.0.0.1:" + std::to_string(origin.port()) + "/name";
    for (const std::string scheme : {"socks5h", "http"}) {
        const std::string proxy = scheme + "://127.0.0.1:" + port;
        CHECK_EQ(curlGet({"-x", proxy, "-U", "ann:secret"}, url), "origin");
        CHECK_MSG(curlGet({"-x", proxy, "-U", "ann:wrong"}, url).empty(), scheme);
        CHECK_MSG(curlGet({"-x", proxy}, url).empty(), scheme);
    }
    CHECK(curlGet({"-x", "socks4a://127.0.0.1:" + port}, url).empty()); // SOCKS4 has no passwords
}

TEST_CASE(malformedRequestCloseOnlyTheirConnection)
{
    Origin origin("origin");
    RunningEngine running(proxyConfig({{"type", "direct"}, {"tag", "out"}}));
    asio::io_context io;
    const asio::ip::tcp::endpoint proxy(asio::ip::make_address("127.0.0.1"), running.mixedPort());
    asio::ip::tcp::socket kept(io);
    kept.connect(proxy);
    CHECK_EQ(support::socksGet(kept, "127.0.0.1", origin.port(), "/name", true), "origin");
    const std::vector<std::string> garbage = {
        std::string("\x05\x01\x00\x05\x07\x00\x01", 7), // unknown command
        std::string("\x04\x01\x00\x50", 4) + std::string(400, 'u'), // SOCKS4 user id without end
        "GET / HTTP/9.9\r\n\r\n",
        "\xff\xfe garbage\r\n\r\n",
        "GET http://a.test/ HTTP/1.1\r\nX: " + std::string(70000, 'x') + "\r\n\r\n",
    };
    for (const std::string &bytes : garbage) {
        asio::ip::tcp::socket bad(io);
        bad.connect(proxy);
        std::error_code error;
        asio::write(bad, asio::buffer(bytes), error);
        CHECK_MSG(readUntilClosed(bad, 5000).closed(), bytes.substr(0, 20));
    }
    CHECK_EQ(support::socksGet(kept, "127.0.0.1", origin.port(), "/name", false), "origin");
    asio::ip::tcp::socket fresh(io);
    fresh.connect(proxy);
    CHECK_EQ(support::socksGet(fresh, "127.0.0.1", origin.port(), "/name", true), "origin");
}

TEST_CASE(shadowsocksThroughSsServer)
{
    if (!support::haveProgram("ss-server")) {
        std::fprintf(stderr, "ss-server missing (shadowsocks-libev): skipped\n");
        return;
    }
    for (const char *method : {"aes-128-gcm", "aes-256-gcm", "chacha20-ietf-poly1305"}) {
        const std::uint16_t port = support::freeTcpPort();
        support::Process server({"ss-server", "-s", "127.0.0.1", "-p", std::to_string(port), "-k",
            "loopback-secret", "-m", method, "-u"});
        CHECK(support::waitForTcpPort(port));
        checkShadowsocks(port, method, "ss-server");
    }
}

TEST_CASE(shadowsocksThroughV2ray)
{
    if (!support::haveProgram("v2ray")) {
        std::fprintf(stderr, "v2ray missing: skipped\n");
        return;
    }
    // A second implementation of one method; ss-server reads every method.
    const V2ray server(std::vector<json> {{{"protocol", "shadowsocks"},
        {"settings",
            {{"method", "aes-256-gcm"}, {"password", "loopback-secret"},
                {"network", "tcp,udp"}}}}});
    checkShadowsocks(server.ports[0], "aes-256-gcm", "v2ray");
}

TEST_CASE(dnsOverSocksUdpIsHijacked)
{
    if (!support::haveProgram("dnsmasq")) {
        std::fprintf(stderr, "dnsmasq missing (dnsmasq-base): skipped\n");
        return;
    }
    const std::uint16_t dnsPort = support::freeUdpPort();
    support::Process dnsmasq({"dnsmasq", "--keep-in-foreground", "--no-resolv", "--no-hosts",
        "--user=root", "--listen-address=127.0.0.1", "--bind-interfaces",
        "--port=" + std::to_string(dnsPort), "--address=/hijack.test/10.1.2.3", "--pid-file="});
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    RunningEngine running({{"log", {{"level", "warn"}}}, {"inbounds", {mixedInbound()}},
        {"dns",
            {{"servers",
                 {{{"tag", "dns_proxy"}, {"address", "https://1.1.1.1/dns-query"},
                      {"address_resolver", "dns_direct"}, {"detour", "proxy"}},
                     {{"tag", "dns_direct"},
                         {"address", "udp://127.0.0.1:" + std::to_string(dnsPort)},
                         {"detour", "direct"}}}},
                {"rules", {{{"outbound", "any"}, {"server", "dns_direct"}}}},
                {"final", "dns_proxy"}}},
        {"outbounds",
            {{{"type", "selector"}, {"tag", "proxy"}, {"outbounds", {"direct"}}},
                {{"type", "direct"}, {"tag", "direct"}}}},
        {"route",
            {{"rules", {{{"protocol", "dns"}, {"action", "hijack-dns"}}}}, {"final", "proxy"}}}});
    // A query for hijack.test/A, sent to an address where nothing listens: only the hijack answers.
    const std::string query = std::string("\x12\x34\x01\x00\x00\x01\x00\x00\x00\x00\x00\x00", 12)
        + "\x06hijack\x04test" + std::string("\x00\x00\x01\x00\x01", 5);
    const std::string answer
        = support::socksUdpExchange(running.mixedPort(), "127.0.0.2", 53, query);
    CHECK_MSG(answer.size() > query.size(), "no DNS answer");
    CHECK(answer.substr(0, 2) == "\x12\x34");
    CHECK(answer.find(std::string("\x0a\x01\x02\x03", 4)) != std::string::npos);
}

QTEST_MAIN()
