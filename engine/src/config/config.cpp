#include "config/config.h"

#include "common/address.h"
#include "common/base64url.h"
#include "config/boundedfile.h"

#include <algorithm>
#include <cctype>
#include <functional>
#include <map>
#include <nlohmann/json.hpp>
#include <regex>
#include <set>
#include <stdexcept>

namespace qivro::engine {

using json = nlohmann::json;

namespace {

struct ConfigError : std::runtime_error
{
    using std::runtime_error::runtime_error;
};

[[noreturn]] void fail(const std::string &place, const std::string &message)
{
    throw ConfigError(place.empty() ? message : place + ": " + message);
}

// Deep enough for any real configuration, shallow enough that nothing recursive over the document
// (our rules, the JSON library's copies) can exhaust a thread's stack.
constexpr std::size_t maxJsonDepth = 512;
constexpr int maxRuleNesting = 64;
constexpr std::size_t maxGroupNesting = 64;

// Checked before parsing: the parser copes with any depth, but what walks its result may not.
void checkJsonDepth(const std::string &text)
{
    std::size_t depth = 0;
    bool inString = false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (inString) {
            if (c == '\\')
                ++i;
            else if (c == '"')
                inString = false;
        } else if (c == '"') {
            inString = true;
        } else if (c == '[' || c == '{') {
            if (++depth > maxJsonDepth) {
                const std::size_t line = 1 + std::count(text.begin(), text.begin() + i, '\n');
                const std::size_t lineStart = text.rfind('\n', i);
                const std::size_t column = lineStart == std::string::npos ? i + 1 : i - lineStart;
                throw ConfigError("json: nested deeper than " + std::to_string(maxJsonDepth)
                    + " levels at line " + std::to_string(line) + ", column "
                    + std::to_string(column));
            }
        } else if ((c == ']' || c == '}') && depth > 0) {
            --depth;
        }
    }
}

std::string at(const std::string &place, const std::string &key)
{
    return place.empty() ? key : place + "." + key;
}

std::string index(const std::string &place, std::size_t i)
{
    return place + "[" + std::to_string(i) + "]";
}

const char *typeName(const json &value)
{
    switch (value.type()) {
    case json::value_t::string:
        return "string";
    case json::value_t::boolean:
        return "bool";
    case json::value_t::array:
        return "array";
    case json::value_t::object:
        return "object";
    case json::value_t::number_float:
    case json::value_t::number_integer:
    case json::value_t::number_unsigned:
        return "number";
    default:
        return "value";
    }
}

[[noreturn]] void wrongType(const std::string &place, const json &value, const char *wanted)
{
    fail(place, std::string("json: cannot unmarshal ") + typeName(value) + " into " + wanted);
}

using KeyList = std::vector<const char *>;

void checkKeys(
    const json &object, const std::string &place, const std::vector<const KeyList *> &lists)
{
    if (!object.is_object())
        wrongType(place, object, "object");
    for (auto it = object.begin(); it != object.end(); ++it) {
        bool known = false;
        for (const KeyList *list : lists) {
            known = known || std::any_of(list->begin(), list->end(), [&](const char *key) {
                return it.key() == key;
            });
        }
        if (!known)
            fail(at(place, it.key()), "json: unknown field \"" + it.key() + "\"");
    }
}

void checkOnly(const json &object, const std::string &place, const KeyList &keys)
{
    checkKeys(object, place, std::vector<const KeyList *> {&keys});
}

const json *member(const json &object, const char *key)
{
    const auto it = object.find(key);
    if (it == object.end() || it->is_null())
        return nullptr;
    return &*it;
}

std::string getString(
    const json &object, const char *key, const std::string &place, const std::string &fallback = {})
{
    const json *value = member(object, key);
    if (!value)
        return fallback;
    if (!value->is_string())
        wrongType(at(place, key), *value, "string");
    return value->get<std::string>();
}

bool getBool(const json &object, const char *key, const std::string &place, bool fallback = false)
{
    const json *value = member(object, key);
    if (!value)
        return fallback;
    if (!value->is_boolean())
        wrongType(at(place, key), *value, "bool");
    return value->get<bool>();
}

std::int64_t getInteger(const json &object, const char *key, const std::string &place,
    std::int64_t minimum, std::int64_t maximum, std::int64_t fallback, const char *typeText)
{
    const json *value = member(object, key);
    if (!value)
        return fallback;
    if (!value->is_number_integer() && !value->is_number_unsigned())
        wrongType(at(place, key), *value, typeText);
    if (value->is_number_unsigned()
        && value->get<std::uint64_t>() > static_cast<std::uint64_t>(maximum))
        fail(at(place, key), std::string("json: value out of range for ") + typeText);
    const std::int64_t number = value->get<std::int64_t>();
    if (number < minimum || number > maximum)
        fail(at(place, key), std::string("json: value out of range for ") + typeText);
    return number;
}

std::uint16_t getPort(const json &object, const char *key, const std::string &place)
{
    return static_cast<std::uint16_t>(getInteger(object, key, place, 0, 65535, 0, "uint16"));
}

// sing-box "listable" values: a single string or an array of strings.
std::vector<std::string> getList(const json &object, const char *key, const std::string &place)
{
    const json *value = member(object, key);
    if (!value)
        return {};
    if (value->is_string())
        return {value->get<std::string>()};
    if (!value->is_array())
        wrongType(at(place, key), *value, "[]string");
    std::vector<std::string> list;
    for (std::size_t i = 0; i < value->size(); ++i) {
        if (!(*value)[i].is_string())
            wrongType(index(at(place, key), i), (*value)[i], "string");
        list.push_back((*value)[i].get<std::string>());
    }
    return list;
}

std::int64_t getDuration(
    const json &object, const char *key, const std::string &place, std::int64_t fallback)
{
    const json *value = member(object, key);
    if (!value)
        return fallback;
    if (!value->is_string())
        wrongType(at(place, key), *value, "duration");
    std::int64_t milliseconds = 0;
    if (!parseDuration(value->get<std::string>(), milliseconds))
        fail(at(place, key), "time: invalid duration \"" + value->get<std::string>() + "\"");
    return milliseconds;
}

void checkObjectOrAbsent(
    const json &object, const char *key, const std::string &place, const KeyList &keys)
{
    if (const json *value = member(object, key))
        checkKeys(*value, at(place, key), {&keys});
}

const KeyList dialKeys = {"detour", "bind_interface", "inet4_bind_address", "inet6_bind_address",
    "protect_path", "routing_mark", "reuse_addr", "connect_timeout", "tcp_fast_open",
    "tcp_multi_path", "udp_fragment", "domain_strategy", "fallback_delay", "network_strategy",
    "network_type", "fallback_network_type"};
const KeyList listenKeys = {"listen", "listen_port", "tcp_fast_open", "tcp_multi_path",
    "udp_fragment", "udp_timeout", "detour", "sniff", "sniff_override_destination", "sniff_timeout",
    "domain_strategy", "udp_disable_domain_unmapping"};
const KeyList tlsKeys = {"enabled", "disable_sni", "server_name", "insecure", "alpn", "min_version",
    "max_version", "cipher_suites", "certificate", "certificate_path", "ech", "utls", "reality",
    "fragment", "fragment_fallback_delay", "record_fragment"};
const KeyList multiplexKeys
    = {"enabled", "protocol", "max_connections", "min_streams", "max_streams", "padding", "brutal"};

const std::set<std::string> &knownMethods()
{
    static const std::set<std::string> methods
        = {"none", "aes-128-gcm", "aes-192-gcm", "aes-256-gcm", "chacha20-ietf-poly1305",
            "xchacha20-ietf-poly1305", "2022-blake3-aes-128-gcm", "2022-blake3-aes-256-gcm",
            "2022-blake3-chacha20-poly1305", "aes-128-ctr", "aes-192-ctr", "aes-256-ctr",
            "aes-128-cfb", "aes-192-cfb", "aes-256-cfb", "rc4-md5", "chacha20-ietf", "xchacha20"};
    return methods;
}

std::vector<IpPrefix> getPrefixes(const json &object, const char *key, const std::string &place)
{
    std::vector<IpPrefix> prefixes;
    for (const std::string &cidr : getList(object, key, place)) {
        IpPrefix prefix;
        if (!parseIpPrefix(cidr, prefix))
            fail(at(place, key), std::string("invalid ") + key + ": " + cidr);
        prefixes.push_back(prefix);
    }
    return prefixes;
}

TlsConfig parseTls(const json &object, const std::string &place)
{
    TlsConfig config;
    const json *tls = member(object, "tls");
    if (!tls)
        return config;
    const std::string tlsPlace = at(place, "tls");
    checkKeys(*tls, tlsPlace, {&tlsKeys});
    config.enabled = getBool(*tls, "enabled", tlsPlace);
    config.disableSni = getBool(*tls, "disable_sni", tlsPlace);
    config.insecure = getBool(*tls, "insecure", tlsPlace);
    config.serverName = getString(*tls, "server_name", tlsPlace);
    config.alpn = getList(*tls, "alpn", tlsPlace);
    config.cipherSuites = getList(*tls, "cipher_suites", tlsPlace);
    config.certificate = getList(*tls, "certificate", tlsPlace);
    config.certificatePath = getString(*tls, "certificate_path", tlsPlace);
    static const std::set<std::string> versions = {"", "1.0", "1.1", "1.2", "1.3"};
    config.minVersion = getString(*tls, "min_version", tlsPlace);
    config.maxVersion = getString(*tls, "max_version", tlsPlace);
    if (!versions.count(config.minVersion))
        fail(at(tlsPlace, "min_version"), "unknown tls version: " + config.minVersion);
    if (!versions.count(config.maxVersion))
        fail(at(tlsPlace, "max_version"), "unknown tls version: " + config.maxVersion);
    if (const json *utls = member(*tls, "utls")) {
        const std::string utlsPlace = at(tlsPlace, "utls");
        checkOnly(*utls, utlsPlace, KeyList {"enabled", "fingerprint"});
        config.utlsEnabled = getBool(*utls, "enabled", utlsPlace);
        config.utlsFingerprint = getString(*utls, "fingerprint", utlsPlace);
    }
    if (config.utlsEnabled && !utlsFingerprints().count(config.utlsFingerprint))
        fail(at(at(tlsPlace, "utls"), "fingerprint"),
            "unknown uTLS fingerprint: " + config.utlsFingerprint);
    if (const json *reality = member(*tls, "reality")) {
        const std::string realityPlace = at(tlsPlace, "reality");
        checkOnly(*reality, realityPlace, KeyList {"enabled", "public_key", "short_id"});
        config.realityEnabled = getBool(*reality, "enabled", realityPlace);
        config.realityPublicKey = getString(*reality, "public_key", realityPlace);
        config.realityShortId = getString(*reality, "short_id", realityPlace);
        std::vector<std::uint8_t> key;
        static const std::regex shortId("^([0-9a-fA-F]{2}){0,8}$");
        if (config.realityEnabled && !config.utlsEnabled)
            fail(realityPlace, "uTLS is required by reality client");
        if (config.realityEnabled
            && (!decodeBase64Url(config.realityPublicKey, key) || key.size() != 32))
            fail(at(realityPlace, "public_key"), "invalid public_key");
        if (config.realityEnabled && !std::regex_match(config.realityShortId, shortId))
            fail(at(realityPlace, "short_id"), "invalid short_id");
    }
    checkObjectOrAbsent(*tls, "ech", tlsPlace,
        {"enabled", "pq_signature_schemes_enabled", "dynamic_record_sizing_disabled", "config",
            "config_path"});
    return config;
}

// sing-box "headers": each value a string or a list of strings.
std::vector<std::pair<std::string, std::string>> getHeaders(
    const json &object, const std::string &place)
{
    std::vector<std::pair<std::string, std::string>> headers;
    const json *value = member(object, "headers");
    if (!value)
        return headers;
    if (!value->is_object())
        wrongType(at(place, "headers"), *value, "map[string]badoption.Listable[string]");
    for (auto it = value->begin(); it != value->end(); ++it) {
        for (const std::string &item : getList(*value, it.key().c_str(), at(place, "headers")))
            headers.emplace_back(it.key(), item);
    }
    return headers;
}

TransportConfig parseTransport(const json &object, const std::string &place)
{
    TransportConfig config;
    const json *transport = member(object, "transport");
    if (!transport)
        return config;
    const std::string transportPlace = at(place, "transport");
    if (!transport->is_object())
        wrongType(transportPlace, *transport, "object");
    config.type = getString(*transport, "type", transportPlace);
    static const std::map<std::string, KeyList> keys = {
        {"ws", {"type", "path", "headers", "max_early_data", "early_data_header_name"}},
        {"grpc", {"type", "service_name", "idle_timeout", "ping_timeout", "permit_without_stream"}},
        {"http", {"type", "host", "path", "method", "headers", "idle_timeout", "ping_timeout"}},
        {"quic", {"type"}},
        {"httpupgrade", {"type", "host", "path", "headers"}},
    };
    const auto it = keys.find(config.type);
    if (it == keys.end())
        fail(at(transportPlace, "type"), "unknown transport type: " + config.type);
    checkKeys(*transport, transportPlace, {&it->second});
    config.path = getString(*transport, "path", transportPlace);
    config.headers = getHeaders(*transport, transportPlace);
    config.maxEarlyData = static_cast<std::uint32_t>(
        getInteger(*transport, "max_early_data", transportPlace, 0, 0xFFFFFFFFLL, 0, "uint32"));
    config.earlyDataHeaderName = getString(*transport, "early_data_header_name", transportPlace);
    config.serviceName = getString(*transport, "service_name", transportPlace);
    config.host = getList(*transport, "host", transportPlace);
    config.method = getString(*transport, "method", transportPlace);
    config.idleTimeoutMs = getDuration(*transport, "idle_timeout", transportPlace, 0);
    config.pingTimeoutMs = getDuration(*transport, "ping_timeout", transportPlace, 0);
    config.permitWithoutStream = getBool(*transport, "permit_without_stream", transportPlace);
    return config;
}

OutboundConfig parseOutbound(const json &object, const std::string &place)
{
    if (!object.is_object())
        wrongType(place, object, "object");
    OutboundConfig outbound;
    outbound.type = getString(object, "type", place);
    outbound.tag = getString(object, "tag", place);
    static const KeyList baseKeys = {"type", "tag"};
    static const KeyList serverKeys = {"server", "server_port"};
    const std::string &type = outbound.type;
    if (type == "direct") {
        static const KeyList keys = {"override_address", "override_port", "proxy_protocol"};
        checkKeys(object, place, {&baseKeys, &keys, &dialKeys});
        outbound.overrideAddress = getString(object, "override_address", place);
        outbound.overridePort = getPort(object, "override_port", place);
    } else if (type == "block" || type == "dns") {
        checkKeys(object, place, {&baseKeys});
    } else if (type == "selector") {
        static const KeyList keys = {"outbounds", "default", "interrupt_exist_connections"};
        checkKeys(object, place, {&baseKeys, &keys});
        outbound.members = getList(object, "outbounds", place);
        outbound.defaultMember = getString(object, "default", place);
        getBool(object, "interrupt_exist_connections", place);
    } else if (type == "urltest") {
        static const KeyList keys = {"outbounds", "url", "interval", "tolerance", "idle_timeout",
            "interrupt_exist_connections"};
        checkKeys(object, place, {&baseKeys, &keys});
        outbound.members = getList(object, "outbounds", place);
        outbound.url = getString(object, "url", place);
        outbound.intervalMs = getDuration(object, "interval", place, outbound.intervalMs);
        outbound.idleTimeoutMs = getDuration(object, "idle_timeout", place, outbound.idleTimeoutMs);
        outbound.tolerance
            = static_cast<int>(getInteger(object, "tolerance", place, 0, 65535, 50, "uint16"));
        getBool(object, "interrupt_exist_connections", place);
        if (outbound.intervalMs <= 0 || outbound.idleTimeoutMs <= 0)
            fail(place, "interval and idle_timeout must be positive");
        if (outbound.intervalMs > outbound.idleTimeoutMs)
            fail(place, "interval must be less or equal than idle_timeout");
        if (!outbound.url.empty() && outbound.url.rfind("http://", 0) != 0
            && outbound.url.rfind("https://", 0) != 0)
            fail(at(place, "url"), "unsupported test URL: " + outbound.url);
    } else if (type == "shadowsocks") {
        static const KeyList keys = {
            "method", "password", "plugin", "plugin_opts", "network", "udp_over_tcp", "multiplex"};
        checkKeys(object, place, {&baseKeys, &serverKeys, &keys, &dialKeys});
        outbound.method = getString(object, "method", place);
        outbound.password = getString(object, "password", place);
        outbound.plugin = getString(object, "plugin", place);
        outbound.pluginOptions = getString(object, "plugin_opts", place);
        if (!knownMethods().count(outbound.method))
            fail(at(place, "method"), "unknown method: " + outbound.method);
        if (outbound.method != "none" && outbound.password.empty())
            fail(at(place, "password"), "missing password");
        if (const json *uot = member(object, "udp_over_tcp")) {
            if (!uot->is_boolean())
                checkOnly(*uot, at(place, "udp_over_tcp"), KeyList {"enabled", "version"});
        }
        checkObjectOrAbsent(object, "multiplex", place, multiplexKeys);
    } else if (type == "vless") {
        static const KeyList keys
            = {"uuid", "flow", "network", "tls", "packet_encoding", "multiplex", "transport"};
        checkKeys(object, place, {&baseKeys, &serverKeys, &keys, &dialKeys});
        // Any text: one that is not a UUID stands for its UUIDv5.
        outbound.uuid = getString(object, "uuid", place);
        outbound.flow = getString(object, "flow", place);
        if (!outbound.flow.empty() && outbound.flow != "xtls-rprx-vision")
            fail(at(place, "flow"), "unsupported flow: " + outbound.flow);
        // Absent means xudp; an explicit "" asks for the plain form.
        outbound.packetEncoding = member(object, "packet_encoding")
            ? getString(object, "packet_encoding", place)
            : "xudp";
        if (!outbound.packetEncoding.empty() && outbound.packetEncoding != "xudp"
            && outbound.packetEncoding != "packetaddr")
            fail(at(place, "packet_encoding"),
                "unknown packet encoding: " + outbound.packetEncoding);
        outbound.tls = parseTls(object, place);
        outbound.transport = parseTransport(object, place);
        checkObjectOrAbsent(object, "multiplex", place, multiplexKeys);
    } else if (type == "hysteria2") {
        static const KeyList keys = {"server_ports", "hop_interval", "up_mbps", "down_mbps", "obfs",
            "password", "network", "tls", "brutal_debug"};
        checkKeys(object, place, {&baseKeys, &serverKeys, &keys, &dialKeys});
        outbound.password = getString(object, "password", place);
        outbound.upMbps = getInteger(object, "up_mbps", place, 0, 1 << 30, 0, "int");
        outbound.downMbps = getInteger(object, "down_mbps", place, 0, 1 << 30, 0, "int");
        outbound.serverPorts = getList(object, "server_ports", place);
        outbound.hopIntervalMs = getDuration(object, "hop_interval", place, 0);
        if (const json *obfs = member(object, "obfs")) {
            checkOnly(*obfs, at(place, "obfs"), KeyList {"type", "password"});
            outbound.obfsType = getString(*obfs, "type", at(place, "obfs"));
            outbound.obfsPassword = getString(*obfs, "password", at(place, "obfs"));
            if (!outbound.obfsType.empty() && outbound.obfsType != "salamander")
                fail(at(at(place, "obfs"), "type"), "unknown obfs type: " + outbound.obfsType);
        }
        const json *tls = member(object, "tls");
        if (!tls || !getBool(*tls, "enabled", at(place, "tls")))
            fail(at(place, "tls"), "TLS required");
        outbound.tls = parseTls(object, place);
    } else if (type.empty()) {
        fail(at(place, "type"), "missing outbound type");
    } else {
        fail(at(place, "type"), "unknown outbound type: " + type);
    }
    if (type == "shadowsocks" || type == "vless" || type == "hysteria2") {
        outbound.server = getString(object, "server", place);
        outbound.serverPort = getPort(object, "server_port", place);
        if (outbound.server.empty())
            fail(at(place, "server"), "missing server address");
        if (outbound.serverPort == 0)
            fail(at(place, "server_port"), "missing server port");
        outbound.network = getString(object, "network", place);
        if (!outbound.network.empty() && outbound.network != "tcp" && outbound.network != "udp")
            fail(at(place, "network"), "unknown network: " + outbound.network);
    }
    if (type != "selector" && type != "urltest" && type != "block" && type != "dns") {
        outbound.detour = getString(object, "detour", place);
        outbound.connectTimeoutMs = getDuration(object, "connect_timeout", place, 0);
        getString(object, "domain_strategy", place);
    }
    return outbound;
}

void parseListen(const json &object, const std::string &place, InboundConfig &inbound)
{
    inbound.listen = getString(object, "listen", place);
    inbound.listenPort = getPort(object, "listen_port", place);
    inbound.sniff = getBool(object, "sniff", place);
    getBool(object, "sniff_override_destination", place);
    inbound.sniffTimeoutMs = getDuration(object, "sniff_timeout", place, 300);
    inbound.udpTimeoutMs = getDuration(object, "udp_timeout", place, inbound.udpTimeoutMs);
    if (inbound.listen.empty())
        fail(at(place, "listen"), "missing listen address");
    std::error_code error;
    asio::ip::make_address(inbound.listen, error);
    if (error)
        fail(at(place, "listen"), "ParseAddr(\"" + inbound.listen + "\"): invalid IP address");
}

InboundConfig parseInbound(const json &object, const std::string &place)
{
    if (!object.is_object())
        wrongType(place, object, "object");
    InboundConfig inbound;
    inbound.type = getString(object, "type", place);
    inbound.tag = getString(object, "tag", place);
    static const KeyList baseKeys = {"type", "tag"};
    if (inbound.type == "mixed" || inbound.type == "socks" || inbound.type == "http") {
        static const KeyList keys = {"users", "set_system_proxy", "tls"};
        checkKeys(object, place, {&baseKeys, &listenKeys, &keys});
        parseListen(object, place, inbound);
        getBool(object, "set_system_proxy", place);
        if (const json *users = member(object, "users")) {
            if (!users->is_array())
                wrongType(at(place, "users"), *users, "[]auth.User");
            for (std::size_t i = 0; i < users->size(); ++i) {
                const std::string userPlace = index(at(place, "users"), i);
                checkOnly((*users)[i], userPlace, KeyList {"username", "password"});
                inbound.users.push_back({getString((*users)[i], "username", userPlace),
                    getString((*users)[i], "password", userPlace)});
            }
        }
        if (member(object, "tls"))
            fail(
                at(place, "tls"), "TLS on the proxy inbound is not supported by this engine build");
    } else if (inbound.type == "tun") {
        static const KeyList keys = {"interface_name", "mtu", "gso", "address", "inet4_address",
            "inet6_address", "auto_route", "iproute2_table_index", "iproute2_rule_index",
            "auto_redirect", "auto_redirect_input_mark", "auto_redirect_output_mark",
            "strict_route", "route_address", "route_exclude_address", "route_address_set",
            "route_exclude_address_set", "endpoint_independent_nat", "udp_timeout", "stack",
            "include_interface", "exclude_interface", "include_uid", "include_uid_range",
            "exclude_uid", "exclude_uid_range", "include_android_user", "include_package",
            "exclude_package", "platform", "sniff", "sniff_override_destination", "sniff_timeout",
            "domain_strategy", "udp_disable_domain_unmapping", "detour"};
        checkKeys(object, place, {&baseKeys, &keys});
        inbound.interfaceName = getString(object, "interface_name", place);
        inbound.mtu = static_cast<std::uint32_t>(
            getInteger(object, "mtu", place, 0, 65535, 9000, "uint32"));
        if (inbound.mtu == 0)
            inbound.mtu = 9000;
        inbound.address = getPrefixes(object, "address", place);
        for (const char *legacy : {"inet4_address", "inet6_address"}) {
            for (const IpPrefix &prefix : getPrefixes(object, legacy, place))
                inbound.address.push_back(prefix);
        }
        inbound.autoRoute = getBool(object, "auto_route", place);
        inbound.strictRoute = getBool(object, "strict_route", place);
        inbound.routeAddress = getPrefixes(object, "route_address", place);
        inbound.routeExcludeAddress = getPrefixes(object, "route_exclude_address", place);
        inbound.iproute2TableIndex = static_cast<std::uint32_t>(
            getInteger(object, "iproute2_table_index", place, 0, 0xFFFFFFFFLL, 2022, "int"));
        inbound.iproute2RuleIndex = static_cast<std::uint32_t>(
            getInteger(object, "iproute2_rule_index", place, 0, 0xFFFFFFFFLL, 9000, "int"));
        inbound.sniff = getBool(object, "sniff", place);
        inbound.sniffTimeoutMs = getDuration(object, "sniff_timeout", place, 300);
        inbound.udpTimeoutMs = getDuration(object, "udp_timeout", place, inbound.udpTimeoutMs);
        inbound.stack = getString(object, "stack", place);
        if (!inbound.stack.empty() && inbound.stack != "system" && inbound.stack != "gvisor"
            && inbound.stack != "mixed")
            fail(at(place, "stack"), "unknown stack: " + inbound.stack);
    } else if (inbound.type.empty()) {
        fail(at(place, "type"), "missing inbound type");
    } else {
        fail(at(place, "type"), "unknown inbound type: " + inbound.type);
    }
    return inbound;
}

std::vector<std::uint16_t> getPorts(const json &object, const char *key, const std::string &place)
{
    const json *value = member(object, key);
    if (!value)
        return {};
    std::vector<std::uint16_t> ports;
    if (value->is_array()) {
        for (std::size_t i = 0; i < value->size(); ++i) {
            const json &item = (*value)[i];
            if (!item.is_number_unsigned() || item.get<std::uint64_t>() > 65535)
                wrongType(index(at(place, key), i), item, "uint16");
            ports.push_back(item.get<std::uint16_t>());
        }
    } else {
        ports.push_back(getPort(object, key, place));
    }
    return ports;
}

// "low:high", either side may be left out.
std::vector<std::pair<std::uint16_t, std::uint16_t>> getPortRanges(
    const json &object, const char *key, const std::string &place)
{
    std::vector<std::pair<std::uint16_t, std::uint16_t>> ranges;
    for (const std::string &range : getList(object, key, place)) {
        const std::size_t colon = range.find(':');
        try {
            if (colon == std::string::npos)
                throw std::invalid_argument(range);
            const int low = colon == 0 ? 0 : std::stoi(range.substr(0, colon));
            const int high = colon + 1 == range.size() ? 65535 : std::stoi(range.substr(colon + 1));
            if (low < 0 || high > 65535 || low > high)
                throw std::invalid_argument(range);
            ranges.emplace_back(low, high);
        } catch (const std::exception &) {
            fail(at(place, key), "bad port range: " + range);
        }
    }
    return ranges;
}

bool parseQueryType(const json &value, std::uint16_t &out)
{
    static const std::map<std::string, std::uint16_t> names
        = {{"A", 1}, {"NS", 2}, {"CNAME", 5}, {"SOA", 6}, {"PTR", 12}, {"MX", 15}, {"TXT", 16},
            {"AAAA", 28}, {"SRV", 33}, {"NAPTR", 35}, {"DS", 43}, {"RRSIG", 46}, {"DNSKEY", 48},
            {"SVCB", 64}, {"HTTPS", 65}, {"ANY", 255}, {"CAA", 257}};
    if (value.is_number_unsigned() && value.get<std::uint64_t>() <= 65535) {
        out = value.get<std::uint16_t>();
        return true;
    }
    if (!value.is_string())
        return false;
    const auto it = names.find(value.get<std::string>());
    if (it == names.end())
        return false;
    out = it->second;
    return true;
}

enum class RuleKind
{
    Route,
    Dns,
    Headless,
    // Inside a logical route or DNS rule: the same items, no action.
    RouteMatch,
    DnsMatch
};

// depth: 1 for a rule in a list, one more for each logical rule around it.
RuleConfig parseRule(const json &object, const std::string &place, RuleKind kind, int depth = 1)
{
    if (!object.is_object())
        wrongType(place, object, "object");
    if (depth > maxRuleNesting)
        fail(place,
            "logical rules nested deeper than " + std::to_string(maxRuleNesting) + " levels");
    RuleConfig rule;
    static const KeyList actionKeys = {"action", "outbound", "override_address", "override_port",
        "network_strategy", "fallback_delay", "udp_disable_domain_unmapping", "udp_connect",
        "udp_timeout", "method", "no_drop", "sniffer", "timeout", "strategy", "server"};
    static const KeyList dnsActionKeys = {"action", "server", "disable_cache", "rewrite_ttl",
        "client_subnet", "method", "no_drop", "rcode", "answer", "ns", "extra"};
    const std::string type = getString(object, "type", place);
    if (type == "logical") {
        static const KeyList keys = {"type", "mode", "rules", "invert"};
        if (kind == RuleKind::Route)
            checkKeys(object, place, {&keys, &actionKeys});
        else if (kind == RuleKind::Dns)
            checkKeys(object, place, {&keys, &dnsActionKeys});
        else
            checkKeys(object, place, {&keys});
        rule.logical = true;
        const std::string mode = getString(object, "mode", place);
        if (mode != "and" && mode != "or")
            fail(at(place, "mode"), "unknown logical mode: " + mode);
        rule.modeAnd = mode == "and";
        const json *rules = member(object, "rules");
        if (!rules || !rules->is_array() || rules->empty())
            fail(at(place, "rules"), "missing rules");
        const RuleKind subKind = kind == RuleKind::Route ? RuleKind::RouteMatch
            : kind == RuleKind::Dns                      ? RuleKind::DnsMatch
                                                         : kind;
        for (std::size_t i = 0; i < rules->size(); ++i) {
            RuleConfig sub
                = parseRule((*rules)[i], index(at(place, "rules"), i), subKind, depth + 1);
            rule.rules.push_back(std::move(sub));
        }
    } else if (type.empty() || type == "default") {
        static const KeyList matchKeys = {"type", "inbound", "ip_version", "network", "auth_user",
            "protocol", "client", "domain", "domain_suffix", "domain_keyword", "domain_regex",
            "source_ip_cidr", "source_ip_is_private", "ip_cidr", "ip_is_private", "source_port",
            "source_port_range", "port", "port_range", "process_name", "process_path",
            "process_path_regex", "package_name", "user", "user_id", "clash_mode", "network_type",
            "network_is_expensive", "network_is_constrained", "wifi_ssid", "wifi_bssid", "rule_set",
            "rule_set_ip_cidr_match_source", "rule_set_ip_cidr_accept_empty", "invert"};
        static const KeyList headlessKeys = {"type", "query_type", "network", "domain",
            "domain_suffix", "domain_keyword", "domain_regex", "source_ip_cidr", "ip_cidr",
            "source_port", "source_port_range", "port", "port_range", "process_name",
            "process_path", "process_path_regex", "package_name", "network_type",
            "network_is_expensive", "network_is_constrained", "wifi_ssid", "wifi_bssid", "invert"};
        static const KeyList dnsMatchKeys = {"query_type", "outbound"};
        if (kind == RuleKind::Route)
            checkKeys(object, place, {&matchKeys, &actionKeys});
        else if (kind == RuleKind::Dns)
            checkKeys(object, place, {&matchKeys, &dnsMatchKeys, &dnsActionKeys});
        else if (kind == RuleKind::RouteMatch)
            checkKeys(object, place, {&matchKeys});
        else if (kind == RuleKind::DnsMatch)
            checkKeys(object, place, {&matchKeys, &dnsMatchKeys});
        else
            checkKeys(object, place, {&headlessKeys});
        rule.inbound = getList(object, "inbound", place);
        rule.network = getList(object, "network", place);
        for (const std::string &network : rule.network) {
            if (network != "tcp" && network != "udp")
                fail(at(place, "network"), "unknown network: " + network);
        }
        rule.protocol = getList(object, "protocol", place);
        for (const char *key : {"domain", "domain_suffix", "domain_keyword"}) {
            std::vector<std::string> values = getList(object, key, place);
            for (std::string &value : values)
                value = toLower(value);
            (std::string(key) == "domain"                 ? rule.domain
                    : std::string(key) == "domain_suffix" ? rule.domainSuffix
                                                          : rule.domainKeyword)
                = std::move(values);
        }
        rule.domainRegex = getList(object, "domain_regex", place);
        for (const std::string &pattern : rule.domainRegex) {
            try {
                std::regex compiled(pattern);
            } catch (const std::regex_error &) {
                fail(at(place, "domain_regex"), "invalid regular expression: " + pattern);
            }
        }
        rule.ipCidr = getPrefixes(object, "ip_cidr", place);
        if (member(object, "ip_is_private"))
            rule.ipIsPrivate = getBool(object, "ip_is_private", place);
        rule.port = getPorts(object, "port", place);
        rule.portRange = getPortRanges(object, "port_range", place);
        rule.sourcePort = getPorts(object, "source_port", place);
        rule.sourcePortRange = getPortRanges(object, "source_port_range", place);
        rule.sourceIpCidr = getPrefixes(object, "source_ip_cidr", place);
        if (member(object, "source_ip_is_private"))
            rule.sourceIpIsPrivate = getBool(object, "source_ip_is_private", place);
        rule.clashMode = getString(object, "clash_mode", place);
        rule.ruleSet = getList(object, "rule_set", place);
        if (const json *types = member(object, "query_type")) {
            const json list = types->is_array() ? *types : json::array({*types});
            for (std::size_t i = 0; i < list.size(); ++i) {
                std::uint16_t value = 0;
                if (!parseQueryType(list[i], value))
                    fail(index(at(place, "query_type"), i), "unknown query type");
                rule.queryType.push_back(value);
            }
        }
        if (kind == RuleKind::Dns || kind == RuleKind::DnsMatch)
            rule.outboundMatch = getList(object, "outbound", place);
        static const char *unsupported[]
            = {"process_name", "process_path", "process_path_regex", "package_name", "user",
                "user_id", "network_type", "network_is_expensive", "network_is_constrained",
                "wifi_ssid", "wifi_bssid", "auth_user", "client", "ip_version"};
        for (const char *key : unsupported)
            rule.unsupportedItem = rule.unsupportedItem || member(object, key) != nullptr;
    } else {
        fail(at(place, "type"), "unknown rule type: " + type);
    }
    rule.invert = getBool(object, "invert", place);
    if (kind == RuleKind::Route) {
        rule.action = getString(object, "action", place, "route");
        rule.outbound = getString(object, "outbound", place);
        static const std::set<std::string> actions
            = {"route", "route-options", "reject", "hijack-dns", "sniff", "resolve"};
        if (!actions.count(rule.action))
            fail(at(place, "action"), "unknown rule action: " + rule.action);
        if (rule.action == "route" && rule.outbound.empty())
            fail(at(place, "outbound"), "missing outbound for route action");
    } else if (kind == RuleKind::Dns) {
        rule.action = getString(object, "action", place, "route");
        rule.server = getString(object, "server", place);
        static const std::set<std::string> actions
            = {"route", "route-options", "reject", "predefined"};
        if (!actions.count(rule.action))
            fail(at(place, "action"), "unknown rule action: " + rule.action);
        if (rule.action == "route" && rule.server.empty())
            fail(at(place, "server"), "missing server for route action");
    }
    return rule;
}

void parseRoute(const json &route, const std::string &place, Config &config)
{
    static const KeyList keys = {"geoip", "geosite", "rules", "rule_set", "final", "find_process",
        "auto_detect_interface", "override_android_vpn", "default_interface", "default_mark",
        "default_network_strategy", "default_network_type", "default_fallback_network_type",
        "default_fallback_delay"};
    checkKeys(route, place, {&keys});
    if (member(route, "geoip") || member(route, "geosite"))
        fail(place, "geoip and geosite databases are not supported: use rule sets");
    config.routeFinal = getString(route, "final", place);
    getBool(route, "auto_detect_interface", place);
    getBool(route, "find_process", place);
    if (const json *sets = member(route, "rule_set")) {
        if (!sets->is_array())
            wrongType(at(place, "rule_set"), *sets, "[]RuleSet");
        for (std::size_t i = 0; i < sets->size(); ++i) {
            const std::string setPlace = index(at(place, "rule_set"), i);
            const json &object = (*sets)[i];
            RuleSetConfig set;
            if (!object.is_object())
                wrongType(setPlace, object, "object");
            set.type = getString(object, "type", setPlace);
            set.tag = getString(object, "tag", setPlace);
            if (set.tag.empty())
                fail(at(setPlace, "tag"), "missing tag");
            if (set.type == "local") {
                checkOnly(object, setPlace, KeyList {"type", "tag", "format", "path"});
                set.path = getString(object, "path", setPlace);
                if (set.path.empty())
                    fail(at(setPlace, "path"), "missing path");
            } else if (set.type == "remote") {
                checkOnly(object, setPlace,
                    KeyList {"type", "tag", "format", "url", "download_detour", "update_interval"});
                fail(setPlace, "remote rule sets are not supported by this engine build");
            } else if (set.type == "inline") {
                checkOnly(object, setPlace, KeyList {"type", "tag", "rules"});
                const json *rules = member(object, "rules");
                if (rules && !rules->is_array())
                    wrongType(at(setPlace, "rules"), *rules, "[]HeadlessRule");
                for (std::size_t r = 0; rules && r < rules->size(); ++r)
                    set.rules.push_back(parseRule(
                        (*rules)[r], index(at(setPlace, "rules"), r), RuleKind::Headless));
            } else {
                fail(at(setPlace, "type"), "unknown rule-set type: " + set.type);
            }
            set.format = getString(object, "format", setPlace);
            if (set.type == "local") {
                if (set.format.empty()) {
                    const std::string &path = set.path;
                    set.format = path.size() > 4 && path.compare(path.size() - 4, 4, ".srs") == 0
                        ? "binary"
                        : path.size() > 5 && path.compare(path.size() - 5, 5, ".json") == 0
                        ? "source"
                        : "";
                }
                if (set.format != "binary" && set.format != "source")
                    fail(at(setPlace, "format"), "unknown rule-set format: " + set.format);
            }
            for (const RuleSetConfig &existing : config.ruleSets) {
                if (existing.tag == set.tag)
                    fail(setPlace, "duplicate rule-set tag: " + set.tag);
            }
            config.ruleSets.push_back(std::move(set));
        }
    }
    if (const json *rules = member(route, "rules")) {
        if (!rules->is_array())
            wrongType(at(place, "rules"), *rules, "[]Rule");
        for (std::size_t i = 0; i < rules->size(); ++i)
            config.routeRules.push_back(
                parseRule((*rules)[i], index(at(place, "rules"), i), RuleKind::Route));
    }
}

void parseDns(const json &dns, const std::string &place, Config &config)
{
    static const KeyList keys
        = {"servers", "rules", "final", "strategy", "disable_cache", "disable_expire",
            "independent_cache", "cache_capacity", "reverse_mapping", "client_subnet", "fakeip"};
    checkKeys(dns, place, {&keys});
    config.dnsFinal = getString(dns, "final", place);
    getBool(dns, "independent_cache", place);
    getBool(dns, "disable_cache", place);
    const std::string strategy = getString(dns, "strategy", place);
    static const std::set<std::string> strategies
        = {"", "prefer_ipv4", "prefer_ipv6", "ipv4_only", "ipv6_only"};
    if (!strategies.count(strategy))
        fail(at(place, "strategy"), "unknown domain strategy: " + strategy);
    if (const json *fakeip = member(dns, "fakeip")) {
        const std::string fakePlace = at(place, "fakeip");
        checkOnly(*fakeip, fakePlace, KeyList {"enabled", "inet4_range", "inet6_range"});
        config.fakeIpEnabled = getBool(*fakeip, "enabled", fakePlace);
        for (const char *key : {"inet4_range", "inet6_range"}) {
            const std::string range = getString(*fakeip, key, fakePlace);
            IpPrefix prefix;
            if (!range.empty() && !parseIpPrefix(range, prefix))
                fail(at(fakePlace, key), "invalid prefix: " + range);
            const bool v6 = key[4] == '6';
            if (!range.empty() && prefix.address.is_v6() != v6)
                fail(at(fakePlace, key),
                    "not an " + std::string(v6 ? "IPv6" : "IPv4") + " prefix: " + range);
            if (!range.empty())
                (v6 ? config.fakeIpInet6Range : config.fakeIpInet4Range) = prefix;
        }
    }
    if (const json *servers = member(dns, "servers")) {
        if (!servers->is_array())
            wrongType(at(place, "servers"), *servers, "[]DNSServer");
        for (std::size_t i = 0; i < servers->size(); ++i) {
            const std::string serverPlace = index(at(place, "servers"), i);
            const json &object = (*servers)[i];
            checkOnly(object, serverPlace,
                KeyList {"tag", "address", "address_resolver", "address_strategy",
                    "address_fallback_delay", "strategy", "detour", "client_subnet"});
            DnsServerConfig server;
            server.tag = getString(object, "tag", serverPlace);
            server.address = getString(object, "address", serverPlace);
            server.addressResolver = getString(object, "address_resolver", serverPlace);
            server.detour = getString(object, "detour", serverPlace);
            if (server.address.empty())
                fail(at(serverPlace, "address"), "missing address");
            static const std::regex addressPattern(
                "^(fakeip|local|dhcp://.*|rcode://(success|format_error|server_failure|name_error|"
                "not_implemented|refused)|(udp|tcp|tls|https|h3|quic)://.+|[^:/"
                "]+|\\[[0-9a-fA-F:.]+\\]"
                "|[0-9a-fA-F:]+:[0-9a-fA-F:.]*)$");
            if (!std::regex_match(server.address, addressPattern))
                fail(at(serverPlace, "address"), "unknown DNS server address: " + server.address);
            for (const DnsServerConfig &existing : config.dnsServers) {
                if (!server.tag.empty() && existing.tag == server.tag)
                    fail(serverPlace, "duplicate DNS server tag: " + server.tag);
            }
            config.dnsServers.push_back(server);
        }
    }
    if (const json *rules = member(dns, "rules")) {
        if (!rules->is_array())
            wrongType(at(place, "rules"), *rules, "[]DNSRule");
        for (std::size_t i = 0; i < rules->size(); ++i)
            config.dnsRules.push_back(
                parseRule((*rules)[i], index(at(place, "rules"), i), RuleKind::Dns));
    }
}

void parseExperimental(const json &experimental, const std::string &place, Config &config)
{
    checkOnly(experimental, place, KeyList {"cache_file", "clash_api", "v2ray_api"});
    checkObjectOrAbsent(experimental, "cache_file", place,
        {"enabled", "path", "cache_id", "store_fakeip", "store_rdrc", "rdrc_timeout"});
    if (const json *cache = member(experimental, "cache_file")) {
        getBool(*cache, "enabled", at(place, "cache_file"));
        getString(*cache, "path", at(place, "cache_file"));
        getBool(*cache, "store_fakeip", at(place, "cache_file"));
    }
    if (member(experimental, "v2ray_api"))
        fail(at(place, "v2ray_api"), "v2ray api is not supported by this engine build");
    const json *clash = member(experimental, "clash_api");
    if (!clash)
        return;
    const std::string clashPlace = at(place, "clash_api");
    checkOnly(*clash, clashPlace,
        KeyList {"external_controller", "external_ui", "external_ui_download_url",
            "external_ui_download_detour", "secret", "default_mode", "access_control_allow_origin",
            "access_control_allow_private_network", "store_mode", "store_selected", "store_fakeip",
            "cache_file", "cache_id"});
    config.controller = getString(*clash, "external_controller", clashPlace);
    config.secret = getString(*clash, "secret", clashPlace);
    config.defaultMode = getString(*clash, "default_mode", clashPlace, "Rule");
    config.allowOrigin = getList(*clash, "access_control_allow_origin", clashPlace);
    if (config.allowOrigin.empty())
        config.allowOrigin.push_back("*");
    getBool(*clash, "access_control_allow_private_network", clashPlace);
    if (!config.controller.empty()) {
        std::string host;
        std::uint16_t port = 0;
        if (!splitHostPort(config.controller, host, port))
            fail(at(clashPlace, "external_controller"),
                "invalid listen address: " + config.controller);
        config.clashApi = true;
    }
}

// Groups (and detours) may nest but never loop, nor nest without end: dialing walks the chain
// recursively. One depth-first walk with an explicit stack visits every outbound once.
void checkNesting(const Config &config, const std::map<std::string, std::size_t> &byTag)
{
    const std::size_t count = config.outbounds.size();
    std::vector<std::vector<std::size_t>> next(count);
    for (std::size_t i = 0; i < count; ++i) {
        for (const std::string &member : config.outbounds[i].members)
            next[i].push_back(byTag.at(member));
        if (!config.outbounds[i].detour.empty())
            next[i].push_back(byTag.at(config.outbounds[i].detour));
    }
    enum class Mark
    {
        New,
        Open,
        Done
    };
    std::vector<Mark> marks(count, Mark::New);
    std::vector<std::size_t> depth(count, 0); // levels of groups and detours below, 0 for a node
    struct Frame
    {
        std::size_t node;
        std::size_t edge;
    };
    std::vector<Frame> stack;
    for (std::size_t root = 0; root < count; ++root) {
        if (marks[root] != Mark::New)
            continue;
        marks[root] = Mark::Open;
        stack.push_back({root, 0});
        while (!stack.empty()) {
            Frame &frame = stack.back();
            const std::size_t node = frame.node;
            if (frame.edge < next[node].size()) {
                const std::size_t child = next[node][frame.edge++];
                if (marks[child] == Mark::Open)
                    fail("outbounds", "outbound loop detected: " + config.outbounds[child].tag);
                if (marks[child] == Mark::New) {
                    marks[child] = Mark::Open;
                    stack.push_back({child, 0});
                }
                continue;
            }
            for (const std::size_t child : next[node])
                depth[node] = std::max(depth[node], depth[child] + 1);
            if (depth[node] > maxGroupNesting)
                fail(index("outbounds", node),
                    "outbounds nested deeper than " + std::to_string(maxGroupNesting)
                        + " levels: " + config.outbounds[node].tag);
            marks[node] = Mark::Done;
            stack.pop_back();
        }
    }
}

void checkReferences(Config &config)
{
    std::map<std::string, std::size_t> outbounds;
    for (std::size_t i = 0; i < config.outbounds.size(); ++i) {
        const std::string &tag = config.outbounds[i].tag;
        if (!outbounds.emplace(tag, i).second)
            fail(index("outbounds", i), "duplicate outbound tag: " + tag);
    }
    std::set<std::string> inbounds;
    for (std::size_t i = 0; i < config.inbounds.size(); ++i) {
        if (!inbounds.insert(config.inbounds[i].tag).second)
            fail(index("inbounds", i), "duplicate inbound tag: " + config.inbounds[i].tag);
    }
    for (std::size_t i = 0; i < config.outbounds.size(); ++i) {
        const OutboundConfig &outbound = config.outbounds[i];
        const std::string place = index("outbounds", i);
        if (outbound.isGroup()) {
            if (outbound.members.empty())
                fail(at(place, "outbounds"), "missing tags");
            for (std::size_t m = 0; m < outbound.members.size(); ++m) {
                if (!outbounds.count(outbound.members[m]))
                    fail(index(at(place, "outbounds"), m),
                        "outbound not found: " + outbound.members[m]);
            }
            if (!outbound.defaultMember.empty()
                && std::find(
                       outbound.members.begin(), outbound.members.end(), outbound.defaultMember)
                    == outbound.members.end())
                fail(at(place, "default"), "default outbound not found: " + outbound.defaultMember);
        }
        if (!outbound.detour.empty() && !outbounds.count(outbound.detour))
            fail(at(place, "detour"), "outbound detour not found: " + outbound.detour);
    }
    checkNesting(config, outbounds);
    if (!config.routeFinal.empty() && !outbounds.count(config.routeFinal))
        fail("route.final", "default outbound not found: " + config.routeFinal);
    std::set<std::string> ruleSets;
    for (const RuleSetConfig &set : config.ruleSets)
        ruleSets.insert(set.tag);
    std::function<void(const RuleConfig &, const std::string &, bool)> checkRule
        = [&](const RuleConfig &rule, const std::string &place, bool dnsRule) {
              for (const RuleConfig &sub : rule.rules)
                  checkRule(sub, place, dnsRule);
              for (const std::string &tag : rule.ruleSet) {
                  if (!ruleSets.count(tag))
                      fail(at(place, "rule_set"), "rule-set not found: " + tag);
              }
              if (!dnsRule && !rule.outbound.empty() && !outbounds.count(rule.outbound))
                  fail(at(place, "outbound"), "outbound not found: " + rule.outbound);
              if (dnsRule) {
                  for (const std::string &tag : rule.outboundMatch) {
                      if (tag != "any" && !outbounds.count(tag))
                          fail(at(place, "outbound"), "outbound not found: " + tag);
                  }
              }
          };
    for (std::size_t i = 0; i < config.routeRules.size(); ++i)
        checkRule(config.routeRules[i], index("route.rules", i), false);
    std::set<std::string> servers;
    for (const DnsServerConfig &server : config.dnsServers)
        servers.insert(server.tag);
    for (std::size_t i = 0; i < config.dnsRules.size(); ++i) {
        const std::string place = index("dns.rules", i);
        checkRule(config.dnsRules[i], place, true);
        if (!config.dnsRules[i].server.empty() && !servers.count(config.dnsRules[i].server))
            fail(at(place, "server"), "server not found: " + config.dnsRules[i].server);
    }
    for (std::size_t i = 0; i < config.dnsServers.size(); ++i) {
        const DnsServerConfig &server = config.dnsServers[i];
        const std::string place = index("dns.servers", i);
        if (!server.detour.empty() && !outbounds.count(server.detour))
            fail(at(place, "detour"), "outbound detour not found: " + server.detour);
        if (!server.addressResolver.empty() && !servers.count(server.addressResolver))
            fail(at(place, "address_resolver"), "server not found: " + server.addressResolver);
    }
    if (!config.dnsFinal.empty() && !servers.count(config.dnsFinal))
        fail("dns.final", "default server not found: " + config.dnsFinal);
}

} // namespace

