// Engine log: level filter, optional timestamp, standard error and the control API's /logs stream.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <sstream>
#include <string>

namespace qivro::engine {

enum class LogLevel
{
    Trace,
    Debug,
    Info,
    Warn,
    Error,
    Fatal,
    Panic
};

// Parses a configuration level name ("trace" ... "panic"); false for anything else.
bool parseLogLevel(const std::string &name, LogLevel &level);
// The control API's names: "debug", "info", "warning", "error" (trace folds into debug).
std::string clashLevelName(LogLevel level);

class Logger
{
public:
    using Subscriber = std::function<void(LogLevel, const std::string &)>;

    static Logger &instance();

    void configure(bool disabled, LogLevel level, bool timestamp);
    bool enabled(LogLevel level) const;
    void write(LogLevel level, const std::string &text);

    // Subscribers see every line at Debug and above whatever the configured level; each filters.
    std::uint64_t subscribe(Subscriber subscriber);
    void unsubscribe(std::uint64_t id);

private:
    mutable std::mutex m_mutex;
    bool m_disabled = false;
    LogLevel m_level = LogLevel::Info;
    bool m_timestamp = true;
    std::uint64_t m_nextId = 1;
    std::map<std::uint64_t, Subscriber> m_subscribers;
};

namespace detail {
inline void append(std::ostringstream &)
{ }
template <typename T, typename... Rest>
void append(std::ostringstream &out, const T &value, const Rest &...rest)
{
    out << value;
    append(out, rest...);
}
} // namespace detail

template <typename... Args>
void log(LogLevel level, const Args &...args)
{
    Logger &logger = Logger::instance();
    if (!logger.enabled(level))
        return;
    std::ostringstream out;
    detail::append(out, args...);
    logger.write(level, out.str());
}

template <typename... Args>
void logDebug(const Args &...args)
{
    log(LogLevel::Debug, args...);
}
template <typename... Args>
void logInfo(const Args &...args)
{
    log(LogLevel::Info, args...);
}
template <typename... Args>
void logWarn(const Args &...args)
{
    log(LogLevel::Warn, args...);
}
template <typename... Args>
void logError(const Args &...args)
{
    log(LogLevel::Error, args...);
}

} // namespace qivro::engine
