#pragma once

#include "ruleset/ipaddress.h"
#include "ruleset/ruleset.h"

#include <cstdint>
#include <deque>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

namespace qivro::ruleset {

// Exact names and suffixes in hash sets: a lookup costs one probe per label of the name.
class DomainSet
{
public:
    DomainSet() = default;
    DomainSet(const DomainSet &) = delete; // the sets point into m_storage
    DomainSet &operator=(const DomainSet &) = delete;
    DomainSet(DomainSet &&) = default;
    DomainSet &operator=(DomainSet &&) = default;

    void addDomain(std::string_view name);
    // "x" covers x and the names below it; ".x" only the names below it.
    void addSuffix(std::string_view suffix);
    bool empty() const { return m_exact.empty() && m_below.empty(); }
    bool matches(std::string_view name) const;

private:
    std::string_view store(std::string_view text);

    std::deque<std::string> m_storage; // owns the views in the sets
    std::unordered_set<std::string_view> m_exact;
    std::unordered_set<std::string_view> m_below; // "x": names ending in ".x"
};

// Sorted, merged ranges per family, searched by bisection.
class IpSet
{
public:
    void add(const std::vector<IpRange> &ranges);
    bool empty() const { return m_v4.empty() && m_v6.empty(); }
    bool contains(const IpAddress &address) const;
    std::size_t rangeCount() const { return m_v4.size() + m_v6.size(); }

private:
    struct V6
    {
        std::uint64_t high, low;
        friend bool operator<(const V6 &a, const V6 &b)
        {
            return a.high != b.high ? a.high < b.high : a.low < b.low;
        }
    };
    std::vector<std::pair<std::uint32_t, std::uint32_t>> m_v4;
    std::vector<std::pair<V6, V6>> m_v6;
};

// What is known about one connection or query. Empty views and absent values are unknown, and
// an item that needs an unknown value does not match.
struct MatchQuery
{
    std::string_view domain; // lower-case
    std::optional<IpAddress> destination;
    std::optional<IpAddress> source;
    std::optional<std::uint16_t> port;
    std::optional<std::uint16_t> sourcePort;
    std::string_view network; // "tcp" or "udp"
    std::optional<std::uint16_t> queryType;
    std::string_view processName;
    std::string_view processPath;
    std::string_view packageName;
    std::string_view wifiSsid;
    std::string_view wifiBssid;
};

// A rule set compiled for matching: it matches when any of its rules does. Plain destination
// rules (the built-in sets) are merged into one hash set and one range table. Regular expressions
// use std::regex (ECMAScript); one that fails on an input counts as not matching. Matching is
// const and safe from several threads.
class RuleSetMatcher
{
public:
    RuleSetMatcher();
    ~RuleSetMatcher();
    RuleSetMatcher(RuleSetMatcher &&) noexcept;
    RuleSetMatcher &operator=(RuleSetMatcher &&) noexcept;

    // Fails (with `error`) on items that cannot be compiled: a bad regular expression or port
    // range. Never throws.
    bool build(const RuleSet &set, std::string *error = nullptr) noexcept;

    bool match(const MatchQuery &query) const;
    bool matchDomain(std::string_view domain) const;
    bool matchIp(const IpAddress &address) const;

private:
    struct Compiled;
    std::vector<Compiled> m_rules;
};

} // namespace qivro::ruleset
