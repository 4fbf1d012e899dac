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

} // namespace qivro::engine::sniff
