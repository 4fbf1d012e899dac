// Builds the outbound object for each configured type, protocols and groups alike.
#pragma once

#include "config/config.h"
#include "outbound/outbound.h"

#include <memory>

namespace qivro::engine {

// nullptr for a type the configuration parser would have refused.
std::shared_ptr<Outbound> createOutbound(const OutboundConfig &config);

} // namespace qivro::engine
