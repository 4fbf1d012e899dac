// The engine configuration: parsed strictly (unknown keys and types, duplicate tags, references to
// missing tags and contradictory values are refused with a message that names the place).
#pragma once

#include "common/log.h"

#include <asio/ip/address.hpp>
#include <cstdint>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

namespace qivro::engine {

// Not configurable, shared by the proxy inbounds and the control API: a client gets this long to
// send a complete request, and a kept-alive client this long between requests. Tests shorten
// them through the fields that copy them.
constexpr std::int64_t requestDeadlineMs = 15 * 1000;
constexpr std::int64_t idleLimitMs = 60 * 1000;

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
    std::int64_t handshakeTimeoutMs = requestDeadlineMs;
    std::int64_t keepAliveIdleMs = idleLimitMs;
    // Sessions held at once; 0 derives it from the descriptor limit.
    std::size_t maxSessions = 0;
    std::vector<InboundUser> users;

    // tun
    std::string interfaceName;
    std::uint32_t mtu = 9000;
    std::vector<IpPrefix> address;
    bool autoRoute = false;
    bool strictRoute = false;
    std::vector<IpPrefix> routeAddress;
    std::vector<IpPrefix> routeExcludeAddress;
    std::string stack; // system, gvisor, mixed
    std::uint32_t iproute2TableIndex = 2022;
    std::uint32_t iproute2RuleIndex = 9000;
};

// The names "utls": {"fingerprint"} may take ("" is the default, chrome).
const std::set<std::string> &utlsFingerprints();

// The outbound "tls" object. Plain TLS uses the system's TLS library; utls and reality (both only
// with "enabled" inside them) need a hello of the engine's own.
struct TlsConfig
{
    bool enabled = false;
    bool disableSni = false;
    std::string serverName;
    bool insecure = false;
    std::vector<std::string> alpn;
    std::string minVersion; // "1.0" ... "1.3", "" for the library's default
    std::string maxVersion;
    std::vector<std::string> cipherSuites;
    std::vector<std::string> certificate; // PEM, one line per entry
    std::string certificatePath;
    bool utlsEnabled = false;
    std::string utlsFingerprint;
    bool realityEnabled = false;
    std::string realityPublicKey; // base64url without padding, 32 bytes
    std::string realityShortId; // hex, at most 16 digits
};

// The V2Ray transport under a VLESS outbound; type "" means the bare (TLS) stream.
struct TransportConfig
{
    std::string type; // ws, grpc, http, httpupgrade, quic
    std::string path;
    std::vector<std::pair<std::string, std::string>> headers; // sorted by name, repeats kept
    std::uint32_t maxEarlyData = 0;
    std::string earlyDataHeaderName;
    std::string serviceName;
    std::vector<std::string> host;
    std::string method;
    std::int64_t idleTimeoutMs = 0;
    std::int64_t pingTimeoutMs = 0;
    bool permitWithoutStream = false;
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
    TlsConfig tls;

    // vless
    std::string uuid;
    std::string flow;
    std::string packetEncoding; // "xudp" (also when absent), "packetaddr", "" (plain UDP)
    TransportConfig transport;

    // hysteria2 (password above)
    std::int64_t upMbps = 0;
    std::int64_t downMbps = 0;
    std::string obfsType; // "" or "salamander"
    std::string obfsPassword;
    std::vector<std::string> serverPorts;
    std::int64_t hopIntervalMs = 0;

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
    bool fakeIpEnabled = false;
    std::optional<IpPrefix> fakeIpInet4Range;
    std::optional<IpPrefix> fakeIpInet6Range;

    bool clashApi = false;
    std::string controller;
    std::string secret;
    std::string defaultMode = "Rule";
    std::vector<std::string> allowOrigin;
    // Not configurable: the control API's bounds.
    std::int64_t controllerRequestTimeoutMs = requestDeadlineMs;
    std::int64_t controllerIdleMs = idleLimitMs;
    std::size_t controllerMaxConnections = 128;
    // Bytes a connection may leave unread before it is closed (a client that floods pings and
    // never reads the pongs); periodic stream messages are dropped at half of it.
    std::size_t controllerMaxQueuedBytes = 1 << 20;

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
