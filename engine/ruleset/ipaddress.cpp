#include "ruleset/ipaddress.h"

#include <algorithm>
#include <cstdio>

namespace qivro::ruleset {

namespace {

int hexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

bool parseV4(std::string_view text, std::uint8_t *out)
{
    int part = 0;
    std::size_t i = 0;
    while (part < 4) {
        const std::size_t begin = i;
        unsigned value = 0;
        while (i < text.size() && text[i] >= '0' && text[i] <= '9' && i - begin < 3) {
            value = value * 10 + unsigned(text[i] - '0');
            ++i;
        }
        const std::size_t digits = i - begin;
        // Leading zeros are refused: some parsers read them as octal.
        if (digits == 0 || value > 255 || (digits > 1 && text[begin] == '0'))
            return false;
        out[part++] = std::uint8_t(value);
        if (part < 4) {
            if (i >= text.size() || text[i] != '.')
                return false;
            ++i;
        }
    }
    return i == text.size();
}

bool parseV6(std::string_view text, std::uint8_t *out)
{
    std::array<std::uint16_t, 8> groups {};
    int count = 0;
    int gap = -1; // index of the group where "::" stands
    std::size_t i = 0;
    if (text.substr(0, 2) == "::") {
        gap = 0;
        i = 2;
        if (i == text.size()) {
            std::fill(out, out + 16, 0);
            return true;
        }
    } else if (!text.empty() && text[0] == ':') {
        return false;
    }
    while (i < text.size()) {
        if (count == 8)
            return false;
        const std::size_t end = text.find(':', i);
        const std::string_view piece
            = text.substr(i, end == std::string_view::npos ? end : end - i);
        if (piece.find('.') != std::string_view::npos) {
            // A dotted IPv4 tail fills the last two groups and must end the text.
            std::uint8_t v4[4];
            if (end != std::string_view::npos || count > 6 || !parseV4(piece, v4))
                return false;
            groups[count++] = std::uint16_t(v4[0] << 8 | v4[1]);
            groups[count++] = std::uint16_t(v4[2] << 8 | v4[3]);
            i = text.size();
            break;
        }
        if (piece.empty() || piece.size() > 4)
            return false;
        unsigned value = 0;
        for (char c : piece) {
            const int h = hexValue(c);
            if (h < 0)
                return false;
            value = value << 4 | unsigned(h);
        }
        groups[count++] = std::uint16_t(value);
        if (end == std::string_view::npos) {
            i = text.size();
            break;
        }
        i = end + 1;
        if (i < text.size() && text[i] == ':') {
            if (gap >= 0)
                return false;
            gap = count;
            ++i;
        } else if (i == text.size()) {
            return false; // trailing single colon
        }
    }
    if (gap < 0 && count != 8)
        return false;
    if (gap >= 0 && count > 7)
        return false;
    std::array<std::uint16_t, 8> full {};
    if (gap < 0) {
        full = groups;
    } else {
        const int tail = count - gap;
        std::copy(groups.begin(), groups.begin() + gap, full.begin());
        std::copy(groups.begin() + gap, groups.begin() + count, full.end() - tail);
    }
    for (int g = 0; g < 8; ++g) {
        out[2 * g] = std::uint8_t(full[g] >> 8);
        out[2 * g + 1] = std::uint8_t(full[g]);
    }
    return true;
}

// Adds one to the address; false when it wraps past the family's last address.
bool increment(IpAddress &a)
{
    for (int i = a.size - 1; i >= 0; --i) {
        if (++a.bytes[i] != 0)
            return true;
    }
    return false;
}

} // namespace

IpAddress IpAddress::v4(std::uint32_t hostOrder)
{
    IpAddress a;
    a.size = 4;
    a.bytes[0] = std::uint8_t(hostOrder >> 24);
    a.bytes[1] = std::uint8_t(hostOrder >> 16);
    a.bytes[2] = std::uint8_t(hostOrder >> 8);
    a.bytes[3] = std::uint8_t(hostOrder);
    return a;
}

std::optional<IpAddress> IpAddress::parse(std::string_view text)
{
    IpAddress a;
    if (text.find(':') != std::string_view::npos) {
        a.size = 16;
        if (!parseV6(text, a.bytes.data()))
            return std::nullopt;
    } else {
        a.size = 4;
        if (!parseV4(text, a.bytes.data()))
            return std::nullopt;
    }
    return a;
}

std::string IpAddress::toString() const
{
    char buffer[48];
    if (size == 4) {
        std::snprintf(buffer, sizeof buffer, "%u.%u.%u.%u", bytes[0], bytes[1], bytes[2], bytes[3]);
        return buffer;
    }
    std::array<unsigned, 8> groups {};
    for (int g = 0; g < 8; ++g)
        groups[g] = unsigned(bytes[2 * g]) << 8 | bytes[2 * g + 1];
    // RFC 5952: the first longest run of two or more zero groups becomes "::".
    int bestStart = -1, bestLength = 1;
    for (int g = 0; g < 8;) {
        int end = g;
        while (end < 8 && groups[end] == 0)
            ++end;
        if (end - g > bestLength) {
            bestStart = g;
            bestLength = end - g;
        }
        g = end == g ? g + 1 : end;
    }
    std::string text;
    for (int g = 0; g < 8; ++g) {
        if (g == bestStart) {
            text += "::";
            g += bestLength - 1;
            continue;
        }
        if (!text.empty() && text.back() != ':')
            text += ':';
        std::snprintf(buffer, sizeof buffer, "%x", groups[g]);
        text += buffer;
    }
    return text;
}

std::optional<IpAddress> IpAddress::unmapped() const
{
    static constexpr std::array<std::uint8_t, 12> prefix
        = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xff, 0xff};
    if (size != 16 || !std::equal(prefix.begin(), prefix.end(), bytes.begin()))
        return std::nullopt;
    IpAddress a;
    a.size = 4;
    std::copy(bytes.begin() + 12, bytes.begin() + 16, a.bytes.begin());
    return a;
}

