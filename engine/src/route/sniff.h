// Peeks at the first bytes of a connection for a name to route by. The name is used for rule
// matching only; the destination stays as the client asked.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace qivro::engine::sniff {

enum class Result
{
    Found,
    NeedMore,
    NotThis
};

Result tlsServerName(const std::uint8_t *data, std::size_t size, std::string &name);
Result httpHost(const std::uint8_t *data, std::size_t size, std::string &host);
// A DNS query message (not a response) with at least one well-formed question.
bool isDnsQuery(const std::uint8_t *data, std::size_t size);

// The first bytes of a stream: true once they tell what it is (a name and protocol "tls" or
// "http", protocol "dns" for length-prefixed DNS, or certainly none of these); false while more
// bytes could still decide.
bool classifyStream(
    const std::uint8_t *data, std::size_t size, std::string &name, std::string &protocol);

} // namespace qivro::engine::sniff
