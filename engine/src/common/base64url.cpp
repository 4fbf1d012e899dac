#include "common/base64url.h"

namespace qivro::engine {

namespace {

const char alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_";

int value(char c)
{
    if (c >= 'A' && c <= 'Z')
        return c - 'A';
    if (c >= 'a' && c <= 'z')
        return c - 'a' + 26;
    if (c >= '0' && c <= '9')
        return c - '0' + 52;
    if (c == '-')
        return 62;
    if (c == '_')
        return 63;
    return -1;
}

} // namespace

bool decodeBase64Url(const std::string &text, std::vector<std::uint8_t> &out)
{
    out.clear();
    if (text.size() % 4 == 1)
        return false;
    std::uint32_t bits = 0;
    int count = 0;
    for (char c : text) {
        const int v = value(c);
        if (v < 0)
            return false;
        bits = (bits << 6) | static_cast<std::uint32_t>(v);
        count += 6;
        if (count >= 8) {
            count -= 8;
            out.push_back(static_cast<std::uint8_t>(bits >> count));
        }
    }
    // Leftover bits must be zero, as a strict decoder demands.
    return (bits & ((1u << count) - 1)) == 0;
}

std::string encodeBase64Url(const std::uint8_t *data, std::size_t size)
{
    std::string text;
    std::uint32_t bits = 0;
    int count = 0;
    for (std::size_t i = 0; i < size; ++i) {
        bits = (bits << 8) | data[i];
        count += 8;
        while (count >= 6) {
            count -= 6;
            text.push_back(alphabet[(bits >> count) & 63]);
        }
    }
    if (count > 0)
        text.push_back(alphabet[(bits << (6 - count)) & 63]);
    return text;
}

} // namespace qivro::engine