std::optional<IpRange> IpRange::parseCidr(std::string_view text)
{
    const std::size_t slash = text.find('/');
    const auto address = IpAddress::parse(text.substr(0, slash));
    if (!address)
        return std::nullopt;
    const int bits = address->size * 8;
    int prefix = bits;
    if (slash != std::string_view::npos) {
        const std::string_view digits = text.substr(slash + 1);
        if (digits.empty() || digits.size() > 3 || (digits.size() > 1 && digits[0] == '0'))
            return std::nullopt;
        prefix = 0;
        for (char c : digits) {
            if (c < '0' || c > '9')
                return std::nullopt;
            prefix = prefix * 10 + (c - '0');
        }
        if (prefix > bits)
            return std::nullopt;
    }
    IpRange range {*address, *address};
    for (int bit = prefix; bit < bits; ++bit) {
        const auto mask = std::uint8_t(0x80 >> (bit % 8));
        range.first.bytes[bit / 8] &= std::uint8_t(~mask);
        range.last.bytes[bit / 8] |= mask;
    }
    return range;
}

void normalizeRanges(std::vector<IpRange> &ranges)
{
    ranges.erase(
        std::remove_if(ranges.begin(), ranges.end(), [](const IpRange &r) { return !r.isValid(); }),
        ranges.end());
    std::sort(ranges.begin(), ranges.end(), [](const IpRange &a, const IpRange &b) {
        return a.first < b.first || (a.first == b.first && a.last < b.last);
    });
    std::size_t out = 0;
    for (std::size_t i = 0; i < ranges.size(); ++i) {
        if (out > 0) {
            IpRange &previous = ranges[out - 1];
            IpAddress next = previous.last;
            const bool previousEndsFamily = !increment(next);
            if (previous.first.size == ranges[i].first.size
                && (previousEndsFamily || !(next < ranges[i].first))) {
                if (previous.last < ranges[i].last)
                    previous.last = ranges[i].last;
                continue;
            }
        }
        ranges[out++] = ranges[i];
    }
    ranges.resize(out);
}

} // namespace qivro::ruleset
