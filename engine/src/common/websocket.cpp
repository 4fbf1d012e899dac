#include "common/websocket.h"

#include <cstring>
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

ParseStatus parseFrameHeader(const std::uint8_t *data, std::size_t size, FrameHeader &out)
{
    if (size < 2)
        return ParseStatus::NeedMore;
    FrameHeader header;
    header.final = data[0] & 0x80;
    header.opcode = data[0] & 0x0F;
    header.masked = data[1] & 0x80;
    if ((data[0] & 0x70) != 0)
        return ParseStatus::Invalid; // extensions were not negotiated
    const bool control = header.opcode & 0x08;
    if ((header.opcode > Binary && header.opcode < Close) || header.opcode > Pong)
        return ParseStatus::Invalid;
    header.length = data[1] & 0x7F;
    std::size_t at = 2;
    if (header.length == 126 || header.length == 127) {
        const std::size_t width = header.length == 126 ? 2 : 8;
        if (size < at + width)
            return ParseStatus::NeedMore;
        header.length = 0;
        for (std::size_t i = 0; i < width; ++i)
            header.length = (header.length << 8) | data[at + i];
        at += width;
        if ((width == 2 && header.length < 126) || (width == 8 && header.length <= 0xFFFF)
            || (header.length >> 63) != 0)
            return ParseStatus::Invalid; // not the shortest form, or the top bit set
    }
    if (control && (!header.final || header.length > 125))
        return ParseStatus::Invalid;
    if (header.masked) {
        if (size < at + 4)
            return ParseStatus::NeedMore;
        std::memcpy(header.mask, data + at, 4);
        at += 4;
    }
    header.size = at;
    out = header;
    return ParseStatus::Done;
}

std::size_t encodeClientFrameHeader(
    std::uint8_t *out, std::uint8_t opcode, std::uint64_t length, const std::uint8_t mask[4])
{
    std::size_t at = 0;
    out[at++] = static_cast<std::uint8_t>(0x80 | (opcode & 0x0F));
    if (length < 126) {
        out[at++] = static_cast<std::uint8_t>(0x80 | length);
    } else if (length <= 0xFFFF) {
        out[at++] = 0x80 | 126;
        out[at++] = static_cast<std::uint8_t>(length >> 8);
        out[at++] = static_cast<std::uint8_t>(length & 0xFF);
    } else {
        out[at++] = 0x80 | 127;
        for (int shift = 56; shift >= 0; shift -= 8)
            out[at++] = static_cast<std::uint8_t>((length >> shift) & 0xFF);
    }
    std::memcpy(out + at, mask, 4);
    return at + 4;
}

void applyMask(std::uint8_t *data, std::size_t size, const std::uint8_t mask[4], std::size_t offset)
{
    std::size_t i = 0;
    // Eight bytes at a time once aligned to the mask: bulk payloads pass through here.
    while (i < size && (offset + i) % 4 != 0) {
        data[i] ^= mask[(offset + i) % 4];
        ++i;
    }
    std::uint64_t wide;
    std::uint8_t pattern[8];
    for (int k = 0; k < 8; ++k)
        pattern[k] = mask[k % 4];
    std::memcpy(&wide, pattern, 8);
    for (; i + 8 <= size; i += 8) {
        std::uint64_t word;
        std::memcpy(&word, data + i, 8);
        word ^= wide;
        std::memcpy(data + i, &word, 8);
    }
    for (; i < size; ++i)
        data[i] ^= mask[(offset + i) % 4];
}

ParseStatus parseClientFrame(const char *data, std::size_t size, Frame &out, std::size_t &consumed)
{
    const auto *bytes = reinterpret_cast<const std::uint8_t *>(data);
    if (size >= 2 && (bytes[1] & 0x80) == 0)
        return ParseStatus::Invalid; // clients must mask
    FrameHeader header;
    const ParseStatus status = parseFrameHeader(bytes, size, header);
    if (status != ParseStatus::Done)
        return status;
    if (header.length > maxClientPayload)
        return ParseStatus::Invalid;
    if (size < header.size + header.length)
        return ParseStatus::NeedMore;
    out.final = header.final;
    out.opcode = header.opcode;
    out.payload.assign(data + header.size, static_cast<std::size_t>(header.length));
    applyMask(
        reinterpret_cast<std::uint8_t *>(out.payload.data()), out.payload.size(), header.mask, 0);
    consumed = header.size + static_cast<std::size_t>(header.length);
    return ParseStatus::Done;
}

} // namespace qivro::engine::websocket
