// URL tests: an HTTP HEAD through an outbound, timed; and the per-node history the control API
// shows.
#pragma once

#include "outbound/outbound.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>

namespace qivro::engine {

struct DelayRecord
{
    std::chrono::system_clock::time_point time;
    std::uint16_t delay = 0;
};

class DelayHistory
{
public:
    void store(const std::string &tag, std::uint16_t delay);
    void erase(const std::string &tag);
    std::optional<DelayRecord> load(const std::string &tag) const;

private:
    mutable std::mutex m_mutex;
    std::map<std::string, DelayRecord> m_records;
};

// The URL every test uses: QIVRO_ENGINE_TEST_URL when set (tests must stay on loopback), else
// the configured one, else the public default.
std::string effectiveTestUrl(const std::string &configured);

using UrlTestHandler = std::function<void(const std::string &error, std::uint16_t delayMs)>;
// Dials url's host through outbound, sends HEAD (https gets TLS) and completes at the response
// head; any status counts and redirects are not followed. error is "timeout" when timeoutMs ran
// out.
void urlTest(const asio::any_io_executor &executor, Outbound &outbound, const std::string &url,
    int timeoutMs, UrlTestHandler handler);

} // namespace qivro::engine
