#include "transport/gunreader.h"

#include <algorithm>

namespace qivro::engine {

namespace {

// A protobuf varint within size bytes: 1 read, 0 more bytes needed, -1 malformed.
int readVarint(const std::uint8_t *data, std::size_t size, std::uint64_t &value, std::size_t &used)
{
    value = 0;
    for (std::size_t i = 0; i < 10; ++i) {
        if (i == size)
            return 0;
        value |= static_cast<std::uint64_t>(data[i] & 0x7F) << (7 * i);
        if ((data[i] & 0x80) == 0) {
            used = i + 1;
            return 1;
        }
    }
    return -1;
}

} // namespace

void GunReader::appendHeader(std::vector<std::uint8_t> &out, std::size_t size)
{
    std::uint8_t varint[10];
    std::size_t varintSize = 0;
    std::uint64_t left = size;
    do {
        varint[varintSize++] = static_cast<std::uint8_t>((left & 0x7F) | (left > 0x7F ? 0x80 : 0));
        left >>= 7;
    } while (left > 0);
    const std::uint64_t length = 1 + varintSize + size;
    out.insert(out.end(),
        {0, static_cast<std::uint8_t>(length >> 24), static_cast<std::uint8_t>(length >> 16),
            static_cast<std::uint8_t>(length >> 8), static_cast<std::uint8_t>(length), 0x0A});
    out.insert(out.end(), varint, varint + varintSize);
}

GunReader::Step GunReader::next(const std::uint8_t *data, std::size_t size)
{
    Step step;
    if (m_fieldLeft > 0) {
        if (size == 0)
            return step;
        const std::size_t count
            = static_cast<std::size_t>(std::min<std::uint64_t>(size, m_fieldLeft));
        m_fieldLeft -= count;
        m_messageLeft -= static_cast<std::uint32_t>(count);
        step.kind = m_fieldIsData ? Step::Data : Step::Skip;
        step.consumed = count;
        return step;
    }
    if (m_messageLeft == 0) {
        if (size < 5)
            return step;
        if (data[0] != 0) {
            step.kind = Step::Error;
            step.error = "grpc: compressed message without a negotiated compression";
            return step;
        }
        m_messageLeft = static_cast<std::uint32_t>(data[1]) << 24
            | static_cast<std::uint32_t>(data[2]) << 16 | static_cast<std::uint32_t>(data[3]) << 8
            | data[4];
        if (m_messageLeft > maxMessage) {
            step.kind = Step::Error;
            step.error = "grpc: message larger than " + std::to_string(maxMessage) + " bytes";
            return step;
        }
        step.kind = Step::Skip;
        step.consumed = 5;
        return step;
    }
    // A field: its key, then by wire type a varint, 8 or 4 bytes, or a length and that many.
    const std::size_t window = std::min<std::size_t>(size, m_messageLeft);
    std::uint64_t key = 0;
    std::size_t keySize = 0;
    int read = readVarint(data, window, key, keySize);
    std::uint64_t length = 0;
    std::size_t lengthSize = 0;
    if (read == 1 && (key >> 3) == 0)
        read = -1;
    if (read == 1) {
        switch (key & 7) {
        case 0: // the varint itself is the field
            read = readVarint(data + keySize, window - keySize, length, lengthSize);
            length = 0;
            break;
        case 1:
            length = 8;
            break;
        case 2:
            read = readVarint(data + keySize, window - keySize, length, lengthSize);
            break;
        case 5:
            length = 4;
            break;
        default:
            read = -1;
        }
    }
    // A head cut short is complete once more bytes come, unless the message ends first.
    if (read < 0 || (read == 0 && window == m_messageLeft)) {
        step.kind = Step::Error;
        step.error = "grpc: malformed message";
        return step;
    }
    if (read == 0)
        return step;
    const std::size_t head = keySize + lengthSize;
    if (length > m_messageLeft - head) {
        step.kind = Step::Error;
        step.error = "grpc: field longer than its message";
        return step;
    }
    m_messageLeft -= static_cast<std::uint32_t>(head);
    m_fieldLeft = length;
    m_fieldIsData = key == 0x0A;
    step.kind = Step::Skip;
    step.consumed = head;
    return step;
}

} // namespace qivro::engine
