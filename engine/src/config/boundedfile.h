// Reading a file the user points the engine at, bounded so that a wrong path (a device, a pipe, a
// huge file) ends in a clear error instead of exhausting memory.
#pragma once

#include <cstdint>
#include <string>

namespace qivro::engine {

constexpr std::uint64_t maxInputFileSize = 64ull << 20;

// Reads a regular file of at most maxInputFileSize bytes; the error reads "open PATH: ..." or
// "read PATH: ...".
bool readBoundedFile(const std::string &path, std::string &text, std::string &error);

} // namespace qivro::engine
