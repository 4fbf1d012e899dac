// The C boundary as the client uses it: dlopen, start, stop, and what must not leak across cycles.
#include "clientconfig.h"
#include "support.h"
#include "testing.h"

#include <dirent.h>
#include <dlfcn.h>

namespace {

using EntryPoint = const char *(*)(const char *);
using StopPoint = const char *(*)();

std::string g_library;

struct Library
{
    void *handle = nullptr;
    EntryPoint start = nullptr;
    StopPoint stop = nullptr;

    Library()
    {
        handle = dlopen(g_library.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (handle) {
            start = reinterpret_cast<EntryPoint>(dlsym(handle, "start"));
            stop = reinterpret_cast<StopPoint>(dlsym(handle, "stop"));
        }
    }
    ~Library()
    {
        if (handle)
            dlclose(handle);
    }
};

std::size_t countEntries(const char *path)
{
    std::size_t count = 0;
    if (DIR *dir = opendir(path)) {
        while (readdir(dir))
            ++count;
        closedir(dir);
    }
    return count;
}

std::string config(const std::string &inbound, const std::string &controller = "127.0.0.1:0")
{
    return R"({"log": {"level": "error"}, "inbounds": [)" + inbound + R"(],
      "outbounds": [{"type": "selector", "tag": "proxy", "outbounds": ["direct", "ut"]},
                    {"type": "urltest", "tag": "ut", "outbounds": ["direct"], "url": "http://127.0.0.1:9/"},
                    {"type": "direct", "tag": "direct"}],
      "route": {"rules": [{"ip_is_private": true, "outbound": "direct"}], "final": "proxy"},
      "experimental": {"clash_api": {"external_controller": ")"
        + controller + R"(", "secret": "s"}}})";
}

const std::string mixedAnyPort
    = R"({"type": "mixed", "tag": "mixed-in", "listen": "127.0.0.1", "listen_port": 0})";

} // namespace

TEST_CASE(contract)
{
    Library library;
    CHECK(library.start && library.stop);
    if (!library.start)
        return;
    CHECK_EQ(std::string(library.stop()), ""); // not running: still fine
    const std::string missing = library.start("/nonexistent/config.json");
    CHECK_MSG(missing.find("no such file") != std::string::npos, missing);
    const std::string broken
        = library.start(support::writeTempFile("broken.json", "{\"inbounds\": [").c_str());
    CHECK_MSG(broken.find("decode config at ") == 0, broken);

    const std::string good = support::writeTempFile("good.json", config(mixedAnyPort));
    CHECK_EQ(std::string(library.start(good.c_str())), "");
    CHECK_EQ(std::string(library.start(good.c_str())), "engine is already running");
    CHECK_EQ(std::string(library.stop()), "");
    CHECK_EQ(std::string(library.stop()), "");

    // A port that is taken fails with the place and the system's reason, and leaves nothing
    // running.
    asio::io_context io;
    asio::ip::tcp::acceptor taken(io, {asio::ip::make_address("127.0.0.1"), 0});
    const std::string port = std::to_string(taken.local_endpoint().port());
    const std::string busy = support::writeTempFile("busy.json",
        config(R"({"type": "mixed", "tag": "mixed-in", "listen": "127.0.0.1", "listen_port": )"
            + port + "}"));
    const std::string error = library.start(busy.c_str());
    CHECK_EQ(error,
        "start inbound/mixed[mixed-in]: listen tcp 127.0.0.1:" + port
            + ": bind: address already in use");
    const std::string controllerBusy
        = support::writeTempFile("busy2.json", config(mixedAnyPort, "127.0.0.1:" + port));
    CHECK_MSG(std::string(library.start(controllerBusy.c_str())).find("address already in use")
            != std::string::npos,
        "controller");
    CHECK_EQ(std::string(library.start(good.c_str())), "");
    CHECK_EQ(std::string(library.stop()), "");

    // A device that cannot be made fails the start before any address or route is touched.
    const std::string tun = support::writeTempFile("tun.json",
        config(
            R"({"type": "tun", "tag": "tun-in", "interface_name": "qivro-name-too-long-for-a-device", "address": ["172.19.0.1/30"], "auto_route": true, "stack": "mixed"})"));
    const std::string tunError = library.start(tun.c_str());
    CHECK_MSG(tunError.find("start inbound/tun[tun-in]: configure tun interface: ") == 0, tunError);
    CHECK_EQ(std::string(library.start(good.c_str())), "");
    CHECK_EQ(std::string(library.stop()), "");
}

