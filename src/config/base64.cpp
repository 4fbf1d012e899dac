#include "config/base64.h"

#include <array>

namespace {

constexpr std::array<signed char, 256> makeAlphabetIndex()
{
    std::array<signed char, 256> index {};
    for (auto &entry : index)
        entry = -1;
    const char alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    for (int i = 0; i < 64; ++i)
        index[static_cast<unsigned char>(alphabet[i])] = static_cast<signed char>(i);
    return index;
}

constexpr std::array<signed char, 256> alphabetIndex = makeAlphabetIndex();

} // namespace

QByteArray base64_decode(const QByteArray &input)
{
    QByteArray output;
    output.reserve(input.size() / 4 * 3 + 3);
    // Unsigned so the accumulator may wrap: only its low twelve bits are ever read.
    quint32 accumulator = 0;
    int bits = -8;
    for (const char c : input) {
        if (c == '=')
            break;
        const int value = alphabetIndex[static_cast<unsigned char>(c)];
        if (value < 0)
            continue;
        accumulator = accumulator * 64 + static_cast<quint32>(value);
        bits += 6;
        if (bits >= 0) {
            output.append(static_cast<char>((accumulator >> bits) & 0xFF));
            bits -= 8;
        }
    }
    return output;
}
