// Incremental parsers for the SOCKS4/4a/5 handshakes: each takes the bytes received so far and
// says Done (with the count consumed), NeedMore or Invalid. They never read past size.
#pragma once

#include "common/address.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace qivro::engine::socks {

enum Command : std::uint8_t
{
    Connect = 1,
    Bind = 2,
    UdpAssociate = 3
};

struct Greeting
{
    std::vector<std::uint8_t> methods;
};
ParseStatus parseGreeting(
    const std::uint8_t *data, std::size_t size, Greeting &out, std::size_t &consumed);

struct Credentials
{
    std::string username;
    std::string password;
};
ParseStatus parseCredentials(
    const std::uint8_t *data, std::size_t size, Credentials &out, std::size_t &consumed);

struct Request
{
    std::uint8_t command = 0;
    Destination destination;
};
ParseStatus parseRequest5(
    const std::uint8_t *data, std::size_t size, Request &out, std::size_t &consumed);

struct Request4
{
    std::uint8_t command = 0;
    Destination destination;
    std::string userId;
};
ParseStatus parseRequest4(
    const std::uint8_t *data, std::size_t size, Request4 &out, std::size_t &consumed);

// One SOCKS5 UDP datagram: RSV RSV FRAG address payload. Fragments are refused.
struct Datagram
{
    Destination destination;
    std::size_t payloadOffset = 0;
};
bool parseDatagram(const std::uint8_t *data, std::size_t size, Datagram &out);
std::vector<std::uint8_t> datagramHeader(const Destination &source);

std::vector<std::uint8_t> reply5(std::uint8_t code, const Destination &bound);
std::vector<std::uint8_t> reply4(bool granted);

} // namespace qivro::engine::socks
