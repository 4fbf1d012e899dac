#include "ruleset/matcher.h"

#include <algorithm>
#include <new>
#include <regex>

namespace qivro::ruleset {

std::string_view DomainSet::store(std::string_view text)
{
    return m_storage.emplace_back(text);
}

void DomainSet::addDomain(std::string_view name)
{
    if (!m_exact.count(name))
        m_exact.insert(store(name));
}

void DomainSet::addSuffix(std::string_view suffix)
{
    if (suffix.empty())
        return;
    if (suffix[0] == '.') {
        suffix.remove_prefix(1);
    } else {
        addDomain(suffix);
    }
    if (!suffix.empty() && !m_below.count(suffix))
        m_below.insert(store(suffix));
}

bool DomainSet::matches(std::string_view name) const
{
    if (m_exact.count(name))
        return true;
    if (m_below.empty())
        return false;
    // Only a dot with at least one byte before it can start a covered parent.
    for (std::size_t dot = name.find('.', 1); dot != std::string_view::npos;
         dot = name.find('.', dot + 1)) {
        if (m_below.count(name.substr(dot + 1)))
            return true;
    }
    return false;
}

void IpSet::add(const std::vector<IpRange> &input)
{
    std::vector<IpRange> ranges = input;
    for (const auto &v4 : m_v4)
        ranges.push_back({IpAddress::v4(v4.first), IpAddress::v4(v4.second)});
    const auto toAddress = [](const V6 &v) {
        IpAddress a;
        a.size = 16;
        for (int i = 0; i < 8; ++i) {
            a.bytes[i] = std::uint8_t(v.high >> (56 - 8 * i));
            a.bytes[8 + i] = std::uint8_t(v.low >> (56 - 8 * i));
        }
        return a;
    };
    for (const auto &v6 : m_v6)
        ranges.push_back({toAddress(v6.first), toAddress(v6.second)});
    normalizeRanges(ranges);

    m_v4.clear();
    m_v6.clear();
    const auto word = [](const IpAddress &a, int from, int count) {
        std::uint64_t value = 0;
        for (int i = from; i < from + count; ++i)
            value = value << 8 | a.bytes[i];
        return value;
    };
    for (const auto &range : ranges) {
        if (range.first.isV4()) {
            m_v4.emplace_back(
                std::uint32_t(word(range.first, 0, 4)), std::uint32_t(word(range.last, 0, 4)));
        } else {
            m_v6.push_back({{word(range.first, 0, 8), word(range.first, 8, 8)},
                {word(range.last, 0, 8), word(range.last, 8, 8)}});
        }
    }
}

bool IpSet::contains(const IpAddress &address) const
{
    // The last range starting at or before the address is the only candidate.
    const auto search = [](const auto &ranges, const auto &value) {
        auto it = std::upper_bound(ranges.begin(), ranges.end(), value,
            [](const auto &v, const auto &range) { return v < range.first; });
        return it != ranges.begin() && !(std::prev(it)->second < value);
    };
    std::uint64_t high = 0, low = 0;
    for (int i = 0; i < 8; ++i) {
        high = high << 8 | address.bytes[i];
        low = low << 8 | address.bytes[8 + i];
    }
    if (address.isV4())
        return search(m_v4, std::uint32_t(high >> 32));
    if (address.size != 16)
        return false;
    return search(m_v6, V6 {high, low});
}

namespace {

using PortRange = std::pair<std::uint16_t, std::uint16_t>;

// "a:b", ":b" or "a:".
bool parsePortRange(const std::string &text, PortRange &range)
{
    const std::size_t colon = text.find(':');
    if (colon == std::string::npos || text.size() == 1)
        return false;
    const auto number = [](std::string_view digits, std::uint16_t fallback, std::uint16_t &out) {
        if (digits.empty()) {
            out = fallback;
            return true;
        }
        if (digits.size() > 5)
            return false;
        unsigned value = 0;
        for (char c : digits) {
            if (c < '0' || c > '9')
                return false;
            value = value * 10 + unsigned(c - '0');
        }
        out = std::uint16_t(value);
        return value <= 65535;
    };
    const std::string_view view(text);
    return number(view.substr(0, colon), 0, range.first)
        && number(view.substr(colon + 1), 65535, range.second) && range.first <= range.second;
}

bool anyEqual(const std::vector<std::string> &values, std::string_view value)
{
    return !value.empty() && std::find(values.begin(), values.end(), value) != values.end();
}

bool anyRegex(const std::vector<std::regex> &patterns, std::string_view value)
{
    return std::any_of(patterns.begin(), patterns.end(), [&](const std::regex &re) {
        try {
            return std::regex_search(value.begin(), value.end(), re);
        } catch (const std::exception &) {
            return false; // too complex for this input: treated as no match
        }
    });
}

bool inPorts(const std::vector<std::uint16_t> &ports, const std::vector<PortRange> &ranges,
    const std::optional<std::uint16_t> &port)
{
    if (!port)
        return false;
    return std::find(ports.begin(), ports.end(), *port) != ports.end()
        || std::any_of(ranges.begin(), ranges.end(),
            [&](const PortRange &r) { return r.first <= *port && *port <= r.second; });
}

} // namespace

struct RuleSetMatcher::Compiled
{
    bool logical = false;
    bool invert = false;
    LogicalMode mode = LogicalMode::And;
    std::vector<Compiled> rules;

