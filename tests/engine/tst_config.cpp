// The configuration validator (also against hostile files: nesting that would exhaust the stack,
// group graphs that would take exponential time to check), the router and the Shadowsocks framing.
#include "clientconfig.h"
#include "config/config.h"
#include "outbound/sscrypto.h"
#include "outboundfactory.h"
#include "route/router.h"
#include "support.h"
#include "testing.h"

#include <filesystem>
#include <functional>
#include <nlohmann/json.hpp>

using namespace qivro::engine;
using json = nlohmann::json;

namespace {

std::string validate(const json &document)
{
    Config config;
    std::string error;
    parseConfig(document.dump(), config, error);
    return error;
}

// levels logical rules around one plain rule; extra goes into the outermost object.
std::string nestedRule(int levels, const std::string &extra)
{
    std::string text;
    for (int i = 0; i < levels; ++i)
        text += "{" + (i == 0 ? extra : "") + R"("type":"logical","mode":"and","rules":[)";
    text += levels == 0 ? "{" + extra + R"("domain":"a.test"})" : R"({"domain":"a.test"})";
    for (int i = 0; i < levels; ++i)
        text += "]}";
    return text;
}

std::string withRoute(const std::string &routeBody)
{
    return R"({"outbounds":[{"type":"direct","tag":"direct"}],"route":{)" + routeBody + "}}";
}

// g0 and g1 are direct; each later group lists the `fanout` groups before it.
std::string groupLadder(int groups, int fanout)
{
    std::string outbounds = R"({"type":"direct","tag":"g0"},{"type":"direct","tag":"g1"})";
    for (int i = 2; i < groups + 2; ++i) {
        std::string members;
        for (int back = 1; back <= fanout; ++back)
            members += std::string(back > 1 ? "," : "") + "\"g" + std::to_string(i - back) + "\"";
        outbounds += R"(,{"type":"selector","tag":"g)" + std::to_string(i) + R"(","outbounds":[)"
            + members + "]}";
    }
    return R"({"outbounds":[)" + outbounds + "]}";
}

std::string repeat(const std::string &text, int times)
{
    std::string out;
    for (int i = 0; i < times; ++i)
        out += text;
    return out;
}

} // namespace

TEST_CASE(acceptsWhatTheClientWrites)
{
    Config config;
    std::string error;
    CHECK_MSG(parseConfig(support::clientConfig().dump(), config, error), error);
    CHECK_EQ(config.findOutbound("urltest")->intervalMs, 180000);
    CHECK_EQ(config.findOutbound("urltest")->idleTimeoutMs, 1800000);
    // Its TUN form is the TUN suite's, on a real device.
}

