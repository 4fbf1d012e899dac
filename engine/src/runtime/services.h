// What inbounds, the control API and groups share while the engine runs.
#pragma once

#include "common/tracker.h"
#include "config/config.h"
#include "dns/dns.h"
#include "group/urltest.h"
#include "outbound/dialguard.h"
#include "outbound/outbound.h"
#include "route/dnsrouter.h"
#include "route/router.h"

#include <map>
#include <memory>
#include <string>

namespace qivro::engine {

struct Services
{
    Config config;
    Router router;
    Tracker tracker;
    DnsForwarder dns;
    DnsRouter dnsRouter; // hijacked queries, fake addresses
    DelayHistory history;
    DialGuard guard; // knows every listener once the engine has started
    std::map<std::string, std::shared_ptr<Outbound>> outbounds; // by tag
};

} // namespace qivro::engine
