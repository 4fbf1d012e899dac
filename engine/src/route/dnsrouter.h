// Hijacked DNS answered as dns.rules say: a query sent to the fakeip server gets an address from
// the pool, one sent to a plain UDP server is forwarded there, the rest goes to the forwarder's
// own server (the engine speaks no DNS over TLS or HTTPS).
#pragma once

#include "common/address.h"
#include "config/config.h"
#include "dns/dns.h"
#include "dns/fakeippool.h"
#include "route/router.h"

#include <asio/any_io_executor.hpp>
#include <optional>
#include <vector>

namespace qivro::engine {

class DnsRouter
{
public:
    // Fake answers live this long, so a client asks again soon after the engine restarts and
    // forgets them.
    static constexpr std::uint32_t fakeTtl = 1;

    void init(const Config &config, const Router &router, const DnsForwarder &forwarder);
    void exchange(const asio::any_io_executor &executor, const std::uint8_t *query,
        std::size_t size, DnsForwarder::Handler handler) const;
    // A destination the pool handed out, given back its domain (the address is kept); any other
    // destination unchanged.
    Destination restore(const Destination &destination) const;
    const FakeIpPool &pool() const { return m_pool; }

private:
    struct Server
    {
        enum class Kind
        {
            Fake,
            Udp,
            Forwarder,
            Refuse,
            Empty,
            Next
        };
        Kind kind = Kind::Forwarder;
        std::optional<asio::ip::udp::endpoint> endpoint;
    };
    Server serverFor(const DnsServerConfig *config) const;
    Server choose(const std::string &name, std::uint16_t type) const;

    const Router *m_router = nullptr;
    const DnsForwarder *m_forwarder = nullptr;
    mutable FakeIpPool m_pool;
    std::vector<RuleConfig> m_rules;
    std::vector<Server> m_ruleServers;
    Server m_final;
};

} // namespace qivro::engine