TEST_CASE(refusesWhatItDoesNotUnderstand)
{
    struct Row
    {
        const char *name;
        std::string pointer;
        json value;
        std::string expected; // a fragment of the error, naming the place
    };
    const std::vector<Row> rows = {
        {"unknown top-level key", "/bogus", 1, "bogus: json: unknown field \"bogus\""},
        {"port as text", "/inbounds/0/listen_port", "1080",
            "inbounds[0].listen_port: json: cannot unmarshal string into uint16"},
        {"unknown inbound type", "/inbounds/0/type", "redirect2",
            "inbounds[0].type: unknown inbound type: redirect2"},
        {"unknown method", "/outbounds/0/method", "rot13",
            "outbounds[0].method: unknown method: rot13"},
        {"duplicate tag", "/outbounds/1/tag", "HK-1", "duplicate outbound tag: HK-1"},
        {"selector member missing", "/outbounds/3/outbounds/1", "nowhere",
            "outbounds[3].outbounds[1]: outbound not found: nowhere"},
        {"urltest interval above idle", "/outbounds/4/interval", "1h",
            "outbounds[4]: interval must be less or equal than idle_timeout"},
        {"unknown fingerprint", "/outbounds/1/tls/utls/fingerprint", "netscape",
            "outbounds[1].tls.utls.fingerprint: unknown uTLS fingerprint: netscape"},
        {"reality without utls", "/outbounds/1/tls/utls/enabled", false,
            "outbounds[1].tls.reality: uTLS is required by reality client"},
        {"unknown transport", "/outbounds/1/transport/type", "carrier",
            "outbounds[1].transport.type: unknown transport type"},
        {"route final missing", "/route/final", "gone",
            "route.final: default outbound not found: gone"},
        {"unknown rule action", "/route/rules/0/action", "explode",
            "route.rules[0].action: unknown rule action"},
        {"rule set missing", "/route/rules/1/rule_set", json::array({"geoip-xx"}),
            "route.rules[1].rule_set: rule-set not found: geoip-xx"},
        {"bad ip_cidr", "/route/rules/1/ip_cidr", json::array({"10.0.0.0/33"}),
            "route.rules[1].ip_cidr: invalid ip_cidr"},
        {"action inside a logical rule", "/route/rules/2",
            {{"type", "logical"}, {"mode", "or"},
                {"rules", {{{"clash_mode", "Global"}, {"outbound", "direct"}}}},
                {"outbound", "direct"}},
            "route.rules[2].rules[0].outbound: json: unknown field"},
        {"dns server missing", "/dns/rules/0/server", "gone",
            "dns.rules[0].server: server not found: gone"},
        {"bad log level", "/log/level", "loud", "log.level: unknown log level: loud"},
        {"bad controller address", "/experimental/clash_api/external_controller", "nowhere",
            "experimental.clash_api.external_controller"},
    };
    for (const Row &row : rows) {
        json document = support::clientConfig();
        document[json::json_pointer(row.pointer)] = row.value;
        const std::string error = validate(document);
        CHECK_MSG(error.find(row.expected) != std::string::npos,
            std::string(row.name) + ": \"" + error + "\"");
    }
    CHECK(validate(json::parse("[]")).find("cannot unmarshal array") != std::string::npos);
    Config config;
    std::string error;
    CHECK(!parseConfig("{\"log\": ", config, error));
    CHECK(error.rfind("decode config: ", 0) == 0);
}

TEST_CASE(durations)
{
    const std::vector<std::pair<std::string, std::int64_t>> good
        = {{"1h30m", 5400000}, {"300ms", 300}, {"1.5s", 1500}, {"0", 0}};
    for (const auto &[text, expected] : good) {
        std::int64_t value = -1;
        CHECK_MSG(parseDuration(text, value), text);
        CHECK_EQ(value, expected);
    }
    for (const std::string bad : {"", "3", "m", "3x", "1..5s", "-3m"}) {
        std::int64_t value = 0;
        CHECK_MSG(!parseDuration(bad, value), bad);
    }
}

TEST_CASE(privateAddresses)
{
    // The edges of each range; the common cases go direct in the engine suites.
    for (const char *text : {"172.16.0.1", "172.31.255.255", "224.0.0.1", "0.0.0.0", "fd12::1",
             "fe80::1", "ff02::1", "::ffff:192.168.0.1"})
        CHECK_MSG(isPrivateAddress(asio::ip::make_address(text)), text);
    for (const char *text : {"100.64.0.1", "172.32.0.1", "fec0::1"})
        CHECK_MSG(!isPrivateAddress(asio::ip::make_address(text)), text);
}

