// The control API row by row, the selector switched while running, urltest's choice, and routing
// by private addresses and rule sets, all on loopback.
#include "enginefixture.h"
#include "ruleset/ruleset.h"
#include "support.h"

#include <asio/read.hpp>
#include <cstdlib>
#include <fstream>

using nlohmann::json;
using support::Origin;

namespace {

const std::string secret = "0123456789abcdef";
const std::map<std::string, std::string> auth = {{"Authorization", "Bearer " + secret}};

// A direct outbound that sends every connection to one origin, whatever the destination.
json toOrigin(const std::string &tag, const Origin &origin)
{
    return {{"type", "direct"}, {"tag", tag}, {"override_address", "127.0.0.1"},
        {"override_port", origin.port()}};
}

json apiConfig(json outbounds, json route)
{
    return {{"log", {{"level", "warn"}}}, {"inbounds", {mixedInbound()}},
        {"outbounds", std::move(outbounds)}, {"route", std::move(route)},
        {"experimental",
            {{"clash_api", {{"external_controller", "127.0.0.1:0"}, {"secret", secret}}}}}};
}

std::string socksName(std::uint16_t proxyPort, const std::string &host)
{
    asio::io_context io;
    asio::ip::tcp::socket socket(io);
    std::error_code error;
    socket.connect({asio::ip::make_address("127.0.0.1"), proxyPort}, error);
    return error ? "" : support::socksGet(socket, host, 80, "/name", true);
}

// Every test URL goes to this origin (the override keeps tests off the network).
void setTestUrl(const Origin &origin)
{
    ::setenv("QIVRO_ENGINE_TEST_URL",
        ("http://127.0.0.1:" + std::to_string(origin.port()) + "/").c_str(), 1);
}

} // namespace

