#include "common/websocket.h"

#include <openssl/evp.h>

namespace qivro::engine::websocket {

std::string acceptKey(const std::string &clientKey)
{
    const std::string text = clientKey + "258EAFA5-E914-47DA-95CA-C5AB0DC85B11";
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (EVP_Digest(text.data(), text.size(), digest, &length, EVP_sha1(), nullptr) != 1)
        return {};
    unsigned char encoded[4 * ((EVP_MAX_MD_SIZE + 2) / 3) + 1];
    const int size = EVP_EncodeBlock(encoded, digest, static_cast<int>(length));
    return std::string(reinterpret_cast<const char *>(encoded), static_cast<std::size_t>(size));
}

std::string encodeFrame(std::uint8_t opcode, const std::string &payload)
{
    std::string frame(1, static_cast<char>(0x80 | (opcode & 0x0F)));
    const std::uint64_t size = payload.size();
    if (size < 126) {
        frame += static_cast<char>(size);
    } else if (size <= 0xFFFF) {
        frame += static_cast<char>(126);
        frame += static_cast<char>(size >> 8);
        frame += static_cast<char>(size & 0xFF);
    } else {
        frame += static_cast<char>(127);
        for (int shift = 56; shift >= 0; shift -= 8)
            frame += static_cast<char>((size >> shift) & 0xFF);
    }
    return frame + payload;
}

ParseStatus parseClientFrame(const char *data, std::size_t size, Frame &out, std::size_t &consumed)
{
    const auto byte = [data](std::size_t at) { return static_cast<std::uint8_t>(data[at]); };
    if (size < 2)
        return ParseStatus::NeedMore;
    const bool final = byte(0) & 0x80;
    const std::uint8_t opcode = byte(0) & 0x0F;
    if ((byte(0) & 0x70) != 0 || (byte(1) & 0x80) == 0)
        return ParseStatus::Invalid; // extensions were not negotiated; clients must mask
    const bool control = opcode & 0x08;
    if ((opcode > Binary && opcode < Close) || opcode > Pong)
        return ParseStatus::Invalid;
    std::uint64_t length = byte(1) & 0x7F;
    std::size_t at = 2;
    if (length == 126 || length == 127) {
        const std::size_t width = length == 126 ? 2 : 8;
        if (size < at + width)
            return ParseStatus::NeedMore;
        length = 0;
        for (std::size_t i = 0; i < width; ++i)
            length = (length << 8) | byte(at + i);
        at += width;
        if ((width == 2 && length < 126) || (width == 8 && length <= 0xFFFF))
            return ParseStatus::Invalid; // not the shortest form
    }
    if (control && (!final || length > 125))
        return ParseStatus::Invalid;
    if (length > maxClientPayload)
        return ParseStatus::Invalid;
    if (size < at + 4 + length)
        return ParseStatus::NeedMore;
    const char *mask = data + at;
    at += 4;
    out.final = final;
    out.opcode = opcode;
    out.payload.assign(data + at, static_cast<std::size_t>(length));
    for (std::size_t i = 0; i < out.payload.size(); ++i)
        out.payload[i] = static_cast<char>(out.payload[i] ^ mask[i % 4]);
    consumed = at + static_cast<std::size_t>(length);
    return ParseStatus::Done;
}

} // namespace qivro::engine::websocket
