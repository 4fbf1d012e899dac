// The control API row by row, the selector switched while running, urltest's choice, and routing
// by private addresses and rule sets, all on loopback.
#include "enginefixture.h"
#include "ruleset/ruleset.h"
#include "support.h"

#include <asio/read_until.hpp>
#include <asio/write.hpp>
#include <cstdlib>
#include <poll.h>

using nlohmann::json;
using support::Origin;

namespace {

const std::string secret = "0123456789abcdef";
const std::map<std::string, std::string> auth = {{"Authorization", "Bearer " + secret}};

json apiConfig(json outbounds, json route)
{
    return {{"log", {{"level", "warn"}}}, {"inbounds", {mixedInbound()}},
        {"outbounds", std::move(outbounds)}, {"route", std::move(route)},
        {"experimental",
            {{"clash_api", {{"external_controller", "127.0.0.1:0"}, {"secret", secret}}}}}};
}

// Every test URL goes to this origin (the override keeps tests off the network).
void setTestUrl(const Origin &origin)
{
    ::setenv("QIVRO_ENGINE_TEST_URL",
        ("http://127.0.0.1:" + std::to_string(origin.port()) + "/").c_str(), 1);
}

// Just enough of a WebSocket client (RFC 6455) for the control API's streams: the opening
// handshake, masked frames out, unmasked frames in.
class WsClient
{
public:
    // The response head, up to its blank line.
    std::string open(std::uint16_t port, const std::string &target,
        const std::string &key = "dGhlIHNhbXBsZSBub25jZQ==")
    {
        std::error_code error;
        m_socket.connect({asio::ip::make_address("127.0.0.1"), port}, error);
        std::string request = "GET " + target
            + " HTTP/1.1\r\nHost: 127.0.0.1\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
              "Sec-WebSocket-Version: 13\r\n";
        if (!key.empty())
            request += "Sec-WebSocket-Key: " + key + "\r\n";
        asio::write(m_socket, asio::buffer(request + "\r\n"), error);
        const std::size_t end
            = asio::read_until(m_socket, asio::dynamic_buffer(m_buffer), "\r\n\r\n", error);
        if (error)
            return {};
        const std::string head = m_buffer.substr(0, end);
        m_buffer.erase(0, end);
        return head;
    }

    void send(int opcode, const std::string &payload)
    {
        const unsigned char mask[4] = {0x37, 0xfa, 0x21, 0x3d};
        std::string frame
            = {static_cast<char>(0x80 | opcode), static_cast<char>(0x80 | payload.size())};
        frame.append(reinterpret_cast<const char *>(mask), 4);
        for (std::size_t i = 0; i < payload.size(); ++i)
            frame += static_cast<char>(payload[i] ^ mask[i % 4]);
        std::error_code error;
        asio::write(m_socket, asio::buffer(frame), error);
    }

    // The next frame's opcode and payload; -1 on time-out, 0 with closed set when the server
    // closed the connection.
    int next(std::string &payload, int timeoutMs = 3000)
    {
        const auto deadline
            = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        while (true) {
            if (m_buffer.size() >= 2) {
                const auto byte
                    = [this](std::size_t at) { return static_cast<std::uint8_t>(m_buffer[at]); };
                std::uint64_t length = byte(1) & 0x7F;
                std::size_t at = 2;
                const std::size_t width = length == 126 ? 2 : length == 127 ? 8 : 0;
                if (m_buffer.size() >= at + width) {
                    if (width) {
                        length = 0;
                        for (std::size_t i = 0; i < width; ++i)
                            length = (length << 8) | byte(at + i);
                        at += width;
                    }
                    if (byte(1) & 0x80)
                        return -2; // servers never mask
                    if (m_buffer.size() >= at + length) {
                        payload = m_buffer.substr(at, length);
                        const int opcode = byte(0) & 0x0F;
                        m_buffer.erase(0, at + length);
                        return opcode;
                    }
                }
            }
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now())
                                  .count();
            pollfd entry {m_socket.native_handle(), POLLIN, 0};
            if (left <= 0 || ::poll(&entry, 1, static_cast<int>(left)) <= 0)
                return -1;
            char chunk[4096];
            std::error_code error;
            const std::size_t size = m_socket.read_some(asio::buffer(chunk), error);
            if (error) {
                closed = true;
                return 0;
            }
            m_buffer.append(chunk, size);
        }
    }

