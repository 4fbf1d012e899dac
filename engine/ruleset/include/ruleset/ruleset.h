#pragma once

#include "ruleset/ipaddress.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// Binary rule-set files (.srs): "SRS", a version byte, then a zlib stream holding the rules.
// Reading and writing never throw: every entry point reports failure through its return value
// and an error text, including running out of memory.
namespace qivro::ruleset {

// The version this library writes. Versions 1 to 3 are read; they share the encoding of every
// item this library knows.
constexpr std::uint8_t kWriteVersion = 1;
constexpr std::uint8_t kMaxReadVersion = 3;

// Defences against hostile files: the inflated body, the nesting of logical rules and the length
// of one domain name are capped. Every count in a file is also checked against the bytes left.
constexpr std::size_t kMaxBodySize = 64u << 20;
constexpr int kMaxNesting = 32;
constexpr std::size_t kMaxDomainLength = 1024;

enum class LogicalMode : std::uint8_t
{
    And = 0,
    Or = 1
};

// One rule: an ordinary rule (items) or, when `logical` is set, a logical rule over `rules`.
// Within an ordinary rule, destination-address items (domain*, ip_cidr) form one group that
// matches when any of them does, and so do source addresses and each kind of port; the groups
// and all other items must all match.
struct Rule
{
    bool logical = false;
    bool invert = false;

    // Logical rule.
    LogicalMode mode = LogicalMode::And;
    std::vector<Rule> rules;

    // Ordinary rule. domainSuffix "example.com" covers the name and every name below it;
    // ".example.com" covers only the names below it.
    std::vector<std::uint16_t> queryType;
    std::vector<std::string> network;
    std::vector<std::string> domain;
    std::vector<std::string> domainSuffix;
    std::vector<std::string> domainKeyword;
    std::vector<std::string> domainRegex;
    std::vector<IpRange> sourceIpCidr;
    std::vector<IpRange> ipCidr;
    std::vector<std::uint16_t> sourcePort;
    std::vector<std::string> sourcePortRange;
    std::vector<std::uint16_t> port;
    std::vector<std::string> portRange;
    std::vector<std::string> processName;
    std::vector<std::string> processPath;
    std::vector<std::string> processPathRegex;
    std::vector<std::string> packageName;
    std::vector<std::string> wifiSsid;
    std::vector<std::string> wifiBssid;

    bool hasItems() const;
    friend bool operator==(const Rule &a, const Rule &b);
    friend bool operator!=(const Rule &a, const Rule &b) { return !(a == b); }
};

struct RuleSet
{
    std::uint8_t version = kWriteVersion;
    std::vector<Rule> rules;

    friend bool operator==(const RuleSet &a, const RuleSet &b)
    {
        return a.version == b.version && a.rules == b.rules;
    }
    friend bool operator!=(const RuleSet &a, const RuleSet &b) { return !(a == b); }
};

// Parses a whole file. On failure `out` is left empty and `error` (when given) says what is
// wrong and where. IP ranges come back sorted and merged; domains and suffixes sorted.
bool readRuleSet(const std::uint8_t *data, std::size_t size, RuleSet &out,
    std::string *error = nullptr) noexcept;
// Parses an inflated body (what follows the header, after decompression).
bool decodeRuleSetBody(const std::uint8_t *data, std::size_t size, std::uint8_t version,
    RuleSet &out, std::string *error = nullptr) noexcept;

// Writes a version-1 file; the output depends only on the rules. IP ranges are normalised and
// domain keys sorted first, so equal sets give equal bytes. Fails on what the format cannot
// carry: empty or control-character domains, ranges mixing families or running backwards,
// nesting deeper than kMaxNesting.
bool writeRuleSet(
    const RuleSet &set, std::vector<std::uint8_t> &out, std::string *error = nullptr) noexcept;
// The uncompressed body that writeRuleSet deflates.
bool encodeRuleSetBody(
    const RuleSet &set, std::vector<std::uint8_t> &out, std::string *error = nullptr) noexcept;

} // namespace qivro::ruleset
