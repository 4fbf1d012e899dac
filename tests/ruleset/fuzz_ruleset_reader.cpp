// Rule-set files are untrusted input. Anything the reader accepts must survive a write and a
// second read unchanged, and must compile into a matcher that answers without crashing.
#include "ruleset/matcher.h"
#include "ruleset/ruleset.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

using namespace qivro::ruleset;

namespace {

[[noreturn]] void broken(const char *what, const std::string &detail = {})
{
    std::fprintf(stderr, "ruleset fuzz: %s %s\n", what, detail.c_str());
    std::abort(); // a finding: libFuzzer keeps the input
}

// Regular expressions from the input would make the run measure std::regex, not this code.
void dropRegexes(std::vector<Rule> &rules)
{
    for (auto &rule : rules) {
        rule.domainRegex.clear();
        rule.processPathRegex.clear();
        dropRegexes(rule.rules);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    // Inputs that do not start like a file are taken as an inflated body, so that mutations
    // reach the body parser instead of dying in the decompressor.
    const bool file = size >= 3 && std::memcmp(data, "SRS", 3) == 0;
    RuleSet set;
    std::string error;
    const bool read = file ? readRuleSet(data, size, set, &error)
                           : decodeRuleSetBody(data, size, 1, set, &error);
    if (!read) {
        if (error.empty() || !set.rules.empty())
            broken("failed read left no error or kept rules");
        return 0;
    }

    std::vector<std::uint8_t> written;
    if (!writeRuleSet(set, written, &error))
        broken("cannot write what was read:", error);
    RuleSet again;
    if (!readRuleSet(written.data(), written.size(), again, &error))
        broken("cannot read what was written:", error);
    if (again.rules != set.rules)
        broken("rules changed through a write and read");
    std::vector<std::uint8_t> rewritten;
    if (!writeRuleSet(again, rewritten, &error) || rewritten != written)
        broken("writing is not stable");

    dropRegexes(set.rules);
    RuleSetMatcher matcher;
    if (matcher.build(set, &error)) {
        // Ask about names and addresses the set itself mentions, and their neighbours.
        for (const auto &rule : set.rules) {
            for (const auto &name : rule.domainSuffix) {
                matcher.matchDomain(name);
                matcher.matchDomain("a." + name);
            }
            for (const auto &range : rule.ipCidr) {
                matcher.matchIp(range.first);
                matcher.matchIp(range.last);
            }
        }
        MatchQuery query;
        query.domain = "www.example.com";
        query.destination = IpAddress::v4(0x0a000001);
        query.port = 443;
        query.network = "tcp";
        matcher.match(query);
    }
    return 0;
}
