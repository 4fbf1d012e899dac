#include "route/router.h"

#include "common/log.h"

#include <algorithm>

namespace qivro::engine {

namespace {

bool suffixMatch(const std::string &host, const std::string &suffix)
{
    if (suffix.empty() || host.size() < suffix.size())
        return false;
    if (host.compare(host.size() - suffix.size(), suffix.size(), suffix) != 0)
        return false;
    if (suffix.front() == '.')
        return true;
    return host.size() == suffix.size() || host[host.size() - suffix.size() - 1] == '.';
}

// Destination-address items form one group: any of them may match.
bool addressGroup(const RuleConfig &rule, const Metadata &metadata, bool &present)
{
    const std::string &host = metadata.domain();
    const bool hasIp = !metadata.destination.isDomain();
    present = !rule.domain.empty() || !rule.domainSuffix.empty() || !rule.domainKeyword.empty()
        || !rule.domainRegex.empty() || !rule.ipCidr.empty() || rule.ipIsPrivate.has_value();
    if (!host.empty()) {
        if (std::find(rule.domain.begin(), rule.domain.end(), host) != rule.domain.end())
            return true;
        for (const std::string &suffix : rule.domainSuffix) {
            if (suffixMatch(host, suffix))
                return true;
        }
        for (const std::string &keyword : rule.domainKeyword) {
            if (host.find(keyword) != std::string::npos)
                return true;
        }
        for (const std::string &pattern : rule.domainRegex) {
            try {
                if (std::regex_search(host, std::regex(pattern)))
                    return true;
            } catch (const std::regex_error &) { }
        }
    }
    if (hasIp) {
        for (const IpPrefix &prefix : rule.ipCidr) {
            if (prefix.contains(metadata.destination.ip))
                return true;
        }
        if (rule.ipIsPrivate.has_value()
            && isPrivateAddress(metadata.destination.ip) == *rule.ipIsPrivate)
            return true;
    }
    return false;
}

template <typename T>
bool listed(const std::vector<T> &list, const T &value)
{
    return std::find(list.begin(), list.end(), value) != list.end();
}

bool portMatch(const std::vector<std::uint16_t> &ports,
    const std::vector<std::pair<std::uint16_t, std::uint16_t>> &ranges, std::uint16_t port)
{
    return listed(ports, port)
        || std::any_of(ranges.begin(), ranges.end(),
            [port](const auto &range) { return port >= range.first && port <= range.second; });
}

// Source-address items form one group, like the destination's.
bool sourceAddressMatch(const RuleConfig &rule, const Destination &source)
{
    const bool prefixed = std::any_of(rule.sourceIpCidr.begin(), rule.sourceIpCidr.end(),
        [&](const IpPrefix &prefix) { return prefix.contains(source.ip); });
    return prefixed
        || (rule.sourceIpIsPrivate.has_value()
            && isPrivateAddress(source.ip) == *rule.sourceIpIsPrivate);
}

std::string joinList(const std::vector<std::string> &values)
{
    if (values.size() == 1)
        return values.front();
    std::string text = "[";
    for (std::size_t i = 0; i < values.size(); ++i)
        text += (i ? " " : "") + values[i];
    return text + "]";
}

} // namespace

bool matchRule(const RuleConfig &rule, const Metadata &metadata,
    const std::map<std::string, std::shared_ptr<RuleSetSource>> &sets)
{
    bool result;
    if (rule.logical) {
        result = rule.modeAnd;
        for (const RuleConfig &sub : rule.rules) {
            const bool matched = matchRule(sub, metadata, sets);
            if (rule.modeAnd && !matched) {
                result = false;
                break;
            }
            if (!rule.modeAnd && matched) {
                result = true;
                break;
            }
        }
    } else {
        result = !rule.unsupportedItem;
        bool addressPresent = false;
        if (result && !addressGroup(rule, metadata, addressPresent) && addressPresent)
            result = false;
        if (result && (!rule.port.empty() || !rule.portRange.empty()))
            result = portMatch(rule.port, rule.portRange, metadata.destination.port);
        if (result && (!rule.sourceIpCidr.empty() || rule.sourceIpIsPrivate.has_value()))
            result = metadata.source && sourceAddressMatch(rule, *metadata.source);
        if (result && (!rule.sourcePort.empty() || !rule.sourcePortRange.empty())) {
            result = metadata.source
                && portMatch(rule.sourcePort, rule.sourcePortRange, metadata.source->port);
        }
        if (result && !rule.clashMode.empty())
            result = toLower(rule.clashMode) == toLower(metadata.clashMode);
        if (result && !rule.inbound.empty())
            result = listed(rule.inbound, metadata.inbound);
        if (result && !rule.network.empty())
            result = listed(rule.network, metadata.network);
        if (result && !rule.protocol.empty())
            result = listed(rule.protocol, metadata.protocol);
        if (result && !rule.queryType.empty())
            result = listed(rule.queryType, metadata.queryType);
        if (result && !rule.outboundMatch.empty())
            result = metadata.fromOutbound;
        if (result && !rule.ruleSet.empty()) {
            result = std::any_of(
                rule.ruleSet.begin(), rule.ruleSet.end(), [&](const std::string &tag) {
                    const auto it = sets.find(tag);
                    return it != sets.end() && it->second->match(metadata);
                });
        }
    }
    return rule.invert ? !result : result;
}

std::string describeRule(const RuleConfig &rule)
{
    std::string text;
    const auto add = [&text](const std::string &item) { text += (text.empty() ? "" : " ") + item; };
    if (rule.logical)
        add(std::string("logical=") + (rule.modeAnd ? "and" : "or"));
    if (!rule.protocol.empty())
        add("protocol=" + joinList(rule.protocol));
    if (!rule.network.empty())
        add("network=" + joinList(rule.network));
    if (!rule.domain.empty())
        add("domain=" + joinList(rule.domain));
    if (!rule.domainSuffix.empty())
        add("domain_suffix=" + joinList(rule.domainSuffix));
    if (!rule.ipCidr.empty())
        add("ip_cidr");
    if (rule.ipIsPrivate.has_value())
        add(std::string("ip_is_private=") + (*rule.ipIsPrivate ? "true" : "false"));
    if (!rule.sourceIpCidr.empty())
        add("source_ip_cidr");
    if (!rule.sourcePort.empty() || !rule.sourcePortRange.empty())
        add("source_port");
    if (!rule.clashMode.empty())
        add("clash_mode=" + rule.clashMode);
    if (!rule.ruleSet.empty())
        add("rule_set=" + joinList(rule.ruleSet));
    if (rule.invert)
        add("invert");
    if (text.empty())
        text = "always";
    if (rule.action == "route")
        return text + " => route(" + rule.outbound + ")";
    return text + " => " + rule.action;
}

bool Router::init(const Config &config,
    const std::map<std::string, std::shared_ptr<Outbound>> &outbounds, std::string &error)
{
    m_outbounds = outbounds;
    m_rules = config.routeRules;
    setMode(config.defaultMode);
    for (const RuleConfig &rule : m_rules)
        m_descriptions.push_back(describeRule(rule));
    for (const RuleSetConfig &setConfig : config.ruleSets) {
        std::shared_ptr<RuleSetSource> set = loadRuleSet(setConfig, error);
        if (!set) {
            error = "initialize rule-set[" + setConfig.tag + "]: " + error;
            return false;
        }
        m_sets.emplace(setConfig.tag, std::move(set));
    }
    const auto final = outbounds.find(config.finalOutbound());
    if (final == outbounds.end()) {
        error = "default outbound not found: " + config.finalOutbound();
        return false;
    }
    m_final = final->second;
    return true;
}

std::string Router::mode() const
{
    std::lock_guard lock(m_modeMutex);
    return m_mode;
}

void Router::setMode(const std::string &mode)
{
    std::lock_guard lock(m_modeMutex);
    m_mode = mode;
}

RouteDecision Router::route(const Metadata &query) const
{
    RouteDecision decision = routeByRules(query);
    // Literal addresses are checked here for every outbound; names are checked once resolved,
    // by the outbounds that resolve them on this machine.
    if (decision.action != RouteDecision::Action::Route || !m_guard || !query.source
        || query.destination.isDomain())
        return decision;
    const std::string refusal
        = m_guard->check(query.destination.ip, query.destination.port, query.source->ip);
    if (!refusal.empty()) {
        decision.action = RouteDecision::Action::Reject;
        decision.outbound.reset();
        decision.refusal = refusal;
    }
    return decision;
}

RouteDecision Router::routeByRules(const Metadata &query) const
{
    Metadata metadata = query;
    metadata.clashMode = mode();
    for (std::size_t i = 0; i < m_rules.size(); ++i) {
        const RuleConfig &rule = m_rules[i];
        if (!matchRule(rule, metadata, m_sets))
            continue;
        RouteDecision decision;
        decision.rule = m_descriptions[i];
        if (rule.action == "route") {
            decision.outbound = m_outbounds.at(rule.outbound);
            decision.payload = rule.outbound;
            return decision;
        }
        if (rule.action == "reject") {
            decision.action = RouteDecision::Action::Reject;
            return decision;
        }
        if (rule.action == "hijack-dns") {
            decision.action = RouteDecision::Action::HijackDns;
            return decision;
        }
        // sniff, resolve and route-options only adjust the metadata: keep looking.
    }
    RouteDecision decision;
    decision.outbound = m_final;
    decision.payload = m_final->tag();
    return decision;
}

} // namespace qivro::engine
