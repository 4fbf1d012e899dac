#include "runtime/descriptorlimit.h"

#include <algorithm>

#if !defined(_WIN32)
#include <sys/resource.h>
#endif

namespace qivro::engine {

namespace {

// Windows has no per-process descriptor limit to speak of; this many sessions is plenty for a
// desktop and bounds memory.
constexpr std::size_t sessionCapCeiling = 16384;
constexpr std::size_t sessionCapFloor = 16;

std::size_t currentLimit()
{
#if defined(_WIN32)
    return 2 * sessionCapCeiling + 1024;
#else
    rlimit limit {};
    if (getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY)
        return 2 * sessionCapCeiling + 1024;
    return static_cast<std::size_t>(limit.rlim_cur);
#endif
}

} // namespace

std::size_t raiseDescriptorLimit()
{
#if !defined(_WIN32)
    rlimit limit {};
    if (getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur < limit.rlim_max) {
        limit.rlim_cur = limit.rlim_max;
        setrlimit(RLIMIT_NOFILE, &limit);
    }
#endif
    return currentLimit();
}

std::size_t defaultSessionCap()
{
    const std::size_t limit = currentLimit();
    const std::size_t reserve = std::min<std::size_t>(256, limit / 4);
    return std::clamp((limit - reserve) / 2, sessionCapFloor, sessionCapCeiling);
}

} // namespace qivro::engine