bool IpPrefix::contains(const asio::ip::address &ip) const
{
    if (ip.is_v4() != address.is_v4())
        return false;
    if (ip.is_v4()) {
        const std::uint32_t mask = length == 0 ? 0 : 0xFFFFFFFFu << (32 - length);
        return (ip.to_v4().to_uint() & mask) == (address.to_v4().to_uint() & mask);
    }
    const auto a = ip.to_v6().to_bytes();
    const auto b = address.to_v6().to_bytes();
    int bits = length;
    for (std::size_t i = 0; i < 16 && bits > 0; ++i, bits -= 8) {
        const std::uint8_t mask = bits >= 8 ? 0xFF : static_cast<std::uint8_t>(0xFF << (8 - bits));
        if ((a[i] & mask) != (b[i] & mask))
            return false;
    }
    return true;
}

bool parseIpPrefix(const std::string &text, IpPrefix &out)
{
    const std::size_t slash = text.find('/');
    std::error_code error;
    const asio::ip::address address = asio::ip::make_address(text.substr(0, slash), error);
    if (error)
        return false;
    int length = address.is_v4() ? 32 : 128;
    if (slash != std::string::npos) {
        const std::string digits = text.substr(slash + 1);
        if (digits.empty() || digits.size() > 3
            || !std::all_of(
                digits.begin(), digits.end(), [](unsigned char c) { return std::isdigit(c); }))
            return false;
        const int value = std::stoi(digits);
        if (value > length)
            return false;
        length = value;
    }
    out.address = address;
    out.length = length;
    return true;
}

