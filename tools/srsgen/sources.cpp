#include "sources.h"

#include <algorithm>
#include <set>

namespace srsgen {

using qivro::ruleset::IpAddress;

namespace {

std::string_view trim(std::string_view text)
{
    const auto space = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
    while (!text.empty() && space(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && space(text.back()))
        text.remove_suffix(1);
    return text;
}

std::optional<IpAddress> parseGeoipAddress(std::string_view text)
{
    if (text.find(':') != std::string_view::npos)
        return IpAddress::parse(text);
    if (text.empty() || text.size() > 10)
        return std::nullopt;
    std::uint64_t value = 0;
    for (char c : text) {
        if (c < '0' || c > '9')
            return std::nullopt;
        value = value * 10 + std::uint64_t(c - '0');
    }
    if (value > 0xffffffffu)
        return std::nullopt;
    return IpAddress::v4(std::uint32_t(value));
}

bool decodeUtf8(std::string_view text, std::u32string &out)
{
    out.clear();
    for (std::size_t i = 0; i < text.size();) {
        const auto lead = std::uint8_t(text[i]);
        int extra;
        char32_t cp;
        if (lead < 0x80) {
            extra = 0;
            cp = lead;
        } else if ((lead & 0xe0) == 0xc0) {
            extra = 1;
            cp = lead & 0x1f;
        } else if ((lead & 0xf0) == 0xe0) {
            extra = 2;
            cp = lead & 0x0f;
        } else if ((lead & 0xf8) == 0xf0) {
            extra = 3;
            cp = lead & 0x07;
        } else {
            return false;
        }
        if (i + std::size_t(extra) >= text.size())
            return false;
        for (int k = 1; k <= extra; ++k) {
            const auto next = std::uint8_t(text[i + std::size_t(k)]);
            if ((next & 0xc0) != 0x80)
                return false;
            cp = cp << 6 | (next & 0x3f);
        }
        // Overlong forms, surrogates and values past U+10FFFF are not UTF-8.
        static constexpr char32_t minimum[] = {0, 0x80, 0x800, 0x10000};
        if (cp < minimum[extra] || cp > 0x10ffff || (cp >= 0xd800 && cp <= 0xdfff))
            return false;
        out += cp;
        i += std::size_t(extra) + 1;
    }
    return true;
}

} // namespace

std::optional<std::pair<IpRange, std::string>> parseGeoipLine(std::string_view line)
{
    const std::size_t first = line.find(',');
    const std::size_t second = first == std::string_view::npos ? first : line.find(',', first + 1);
    if (second == std::string_view::npos)
        return std::nullopt;
    const auto low = parseGeoipAddress(line.substr(0, first));
    const auto high = parseGeoipAddress(line.substr(first + 1, second - first - 1));
    const std::string_view country = line.substr(second + 1);
    if (!low || !high || country.size() != 2)
        return std::nullopt;
    const IpRange range {*low, *high};
    if (!range.isValid())
        return std::nullopt;
    return std::make_pair(range, std::string(country));
}

bool readTorGeoip(
    std::istream &in, std::map<std::string, std::vector<IpRange>> &byCountry, std::string &error)
{
    std::string line;
    for (int number = 1; std::getline(in, line); ++number) {
        const std::string_view text = trim(line);
        if (text.empty() || text[0] == '#')
            continue;
        auto entry = parseGeoipLine(text);
        if (!entry) {
            error
                = "line " + std::to_string(number) + ": cannot read \"" + std::string(text) + "\"";
            return false;
        }
        byCountry[entry->second].push_back(entry->first);
    }
    return true;
}

std::optional<std::string> punycode(const std::u32string &label)
{
    constexpr std::uint32_t base = 36, tmin = 1, tmax = 26, skew = 38, damp = 700;
    const auto digit = [](std::uint32_t d) { return char(d < 26 ? 'a' + d : '0' + (d - 26)); };
    const auto adapt = [&](std::uint32_t delta, std::uint32_t points, bool first) {
        delta = first ? delta / damp : delta / 2;
        delta += delta / points;
        std::uint32_t k = 0;
        while (delta > ((base - tmin) * tmax) / 2) {
            delta /= base - tmin;
            k += base;
        }
        return k + (base - tmin + 1) * delta / (delta + skew);
    };

    std::string out;
    for (char32_t c : label) {
        if (c < 0x80)
            out += char(c);
    }
    const std::uint32_t basic = std::uint32_t(out.size());
    if (basic > 0)
        out += '-';
    std::uint32_t n = 0x80, delta = 0, bias = 72, handled = basic;
    while (handled < label.size()) {
        std::uint32_t next = 0xffffffffu;
        for (char32_t c : label) {
            if (c >= n && c < next)
                next = c;
        }
        const std::uint64_t step = std::uint64_t(next - n) * (handled + 1);
        if (step > 0xffffffffu - delta)
            return std::nullopt;
        delta += std::uint32_t(step);
        n = next;
        for (char32_t c : label) {
            if (c < n && ++delta == 0)
                return std::nullopt;
            if (c != n)
                continue;
            std::uint32_t q = delta;
            for (std::uint32_t k = base;; k += base) {
                const std::uint32_t t = k <= bias ? tmin : k >= bias + tmax ? tmax : k - bias;
                if (q < t)
                    break;
                out += digit(t + (q - t) % (base - t));
                q = (q - t) / (base - t);
            }
            out += digit(q);
            bias = adapt(delta, handled + 1, handled == basic);
            delta = 0;
            ++handled;
        }
        ++delta;
        ++n;
    }
    return out;
}

std::optional<std::string> toAsciiDomain(std::string_view utf8)
{
    std::string out;
    std::size_t start = 0;
    while (start <= utf8.size()) {
        std::size_t end = utf8.find('.', start);
        if (end == std::string_view::npos)
            end = utf8.size();
        std::u32string label;
        if (end == start || !decodeUtf8(utf8.substr(start, end - start), label))
            return std::nullopt;
        for (auto &c : label) {
            if (c >= 'A' && c <= 'Z')
                c += 'a' - 'A';
        }
        if (!out.empty())
            out += '.';
        if (std::all_of(label.begin(), label.end(), [](char32_t c) { return c < 0x80; })) {
            out.append(label.begin(), label.end());
        } else {
            const auto encoded = punycode(label);
            if (!encoded)
                return std::nullopt;
            out += "xn--" + *encoded;
        }
        start = end + 1;
    }
    return out;
}

bool readPublicSuffixes(std::istream &in, const std::vector<std::string> &tlds,
    std::vector<std::string> &out, std::string &error)
{
    std::set<std::string> found;
    std::string line;
    for (int number = 1; std::getline(in, line); ++number) {
        std::string_view rule = trim(line);
        if (rule.empty() || rule.substr(0, 2) == "//")
            continue;
        // A rule is the line's first word.
        rule = rule.substr(0, rule.find_first_of(" \t"));
        if (rule.substr(0, 1) == "!")
            rule.remove_prefix(1);
        else if (rule.substr(0, 2) == "*.")
            rule.remove_prefix(2);
        const auto ascii = toAsciiDomain(rule);
        if (!ascii) {
            error
                = "line " + std::to_string(number) + ": cannot read \"" + std::string(rule) + "\"";
            return false;
        }
        const std::size_t dot = ascii->rfind('.');
        const std::string top = dot == std::string::npos ? *ascii : ascii->substr(dot + 1);
        if (std::find(tlds.begin(), tlds.end(), top) != tlds.end())
            found.insert(*ascii);
    }
    out.assign(found.begin(), found.end());
    return true;
}

bool readDomainList(std::istream &in, std::vector<std::string> &out, std::string &error)
{
    std::string line;
    for (int number = 1; std::getline(in, line); ++number) {
        const std::string_view text = trim(std::string_view(line).substr(0, line.find('#')));
        if (text.empty())
            continue;
        const auto ascii = toAsciiDomain(text);
        const bool valid = ascii && ascii->size() <= 253
            && std::all_of(ascii->begin(), ascii->end(), [](char c) {
                   return (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '.';
               });
        if (!valid) {
            error = "line " + std::to_string(number) + ": \"" + std::string(text)
                + "\" is not a domain name";
            return false;
        }
        out.push_back(*ascii);
    }
    return true;
}

} // namespace srsgen