    bool closed = false;

private:
    asio::io_context m_io;
    asio::ip::tcp::socket m_socket {m_io};
    std::string m_buffer;
};

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
        {"GET", "/proxies/nope", "", 404, "{\"message\":\"Resource not found\"}\n"},
        {"PUT", "/proxies/proxy", "{\"name\":", 400, "{\"message\":\"Body invalid\"}\n"},
        {"PUT", "/proxies/a", "{\"name\":\"b\"}", 400, "{\"message\":\"Must be a Selector\"}\n"},
        {"PUT", "/proxies/proxy", "{\"name\":\"zzz\"}", 400,
            "{\"message\":\"Selector update error: not found\"}\n"},
        {"PUT", "/proxies/proxy", "{\"name\": \"b\"}", 204, ""},
        {"GET", "/proxies/a/delay?timeout=40000", "", 400, "{\"message\":\"Body invalid\"}\n"},
        {"GET", "/proxies/slow/delay?timeout=200", "", 504, "{\"message\":\"Timeout\"}\n"},
        {"GET", "/proxies/dead/delay?timeout=3000", "", 503,
            "{\"message\":\"An error occurred in the delay test\"}\n"},
        {"GET", "/proxies/a/delay?timeout=3000&url=http%3A%2F%2F127.0.0.1%2F", "", 200,
            "~{\"delay\":"},
        {"GET", "/proxies/a", "", 200, "~\"history\":[{\"delay\":"},
        {"GET", "/group/auto/delay?timeout=3000", "", 200, "~\"b\":"},
        {"GET", "/connections", "", 200, "~\"connections\":[],\"downloadTotal\":"},
        {"DELETE", "/connections", "", 204, ""},
        {"GET", "/configs", "", 200, "~\"mode\":\"Rule\""},
        {"PATCH", "/configs", "{\"mode\":\"Global\"}", 204, ""},
        {"GET", "/nowhere", "", 404, "404 page not found\n"},
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
        = {{}, {{"Authorization", "Bearer wrong"}}, {{"Authorization", secret}}};
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

    // Switched while a connection runs: new connections take the new member, existing ones stay.
    asio::io_context io;
    asio::ip::tcp::socket existing(io);
    existing.connect({asio::ip::make_address("127.0.0.1"), running.mixedPort()});
    CHECK_EQ(support::socksGet(existing, "site.test", 80, "/name", true), "B");
    CHECK_EQ(
        support::httpCall(api, "PUT", "/proxies/proxy", auth, "{\"name\": \"a\"}").status, 204);
    CHECK_EQ(socksFetch(running.mixedPort(), "site.test", 80), "A");
    CHECK_EQ(support::socksGet(existing, "site.test", 80, "/name", false), "B");
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
    CHECK_EQ(socksFetch(running.mixedPort(), "any.test", 80), "slow");
    std::string now;
    for (int i = 0; i < 50 && now != "fast"; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        now = json::parse(support::httpCall(running.apiPort(), "GET", "/proxies/auto", auth).body)
                  .value("now", "");
    }
    CHECK_EQ(now, "fast");
    CHECK_EQ(socksFetch(running.mixedPort(), "any.test", 80), "fast");
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
    // Label boundaries and inline sets are the router's rows in the config suite; here the binary
    // file's items.
    const std::vector<std::pair<std::string, std::string>> rows = {
        {"www.srs.test", "rule"},
        {"203.0.113.9", "rule"},
        {"198.18.0.1", "selector"},
    };
    for (const auto &[host, expected] : rows)
        CHECK_MSG(socksFetch(port, host, 80) == expected, host);
    // A private literal goes direct: to the destination itself.
    CHECK_EQ(socksFetch(port, "127.0.0.1", viaRule.port()), "rule");
    // The sniffed HTTP Host decides where a CONNECT to a literal address goes.
    const std::string sniffed
        = support::run({"curl", "-s", "-p", "-x", "http://127.0.0.1:" + std::to_string(port), "-H",
                           "Host: www.srs.test", "http://198.18.0.7/name"})
              .output;
    CHECK_EQ(sniffed, "rule");
}