bool isPrivateAddress(const asio::ip::address &ip)
{
    if (ip.is_unspecified())
        return true;
    if (ip.is_v4()) {
        const std::uint32_t v = ip.to_v4().to_uint();
        return (v >> 24) == 10 || (v >> 20) == (172u << 4 | 1) || (v >> 16) == (192u << 8 | 168)
            || (v >> 24) == 127 || (v >> 16) == (169u << 8 | 254) || (v >> 28) == 0xE
            || v == 0xFFFFFFFFu;
    }
    const asio::ip::address_v6 v6 = ip.to_v6();
    if (v6.is_v4_mapped())
        return isPrivateAddress(asio::ip::make_address_v4(asio::ip::v4_mapped, v6));
    const auto bytes = v6.to_bytes();
    return v6.is_loopback() || (bytes[0] & 0xFE) == 0xFC
        || (bytes[0] == 0xFE && (bytes[1] & 0xC0) == 0x80)
        || (bytes[0] == 0xFF && (bytes[1] & 0x0F) == 0x01)
        || (bytes[0] == 0xFF && (bytes[1] & 0x0F) == 0x02);
}

bool parseDuration(const std::string &text, std::int64_t &milliseconds)
{
    if (text == "0") {
        milliseconds = 0;
        return true;
    }
    static const std::pair<const char *, double> units[] = {{"ns", 1e-6}, {"us", 1e-3},
        {"\xC2\xB5s", 1e-3}, {"ms", 1.0}, {"s", 1000.0}, {"m", 60000.0}, {"h", 3600000.0}};
    std::size_t position = 0;
    double total = 0;
    if (text.empty())
        return false;
    while (position < text.size()) {
        std::size_t end = position;
        while (end < text.size()
            && (std::isdigit(static_cast<unsigned char>(text[end])) || text[end] == '.'))
            ++end;
        if (end == position)
            return false;
        const std::string number = text.substr(position, end - position);
        if (std::count(number.begin(), number.end(), '.') > 1 || number == ".")
            return false;
        std::size_t unitEnd = end;
        while (unitEnd < text.size() && !std::isdigit(static_cast<unsigned char>(text[unitEnd]))
            && text[unitEnd] != '.')
            ++unitEnd;
        const std::string unit = text.substr(end, unitEnd - end);
        const auto it = std::find_if(std::begin(units), std::end(units),
            [&](const auto &entry) { return unit == entry.first; });
        if (it == std::end(units))
            return false;
        total += std::stod(number) * it->second;
        if (total > 9.2e15)
            return false;
        position = unitEnd;
    }
    milliseconds = static_cast<std::int64_t>(total);
    return true;
}

