#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace qivro::ruleset {

// An IPv4 (size 4) or IPv6 (size 16) address in network byte order. IPv4-mapped IPv6 addresses
// stay IPv6: callers that want them matched as IPv4 unmap them first.
struct IpAddress
{
    std::uint8_t size = 4;
    std::array<std::uint8_t, 16> bytes {};

    static IpAddress v4(std::uint32_t hostOrder);
    // Dotted quad or RFC 4291 text (with "::" and a dotted tail); no zone, no brackets.
    static std::optional<IpAddress> parse(std::string_view text);

    bool isV4() const { return size == 4; }
    std::string toString() const;
    std::optional<IpAddress> unmapped() const;

    friend bool operator==(const IpAddress &a, const IpAddress &b)
    {
        return a.size == b.size && a.bytes == b.bytes;
    }
    friend bool operator!=(const IpAddress &a, const IpAddress &b) { return !(a == b); }
    // IPv4 sorts before IPv6, then by address.
    friend bool operator<(const IpAddress &a, const IpAddress &b)
    {
        return a.size != b.size ? a.size < b.size : a.bytes < b.bytes;
    }
};

// Inclusive range of one family.
struct IpRange
{
    IpAddress first;
    IpAddress last;

    bool isValid() const
    {
        return (first.size == 4 || first.size == 16) && first.size == last.size && !(last < first);
    }
    // "a.b.c.d/n", "x::/n" or a bare address; host bits are cleared.
    static std::optional<IpRange> parseCidr(std::string_view text);

    friend bool operator==(const IpRange &a, const IpRange &b)
    {
        return a.first == b.first && a.last == b.last;
    }
    friend bool operator!=(const IpRange &a, const IpRange &b) { return !(a == b); }
};

// Sorts valid ranges (IPv4 first) and merges overlapping and adjacent ones, the form in which
// rule-set files store them. Invalid ranges are dropped.
void normalizeRanges(std::vector<IpRange> &ranges);

} // namespace qivro::ruleset