TEST_CASE(routing)
{
    json document = support::clientConfig();
    document["route"]["rule_set"] = json::parse(R"([{"tag": "cn", "type": "inline",
        "rules": [{"domain_suffix": ["cn"]}, {"ip_cidr": ["1.0.1.0/24"]}, {"domain": ["exact.test"], "port": [443]}]}])");
    document["route"]["rules"].push_back({{"rule_set", {"cn"}}, {"outbound", "direct"}});
    document["route"]["rules"].push_back({{"domain_keyword", {"blockme"}}, {"action", "reject"}});
    document["route"]["rules"].push_back({{"type", "logical"}, {"mode", "and"},
        {"rules", {{{"network", "udp"}}, {{"port", 443}}}}, {"outbound", "urltest"}});
    Config config;
    std::string error;
    CHECK_MSG(parseConfig(document.dump(), config, error), error);
    std::map<std::string, std::shared_ptr<Outbound>> outbounds;
    for (const OutboundConfig &outbound : config.outbounds)
        outbounds[outbound.tag] = createOutbound(outbound);
    Router router;
    CHECK_MSG(router.init(config, outbounds, error), error);

    struct Row
    {
        const char *name;
        std::string host;
        std::uint16_t port;
        std::string network;
        std::string sniffed;
        std::string protocol;
        std::string expected; // outbound tag, "reject" or "hijack"
    };
    const std::vector<Row> rows = {
        {"dns is hijacked first", "127.0.0.1", 53, "udp", "", "dns", "hijack"},
        {"private ip goes direct", "192.168.1.9", 80, "tcp", "", "", "direct"},
        {"private rule ignores domains", "localhost", 80, "tcp", "", "", "proxy"},
        {"rule-set suffix", "www.example.cn", 80, "tcp", "", "", "direct"},
        {"suffix needs a label boundary", "examplecn", 80, "tcp", "", "", "proxy"},
        {"rule-set ip range", "1.0.1.77", 80, "tcp", "", "", "direct"},
        {"rule-set items and port", "exact.test", 443, "tcp", "", "", "direct"},
        {"rule-set port mismatch", "exact.test", 80, "tcp", "", "", "proxy"},
        {"sniffed name is matched", "8.8.4.4", 443, "tcp", "a.b.cn", "tls", "direct"},
        {"keyword reject", "x.blockme.test", 80, "tcp", "", "", "reject"},
        {"logical and", "8.8.4.4", 443, "udp", "", "", "urltest"},
    };
    for (const Row &row : rows) {
        Metadata metadata;
        metadata.inbound = "mixed-in";
        metadata.network = row.network;
        metadata.destination = makeDestination(row.host, row.port);
        metadata.sniffedDomain = row.sniffed;
        metadata.protocol = row.protocol;
        const RouteDecision decision = router.route(metadata);
        std::string got = decision.action == RouteDecision::Action::Reject ? "reject"
            : decision.action == RouteDecision::Action::HijackDns          ? "hijack"
                                                                  : decision.outbound->tag();
        CHECK_MSG(got == row.expected, std::string(row.name) + ": got " + got);
    }
}

// Each method is carried end to end through ss-server and v2ray; the chunk limit and tamper
// detection are checked here.
TEST_CASE(shadowsocksFraming)
{
    ss::CipherKind kind;
    CHECK(ss::cipherFromMethod("chacha20-ietf-poly1305", kind));
    const auto master = ss::masterKey("secret", ss::keySize(kind));
    ss::StreamEncryptor encryptor(kind, master);
    std::vector<std::uint8_t> plain(40000);
    for (std::size_t i = 0; i < plain.size(); ++i)
        plain[i] = static_cast<std::uint8_t>(i * 7);
    std::vector<std::uint8_t> wire;
    CHECK(encryptor.encrypt(plain.data(), 100, wire));
    CHECK(encryptor.encrypt(plain.data() + 100, plain.size() - 100, wire));
    // salt, then 1 chunk of 100 and 3 chunks for the rest (at most 0x3FFF each), 2 tags each
    CHECK_EQ(wire.size(), master.size() + plain.size() + 4 * (2 + 2 * ss::tagSize));
    ss::StreamDecryptor decryptor(kind, master);
    std::vector<std::uint8_t> out;
    for (std::size_t i = 0; i < wire.size(); i += 1000)
        CHECK(decryptor.feed(wire.data() + i, std::min<std::size_t>(1000, wire.size() - i), out));
    CHECK(out == plain);
    std::vector<std::uint8_t> tampered = wire;
    tampered[master.size() + 5] ^= 1;
    ss::StreamDecryptor strict(kind, master);
    std::vector<std::uint8_t> ignored;
    CHECK(!strict.feed(tampered.data(), tampered.size(), ignored));

    std::vector<std::uint8_t> packet;
    CHECK(ss::sealPacket(kind, master, plain.data(), 500, packet));
    std::vector<std::uint8_t> opened;
    CHECK(ss::openPacket(kind, master, packet.data(), packet.size(), opened));
    CHECK(std::equal(opened.begin(), opened.end(), plain.begin()) && opened.size() == 500);
    packet.back() ^= 1;
    CHECK(!ss::openPacket(kind, master, packet.data(), packet.size(), opened));
}

