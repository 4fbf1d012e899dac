#include "common/address.h"

#include <algorithm>
#include <cctype>
#include <tuple>

namespace qivro::engine {

std::string toLower(std::string text)
{
    std::transform(text.begin(), text.end(), text.begin(),
        [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

std::string Destination::hostText() const
{
    if (isDomain())
        return domain;
    return ip.to_string();
}

std::string Destination::toString() const
{
    const std::string host = hostText();
    if (!isDomain() && ip.is_v6())
        return "[" + host + "]:" + std::to_string(port);
    return host + ":" + std::to_string(port);
}

bool Destination::operator<(const Destination &other) const
{
    return std::tie(domain, ip, port) < std::tie(other.domain, other.ip, other.port);
}

bool Destination::operator==(const Destination &other) const
{
    return domain == other.domain && ip == other.ip && port == other.port;
}

Destination makeDestination(const std::string &host, std::uint16_t port)
{
    Destination destination;
    destination.port = port;
    // Brackets belong to IPv6 literals only; anything else is a name, kept as it came.
    std::string bare = host;
    if (bare.size() >= 2 && bare.front() == '[' && bare.back() == ']')
        bare = bare.substr(1, bare.size() - 2);
    std::error_code error;
    const asio::ip::address ip = asio::ip::make_address(bare, error);
    // Zones ("fe80::1%eth0") are not addresses a client may ask for: such text stays a name.
    const bool zoned = bare.find('%') != std::string::npos;
    if (!error && !zoned && (bare.size() == host.size() || ip.is_v6())) {
        destination.ip = ip.is_v6() && ip.to_v6().is_v4_mapped()
            ? asio::ip::address(asio::ip::make_address_v4(asio::ip::v4_mapped, ip.to_v6()))
            : ip;
    } else {
        destination.domain = toLower(host);
    }
    return destination;
}

ParseStatus parseSocksAddress(
    const std::uint8_t *data, std::size_t size, Destination &out, std::size_t &consumed)
{
    if (size < 1)
        return ParseStatus::NeedMore;
    std::size_t need = 0;
    switch (data[0]) {
    case 1:
        need = 1 + 4 + 2;
        break;
    case 3:
        if (size < 2)
            return ParseStatus::NeedMore;
        if (data[1] == 0)
            return ParseStatus::Invalid;
        need = 1 + 1 + data[1] + 2;
        break;
    case 4:
        need = 1 + 16 + 2;
        break;
    default:
        return ParseStatus::Invalid;
    }
    if (size < need)
        return ParseStatus::NeedMore;
    Destination destination;
    if (data[0] == 1) {
        asio::ip::address_v4::bytes_type bytes;
        std::copy(data + 1, data + 5, bytes.begin());
        destination.ip = asio::ip::address_v4(bytes);
    } else if (data[0] == 4) {
        asio::ip::address_v6::bytes_type bytes;
        std::copy(data + 1, data + 17, bytes.begin());
        destination.ip = asio::ip::address_v6(bytes);
    } else {
        const std::string host(reinterpret_cast<const char *>(data + 2), data[1]);
        destination = makeDestination(host, 0);
    }
    destination.port = static_cast<std::uint16_t>((data[need - 2] << 8) | data[need - 1]);
    out = destination;
    consumed = need;
    return ParseStatus::Done;
}

void appendSocksAddress(std::vector<std::uint8_t> &out, const Destination &destination)
{
    if (destination.isDomain()) {
        const std::size_t length = std::min<std::size_t>(destination.domain.size(), 255);
        out.push_back(3);
        out.push_back(static_cast<std::uint8_t>(length));
        out.insert(out.end(), destination.domain.begin(), destination.domain.begin() + length);
    } else if (destination.ip.is_v4()) {
        out.push_back(1);
        const auto bytes = destination.ip.to_v4().to_bytes();
        out.insert(out.end(), bytes.begin(), bytes.end());
    } else {
        out.push_back(4);
        const auto bytes = destination.ip.to_v6().to_bytes();
        out.insert(out.end(), bytes.begin(), bytes.end());
    }
    out.push_back(static_cast<std::uint8_t>(destination.port >> 8));
    out.push_back(static_cast<std::uint8_t>(destination.port & 0xFF));
}

int hexDigit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

bool splitHostPort(const std::string &text, std::string &host, std::uint16_t &port)
{
    std::size_t colon;
    if (!text.empty() && text.front() == '[') {
        const std::size_t close = text.find(']');
        if (close == std::string::npos || close + 1 >= text.size() || text[close + 1] != ':')
            return false;
        host = text.substr(1, close - 1);
        colon = close + 1;
    } else {
        colon = text.rfind(':');
        if (colon == std::string::npos)
            return false;
        host = text.substr(0, colon);
        if (host.find(':') != std::string::npos)
            return false;
    }
    const std::string digits = text.substr(colon + 1);
    if (digits.empty() || digits.size() > 5
        || !std::all_of(
            digits.begin(), digits.end(), [](unsigned char c) { return std::isdigit(c); }))
        return false;
    const unsigned long value = std::stoul(digits);
    if (value > 65535)
        return false;
    port = static_cast<std::uint16_t>(value);
    return true;
}

} // namespace qivro::engine