TEST_CASE(controlApiRows)
{
    Origin a("A"), b("B"), slow("slow", 16, 1500);
    setTestUrl(a);
    RunningEngine running(
        apiConfig({{{"type", "selector"}, {"tag", "proxy"}, {"outbounds", {"a", "b"}}},
                      {{"type", "urltest"}, {"tag", "auto"}, {"outbounds", {"a", "b"}}},
                      toOrigin("a", a), toOrigin("b", b), toOrigin("slow", slow),
                      {{"type", "shadowsocks"}, {"tag", "dead"}, {"server", "127.0.0.1"},
                          {"server_port", support::freeTcpPort()}, {"method", "aes-128-gcm"},
                          {"password", "x"}},
                      {{"type", "direct"}, {"tag", "direct"}}},
            {{"final", "proxy"}}));
    const std::uint16_t api = running.apiPort();
    struct Row
    {
        std::string method;
        std::string target;
        std::string body;
        int status;
        std::string expected; // exact body, or a fragment when it starts with '~'
    };
    const std::vector<Row> rows = {
        {"GET", "/", "", 200, "{\"hello\":\"clash\"}\n"},
        {"GET", "/version", "", 200, "~\"version\":\"qivro-engine "},
        {"GET", "/proxies", "", 200,
            "~\"GLOBAL\":{\"all\":[\"proxy\",\"auto\",\"dead\"],\"history\":[],\"name\":\"GLOBAL\","
            "\"now\":\"proxy\",\"type\":\"Fallback\""},
        {"GET", "/proxies/proxy", "", 200,
            "{\"all\":[\"a\",\"b\"],\"history\":[],\"name\":\"proxy\",\"now\":\"a\",\"type\":"
            "\"Selector\",\"udp\":true}\n"},
        {"GET", "/proxies/%70roxy", "", 200, "~\"name\":\"proxy\""},
        {"GET", "/proxies/dead", "", 200, "~\"type\":\"Shadowsocks\""},
        {"GET", "/proxies/nope", "", 404, "{\"message\":\"Resource not found\"}\n"},
        {"PUT", "/proxies/nope", "{\"name\":\"b\"}", 404, "{\"message\":\"Resource not found\"}\n"},
        {"PUT", "/proxies/proxy", "{\"name\":", 400, "{\"message\":\"Body invalid\"}\n"},
        {"PUT", "/proxies/a", "{\"name\":\"b\"}", 400, "{\"message\":\"Must be a Selector\"}\n"},
        {"PUT", "/proxies/proxy", "{\"name\":\"zzz\"}", 400,
            "{\"message\":\"Selector update error: not found\"}\n"},
        {"PUT", "/proxies/proxy", "{\"name\": \"b\"}", 204, ""},
        {"GET", "/proxies/proxy", "", 200, "~\"now\":\"b\""},
        {"GET", "/proxies/a/delay", "", 400, "{\"message\":\"Body invalid\"}\n"},
        {"GET", "/proxies/a/delay?timeout=abc", "", 400, "{\"message\":\"Body invalid\"}\n"},
        {"GET", "/proxies/a/delay?timeout=40000", "", 400, "{\"message\":\"Body invalid\"}\n"},
        {"GET", "/proxies/nope/delay?timeout=100", "", 404,
            "{\"message\":\"Resource not found\"}\n"},
        {"GET", "/proxies/slow/delay?timeout=200", "", 504, "{\"message\":\"Timeout\"}\n"},
        {"GET", "/proxies/dead/delay?timeout=3000", "", 503,
            "{\"message\":\"An error occurred in the delay test\"}\n"},
        {"GET", "/proxies/a/delay?timeout=3000&url=http%3A%2F%2F127.0.0.1%2F", "", 200,
            "~{\"delay\":"},
        {"GET", "/proxies/a", "", 200, "~\"history\":[{\"delay\":"},
        {"GET", "/group/a/delay?timeout=1000", "", 404, "{\"message\":\"Resource not found\"}\n"},
        {"GET", "/group/auto/delay?timeout=3000", "", 200, "~\"b\":"},
        {"GET", "/connections", "", 200, "~\"connections\":[],\"downloadTotal\":"},
        {"DELETE", "/connections", "", 204, ""},
        {"DELETE", "/connections/0000", "", 204, ""},
        {"GET", "/configs", "", 200, "~\"mode\":\"Rule\""},
        {"PATCH", "/configs", "{\"mode\":\"Global\"}", 204, ""},
        {"PUT", "/configs", "{}", 204, ""},
        {"GET", "/logs?level=loud", "", 400, "{\"message\":\"Body invalid\"}\n"},
        {"GET", "/nowhere", "", 404, "404 page not found\n"},
        {"POST", "/proxies/proxy", "", 405, "~Method Not Allowed"},
    };
    for (const Row &row : rows) {
        support::HttpResult result = support::httpCall(api, row.method, row.target, auth, row.body);
        const std::string label = row.method + " " + row.target + " -> "
            + std::to_string(result.status) + " " + result.body;
        CHECK_MSG(result.status == row.status, label);
        if (!row.expected.empty() && row.expected[0] == '~')
            CHECK_MSG(result.body.find(row.expected.substr(1)) != std::string::npos, label);
        else
            CHECK_MSG(result.body == row.expected, label);
        if (row.status == 200)
            CHECK_MSG(result.headers["content-type"].rfind("application/json", 0) == 0, label);
    }
    // A failed test clears the history of the real member, a successful one fills it.
    CHECK(support::httpCall(api, "GET", "/proxies/proxy", auth).body.find("\"history\":[{")
        != std::string::npos);

    const std::vector<std::map<std::string, std::string>> wrong
        = {{}, {{"Authorization", "Bearer wrong"}}, {{"Authorization", secret}},
            {{"Authorization", "bearer " + secret}}};
    for (const auto &headers : wrong) {
        const support::HttpResult result = support::httpCall(api, "GET", "/proxies", headers);
        CHECK_EQ(result.status, 401);
        CHECK_EQ(result.body, "{\"message\":\"Unauthorized\"}\n");
    }
    support::HttpResult preflight = support::httpCall(api, "OPTIONS", "/proxies/proxy",
        {{"Origin", "http://ui.test"}, {"Access-Control-Request-Method", "PUT"}});
    CHECK_EQ(preflight.status, 204);
    CHECK_EQ(preflight.headers["access-control-allow-origin"], "*");
    CHECK(preflight.headers["access-control-allow-methods"].find("PUT") != std::string::npos);
    CHECK(preflight.headers["access-control-allow-headers"].find("Authorization")
        != std::string::npos);
}