TEST_CASE(hundredCyclesLeakNothing)
{
    Library library;
    if (!library.start)
        return;
    const std::string path = support::writeTempFile("cycle.json", config(mixedAnyPort));
    // One cycle first, so lazily created process-wide state is not counted.
    library.start(path.c_str());
    library.stop();
    const std::size_t fds = countEntries("/proc/self/fd");
    const std::size_t threads = countEntries("/proc/self/task");
    for (int i = 0; i < 100; ++i) {
        const std::string error = library.start(path.c_str());
        CHECK_MSG(error.empty(), error);
        CHECK_EQ(std::string(library.stop()), "");
    }
    CHECK_EQ(countEntries("/proc/self/fd"), fds);
    CHECK_EQ(countEntries("/proc/self/task"), threads);
}

// The configuration as the client writes it in local-proxy mode, on its fixed ports 1080 and 9090.
TEST_CASE(clientConfigurationOnFixedPorts)
{
    const char *rules = std::getenv("QIVRO_RULES_DIR");
    if (!rules || !support::haveProgram("ss-server")) {
        std::fprintf(stderr, "QIVRO_RULES_DIR or ss-server missing: skipped\n");
        return;
    }
    Library library;
    if (!library.start)
        return;
    support::Origin origin("origin");
    const std::uint16_t ssPort = support::freeTcpPort();
    support::Process server({"ss-server", "-s", "127.0.0.1", "-p", std::to_string(ssPort), "-k",
        "pw", "-m", "aes-256-gcm"});
    CHECK(support::waitForTcpPort(ssPort));
    // The client's document with its servers here: HK-1 at ss-server, JP-1 a VLESS server that is
    // not there, and no US-1 (a name elsewhere); plus the rule sets it ships.
    const std::string secret(64, 'a');
    nlohmann::json document = support::clientConfig();
    auto &outbounds = document["outbounds"];
    outbounds[0].update({{"server_port", ssPort}, {"password", "pw"}});
    outbounds[1] = {{"type", "vless"}, {"tag", "JP-1"}, {"server", "127.0.0.1"}, {"server_port", 9},
        {"uuid", "b831381d-6324-4d53-ad4f-8cda48b30811"}, {"packet_encoding", "xudp"}};
    outbounds.erase(2);
    outbounds[2]["outbounds"] = outbounds[3]["outbounds"] = {"HK-1", "JP-1"};
    document["experimental"]["clash_api"]["secret"] = secret;
    document["experimental"]["cache_file"]["path"] = "/tmp/qivro-test-cache.db";
    auto &dnsRules = document["dns"]["rules"];
    dnsRules.insert(dnsRules.begin() + 1,
        nlohmann::json {{"rule_set", {"geosite-cn"}}, {"server", "dns_direct"}});
    for (const char *tag : {"geoip-cn", "geoip-ir", "geoip-ru", "geosite-cn"}) {
        document["route"]["rule_set"].push_back({{"format", "binary"}, {"type", "local"},
            {"tag", tag}, {"path", std::string(rules) + "/" + tag + ".srs"}});
    }
    document["route"]["rules"].push_back({{"rule_set", {"geosite-cn"}}, {"outbound", "direct"}});
    document["route"]["rules"].push_back(
        {{"rule_set", {"geoip-cn", "geoip-ir", "geoip-ru"}}, {"outbound", "direct"}});
    const std::string path = support::writeTempFile("client.json", document.dump());
    const std::string error = library.start(path.c_str());
    CHECK_MSG(error.empty(), error);
    if (!error.empty())
        return;
    const std::string expected = support::sha256Hex(origin.blob());
    const std::string port = std::to_string(origin.port());
    const auto fetch = [&](const std::string &proxy, const std::string &host) {
        return support::sha256Hex(
            support::curl({"-x", proxy, "http://" + host + ":" + port + "/blob"}));
    };
    CHECK(fetch("socks5h://127.0.0.1:1080", "127.0.0.1") == expected); // private: direct
    CHECK(fetch("http://127.0.0.1:1080", "localhost") == expected); // a name: the selector's HK-1
    const std::map<std::string, std::string> auth = {{"Authorization", "Bearer " + secret}};
    CHECK_EQ(
        support::httpCall(9090, "PUT", "/proxies/proxy", auth, "{\"name\": \"JP-1\"}").status, 204);
    CHECK(fetch("socks5h://127.0.0.1:1080", "localhost") != expected); // no VLESS server at port 9
    CHECK_EQ(
        support::httpCall(9090, "PUT", "/proxies/proxy", auth, "{\"name\": \"HK-1\"}").status, 204);
    CHECK(fetch("socks5h://127.0.0.1:1080", "localhost") == expected);
    CHECK_EQ(support::httpCall(9090, "GET", "/proxies/proxy").status, 401);
    CHECK_EQ(std::string(library.stop()), "");
    CHECK(!support::waitForTcpPort(9090, 100));
}

int main(int argc, char **argv)
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s <path to libqivroengine> [case]\n", argv[0]);
        return 2;
    }
    g_library = argv[1];
    return qtest::runAll(argc - 1, argv + 1);
}
