#include "route/dnsrouter.h"

#include "common/log.h"
#include "dns/message.h"

#include <asio/post.hpp>

namespace qivro::engine {

void DnsRouter::init(const Config &config, const Router &router, const DnsForwarder &forwarder)
{
    m_router = &router;
    m_forwarder = &forwarder;
    if (config.fakeIpEnabled)
        m_pool.configure(config.fakeIpInet4Range, config.fakeIpInet6Range);
    else
        m_pool.configure(std::nullopt, std::nullopt);
    const auto findServer = [&config](const std::string &tag) -> const DnsServerConfig * {
        for (const DnsServerConfig &server : config.dnsServers) {
            if (server.tag == tag)
                return &server;
        }
        return nullptr;
    };
    m_rules = config.dnsRules;
    m_ruleServers.clear();
    for (const RuleConfig &rule : m_rules) {
        Server server;
        if (rule.action == "reject")
            server.kind = Server::Kind::Refuse;
        else if (rule.action == "predefined")
            server.kind = Server::Kind::Empty;
        else if (rule.action == "route-options")
            server.kind = Server::Kind::Next;
        else
            server = serverFor(findServer(rule.server));
        m_ruleServers.push_back(server);
    }
    const DnsServerConfig *final = !config.dnsFinal.empty() ? findServer(config.dnsFinal)
        : config.dnsServers.empty()                         ? nullptr
                                                            : &config.dnsServers.front();
    m_final = serverFor(final);
}

DnsRouter::Server DnsRouter::serverFor(const DnsServerConfig *config) const
{
    Server server;
    if (!config)
        return server;
    if (config->address == "fakeip") {
        server.kind = Server::Kind::Fake;
    } else if (config->address.rfind("rcode://", 0) == 0) {
        server.kind
            = config->address == "rcode://success" ? Server::Kind::Empty : Server::Kind::Refuse;
    } else if (auto endpoint = parseUdpDnsAddress(config->address)) {
        server.kind = Server::Kind::Udp;
        server.endpoint = endpoint;
    }
    return server;
}

DnsRouter::Server DnsRouter::choose(const std::string &name, std::uint16_t type) const
{
    Metadata metadata;
    metadata.network = "udp";
    metadata.protocol = "dns";
    metadata.destination.domain = name;
    metadata.queryType = type;
    static const std::map<std::string, std::shared_ptr<RuleSetSource>> noSets;
    const auto &sets = m_router ? m_router->ruleSets() : noSets;
    for (std::size_t i = 0; i < m_rules.size(); ++i) {
        if (m_ruleServers[i].kind != Server::Kind::Next && matchRule(m_rules[i], metadata, sets))
            return m_ruleServers[i];
    }
    return m_final;
}

void DnsRouter::exchange(const asio::any_io_executor &executor, const std::uint8_t *query,
    std::size_t size, DnsForwarder::Handler handler) const
{
    dns::Question question;
    if (!dns::parseQuery(query, size, question)) {
        m_forwarder->exchange(executor, query, size, std::move(handler));
        return;
    }
    const Server server = choose(question.name, question.type);
    const auto answer = [&](const std::vector<asio::ip::address> &addresses, std::uint8_t rcode) {
        asio::post(executor,
            [handler = std::move(handler),
                response = dns::buildAnswer(query, question, addresses, fakeTtl, rcode)] {
                handler(response);
            });
    };
    switch (server.kind) {
    case Server::Kind::Fake: {
        // Only addresses are faked; other types of a faked name get an empty answer.
        const bool v6 = question.type == dns::typeAaaa;
        std::vector<asio::ip::address> addresses;
        if ((question.type == dns::typeA || v6) && !question.name.empty()) {
            if (auto fake = m_pool.allocate(question.name, v6))
                addresses.push_back(*fake);
        }
        logDebug("dns: fakeip ", question.name, " => ",
            addresses.empty() ? std::string("(none)") : addresses.front().to_string());
        return answer(addresses, 0);
    }
    case Server::Kind::Refuse:
        return answer({}, 5);
    case Server::Kind::Empty:
        return answer({}, 0);
    case Server::Kind::Udp:
        return m_forwarder->exchange(executor, query, size, std::move(handler), server.endpoint);
    default:
        return m_forwarder->exchange(executor, query, size, std::move(handler));
    }
}

Destination DnsRouter::restore(const Destination &destination) const
{
    if (destination.isDomain())
        return destination;
    Destination restored = destination;
    restored.domain = m_pool.lookup(destination.ip);
    return restored;
}

} // namespace qivro::engine