TEST_CASE(streamsAndConnections)
{
    Origin a("A");
    RunningEngine running(
        apiConfig({toOrigin("a", a), {{"type", "direct"}, {"tag", "direct"}}}, {{"final", "a"}}));
    const std::uint16_t api = running.apiPort();
    // A connection kept open shows up with its metadata, chain and counters; DELETE closes it.
    asio::io_context io;
    asio::ip::tcp::socket kept(io);
    kept.connect({asio::ip::make_address("127.0.0.1"), running.mixedPort()});
    CHECK_EQ(support::socksGet(kept, "kept.test", 80, "/blob", true).size(), a.blob().size());
    const json listed = json::parse(support::httpCall(api, "GET", "/connections", auth).body);
    CHECK_EQ(listed["connections"].size(), 1u);
    const json &connection = listed["connections"][0];
    CHECK_EQ(connection["metadata"]["host"], "kept.test");
    CHECK_EQ(connection["metadata"]["destinationPort"], "80");
    CHECK_EQ(connection["metadata"]["type"], "mixed/mixed-in");
    CHECK_EQ(connection["chains"], json::array({"a"}));
    CHECK(connection["download"].get<std::uint64_t>() >= a.blob().size());
    CHECK(listed["downloadTotal"].get<std::uint64_t>() >= a.blob().size());
    CHECK_EQ(support::httpCall(
                 api, "DELETE", "/connections/" + connection["id"].get<std::string>(), auth)
                 .status,
        204);
    std::string rest;
    std::error_code error;
    asio::read(kept, asio::dynamic_buffer(rest), error);
    CHECK(error == asio::error::eof || error == asio::error::connection_reset);

    const auto traffic = support::streamLines(api, "/traffic", auth, 1, 3000);
    CHECK(traffic.size() == 1 && traffic[0].find("{\"down\":") == 0
        && traffic[0].find("\"up\":") != std::string::npos);
    std::thread client([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        socksName(running.mixedPort(), "logged.test");
    });
    const auto logs = support::streamLines(api, "/logs?level=info", auth, 1, 3000);
    client.join();
    CHECK(logs.size() == 1 && logs[0].find("{\"payload\":\"inbound/mixed[mixed-in]: ") == 0
        && logs[0].find("\"type\":\"info\"}") != std::string::npos);
}

TEST_CASE(selectorSwitchedWhileRunning)
{
    Origin a("A"), b("B");
    RunningEngine running(
        apiConfig({{{"type", "selector"}, {"tag", "proxy"}, {"outbounds", {"a", "b"}}},
                      toOrigin("a", a), toOrigin("b", b), {{"type", "direct"}, {"tag", "direct"}}},
            {{"final", "proxy"}}));
    asio::io_context io;
    asio::ip::tcp::socket existing(io);
    existing.connect({asio::ip::make_address("127.0.0.1"), running.mixedPort()});
    CHECK_EQ(support::socksGet(existing, "site.test", 80, "/name", true), "A");
    CHECK_EQ(
        support::httpCall(running.apiPort(), "PUT", "/proxies/proxy", auth, "{\"name\": \"b\"}")
            .status,
        204);
    CHECK_EQ(socksName(running.mixedPort(), "site.test"), "B");
    CHECK_EQ(
        support::socksGet(existing, "site.test", 80, "/name", false), "A"); // existing ones stay
    CHECK_EQ(
        support::httpCall(running.apiPort(), "PUT", "/proxies/proxy", auth, "{\"name\": \"a\"}")
            .status,
        204);
    CHECK_EQ(socksName(running.mixedPort(), "site.test"), "A");
}

