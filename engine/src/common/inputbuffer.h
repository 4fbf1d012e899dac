// Bytes read from a stream and not parsed yet. It starts small, so idle connections cost little,
// and grows while reads keep filling it, so bulk transfers need fewer reads.
#pragma once

#include <asio/buffer.hpp>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace qivro::engine {

class InputBuffer
{
public:
    InputBuffer(std::size_t initial, std::size_t largest)
        : m_initial(initial)
        , m_largest(largest)
    { }

    const std::uint8_t *data() const { return m_data.data() + m_start; }
    std::uint8_t *data() { return m_data.data() + m_start; }
    std::size_t size() const { return m_end - m_start; }
    bool empty() const { return m_start == m_end; }
    void consume(std::size_t count);
    // Room for the next read, after the unparsed bytes.
    asio::mutable_buffer prepare();
    void commit(std::size_t count);
    void append(const std::uint8_t *data, std::size_t count);

private:
    std::size_t m_initial;
    std::size_t m_largest;
    std::vector<std::uint8_t> m_data;
    std::size_t m_start = 0;
    std::size_t m_end = 0;
    std::size_t m_offered = 0;
};

} // namespace qivro::engine
