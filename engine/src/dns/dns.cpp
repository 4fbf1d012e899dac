#include "dns/dns.h"

#include "common/address.h"
#include "common/log.h"
#include "outbound/dialer.h"

#include <algorithm>
#include <asio/steady_timer.hpp>
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
    std::size_t size, Handler handler) const
{
    auto exchange = std::make_shared<Exchange>(executor);
    exchange->handler = std::move(handler);
    if (!m_server || size < 12) {
        exchange->finish({});
        return;
    }
    exchange->id = static_cast<std::uint16_t>((query[0] << 8) | query[1]);
    std::error_code error = openUdpSocket(exchange->socket, m_server->protocol());
    if (!error)
        exchange->socket.connect(*m_server, error);
    if (!error)
        exchange->socket.send(asio::buffer(query, size), 0, error);
    if (error) {
        logError("dns: exchange with ", serverText(), ": ", error.message());
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
