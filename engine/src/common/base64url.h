// The unpadded base64url encoding (RFC 4648 section 5) that keys in the configuration use.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace qivro::engine {

// False for characters outside the alphabet, padding, or a length no encoding produces.
bool decodeBase64Url(const std::string &text, std::vector<std::uint8_t> &out);
std::string encodeBase64Url(const std::uint8_t *data, std::size_t size);

} // namespace qivro::engine
