// The few DNS messages the engine reads and writes itself: the question of a hijacked query, the
// answer it gives from the fake address pool, and the addresses in a resolver's reply.
#pragma once

#include <asio/ip/address.hpp>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace qivro::engine::dns {

constexpr std::uint16_t typeA = 1;
constexpr std::uint16_t typeAaaa = 28;
constexpr std::uint8_t rcodeServerFailure = 2;
constexpr std::uint8_t rcodeNameError = 3;

struct Question
{
    std::uint16_t id = 0;
    std::uint16_t flags = 0;
    std::string name; // lower case, no trailing dot; "" for the root
    std::uint16_t type = 0;
    std::uint16_t qclass = 0;
    std::size_t end = 0; // offset just past the question
};

// A standard query (QR 0, opcode 0) with exactly one question; false for anything else.
bool parseQuery(const std::uint8_t *data, std::size_t size, Question &out);

// The reply to a parsed query: its question echoed, then one record per address (A or AAAA by
// the address's family) with the given time to live.
std::vector<std::uint8_t> buildAnswer(const std::uint8_t *query, const Question &question,
    const std::vector<asio::ip::address> &addresses, std::uint32_t ttl, std::uint8_t rcode = 0);

std::vector<std::uint8_t> buildQuery(std::uint16_t id, const std::string &name, std::uint16_t type);

struct Reply
{
    std::uint16_t id = 0;
    std::uint8_t rcode = 0;
    std::vector<asio::ip::address> addresses; // A and AAAA records of the answer section
};

// A response message (QR 1); false when it is cut short or malformed.
bool parseReply(const std::uint8_t *data, std::size_t size, Reply &out);

} // namespace qivro::engine::dns
