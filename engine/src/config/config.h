// The engine configuration: parsed strictly (unknown keys and types, duplicate tags, references to
// missing tags and contradictory values are refused with a message that names the place).
#pragma once

#include "common/log.h"

#include <asio/ip/address.hpp>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace qivro::engine {

struct IpPrefix
{
    asio::ip::address address;
    int length = 0;

    bool contains(const asio::ip::address &ip) const;
};
bool parseIpPrefix(const std::string &text, IpPrefix &out);

struct RuleConfig
{
    // Logical rules ("type": "logical") combine sub-rules with "and"/"or".
    bool logical = false;
    bool modeAnd = true;
    std::vector<RuleConfig> rules;
    bool invert = false;

    std::vector<std::string> inbound;
    std::vector<std::string> network;
    std::vector<std::string> protocol;
    std::vector<std::string> domain;
    std::vector<std::string> domainSuffix;
    std::vector<std::string> domainKeyword;
    std::vector<std::string> domainRegex;
    std::vector<IpPrefix> ipCidr;
    std::optional<bool> ipIsPrivate;
    std::vector<std::uint16_t> port;
    std::vector<std::pair<std::uint16_t, std::uint16_t>> portRange;
    std::vector<IpPrefix> sourceIpCidr;
    std::optional<bool> sourceIpIsPrivate;
    std::vector<std::uint16_t> sourcePort;
    std::vector<std::pair<std::uint16_t, std::uint16_t>> sourcePortRange;
    std::string clashMode; // compared with the control API's mode, ignoring case
    std::vector<std::string> ruleSet;
    std::vector<std::uint16_t> queryType;
    std::vector<std::string> outboundMatch; // DNS rules: "outbound": ["any"]
    // Items this engine accepts but cannot evaluate (process, user, Wi-Fi and network type: the
    // engine runs inside the client and knows none of them): such a rule never matches.
    bool unsupportedItem = false;

    std::string action; // route, hijack-dns, reject, sniff, resolve, route-options
    std::string outbound;
    std::string server; // DNS rules
};

struct RuleSetConfig
{
    std::string tag;
    std::string type; // local, inline, remote
    std::string format;
    std::string path;
    std::vector<RuleConfig> rules;
};

struct InboundUser
{
    std::string username;
    std::string password;
};

struct InboundConfig
{
    std::string type;
    std::string tag;
    std::string listen;
    std::uint16_t listenPort = 0;
    bool sniff = false;
    std::int64_t sniffTimeoutMs = 300;
    std::int64_t udpTimeoutMs = 5 * 60 * 1000;
    // Not configurable: a client gets this long to send a complete SOCKS or HTTP request, and a
    // kept-alive HTTP client this long between requests. Tests shorten them.
    std::int64_t handshakeTimeoutMs = 15 * 1000;
    std::int64_t keepAliveIdleMs = 60 * 1000;
    std::vector<InboundUser> users;
};

struct OutboundConfig
{
    std::string type;
    std::string tag;
    std::string server;
    std::uint16_t serverPort = 0;
    std::string method;
    std::string password;
    std::string plugin;
    std::string pluginOptions;
    std::string network; // "" both, "tcp" or "udp"
    std::int64_t connectTimeoutMs = 0;
    std::string detour;
    std::string overrideAddress;
    std::uint16_t overridePort = 0;

    std::vector<std::string> members;
    std::string defaultMember;
    std::string url;
    std::int64_t intervalMs = 3 * 60 * 1000;
    std::int64_t idleTimeoutMs = 30 * 60 * 1000;
    int tolerance = 50;

    bool isGroup() const { return type == "selector" || type == "urltest"; }
};

struct DnsServerConfig
{
    std::string tag;
    std::string address;
    std::string addressResolver;
    std::string detour;
};

struct Config
{
    bool logDisabled = false;
    LogLevel logLevel = LogLevel::Info;
    bool logTimestamp = false;

    std::vector<InboundConfig> inbounds;
    std::vector<OutboundConfig> outbounds;

    std::vector<RuleConfig> routeRules;
    std::vector<RuleSetConfig> ruleSets;
    std::string routeFinal;

    std::vector<DnsServerConfig> dnsServers;
    std::vector<RuleConfig> dnsRules;
    std::string dnsFinal;

    bool clashApi = false;
    std::string controller;
    std::string secret;
    std::string defaultMode = "Rule";
    std::vector<std::string> allowOrigin;

    const OutboundConfig *findOutbound(const std::string &tag) const;
    // The outbound used when no rule matches: route.final, else the first outbound, else direct.
    std::string finalOutbound() const;
};

// Parses and validates; on failure returns false and sets error to a text naming the place.
bool parseConfig(const std::string &text, Config &config, std::string &error);
bool loadConfigFile(const std::string &path, Config &config, std::string &error);

// A rule-set file in source form: {"version": N, "rules": [headless rules]}.
bool parseSourceRuleSet(
    const std::string &text, std::vector<RuleConfig> &rules, std::string &error);

// Go-style durations ("300ms", "3m", "1h30m"); false on malformed text.
bool parseDuration(const std::string &text, std::int64_t &milliseconds);

bool isPrivateAddress(const asio::ip::address &ip);

} // namespace qivro::engine
