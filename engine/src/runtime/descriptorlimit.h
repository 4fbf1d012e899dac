// The process's descriptor limit: every connection costs descriptors, so it bounds how many
// connections the engine can hold.
#pragma once

#include <cstddef>

namespace qivro::engine {

// Raises the soft limit to the hard one (POSIX); returns the limit now in force.
std::size_t raiseDescriptorLimit();

// How many sessions one listener admits by default under the current limit: room for a client
// and an upstream descriptor each, with a reserve for everything else in the process.
std::size_t defaultSessionCap();

} // namespace qivro::engine
