#include "outbound/hysteria2protocol.h"

#include <openssl/rand.h>

namespace qivro::engine::hy2 {

namespace {

std::uint32_t randomNumber()
{
    std::uint32_t value = 0;
    RAND_bytes(reinterpret_cast<unsigned char *>(&value), sizeof value);
    return value;
}

std::size_t varintSize(std::uint64_t value)
{
    return value < 64 ? 1 : value < 16384 ? 2 : value < (1u << 30) ? 4 : 8;
}

// A varint length followed by that many bytes, the length at most limit.
ParseStatus readBlock(const std::uint8_t *data, std::size_t size, std::size_t &offset,
    std::size_t limit, std::string *out)
{
    std::uint64_t length = 0;
    std::size_t used = 0;
    const ParseStatus status = readVarint(data + offset, size - offset, length, used);
    if (status != ParseStatus::Done)
        return status;
    if (length > limit)
        return ParseStatus::Invalid;
    if (size - offset - used < length)
        return ParseStatus::NeedMore;
    if (out)
        out->assign(reinterpret_cast<const char *>(data + offset + used), length);
    offset += used + length;
    return ParseStatus::Done;
}

} // namespace

void appendVarint(std::vector<std::uint8_t> &out, std::uint64_t value)
{
    const std::size_t size = varintSize(value);
    const std::uint8_t prefix = size == 1 ? 0x00 : size == 2 ? 0x40 : size == 4 ? 0x80 : 0xC0;
    for (std::size_t i = 0; i < size; ++i) {
        auto byte = static_cast<std::uint8_t>(value >> (8 * (size - 1 - i)));
        if (i == 0)
            byte = static_cast<std::uint8_t>((byte & 0x3F) | prefix);
        out.push_back(byte);
    }
}

ParseStatus readVarint(
    const std::uint8_t *data, std::size_t size, std::uint64_t &value, std::size_t &consumed)
{
    if (size == 0)
        return ParseStatus::NeedMore;
    const std::size_t length = std::size_t {1} << (data[0] >> 6);
    if (size < length)
        return ParseStatus::NeedMore;
    value = data[0] & 0x3F;
    for (std::size_t i = 1; i < length; ++i)
        value = (value << 8) | data[i];
    consumed = length;
    return ParseStatus::Done;
}

std::string randomPadding(std::size_t minimum, std::size_t maximum)
{
    static const char alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    const std::size_t size = minimum + randomNumber() % (maximum - minimum + 1);
    std::vector<unsigned char> noise(size);
    RAND_bytes(noise.data(), static_cast<int>(noise.size()));
    std::string padding(size, 'A');
    for (std::size_t i = 0; i < size; ++i)
        padding[i] = alphabet[noise[i] % 62];
    return padding;
}

std::vector<std::uint8_t> tcpRequest(const std::string &address)
{
    const std::string padding = randomPadding(64, 511);
    std::vector<std::uint8_t> out;
    out.reserve(address.size() + padding.size() + 8);
    appendVarint(out, kTcpRequestId);
    appendVarint(out, address.size());
    out.insert(out.end(), address.begin(), address.end());
    appendVarint(out, padding.size());
    out.insert(out.end(), padding.begin(), padding.end());
    return out;
}

ParseStatus parseTcpResponse(
    const std::uint8_t *data, std::size_t size, TcpResponse &out, std::size_t &consumed)
{
    if (size == 0)
        return ParseStatus::NeedMore;
    std::size_t offset = 1;
    ParseStatus status = readBlock(data, size, offset, kMaxMessageLength, &out.message);
    if (status != ParseStatus::Done)
        return status;
    status = readBlock(data, size, offset, kMaxPaddingLength, nullptr);
    if (status != ParseStatus::Done)
        return status;
    out.status = data[0];
    consumed = offset;
    return ParseStatus::Done;
}

bool parseUdpMessage(const std::uint8_t *data, std::size_t size, UdpMessage &out)
{
    if (size < 8)
        return false;
    out.sessionId
        = static_cast<std::uint32_t>(data[0]) << 24 | data[1] << 16 | data[2] << 8 | data[3];
    out.packetId = static_cast<std::uint16_t>(data[4] << 8 | data[5]);
    out.fragmentId = data[6];
    out.fragmentCount = data[7];
    std::size_t offset = 8;
    if (readBlock(data, size, offset, kMaxAddressLength, &out.address) != ParseStatus::Done)
        return false;
    if (offset >= size || out.fragmentCount == 0 || out.fragmentId >= out.fragmentCount)
        return false;
    out.data = data + offset;
    out.size = size - offset;
    return true;
}

void appendUdpMessage(std::vector<std::uint8_t> &out, const UdpMessage &message)
{
    for (int shift = 24; shift >= 0; shift -= 8)
        out.push_back(static_cast<std::uint8_t>(message.sessionId >> shift));
    out.push_back(static_cast<std::uint8_t>(message.packetId >> 8));
    out.push_back(static_cast<std::uint8_t>(message.packetId));
    out.push_back(message.fragmentId);
    out.push_back(message.fragmentCount);
    appendVarint(out, message.address.size());
    out.insert(out.end(), message.address.begin(), message.address.end());
    out.insert(out.end(), message.data, message.data + message.size);
}

std::vector<std::vector<std::uint8_t>> splitUdpPacket(std::uint32_t sessionId,
    std::uint16_t packetId, const std::string &address, const std::uint8_t *data, std::size_t size,
    std::size_t maxSize)
{
    std::vector<std::vector<std::uint8_t>> messages;
    const std::size_t header = 8 + varintSize(address.size()) + address.size();
    if (size == 0 || maxSize <= header)
        return messages;
    UdpMessage message;
    message.sessionId = sessionId;
    message.address = address;
    const std::size_t room = maxSize - header;
    const std::size_t count = (size + room - 1) / room;
    if (count > 255)
        return messages;
    if (count > 1)
        message.packetId = packetId;
    message.fragmentCount = static_cast<std::uint8_t>(count);
    for (std::size_t i = 0; i < count; ++i) {
        message.fragmentId = static_cast<std::uint8_t>(i);
        message.data = data + i * room;
        message.size = std::min(room, size - i * room);
        messages.emplace_back();
        messages.back().reserve(header + message.size);
        appendUdpMessage(messages.back(), message);
    }
    return messages;
}

bool Defragger::feed(
    const UdpMessage &message, std::vector<std::uint8_t> &packet, std::string &address)
{
    if (message.fragmentCount <= 1) {
        packet.assign(message.data, message.data + message.size);
        address = message.address;
        return true;
    }
    if (message.packetId != m_packetId || m_fragments.size() != message.fragmentCount) {
        m_packetId = message.packetId;
        m_fragments.assign(message.fragmentCount, {});
        m_have.assign(message.fragmentCount, false);
        m_received = 0;
        m_address = message.address;
    }
    if (m_have[message.fragmentId])
        return false;
    m_have[message.fragmentId] = true;
    m_fragments[message.fragmentId].assign(message.data, message.data + message.size);
    if (++m_received < m_fragments.size())
        return false;
    packet.clear();
    for (const auto &fragment : m_fragments)
        packet.insert(packet.end(), fragment.begin(), fragment.end());
    address = m_address;
    m_fragments.clear();
    m_have.clear();
    m_received = 0;
    return true;
}

} // namespace qivro::engine::hy2
