#include "common/log.h"

#include <chrono>
#include <cstdio>
#include <ctime>
#include <vector>

namespace qivro::engine {

namespace {

const char *upperName(LogLevel level)
{
    switch (level) {
    case LogLevel::Trace:
        return "TRACE";
    case LogLevel::Debug:
        return "DEBUG";
    case LogLevel::Info:
        return "INFO";
    case LogLevel::Warn:
        return "WARN";
    case LogLevel::Error:
        return "ERROR";
    case LogLevel::Fatal:
        return "FATAL";
    case LogLevel::Panic:
        return "PANIC";
    }
    return "INFO";
}

std::string timestampText()
{
    const std::time_t now = std::chrono::system_clock::to_time_t(std::chrono::system_clock::now());
    std::tm local {};
#if defined(_WIN32)
    localtime_s(&local, &now);
#else
    localtime_r(&now, &local);
#endif
    char buffer[64];
    std::strftime(buffer, sizeof buffer, "%z %Y-%m-%d %H:%M:%S", &local);
    return buffer;
}

} // namespace

bool parseLogLevel(const std::string &name, LogLevel &level)
{
    static const std::pair<const char *, LogLevel> names[] = {
        {"trace", LogLevel::Trace},
        {"debug", LogLevel::Debug},
        {"info", LogLevel::Info},
        {"warn", LogLevel::Warn},
        {"error", LogLevel::Error},
        {"fatal", LogLevel::Fatal},
        {"panic", LogLevel::Panic},
    };
    for (const auto &[text, value] : names) {
        if (name == text) {
            level = value;
            return true;
        }
    }
    return false;
}

std::string clashLevelName(LogLevel level)
{
    switch (level) {
    case LogLevel::Trace:
    case LogLevel::Debug:
        return "debug";
    case LogLevel::Info:
        return "info";
    case LogLevel::Warn:
        return "warning";
    default:
        return "error";
    }
}

Logger &Logger::instance()
{
    static Logger logger;
    return logger;
}

void Logger::configure(bool disabled, LogLevel level, bool timestamp)
{
    std::lock_guard lock(m_mutex);
    m_disabled = disabled;
    m_level = level;
    m_timestamp = timestamp;
}

bool Logger::enabled(LogLevel level) const
{
    std::lock_guard lock(m_mutex);
    return (!m_disabled && level >= m_level)
        || (!m_subscribers.empty() && level >= LogLevel::Debug);
}

void Logger::write(LogLevel level, const std::string &text)
{
    std::vector<Subscriber> subscribers;
    bool toStderr = false;
    bool timestamp = false;
    {
        std::lock_guard lock(m_mutex);
        toStderr = !m_disabled && level >= m_level;
        timestamp = m_timestamp;
        subscribers.reserve(m_subscribers.size());
        for (const auto &entry : m_subscribers)
            subscribers.push_back(entry.second);
    }
    if (toStderr) {
        std::string line;
        if (timestamp)
            line = timestampText() + " ";
        line += upperName(level);
        line += ' ';
        line += text;
        line += '\n';
        std::fwrite(line.data(), 1, line.size(), stderr);
    }
    if (level >= LogLevel::Debug) {
        for (const auto &subscriber : subscribers)
            subscriber(level, text);
    }
}

std::uint64_t Logger::subscribe(Subscriber subscriber)
{
    std::lock_guard lock(m_mutex);
    const std::uint64_t id = m_nextId++;
    m_subscribers.emplace(id, std::move(subscriber));
    return id;
}

void Logger::unsubscribe(std::uint64_t id)
{
    std::lock_guard lock(m_mutex);
    m_subscribers.erase(id);
}

} // namespace qivro::engine
