#include "config/boundedfile.h"

#include "common/address.h"

#include <filesystem>
#include <fstream>
#include <system_error>

namespace qivro::engine {

bool readBoundedFile(const std::string &path, std::string &text, std::string &error)
{
    const std::filesystem::path file = std::filesystem::u8path(path);
    std::error_code code;
    const std::filesystem::file_status status = std::filesystem::status(file, code);
    if (code) {
        error = "open " + path + ": " + toLower(code.message());
        return false;
    }
    if (!std::filesystem::is_regular_file(status)) {
        error = "read " + path + ": not a regular file";
        return false;
    }
    const std::uintmax_t size = std::filesystem::file_size(file, code);
    if (code || size > maxInputFileSize) {
        error = "read " + path + ": "
            + (code ? toLower(code.message()) : "larger than 64 MiB, the most accepted");
        return false;
    }
    std::ifstream in(file, std::ios::binary);
    if (!in) {
        error = "open " + path + ": permission denied";
        return false;
    }
    // One byte more than measured tells a file that grew since; it is still held to the limit.
    text.resize(static_cast<std::size_t>(size) + 1);
    in.read(text.data(), static_cast<std::streamsize>(text.size()));
    text.resize(static_cast<std::size_t>(in.gcount()));
    if (text.size() > maxInputFileSize) {
        text.clear();
        error = "read " + path + ": larger than 64 MiB, the most accepted";
        return false;
    }
    return true;
}

} // namespace qivro::engine
