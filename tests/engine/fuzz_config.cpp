// The configuration parser and validator on arbitrary text; what it accepts must also route.
#include "config/config.h"
#include "fuzzcheck.h"
#include "outboundfactory.h"
#include "route/router.h"

#include <string>

using namespace qivro::engine;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    Logger::instance().configure(true, LogLevel::Panic, false);
    Config config;
    std::string error;
    if (!parseConfig(std::string(reinterpret_cast<const char *>(data), size), config, error)) {
        require(!error.empty());
        return 0;
    }
    // Files named by local rule sets are not the fuzzer's business (it could name /dev/zero).
    for (const RuleSetConfig &set : config.ruleSets) {
        if (set.type != "inline")
            return 0;
    }
    std::map<std::string, std::shared_ptr<Outbound>> outbounds;
    for (const OutboundConfig &outbound : config.outbounds) {
        outbounds[outbound.tag] = createOutbound(outbound);
        // validation let through a type nothing can build
        require(outbounds[outbound.tag] != nullptr);
    }
    Router router;
    if (!router.init(config, outbounds, error))
        return 0;
    for (const char *host : {"127.0.0.1", "example.cn", "8.8.8.8", "::1", "a.b.test"}) {
        Metadata metadata;
        metadata.inbound = "mixed-in";
        metadata.network = "tcp";
        metadata.destination = makeDestination(host, 443);
        const RouteDecision decision = router.route(metadata);
        require(decision.action != RouteDecision::Action::Route || decision.outbound);
    }
    return 0;
}