TEST_CASE(streamsAndConnections)
{
    Origin a("A");
    RunningEngine running(apiConfig(json::array({toOrigin("a", a)}), {{"final", "a"}}));
    const std::uint16_t api = running.apiPort();
    // A connection kept open shows up with its metadata, chain and counters; DELETE closes it.
    asio::io_context io;
    asio::ip::tcp::socket deleted(io);
    deleted.connect({asio::ip::make_address("127.0.0.1"), running.mixedPort()});
    CHECK_EQ(support::socksGet(deleted, "kept.test", 80, "/blob", true).size(), a.blob().size());
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
    CHECK(readUntilClosed(deleted, 3000).closed());

    const std::string token = "token=" + secret;

    // RFC 6455's own example key and answer.
    WsClient traffic;
    const std::string head = traffic.open(api, "/traffic?" + token);
    CHECK_MSG(head.rfind("HTTP/1.1 101 ", 0) == 0, head);
    CHECK_MSG(
        head.find("Sec-WebSocket-Accept: s3pPLMBiTxaQ9kYGzzhZRbK+xOo=\r\n") != std::string::npos,
        head);
    // The counters themselves are read by the client's traffic suite. A ping is answered in
    // between the messages; a close is returned and ends the stream.
    traffic.send(9, "are you there");
    std::string payload;
    int opcode = 1;
    for (int frames = 0; opcode == 1 && frames < 10; ++frames)
        opcode = traffic.next(payload);
    CHECK_EQ(opcode, 10);
    CHECK_EQ(payload, "are you there");
    traffic.send(8, std::string("\x03\xe8", 2) + "bye");
    for (int frames = 0; (opcode == 10 || opcode == 1) && frames < 10; ++frames)
        opcode = traffic.next(payload);
    CHECK_EQ(opcode, 8);
    CHECK_EQ(payload, std::string("\x03\xe8", 2));
    CHECK_EQ(traffic.next(payload), 0);

    WsClient logs;
    CHECK(logs.open(api, "/logs?level=info&" + token).rfind("HTTP/1.1 101 ", 0) == 0);
    socksFetch(running.mixedPort(), "logged.test", 80);
    CHECK_EQ(logs.next(payload), 1);
    const json line = json::parse(payload, nullptr, false);
    CHECK_MSG(line.value("type", "") == "info"
            && line.value("payload", "").rfind("inbound/mixed[mixed-in]: ", 0) == 0,
        payload);

    asio::ip::tcp::socket kept(io);
    kept.connect({asio::ip::make_address("127.0.0.1"), running.mixedPort()});
    CHECK_EQ(support::socksGet(kept, "kept.test", 80, "/name", true), "A");
    WsClient connections;
    CHECK(
        connections.open(api, "/connections?interval=100&" + token).rfind("HTTP/1.1 101 ", 0) == 0);
    // The earlier request's connection closes on the engine's thread, maybe a frame late on a
    // loaded machine; after that every frame lists the kept connection alone.
    const auto onlyKept = [&payload] {
        const json listed = json::parse(payload, nullptr, false);
        return listed["connections"].size() == 1
            && listed["connections"][0]["metadata"]["host"] == "kept.test";
    };
    int frames = 0;
    do
        CHECK_EQ(connections.next(payload, 1000), 1);
    while (!onlyKept() && ++frames < 20);
    CHECK_EQ(connections.next(payload, 1000), 1);
    CHECK_MSG(onlyKept(), payload);

    // The token counts only for an upgrade, and an upgrade needs its key.
    WsClient wrong, keyless;
    CHECK(wrong.open(api, "/traffic?token=wrong").rfind("HTTP/1.1 401 ", 0) == 0);
    CHECK_EQ(support::httpCall(api, "GET", "/connections?" + token).status, 401);
    CHECK(keyless.open(api, "/traffic?" + token, "").rfind("HTTP/1.1 400 ", 0) == 0);
}

QTEST_MAIN()
