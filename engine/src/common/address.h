// Destinations and the SOCKS-style address encoding shared by SOCKS5 and Shadowsocks.
#pragma once

#include <asio/ip/address.hpp>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace qivro::engine {

struct Destination
{
    std::string domain; // lower-case; empty when the destination is an IP literal
    asio::ip::address ip;
    std::uint16_t port = 0;

    bool isDomain() const { return !domain.empty(); }
    // "host:port", IPv6 in brackets.
    std::string toString() const;
    std::string hostText() const;
    bool operator<(const Destination &other) const;
    bool operator==(const Destination &other) const;
};

// Builds a destination from a host text: IP literals (IPv6 with or without brackets) become ip.
Destination makeDestination(const std::string &host, std::uint16_t port);

enum class ParseStatus
{
    Done,
    NeedMore,
    Invalid
};

// ATYP | address | port. consumed is set on Done.
ParseStatus parseSocksAddress(
    const std::uint8_t *data, std::size_t size, Destination &out, std::size_t &consumed);
void appendSocksAddress(std::vector<std::uint8_t> &out, const Destination &destination);

std::string toLower(std::string text);
// The value of a hexadecimal digit, -1 for any other character.
int hexDigit(char c);
// Splits "host:port" / "[v6]:port"; false when the port is missing or not a number.
bool splitHostPort(const std::string &text, std::string &host, std::uint16_t &port);

} // namespace qivro::engine
