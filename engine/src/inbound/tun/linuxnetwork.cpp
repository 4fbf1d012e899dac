#include "inbound/tun/linuxnetwork.h"

#include "inbound/tun/netlink.h"
#include "inbound/tun/tunplatform.h"

#include <cerrno>
#include <cstring>
#include <functional>
#include <linux/fib_rules.h>
#include <linux/if_addr.h>
#include <linux/rtnetlink.h>
#include <map>
#include <net/if.h>
#include <netinet/in.h>

namespace qivro::engine::tun {

namespace {

// Rule offsets from the first priority; the last is the no-op the goto rules jump to.
constexpr std::uint32_t catchAllOffset = 3;
constexpr std::uint32_t skipOffset = 10;

std::string systemError(int error)
{
    return std::strerror(error);
}

std::vector<std::uint8_t> addressBytes(const asio::ip::address &address)
{
    if (address.is_v4()) {
        const auto bytes = address.to_v4().to_bytes();
        return {bytes.begin(), bytes.end()};
    }
    const auto bytes = address.to_v6().to_bytes();
    return {bytes.begin(), bytes.end()};
}

// One policy rule, built up field by field.
struct Rule
{
    Rule(std::uint8_t family, std::uint32_t priority, std::uint8_t action, std::uint32_t table = 0)
        : family(family)
        , priority(priority)
        , action(action)
        , table(table)
    { }
    std::uint8_t family = AF_INET;
    std::uint32_t priority = 0;
    std::uint8_t action = FR_ACT_TO_TBL;
    std::uint32_t table = 0;
    std::uint32_t gotoPriority = 0;
    bool invert = false;
    std::string iif;
    const IpPrefix *from = nullptr;
    const IpPrefix *to = nullptr;
    bool suppressDefault = false;
    std::uint8_t ipProtocol = 0;
    std::uint16_t dport = 0;
    std::uint32_t mark = 0;
};

int addRule(Netlink &netlink, const Rule &rule)
{
    Netlink::Message message(RTM_NEWRULE, NLM_F_CREATE);
    fib_rule_hdr header {};
    header.family = rule.family;
    header.action = rule.action;
    header.flags = rule.invert ? FIB_RULE_INVERT : 0;
    header.src_len = rule.from ? static_cast<std::uint8_t>(rule.from->length) : 0;
    header.dst_len = rule.to ? static_cast<std::uint8_t>(rule.to->length) : 0;
    message.header(header);
    message.attribute32(FRA_PRIORITY, rule.priority);
    message.attribute8(FRA_PROTOCOL, LinuxNetwork::ruleProtocol);
    if (rule.action == FR_ACT_TO_TBL)
        message.attribute32(FRA_TABLE, rule.table);
    if (rule.action == FR_ACT_GOTO)
        message.attribute32(FRA_GOTO, rule.gotoPriority);
    if (!rule.iif.empty())
        message.attributeString(FRA_IIFNAME, rule.iif);
    if (rule.from) {
        const auto bytes = addressBytes(rule.from->address);
        message.attribute(FRA_SRC, bytes.data(), bytes.size());
    }
    if (rule.to) {
        const auto bytes = addressBytes(rule.to->address);
        message.attribute(FRA_DST, bytes.data(), bytes.size());
    }
    if (rule.suppressDefault)
        message.attribute32(FRA_SUPPRESS_PREFIXLEN, 0);
    if (rule.ipProtocol)
        message.attribute8(FRA_IP_PROTO, rule.ipProtocol);
    if (rule.dport) {
        const fib_rule_port_range range {rule.dport, rule.dport};
        message.attribute(FRA_DPORT_RANGE, &range, sizeof(range));
    }
    if (rule.mark) {
        message.attribute32(FRA_FWMARK, rule.mark);
        message.attribute32(FRA_FWMASK, 0xFFFFFFFF);
    }
    return netlink.request(message);
}

int addRoute(
    Netlink &netlink, std::uint32_t table, const IpPrefix &prefix, unsigned index, bool exclude)
{
    Netlink::Message message(RTM_NEWROUTE, NLM_F_CREATE | NLM_F_REPLACE);
    rtmsg header {};
    header.rtm_family = prefix.address.is_v4() ? AF_INET : AF_INET6;
    header.rtm_dst_len = static_cast<std::uint8_t>(prefix.length);
    header.rtm_table = RT_TABLE_UNSPEC;
    header.rtm_protocol = LinuxNetwork::ruleProtocol;
    // An excluded prefix throws the lookup back to the rules that follow.
    header.rtm_scope = exclude ? RT_SCOPE_UNIVERSE : RT_SCOPE_LINK;
    header.rtm_type = exclude ? RTN_THROW : RTN_UNICAST;
    message.header(header);
    message.attribute32(RTA_TABLE, table);
    if (prefix.length > 0) {
        const auto bytes = addressBytes(prefix.address);
        message.attribute(RTA_DST, bytes.data(), bytes.size());
    }
    if (!exclude)
        message.attribute32(RTA_OIF, index);
    return netlink.request(message);
}

// Rule dumps and route dumps of one family, kept for deletion once the dump is over.
std::vector<std::vector<std::uint8_t>> collect(Netlink &netlink, std::uint16_t type,
    std::uint8_t family, const std::function<bool(const nlmsghdr *)> &ours)
{
    Netlink::Message request(type, NLM_F_DUMP);
    if (type == RTM_GETRULE) {
        fib_rule_hdr header {};
        header.family = family;
        request.header(header);
    } else {
        rtmsg header {};
        header.rtm_family = family;
        request.header(header);
    }
    std::vector<std::vector<std::uint8_t>> found;
    netlink.dump(request, [&](const nlmsghdr *message) {
        if (ours(message)) {
            const auto *bytes = reinterpret_cast<const std::uint8_t *>(message);
            found.emplace_back(bytes, bytes + message->nlmsg_len);
        }
    });
    return found;
}

template <typename Header>
std::map<std::uint16_t, const rtattr *> attributes(const nlmsghdr *message)
{
    std::map<std::uint16_t, const rtattr *> out;
    const auto *attribute = reinterpret_cast<const rtattr *>(
        static_cast<const std::uint8_t *>(NLMSG_DATA(message)) + NLMSG_ALIGN(sizeof(Header)));
    int remaining = static_cast<int>(message->nlmsg_len) - NLMSG_LENGTH(sizeof(Header));
    for (; RTA_OK(attribute, remaining); attribute = RTA_NEXT(attribute, remaining))
        out[attribute->rta_type] = attribute;
    return out;
}

std::uint32_t attribute32(const std::map<std::uint16_t, const rtattr *> &found, std::uint16_t type,
    std::uint32_t fallback)
{
    const auto it = found.find(type);
    if (it == found.end() || RTA_PAYLOAD(it->second) < sizeof(std::uint32_t))
        return fallback;
    std::uint32_t value;
    std::memcpy(&value, RTA_DATA(it->second), sizeof(value));
    return value;
}

} // namespace

bool LinuxNetwork::configureInterface(const Options &options, std::string &error)
{
    const unsigned index = ::if_nametoindex(options.interfaceName.c_str());
    if (index == 0) {
        error = "find interface " + options.interfaceName + ": " + systemError(errno);
        return false;
    }
    Netlink netlink;
    for (const IpPrefix &prefix : options.addresses) {
        Netlink::Message message(RTM_NEWADDR, NLM_F_CREATE | NLM_F_REPLACE);
        ifaddrmsg header {};
        header.ifa_family = prefix.address.is_v4() ? AF_INET : AF_INET6;
        header.ifa_prefixlen = static_cast<std::uint8_t>(prefix.length);
        header.ifa_index = index;
        message.header(header);
        const auto bytes = addressBytes(prefix.address);
        message.attribute(IFA_LOCAL, bytes.data(), bytes.size());
        message.attribute(IFA_ADDRESS, bytes.data(), bytes.size());
        if (prefix.address.is_v6())
            message.attribute32(IFA_FLAGS, IFA_F_NODAD);
        if (const int code = netlink.request(message)) {
            error = "add address " + prefix.address.to_string() + "/"
                + std::to_string(prefix.length) + ": " + systemError(code);
            return false;
        }
    }
    Netlink::Message link(RTM_NEWLINK, 0);
    ifinfomsg header {};
    header.ifi_family = AF_UNSPEC;
    header.ifi_index = static_cast<int>(index);
    header.ifi_flags = IFF_UP;
    header.ifi_change = IFF_UP;
    link.header(header);
    link.attribute32(IFLA_MTU, options.mtu);
    if (const int code = netlink.request(link)) {
        error = "set " + options.interfaceName + " up with mtu " + std::to_string(options.mtu)
            + ": " + systemError(code);
        return false;
    }
    return true;
}

bool LinuxNetwork::installRoutes(const Options &options, std::string &error)
{
    removeRoutes(options.table, options.priority);
    const unsigned index = ::if_nametoindex(options.interfaceName.c_str());
    Netlink netlink;
    const std::uint32_t p = options.priority;
    const std::uint32_t skip = p + skipOffset;
    const auto fail = [&](const std::string &what, int code) {
        error = what + ": " + systemError(code);
        removeRoutes(options.table, options.priority);
        return false;
    };
    for (const bool v6 : {false, true}) {
        const std::uint8_t family = v6 ? AF_INET6 : AF_INET;
        std::vector<const IpPrefix *> own;
        for (const IpPrefix &prefix : options.addresses) {
            if (prefix.address.is_v6() == v6)
                own.push_back(&prefix);
        }
        if (own.empty() && !options.strictRoute)
            continue;
        const auto rule = [&](const Rule &value) { return addRule(netlink, value); };
        if (int code = rule(Rule(family, skip, FR_ACT_NOP)))
            return fail("add rule " + std::to_string(skip), code);
        Rule marked(family, p, FR_ACT_GOTO);
        marked.gotoPriority = skip;
        marked.mark = socketMark;
        if (int code = rule(marked))
            return fail("add rule " + std::to_string(p) + " fwmark", code);
        if (own.empty()) {
            // strict_route: a family the TUN cannot carry goes nowhere rather than around it.
            if (int code = rule(Rule(family, p + catchAllOffset, FR_ACT_UNREACHABLE)))
                return fail("add unreachable rule", code);
            continue;
        }

        for (const IpPrefix &prefix : routedPrefixes(options.routeAddress, v6)) {
            if (int code = addRoute(netlink, options.table, prefix, index, false))
                return fail(
                    "add route " + prefix.address.to_string() + "/" + std::to_string(prefix.length),
                    code);
        }
        for (const IpPrefix &prefix : options.routeExcludeAddress) {
            if (prefix.address.is_v6() != v6)
                continue;
            if (int code = addRoute(netlink, options.table, prefix, index, true))
                return fail("add excluded route " + prefix.address.to_string(), code);
        }

        std::vector<Rule> rules;
        for (const IpPrefix *prefix : own) {
            Rule toTun(family, p, FR_ACT_TO_TBL, options.table);
            toTun.to = prefix;
            rules.push_back(toTun);
        }
        Rule specific(family, p + 1, FR_ACT_TO_TBL, options.table);
        specific.suppressDefault = true;
        rules.push_back(specific);
        // The local network's own routes win, except for DNS, which the engine answers.
        Rule local(family, p + 2, FR_ACT_TO_TBL, RT_TABLE_MAIN);
        local.invert = true;
        local.dport = 53;
        local.suppressDefault = true;
        rules.push_back(local);
        if (!options.strictRoute) {
            Rule icmp(family, p + 2, FR_ACT_GOTO);
            icmp.gotoPriority = skip;
            icmp.ipProtocol
                = static_cast<std::uint8_t>(v6 ? int(IPPROTO_ICMPV6) : int(IPPROTO_ICMP));
            rules.push_back(icmp);
        }
        Rule fromTun(family, p + 2, FR_ACT_GOTO);
        fromTun.gotoPriority = skip;
        fromTun.iif = options.interfaceName;
        rules.push_back(fromTun);
        Rule forwarded(family, p + catchAllOffset, FR_ACT_TO_TBL, options.table);
        forwarded.iif = "lo";
        forwarded.invert = true;
        rules.push_back(forwarded);
        static const IpPrefix any4 {asio::ip::address_v4(), 32};
        static const IpPrefix any6 {asio::ip::address_v6(), 128};
        Rule unbound(family, p + catchAllOffset, FR_ACT_TO_TBL, options.table);
        unbound.iif = "lo";
        unbound.from = v6 ? &any6 : &any4;
        rules.push_back(unbound);
        for (const IpPrefix *prefix : own) {
            Rule fromPrefix(family, p + catchAllOffset, FR_ACT_TO_TBL, options.table);
            fromPrefix.iif = "lo";
            fromPrefix.from = prefix;
            rules.push_back(fromPrefix);
        }
        for (const Rule &value : rules) {
            if (int code = rule(value))
                return fail("add rule " + std::to_string(value.priority), code);
        }
    }
    return true;
}

void LinuxNetwork::removeRoutes(std::uint32_t table, std::uint32_t priority)
{
    Netlink netlink;
    for (const std::uint8_t family : {AF_INET, AF_INET6}) {
        const auto rules = collect(netlink, RTM_GETRULE, family, [&](const nlmsghdr *message) {
            const auto found = attributes<fib_rule_hdr>(message);
            const auto protocol = found.find(FRA_PROTOCOL);
            const std::uint32_t at = attribute32(found, FRA_PRIORITY, 0);
            return protocol != found.end()
                && *static_cast<const std::uint8_t *>(RTA_DATA(protocol->second)) == ruleProtocol
                && at >= priority && at <= priority + skipOffset;
        });
        const auto routes = collect(netlink, RTM_GETROUTE, family, [&](const nlmsghdr *message) {
            const auto *header = static_cast<const rtmsg *>(NLMSG_DATA(message));
            const auto found = attributes<rtmsg>(message);
            return header->rtm_protocol == ruleProtocol
                && attribute32(found, RTA_TABLE, header->rtm_table) == table;
        });
        const std::pair<const decltype(rules) *, std::uint16_t> deletions[]
            = {{&rules, RTM_DELRULE}, {&routes, RTM_DELROUTE}};
        for (const auto &[found, type] : deletions) {
            for (std::vector<std::uint8_t> bytes : *found) {
                Netlink::Message message(type, 0);
                const std::size_t header = NLMSG_HDRLEN;
                message.bytes().insert(message.bytes().end(), bytes.begin() + header, bytes.end());
                netlink.request(message);
            }
        }
    }
}

} // namespace qivro::engine::tun
