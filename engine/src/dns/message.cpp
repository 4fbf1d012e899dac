#include "dns/message.h"

#include <algorithm>

namespace qivro::engine::dns {

namespace {

constexpr std::size_t headerSize = 12;

std::uint16_t read16(const std::uint8_t *data)
{
    return static_cast<std::uint16_t>((data[0] << 8) | data[1]);
}

void put16(std::vector<std::uint8_t> &out, std::uint16_t value)
{
    out.push_back(static_cast<std::uint8_t>(value >> 8));
    out.push_back(static_cast<std::uint8_t>(value & 0xFF));
}

void put32(std::vector<std::uint8_t> &out, std::uint32_t value)
{
    put16(out, static_cast<std::uint16_t>(value >> 16));
    put16(out, static_cast<std::uint16_t>(value & 0xFFFF));
}

// Moves offset past a name that may end in a compression pointer.
bool skipName(const std::uint8_t *data, std::size_t size, std::size_t &offset)
{
    while (offset < size) {
        const std::uint8_t length = data[offset];
        if (length == 0) {
            ++offset;
            return true;
        }
        if ((length & 0xC0) == 0xC0) {
            offset += 2;
            return offset <= size;
        }
        if (length & 0xC0)
            return false;
        offset += 1 + length;
    }
    return false;
}

} // namespace

bool parseQuery(const std::uint8_t *data, std::size_t size, Question &out)
{
    if (size < headerSize)
        return false;
    out.id = read16(data);
    out.flags = read16(data + 2);
    if ((out.flags & 0x8000) || ((out.flags >> 11) & 0xF) != 0 || read16(data + 4) != 1)
        return false;
    // Questions carry no compression pointers: a query names its domain in full.
    std::size_t offset = headerSize;
    out.name.clear();
    while (true) {
        if (offset >= size)
            return false;
        const std::uint8_t length = data[offset++];
        if (length == 0)
            break;
        if (length > 63 || offset + length > size
            || out.name.size() + (out.name.empty() ? 0 : 1) + length > 253)
            return false;
        if (!out.name.empty())
            out.name += '.';
        for (std::size_t i = 0; i < length; ++i) {
            const char c = static_cast<char>(data[offset + i]);
            out.name += (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
        }
        offset += length;
    }
    if (offset + 4 > size)
        return false;
    out.type = read16(data + offset);
    out.qclass = read16(data + offset + 2);
    out.end = offset + 4;
    return true;
}

std::vector<std::uint8_t> buildAnswer(const std::uint8_t *query, const Question &question,
    const std::vector<asio::ip::address> &addresses, std::uint32_t ttl, std::uint8_t rcode)
{
    std::vector<std::uint8_t> out;
    out.reserve(question.end + addresses.size() * 28);
    put16(out, question.id);
    // QR, the query's opcode and RD, RA; the rest cleared.
    put16(out, static_cast<std::uint16_t>(0x8080 | (question.flags & 0x0100) | (rcode & 0xF)));
    put16(out, 1);
    put16(out, static_cast<std::uint16_t>(addresses.size()));
    put16(out, 0);
    put16(out, 0);
    out.insert(out.end(), query + headerSize, query + question.end);
    for (const asio::ip::address &address : addresses) {
        put16(out, 0xC000 | headerSize); // the question's name
        put16(out, address.is_v4() ? typeA : typeAaaa);
        put16(out, 1);
        put32(out, ttl);
        if (address.is_v4()) {
            const auto bytes = address.to_v4().to_bytes();
            put16(out, static_cast<std::uint16_t>(bytes.size()));
            out.insert(out.end(), bytes.begin(), bytes.end());
        } else {
            const auto bytes = address.to_v6().to_bytes();
            put16(out, static_cast<std::uint16_t>(bytes.size()));
            out.insert(out.end(), bytes.begin(), bytes.end());
        }
    }
    return out;
}

std::vector<std::uint8_t> buildQuery(std::uint16_t id, const std::string &name, std::uint16_t type)
{
    std::vector<std::uint8_t> out;
    put16(out, id);
    put16(out, 0x0100); // recursion desired
    put16(out, 1);
    put16(out, 0);
    put16(out, 0);
    put16(out, 0);
    std::size_t start = 0;
    while (start < name.size()) {
        std::size_t dot = name.find('.', start);
        if (dot == std::string::npos)
            dot = name.size();
        const std::size_t length = std::min<std::size_t>(dot - start, 63);
        out.push_back(static_cast<std::uint8_t>(length));
        out.insert(out.end(), name.begin() + static_cast<std::ptrdiff_t>(start),
            name.begin() + static_cast<std::ptrdiff_t>(start + length));
        start = dot + 1;
    }
    out.push_back(0);
    put16(out, type);
    put16(out, 1);
    return out;
}

bool parseReply(const std::uint8_t *data, std::size_t size, Reply &out)
{
    if (size < headerSize || !(data[2] & 0x80))
        return false;
    out.id = read16(data);
    out.rcode = data[3] & 0xF;
    out.addresses.clear();
    const std::uint16_t questions = read16(data + 4);
    const std::uint16_t answers = read16(data + 6);
    std::size_t offset = headerSize;
    for (std::uint16_t i = 0; i < questions; ++i) {
        if (!skipName(data, size, offset) || offset + 4 > size)
            return false;
        offset += 4;
    }
    for (std::uint16_t i = 0; i < answers; ++i) {
        if (!skipName(data, size, offset) || offset + 10 > size)
            return false;
        const std::uint16_t type = read16(data + offset);
        const std::uint16_t length = read16(data + offset + 8);
        offset += 10;
        if (offset + length > size)
            return false;
        if (type == typeA && length == 4) {
            asio::ip::address_v4::bytes_type bytes;
            std::copy(data + offset, data + offset + 4, bytes.begin());
            out.addresses.push_back(asio::ip::address_v4(bytes));
        } else if (type == typeAaaa && length == 16) {
            asio::ip::address_v6::bytes_type bytes;
            std::copy(data + offset, data + offset + 16, bytes.begin());
            out.addresses.push_back(asio::ip::address_v6(bytes));
        }
        offset += length;
    }
    return true;
}

} // namespace qivro::engine::dns