TEST_CASE(urltestPicksTheFasterMember)
{
    Origin slow("slow", 16, 400), fast("fast");
    setTestUrl(fast);
    RunningEngine running(
        apiConfig({{{"type", "urltest"}, {"tag", "auto"}, {"outbounds", {"slow", "fast"}},
                       {"interval", "1s"}, {"idle_timeout", "1m"}, {"tolerance", 50}},
                      toOrigin("slow", slow), toOrigin("fast", fast),
                      {{"type", "direct"}, {"tag", "direct"}}},
            {{"final", "auto"}}));
    // Lazy: nothing is tested before the group is used; the first member carries meanwhile.
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    CHECK(support::httpCall(running.apiPort(), "GET", "/proxies/slow", auth)
              .body.find("\"history\":[]")
        != std::string::npos);
    CHECK_EQ(socksName(running.mixedPort(), "any.test"), "slow");
    std::string now;
    for (int i = 0; i < 50 && now != "fast"; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        now = json::parse(support::httpCall(running.apiPort(), "GET", "/proxies/auto", auth).body)
                  .value("now", "");
    }
    CHECK_EQ(now, "fast");
    CHECK_EQ(socksName(running.mixedPort(), "any.test"), "fast");
    const json slowInfo
        = json::parse(support::httpCall(running.apiPort(), "GET", "/proxies/slow", auth).body);
    CHECK(slowInfo["history"].size() == 1 && slowInfo["history"][0]["delay"].get<int>() >= 400);
}

TEST_CASE(privateAddressesAndRuleSetsGoDirect)
{
    Origin viaRule("rule"), viaSelector("selector");
    qivro::ruleset::RuleSet set;
    qivro::ruleset::Rule rule;
    rule.domainSuffix = {"srs.test"};
    rule.ipCidr = {*qivro::ruleset::IpRange::parseCidr("203.0.113.0/24")};
    set.rules.push_back(rule);
    std::vector<std::uint8_t> bytes;
    std::string error;
    CHECK_MSG(qivro::ruleset::writeRuleSet(set, bytes, &error), error);
    const std::string srs
        = support::writeTempFile("binary.srs", std::string(bytes.begin(), bytes.end()));
    json route = {
        {"rule_set",
            {{{"tag", "inline-set"}, {"type", "inline"},
                 {"rules", {{{"domain", {"inline.test"}}}}}},
                {{"tag", "binary-set"}, {"type", "local"}, {"format", "binary"}, {"path", srs}}}},
        {"rules",
            {{{"ip_is_private", true}, {"outbound", "direct"}},
                {{"rule_set", {"inline-set", "binary-set"}}, {"outbound", "rule"}}}},
        {"final", "proxy"}};
    RunningEngine running(
        apiConfig({{{"type", "selector"}, {"tag", "proxy"}, {"outbounds", {"selector"}}},
                      toOrigin("rule", viaRule), toOrigin("selector", viaSelector),
                      {{"type", "direct"}, {"tag", "direct"}}},
            route));
    const std::uint16_t port = running.mixedPort();
    const std::vector<std::pair<std::string, std::string>> rows = {
        {"inline.test", "rule"},
        {"www.srs.test", "rule"},
        {"srs.test", "rule"},
        {"203.0.113.9", "rule"},
        {"other.test", "selector"},
        {"xsrs.test", "selector"},
        {"198.18.0.1", "selector"},
    };
    for (const auto &[host, expected] : rows)
        CHECK_MSG(socksName(port, host) == expected, host);
    // A private literal goes direct: to the destination itself.
    asio::io_context io;
    asio::ip::tcp::socket socket(io);
    socket.connect({asio::ip::make_address("127.0.0.1"), port});
    CHECK_EQ(support::socksGet(socket, "127.0.0.1", viaRule.port(), "/name", true), "rule");
    // The sniffed HTTP Host decides where a CONNECT to a literal address goes.
    const std::string sniffed
        = support::run({"curl", "-s", "-p", "-x", "http://127.0.0.1:" + std::to_string(port), "-H",
                           "Host: www.srs.test", "http://198.18.0.7/name"})
              .output;
    CHECK_EQ(sniffed, "rule");
}

QTEST_MAIN()
