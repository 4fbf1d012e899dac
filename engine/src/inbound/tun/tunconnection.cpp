#include "inbound/tun/tunconnection.h"

#include "common/log.h"
#include "common/relay.h"
#include "route/sniff.h"

#include <asio/post.hpp>

namespace qivro::engine {

namespace {

constexpr std::size_t readChunk = 16 * 1024;

// The application's side: tells the stack when it is gone, so the NAT port can be reused.
class ClientStream : public TcpStream
{
public:
    ClientStream(asio::ip::tcp::socket socket, std::function<void()> onClosed)
        : TcpStream(std::move(socket))
        , m_onClosed(std::move(onClosed))
    { }
    ~ClientStream() override
    {
        if (m_onClosed)
            m_onClosed();
    }

private:
    std::function<void()> m_onClosed;
};

std::string inboundName(const InboundConfig &config)
{
    return "inbound/" + config.type + "[" + config.tag + "]";
}

} // namespace

TunConnection::TunConnection(const InboundConfig &config, Services &services,
    asio::ip::tcp::socket socket, Destination source, Destination destination,
    std::function<void()> onClosed)
    : m_config(config)
    , m_services(services)
    , m_executor(socket.get_executor())
    , m_client(std::make_shared<ClientStream>(std::move(socket), std::move(onClosed)))
    , m_timer(m_executor)
    , m_source(std::move(source))
    , m_destination(std::move(destination))
{
    std::error_code ignored;
    m_client->socket().set_option(asio::ip::tcp::no_delay(true), ignored);
}

void TunConnection::start()
{
    logInfo(inboundName(m_config), ": inbound connection from ", m_source.toString());
    if (!m_config.sniff)
        return route();
    // The application has its connection already; it may wait for the server to speak first,
    // so sniffing gives up after a while.
    m_sniffing = true;
    auto self = shared_from_this();
    m_timer.expires_after(std::chrono::milliseconds(m_config.sniffTimeoutMs));
    m_timer.async_wait([self](const std::error_code &error) {
        if (error || !self->m_sniffing)
            return;
        self->m_sniffing = false;
        std::error_code ignored;
        self->m_client->socket().cancel(ignored);
        self->route();
    });
    sniffRead();
}

void TunConnection::readMore(void (*next)(TunConnection &))
{
    const std::size_t used = m_buffer.size();
    m_buffer.resize(used + readChunk);
    auto self = shared_from_this();
    m_client->asyncReadSome(asio::buffer(m_buffer.data() + used, readChunk),
        [self, used, next](const std::error_code &error, std::size_t size) {
            self->m_buffer.resize(used + size);
            if (error == asio::error::eof && self->m_sniffing) {
                // Sent and closed before sniffing decided: routed with what there is, and the
                // relay passes the close on.
                self->m_sniffing = false;
                self->m_timer.cancel();
                return self->route();
            }
            if (error && error != asio::error::operation_aborted) {
                self->m_sniffing = false;
                self->m_timer.cancel();
                return self->m_client->close();
            }
            next(*self);
        });
}

void TunConnection::sniffRead()
{
    readMore([](TunConnection &self) {
        if (!self.m_sniffing)
            return; // timed out: route() already runs
        if (!sniff::classifyStream(
                self.m_buffer.data(), self.m_buffer.size(), self.m_sniffed, self.m_protocol))
            return self.sniffRead();
        self.m_sniffing = false;
        self.m_timer.cancel();
        self.route();
    });
}

void TunConnection::route()
{
    Metadata metadata;
    metadata.inbound = m_config.tag;
    metadata.network = "tcp";
    metadata.destination = m_destination;
    metadata.source = m_source;
    metadata.sniffedDomain = m_sniffed;
    metadata.protocol = m_protocol;
    const RouteDecision decision = m_services.router.route(metadata);
    if (decision.action == RouteDecision::Action::Reject) {
        logInfo(inboundName(m_config), ": ", m_destination.toString(), ": rejected by rule");
        return reset();
    }
    if (decision.action == RouteDecision::Action::HijackDns)
        return serveDns();

    auto info = Tracker::create();
    info->network = "tcp";
    info->inboundType = m_config.type + "/" + m_config.tag;
    info->sourceIp = m_source.hostText();
    info->sourcePort = std::to_string(m_source.port);
    info->destinationIp = m_destination.ip.is_unspecified() ? "" : m_destination.ip.to_string();
    info->destinationPort = std::to_string(m_destination.port);
    info->host = !m_sniffed.empty() ? m_sniffed : m_destination.domain;
    info->rule = decision.rule;
    info->rulePayload = decision.payload;
    std::vector<std::string> chain;
    decision.outbound->chain(chain);
    info->chains.assign(chain.rbegin(), chain.rend());
    m_services.tracker.add(info);
    logInfo(inboundName(m_config), ": inbound connection to ", m_destination.toString());

    auto self = shared_from_this();
    decision.outbound->dialTcp(m_executor, m_destination,
        [self, info](const std::string &error, std::shared_ptr<Stream> stream) {
            if (!error.empty()) {
                logError(inboundName(self->m_config), ": ", self->m_source.toString(),
                    ": open outbound connection: ", error);
                self->m_services.tracker.close(info->id);
                return self->reset();
            }
            auto relay = std::make_shared<Relay>(
                self->m_client, std::move(stream), info, self->m_services.tracker);
            relay->start(self->m_executor, std::move(self->m_buffer));
        });
}

// Length-prefixed queries, each answered in turn, until the application closes.
void TunConnection::serveDns()
{
    if (m_buffer.size() < 2
        || m_buffer.size() < 2 + ((static_cast<std::size_t>(m_buffer[0]) << 8) | m_buffer[1]))
        return readMore([](TunConnection &self) { self.serveDns(); });
    const std::size_t length = (static_cast<std::size_t>(m_buffer[0]) << 8) | m_buffer[1];
    std::vector<std::uint8_t> query(
        m_buffer.begin() + 2, m_buffer.begin() + 2 + static_cast<std::ptrdiff_t>(length));
    m_buffer.erase(m_buffer.begin(), m_buffer.begin() + 2 + static_cast<std::ptrdiff_t>(length));
    auto self = shared_from_this();
    m_services.dnsRouter.exchange(
        m_executor, query.data(), query.size(), [self](const std::vector<std::uint8_t> &response) {
            if (response.empty())
                return self->m_client->close();
            auto framed = std::make_shared<std::vector<std::uint8_t>>();
            framed->push_back(static_cast<std::uint8_t>(response.size() >> 8));
            framed->push_back(static_cast<std::uint8_t>(response.size() & 0xFF));
            framed->insert(framed->end(), response.begin(), response.end());
            self->m_client->asyncWrite(
                asio::buffer(*framed), [self, framed](const std::error_code &error, std::size_t) {
                    if (error)
                        return self->m_client->close();
                    self->serveDns();
                });
        });
}

// The application's connection is established already; a reset is how it learns that the
// destination could not be reached.
void TunConnection::reset()
{
    m_timer.cancel();
    m_client->abort();
}

} // namespace qivro::engine
