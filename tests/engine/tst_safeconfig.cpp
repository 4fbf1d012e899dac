// Hostile configurations: files that are not configurations, nesting that would exhaust the stack
// and group graphs that would take exponential time to check.
#include "config/config.h"
#include "support.h"
#include "testing.h"

#include <filesystem>
#include <functional>
#include <string>

using qivro::engine::Config;

namespace {

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
        {"directory", [] { return std::filesystem::temp_directory_path().string(); }, {},
            "not a regular file"},
        {"over 64 MiB", [&] { return sparse; }, {}, "larger than 64 MiB"},
        {"missing", [] { return std::string("/nonexistent/qivro.json"); }, {},
            "no such file or directory"},
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
        {"inline rule set at 65 levels", nullptr,
            withRoute(
                R"("rule_set":[{"type":"inline","tag":"s","rules":[)" + nestedRule(64, "") + "]}]"),
            "route.rule_set[0].rules[0].rules[0]"},
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
        const bool ok = row.path ? qivro::engine::loadConfigFile(row.path(), config, error)
                                 : qivro::engine::parseConfig(row.text, config, error);
        const std::string label = std::string(row.name) + ": " + error;
        CHECK_MSG(ok == row.error.empty(), label);
        CHECK_MSG(error.find(row.error) != std::string::npos, label);
    }
    std::vector<qivro::engine::RuleConfig> rules;
    std::string error;
    CHECK(!qivro::engine::parseSourceRuleSet(
        R"({"version":1,"rules":[)" + nestedRule(64, "") + "]}", rules, error));
    CHECK_MSG(error.find("rules[0].rules[0]") != std::string::npos
            && error.find("nested deeper than 64 levels") != std::string::npos,
        error);
    std::filesystem::remove(sparse);
    std::filesystem::remove(fine);
}

QTEST_MAIN()