    bool hasItems = false;
    // Destination address: any of these.
    bool hasDestination = false;
    DomainSet domains;
    std::vector<std::string> keywords;
    std::vector<std::regex> domainRegexes;
    IpSet destination;
    std::vector<IpRange> pendingDestination; // collected, then sorted once by finish()
    // Source address, source port, destination port: any within each.
    IpSet source;
    std::vector<std::uint16_t> sourcePorts, ports;
    std::vector<PortRange> sourcePortRanges, portRanges;
    // Every other present item must match.
    std::vector<std::uint16_t> queryTypes;
    std::vector<std::string> networks, processNames, processPaths, packageNames, ssids, bssids;
    std::vector<std::regex> processPathRegexes;

    bool compile(const Rule &rule, std::string &error);
    bool addDestination(const Rule &rule, std::string &error);
    void finish();
    bool match(const MatchQuery &query) const;
    bool matchOrdinary(const MatchQuery &query) const;
};

namespace {

bool compileRegexes(
    const std::vector<std::string> &patterns, std::vector<std::regex> &out, std::string &error)
{
    for (const auto &pattern : patterns) {
        try {
            out.emplace_back(pattern, std::regex::ECMAScript | std::regex::nosubs);
        } catch (const std::regex_error &) {
            error = "invalid regular expression \"" + pattern.substr(0, 64) + "\"";
            return false;
        }
    }
    return true;
}

bool compilePortRanges(
    const std::vector<std::string> &texts, std::vector<PortRange> &out, std::string &error)
{
    for (const auto &text : texts) {
        PortRange range;
        if (!parsePortRange(text, range)) {
            error = "invalid port range \"" + text.substr(0, 32) + "\"";
            return false;
        }
        out.push_back(range);
    }
    return true;
}

// Rules made of destination addresses only can share one compiled rule: the group already
// matches when any of its items does.
bool destinationOnly(const Rule &rule)
{
    return !rule.logical && !rule.invert && rule.queryType.empty() && rule.network.empty()
        && rule.sourceIpCidr.empty() && rule.sourcePort.empty() && rule.sourcePortRange.empty()
        && rule.port.empty() && rule.portRange.empty() && rule.processName.empty()
        && rule.processPath.empty() && rule.processPathRegex.empty() && rule.packageName.empty()
        && rule.wifiSsid.empty() && rule.wifiBssid.empty() && rule.hasItems();
}

} // namespace

bool RuleSetMatcher::Compiled::addDestination(const Rule &rule, std::string &error)
{
    for (const auto &name : rule.domain)
        domains.addDomain(name);
    for (const auto &suffix : rule.domainSuffix)
        domains.addSuffix(suffix);
    keywords.insert(keywords.end(), rule.domainKeyword.begin(), rule.domainKeyword.end());
    pendingDestination.insert(pendingDestination.end(), rule.ipCidr.begin(), rule.ipCidr.end());
    hasDestination = hasDestination || !rule.domain.empty() || !rule.domainSuffix.empty()
        || !rule.domainKeyword.empty() || !rule.domainRegex.empty() || !rule.ipCidr.empty();
    hasItems = hasItems || rule.hasItems();
    return compileRegexes(rule.domainRegex, domainRegexes, error);
}

void RuleSetMatcher::Compiled::finish()
{
    destination.add(pendingDestination);
    pendingDestination = {};
}

bool RuleSetMatcher::Compiled::compile(const Rule &rule, std::string &error)
{
    logical = rule.logical;
    invert = rule.invert;
    mode = rule.mode;
    if (logical) {
        rules.resize(rule.rules.size());
        for (std::size_t i = 0; i < rules.size(); ++i) {
            if (!rules[i].compile(rule.rules[i], error))
                return false;
        }
        return true;
    }
    if (!addDestination(rule, error))
        return false;
    finish();
    source.add(rule.sourceIpCidr);
    sourcePorts = rule.sourcePort;
    ports = rule.port;
    queryTypes = rule.queryType;
    networks = rule.network;
    processNames = rule.processName;
    processPaths = rule.processPath;
    packageNames = rule.packageName;
    ssids = rule.wifiSsid;
    bssids = rule.wifiBssid;
    return compilePortRanges(rule.sourcePortRange, sourcePortRanges, error)
        && compilePortRanges(rule.portRange, portRanges, error)
        && compileRegexes(rule.processPathRegex, processPathRegexes, error);
}

bool RuleSetMatcher::Compiled::matchOrdinary(const MatchQuery &q) const
{
    // An ordinary rule without items matches everything, inverted or not.
    if (!hasItems)
        return true;
    if (hasDestination) {
        const bool hit = (!q.domain.empty()
                             && (domains.matches(q.domain)
                                 || std::any_of(keywords.begin(), keywords.end(),
                                     [&](const std::string &k) {
                                         return q.domain.find(k) != std::string_view::npos;
                                     })
                                 || anyRegex(domainRegexes, q.domain)))
            || (q.destination && destination.contains(*q.destination));
        if (!hit)
            return invert;
    }
    if (!source.empty() && !(q.source && source.contains(*q.source)))
        return invert;
    if ((!sourcePorts.empty() || !sourcePortRanges.empty())
        && !inPorts(sourcePorts, sourcePortRanges, q.sourcePort))
        return invert;
    if ((!ports.empty() || !portRanges.empty()) && !inPorts(ports, portRanges, q.port))
        return invert;
    if (!queryTypes.empty()
        && !(q.queryType
            && std::find(queryTypes.begin(), queryTypes.end(), *q.queryType) != queryTypes.end()))
        return invert;
    const auto fails = [](const std::vector<std::string> &values, std::string_view value) {
        return !values.empty() && !anyEqual(values, value);
    };
    if (fails(networks, q.network) || fails(processNames, q.processName)
        || fails(processPaths, q.processPath) || fails(packageNames, q.packageName)
        || fails(ssids, q.wifiSsid) || fails(bssids, q.wifiBssid))
        return invert;
    if (!processPathRegexes.empty()
        && (q.processPath.empty() || !anyRegex(processPathRegexes, q.processPath)))
        return invert;
    return !invert;
}

bool RuleSetMatcher::Compiled::match(const MatchQuery &query) const
{
    if (!logical)
        return matchOrdinary(query);
    const auto one = [&](const Compiled &rule) { return rule.match(query); };
    const bool hit = mode == LogicalMode::And ? std::all_of(rules.begin(), rules.end(), one)
                                              : std::any_of(rules.begin(), rules.end(), one);
    return hit != invert;
}

RuleSetMatcher::RuleSetMatcher() = default;
RuleSetMatcher::~RuleSetMatcher() = default;
RuleSetMatcher::RuleSetMatcher(RuleSetMatcher &&) noexcept = default;
RuleSetMatcher &RuleSetMatcher::operator=(RuleSetMatcher &&) noexcept = default;

bool RuleSetMatcher::build(const RuleSet &set, std::string *error) noexcept
{
    m_rules.clear();
    std::string message;
    try {
        std::vector<Compiled> compiled;
        Compiled merged;
        for (const auto &rule : set.rules) {
            if (destinationOnly(rule)) {
                if (!merged.addDestination(rule, message))
                    break;
                continue;
            }
            compiled.emplace_back();
            if (!compiled.back().compile(rule, message))
                break;
        }
        if (message.empty()) {
            merged.finish();
            if (merged.hasItems)
                compiled.insert(compiled.begin(), std::move(merged));
            m_rules = std::move(compiled);
            return true;
        }
    } catch (const std::bad_alloc &) {
        message = "out of memory while compiling the rule set";
    } catch (...) {
        message = "unexpected failure while compiling the rule set";
    }
    if (error)
        *error = message;
    return false;
}

bool RuleSetMatcher::match(const MatchQuery &query) const
{
    return std::any_of(
        m_rules.begin(), m_rules.end(), [&](const Compiled &rule) { return rule.match(query); });
}

bool RuleSetMatcher::matchDomain(std::string_view domain) const
{
    MatchQuery query;
    query.domain = domain;
    return match(query);
}

bool RuleSetMatcher::matchIp(const IpAddress &address) const
{
    MatchQuery query;
    query.destination = address;
    return match(query);
}

} // namespace qivro::ruleset