const OutboundConfig *Config::findOutbound(const std::string &tag) const
{
    for (const OutboundConfig &outbound : outbounds) {
        if (outbound.tag == tag)
            return &outbound;
    }
    return nullptr;
}

std::string Config::finalOutbound() const
{
    if (!routeFinal.empty())
        return routeFinal;
    if (!outbounds.empty())
        return outbounds.front().tag;
    return "direct";
}

const std::set<std::string> &utlsFingerprints()
{
    static const std::set<std::string> names = {"", "chrome", "chrome_psk", "chrome_psk_shuffle",
        "chrome_padding_psk_shuffle", "chrome_pq", "chrome_pq_psk", "firefox", "edge", "safari",
        "360", "qq", "ios", "android", "random", "randomized"};
    return names;
}

bool parseConfig(const std::string &text, Config &config, std::string &error)
{
    try {
        checkJsonDepth(text);
        const json root = json::parse(text);
        if (!root.is_object())
            wrongType("", root, "option.Options");
        static const KeyList keys = {"$schema", "log", "dns", "ntp", "endpoints", "inbounds",
            "outbounds", "route", "experimental", "certificate"};
        checkKeys(root, "", {&keys});
        Config parsed;
        if (const json *logSection = member(root, "log")) {
            checkOnly(*logSection, "log", KeyList {"disabled", "level", "output", "timestamp"});
            parsed.logDisabled = getBool(*logSection, "disabled", "log");
            parsed.logTimestamp = getBool(*logSection, "timestamp", "log");
            const std::string level = getString(*logSection, "level", "log", "info");
            if (!parseLogLevel(level, parsed.logLevel))
                fail("log.level", "unknown log level: " + level);
            const std::string output = getString(*logSection, "output", "log");
            if (!output.empty())
                fail("log.output", "log files are not supported by this engine build");
        }
        if (member(root, "ntp"))
            fail("ntp", "ntp is not supported by this engine build");
        if (const json *endpoints = member(root, "endpoints")) {
            if (!endpoints->is_array() || !endpoints->empty())
                fail("endpoints", "endpoints are not supported by this engine build");
        }
        if (member(root, "certificate"))
            fail("certificate", "json: unknown field \"certificate\"");
        if (const json *inbounds = member(root, "inbounds")) {
            if (!inbounds->is_array())
                wrongType("inbounds", *inbounds, "[]Inbound");
            for (std::size_t i = 0; i < inbounds->size(); ++i)
                parsed.inbounds.push_back(parseInbound((*inbounds)[i], index("inbounds", i)));
        }
        if (const json *outbounds = member(root, "outbounds")) {
            if (!outbounds->is_array())
                wrongType("outbounds", *outbounds, "[]Outbound");
            for (std::size_t i = 0; i < outbounds->size(); ++i)
                parsed.outbounds.push_back(parseOutbound((*outbounds)[i], index("outbounds", i)));
        }
        if (const json *route = member(root, "route"))
            parseRoute(*route, "route", parsed);
        if (const json *dns = member(root, "dns"))
            parseDns(*dns, "dns", parsed);
        if (const json *experimental = member(root, "experimental"))
            parseExperimental(*experimental, "experimental", parsed);
        // Like sing-box, an empty outbound list still has a direct outbound to fall back on.
        if (parsed.outbounds.empty()) {
            OutboundConfig direct;
            direct.type = "direct";
            direct.tag = "direct";
            parsed.outbounds.push_back(direct);
        }
        checkReferences(parsed);
        config = std::move(parsed);
        return true;
    } catch (const json::parse_error &e) {
        error = std::string("decode config: ") + e.what();
    } catch (const ConfigError &e) {
        error = std::string("decode config: ") + e.what();
    } catch (const std::exception &e) {
        error = std::string("decode config: ") + e.what();
    }
    return false;
}

bool parseSourceRuleSet(const std::string &text, std::vector<RuleConfig> &rules, std::string &error)
{
    try {
        checkJsonDepth(text);
        const json root = json::parse(text);
        checkOnly(root, "", KeyList {"version", "rules"});
        getInteger(root, "version", "", 1, 3, 1, "uint8");
        const json *list = member(root, "rules");
        if (list && !list->is_array())
            wrongType("rules", *list, "[]HeadlessRule");
        for (std::size_t i = 0; list && i < list->size(); ++i)
            rules.push_back(parseRule((*list)[i], index("rules", i), RuleKind::Headless));
        return true;
    } catch (const std::exception &e) {
        error = std::string("decode rule-set: ") + e.what();
    }
    return false;
}

bool loadConfigFile(const std::string &path, Config &config, std::string &error)
{
    std::string text;
    if (!readBoundedFile(path, text, error)) {
        error = "read config at " + path + ": " + error;
        return false;
    }
    if (!parseConfig(text, config, error)) {
        error = "decode config at " + path + error.substr(std::string("decode config").size());
        return false;
    }
    return true;
}

} // namespace qivro::engine
