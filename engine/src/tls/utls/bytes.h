// Bounds-checked reading and length-prefixed writing of TLS wire structures.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace qivro::engine::utls {

using Bytes = std::vector<std::uint8_t>;

class ByteWriter
{
public:
    explicit ByteWriter(Bytes &out)
        : m_out(out)
    { }
    void u8(unsigned value) { m_out.push_back(static_cast<std::uint8_t>(value)); }
    void u16(unsigned value)
    {
        u8(value >> 8);
        u8(value);
    }
    void u24(std::size_t value)
    {
        u8(static_cast<unsigned>(value >> 16));
        u16(static_cast<unsigned>(value & 0xffff));
    }
    void u32(std::uint32_t value)
    {
        u16(value >> 16);
        u16(value & 0xffff);
    }
    void bytes(const std::uint8_t *data, std::size_t size)
    {
        m_out.insert(m_out.end(), data, data + size);
    }
    void bytes(const Bytes &data) { bytes(data.data(), data.size()); }
    void text(const std::string &data)
    {
        bytes(reinterpret_cast<const std::uint8_t *>(data.data()), data.size());
    }
    // Opens a length field of width bytes; close() fills it with what was written since.
    std::size_t open(int width)
    {
        const std::size_t at = m_out.size();
        m_out.insert(m_out.end(), static_cast<std::size_t>(width), 0);
        return at;
    }
    void close(std::size_t at, int width)
    {
        std::size_t length = m_out.size() - at - static_cast<std::size_t>(width);
        for (int i = width - 1; i >= 0; --i, length >>= 8)
            m_out[at + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(length);
    }
    Bytes &out() { return m_out; }

private:
    Bytes &m_out;
};

// Every read fails (and leaves the reader failed) when the input is too short.
class ByteReader
{
public:
    ByteReader() = default;
    ByteReader(const std::uint8_t *data, std::size_t size)
        : m_data(data)
        , m_size(size)
    { }
    explicit ByteReader(const Bytes &data)
        : ByteReader(data.data(), data.size())
    { }

    bool ok() const { return m_ok; }
    bool empty() const { return m_pos == m_size; }
    std::size_t remaining() const { return m_size - m_pos; }
    const std::uint8_t *current() const { return m_data + m_pos; }

    bool u8(std::uint8_t &value) { return number(1, value); }
    bool u16(std::uint16_t &value) { return number(2, value); }
    bool u24(std::uint32_t &value) { return number(3, value); }
    bool u32(std::uint32_t &value) { return number(4, value); }
    bool skip(std::size_t size)
    {
        if (!m_ok || remaining() < size)
            return m_ok = false;
        m_pos += size;
        return true;
    }
    bool bytes(std::size_t size, Bytes &out)
    {
        const std::uint8_t *start = current();
        if (!skip(size))
            return false;
        out.assign(start, start + size);
        return true;
    }
    // A sub-reader over a field prefixed by a width-byte length.
    bool prefixed(int width, ByteReader &inner)
    {
        std::uint32_t length = 0;
        if (!number(width, length))
            return false;
        const std::uint8_t *start = current();
        if (!skip(length))
            return false;
        inner = ByteReader(start, length);
        return true;
    }
    bool prefixedBytes(int width, Bytes &out)
    {
        ByteReader inner;
        if (!prefixed(width, inner))
            return false;
        out.assign(inner.current(), inner.current() + inner.remaining());
        return true;
    }

private:
    template <typename T>
    bool number(int width, T &value)
    {
        if (!m_ok || remaining() < static_cast<std::size_t>(width))
            return m_ok = false;
        std::uint32_t result = 0;
        for (int i = 0; i < width; ++i)
            result = (result << 8) | m_data[m_pos++];
        value = static_cast<T>(result);
        return true;
    }

    const std::uint8_t *m_data = nullptr;
    std::size_t m_size = 0;
    std::size_t m_pos = 0;
    bool m_ok = true;
};

} // namespace qivro::engine::utls
