// What routing knows about one connection or packet.
#pragma once

#include "common/address.h"

#include <cstdint>
#include <optional>
#include <string>

namespace qivro::engine {

struct Metadata
{
    std::string inbound;
    std::string network; // tcp, udp
    Destination destination;
    // The client's address and port, where there is a client (not for the engine's own lookups).
    std::optional<Destination> source;
    std::string clashMode; // filled in by the router
    std::string sniffedDomain;
    std::string protocol; // tls, http, dns, or empty
    std::uint16_t queryType = 0; // DNS rules
    bool fromOutbound = false; // DNS rules: the engine's own lookups

    // Domain items match the sniffed name if any, else the destination's name.
    const std::string &domain() const
    {
        return sniffedDomain.empty() ? destination.domain : sniffedDomain;
    }
};

} // namespace qivro::engine
