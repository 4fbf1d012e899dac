#include "dns/dns.h"

#include "common/address.h"
#include "common/log.h"
#include "dns/message.h"
#include "outbound/dialer.h"

#include <algorithm>
#include <asio/steady_timer.hpp>
#include <atomic>
#include <memory>
#include <sstream>

namespace qivro::engine {

std::optional<asio::ip::udp::endpoint> parseUdpDnsAddress(const std::string &address)
{
    std::string text = address;
    if (text.rfind("udp://", 0) == 0)
        text = text.substr(6);
    else if (text.find("://") != std::string::npos)
        return std::nullopt;
    std::string host;
    std::uint16_t port = 53;
    if (!splitHostPort(text, host, port)) {
        host = text;
        port = 53;
    }
    if (host.size() >= 2 && host.front() == '[' && host.back() == ']')
        host = host.substr(1, host.size() - 2);
    std::error_code error;
    const asio::ip::address ip = asio::ip::make_address(host, error);
    if (error)
        return std::nullopt;
    return asio::ip::udp::endpoint(ip, port);
}

void DnsForwarder::init(const Config &config)
{
    std::string preferred;
    for (const RuleConfig &rule : config.dnsRules) {
        if (std::find(rule.outboundMatch.begin(), rule.outboundMatch.end(), "any")
            != rule.outboundMatch.end()) {
            preferred = rule.server;
            break;
        }
    }
    for (const DnsServerConfig &server : config.dnsServers) {
        if (server.tag == preferred) {
            m_server = parseUdpDnsAddress(server.address);
            if (m_server)
                return;
        }
    }
    for (const DnsServerConfig &server : config.dnsServers) {
        const OutboundConfig *detour = config.findOutbound(server.detour);
        if (!server.detour.empty() && (!detour || detour->type != "direct"))
            continue;
        m_server = parseUdpDnsAddress(server.address);
        if (m_server)
            return;
    }
}

std::string DnsForwarder::serverText() const
{
    if (!m_server)
        return "none";
    std::ostringstream out;
    out << *m_server;
    return out.str();
}

namespace {

struct Exchange
{
    Exchange(const asio::any_io_executor &executor)
        : socket(executor)
        , timer(executor)
    { }
    asio::ip::udp::socket socket;
    asio::steady_timer timer;
    std::vector<std::uint8_t> buffer;
    std::uint16_t id = 0;
    DnsForwarder::Handler handler;
    bool done = false;

    void finish(const std::vector<std::uint8_t> &response)
    {
        if (done)
            return;
        done = true;
        timer.cancel();
        std::error_code ignored;
        socket.close(ignored);
        handler(response);
    }

    void receive(const std::shared_ptr<Exchange> &self)
    {
        socket.async_receive(
            asio::buffer(buffer), [self](const std::error_code &error, std::size_t size) {
                if (error) {
                    self->finish({});
                    return;
                }
                // Ignore strays that do not answer this query.
                if (size < 12 || ((self->buffer[0] << 8) | self->buffer[1]) != self->id) {
                    self->receive(self);
                    return;
                }
                self->finish(
                    std::vector<std::uint8_t>(self->buffer.begin(), self->buffer.begin() + size));
            });
    }
};

} // namespace

void DnsForwarder::exchange(const asio::any_io_executor &executor, const std::uint8_t *query,
    std::size_t size, Handler handler, const std::optional<asio::ip::udp::endpoint> &server) const
{
    auto exchange = std::make_shared<Exchange>(executor);
    exchange->handler = std::move(handler);
    const std::optional<asio::ip::udp::endpoint> &target = server ? server : m_server;
    if (!target || size < 12) {
        exchange->finish({});
        return;
    }
    exchange->id = static_cast<std::uint16_t>((query[0] << 8) | query[1]);
    std::error_code error = openUdpSocket(exchange->socket, target->protocol());
    if (!error)
        exchange->socket.connect(*target, error);
    if (!error)
        exchange->socket.send(asio::buffer(query, size), 0, error);
    if (error) {
        std::ostringstream where;
        where << *target;
        logError("dns: exchange with ", where.str(), ": ", error.message());
        exchange->finish({});
        return;
    }
    exchange->buffer.resize(65536);
    exchange->timer.expires_after(std::chrono::seconds(10));
    exchange->timer.async_wait([exchange](const std::error_code &timerError) {
        if (!timerError)
            exchange->finish({});
    });
    exchange->receive(exchange);
}

} // namespace qivro::engine

namespace qivro::engine {

namespace {

struct Lookup
{
    std::string host;
    DnsForwarder::LookupHandler handler;
    std::vector<asio::ip::address> v4;
    std::vector<asio::ip::address> v6;
    std::string error;
    int pending = 2;
};

} // namespace

void DnsForwarder::lookup(
    const asio::any_io_executor &executor, const std::string &host, LookupHandler handler) const
{
    auto state = std::make_shared<Lookup>();
    state->host = host;
    state->handler = std::move(handler);
    if (!m_server) {
        state->handler("lookup " + host + ": no DNS server", {});
        return;
    }
    static std::atomic<std::uint16_t> nextId {0x5100};
    for (const std::uint16_t type : {dns::typeA, dns::typeAaaa}) {
        const std::vector<std::uint8_t> query = dns::buildQuery(nextId++, host, type);
        exchange(executor, query.data(), query.size(),
            [state, type](const std::vector<std::uint8_t> &response) {
                dns::Reply reply;
                if (response.empty())
                    state->error = "i/o timeout";
                else if (!dns::parseReply(response.data(), response.size(), reply))
                    state->error = "malformed reply";
                else if (reply.rcode == dns::rcodeNameError)
                    state->error = "no such host";
                for (const asio::ip::address &address : reply.addresses) {
                    if (address.is_v4() == (type == dns::typeA))
                        (address.is_v4() ? state->v4 : state->v6).push_back(address);
                }
                if (--state->pending > 0)
                    return;
                std::vector<asio::ip::address> all = std::move(state->v4);
                all.insert(all.end(), state->v6.begin(), state->v6.end());
                if (all.empty())
                    return state->handler("lookup " + state->host + ": "
                            + (state->error.empty() ? "no such host" : state->error),
                        {});
                state->handler({}, std::move(all));
            });
    }
}

} // namespace qivro::engine