TEST_CASE(hostileConfigurations)
{
    const std::string dnsBase
        = R"({"dns":{"servers":[{"tag":"local","address":"local"}],"rules":[)";
    const std::string sparse = support::writeTempFile("sparse.json", "");
    std::filesystem::resize_file(sparse, (64ull << 20) + 1);
    const std::string fine = support::writeTempFile("fine.json", withRoute(R"("final":"direct")"));
    struct Row
    {
        const char *name;
        std::function<std::string()> path; // a file to load
        std::string text; // or a configuration to parse
        std::string error; // fragment of the expected error, "" when it is valid
    };
    const std::vector<Row> rows = {
        {"character device", [] { return std::string("/dev/zero"); }, {}, "not a regular file"},
        {"over 64 MiB", [&] { return sparse; }, {}, "larger than 64 MiB"},
        {"ordinary file", [&] { return fine; }, {}, ""},
        {"deep JSON anywhere", nullptr,
            R"({"log":)" + std::string(100000, '[') + std::string(100000, ']') + "}",
            "nested deeper than 512 levels at line 1, column 519"},
        {"8000 nested logical rules", nullptr,
            withRoute(R"("rules":[)" + nestedRule(8000, R"("outbound":"direct",)") + "]"),
            "nested deeper than"},
        {"route rules at 64 levels", nullptr,
            withRoute(R"("rules":[)" + nestedRule(63, R"("outbound":"direct",)") + "]"), ""},
        {"route rules at 65 levels", nullptr,
            withRoute(R"("rules":[)" + nestedRule(64, R"("outbound":"direct",)") + "]"),
            "route.rules[0]" + repeat(".rules[0]", 64)
                + ": logical rules nested deeper than 64 levels"},
        {"DNS rules at 65 levels", nullptr,
            dnsBase + nestedRule(64, R"("server":"local",)") + "]}}", "dns.rules[0].rules[0]"},
        {"60 groups each listing the two before", nullptr, groupLadder(60, 2), ""},
        {"groups nested 65 deep", nullptr, groupLadder(65, 1),
            "outbounds[66]: outbounds nested deeper than 64 levels: g66"},
        {"group loop", nullptr,
            R"({"outbounds":[{"type":"selector","tag":"a","outbounds":["b"]},
                {"type":"selector","tag":"b","outbounds":["c","a"]},
                {"type":"direct","tag":"c"}]})",
            "outbound loop detected"},
        {"detour loop", nullptr,
            R"({"outbounds":[{"type":"direct","tag":"a","detour":"b"},
                {"type":"direct","tag":"b","detour":"a"}]})",
            "outbound loop detected"},
    };
    for (const Row &row : rows) {
        Config config;
        std::string error;
        const bool ok = row.path ? loadConfigFile(row.path(), config, error)
                                 : parseConfig(row.text, config, error);
        const std::string label = std::string(row.name) + ": " + error;
        CHECK_MSG(ok == row.error.empty(), label);
        CHECK_MSG(error.find(row.error) != std::string::npos, label);
    }
    std::vector<RuleConfig> rules;
    std::string error;
    CHECK(
        !parseSourceRuleSet(R"({"version":1,"rules":[)" + nestedRule(64, "") + "]}", rules, error));
    CHECK_MSG(error.find("rules[0].rules[0]") != std::string::npos
            && error.find("nested deeper than 64 levels") != std::string::npos,
        error);
    std::filesystem::remove(sparse);
    std::filesystem::remove(fine);
}

QTEST_MAIN()
