// What inbounds, the control API and groups share while the engine runs.
#pragma once

#include "config.h"
#include "dns.h"
#include "outbound.h"
#include "router.h"
#include "tracker.h"
#include "urltest.h"

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
    DelayHistory history;
    std::map<std::string, std::shared_ptr<Outbound>> outbounds; // by tag
};

} // namespace qivro::engine
