#pragma once

// Byte-level helpers shared by the reader and the writer: big-endian integers and Go-style
// unsigned varints, with every read bounds-checked.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace qivro::ruleset::detail {

class ByteReader
{
public:
    ByteReader(const std::uint8_t *data, std::size_t size)
        : m_data(data)
        , m_size(size)
    { }

    std::size_t offset() const { return m_offset; }
    std::size_t remaining() const { return m_size - m_offset; }
    bool atEnd() const { return m_offset == m_size; }

    bool readByte(std::uint8_t &value)
    {
        if (remaining() < 1)
            return false;
        value = m_data[m_offset++];
        return true;
    }
    bool readBigEndian(std::uint64_t &value, int bytes)
    {
        if (remaining() < std::size_t(bytes))
            return false;
        value = 0;
        for (int i = 0; i < bytes; ++i)
            value = value << 8 | m_data[m_offset++];
        return true;
    }
    // Go's binary.ReadUvarint: at most ten bytes, no overflow past 64 bits.
    bool readUvarint(std::uint64_t &value)
    {
        value = 0;
        for (int shift = 0, i = 0; i < 10; ++i, shift += 7) {
            std::uint8_t byte;
            if (!readByte(byte))
                return false;
            if (i == 9 && byte > 1)
                return false;
            value |= std::uint64_t(byte & 0x7f) << shift;
            if (!(byte & 0x80))
                return true;
        }
        return false;
    }
    bool readBytes(std::uint8_t *out, std::size_t count)
    {
        if (remaining() < count)
            return false;
        for (std::size_t i = 0; i < count; ++i)
            out[i] = m_data[m_offset + i];
        m_offset += count;
        return true;
    }
    bool readString(std::string &out, std::size_t count)
    {
        if (remaining() < count)
            return false;
        out.assign(reinterpret_cast<const char *>(m_data + m_offset), count);
        m_offset += count;
        return true;
    }

private:
    const std::uint8_t *m_data;
    std::size_t m_size;
    std::size_t m_offset = 0;
};

class ByteWriter
{
public:
    explicit ByteWriter(std::vector<std::uint8_t> &out)
        : m_out(out)
    { }

    void byte(std::uint8_t value) { m_out.push_back(value); }
    void bigEndian(std::uint64_t value, int bytes)
    {
        for (int i = bytes - 1; i >= 0; --i)
            m_out.push_back(std::uint8_t(value >> (8 * i)));
    }
    void uvarint(std::uint64_t value)
    {
        while (value >= 0x80) {
            m_out.push_back(std::uint8_t(value | 0x80));
            value >>= 7;
        }
        m_out.push_back(std::uint8_t(value));
    }
    void bytes(const std::uint8_t *data, std::size_t count)
    {
        m_out.insert(m_out.end(), data, data + count);
    }
    void string(const std::string &value)
    {
        uvarint(value.size());
        m_out.insert(m_out.end(), value.begin(), value.end());
    }

private:
    std::vector<std::uint8_t> &m_out;
};

// Domain keys as the succinct trie stores them (not reversed): plain names, "\r" + ".x" for
// names strictly below x, and "\n" + "x" (later versions) for x and every name below it.
constexpr char kPrefixLabel = '\r';
constexpr char kRootLabel = '\n';

// Serialises the trie of the given keys (the domain item's payload after its version byte).
void writeDomainTrie(const std::vector<std::string> &keys, ByteWriter &writer);
// Parses a trie and returns its keys in breadth-first order; false with `error` on bad input.
bool readDomainTrie(ByteReader &reader, std::vector<std::string> &keys, std::string &error);

} // namespace qivro::ruleset::detail
