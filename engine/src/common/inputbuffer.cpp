#include "common/inputbuffer.h"

#include <algorithm>
#include <cstring>

namespace qivro::engine {

void InputBuffer::consume(std::size_t count)
{
    m_start += std::min(count, size());
    if (m_start == m_end)
        m_start = m_end = 0;
}

asio::mutable_buffer InputBuffer::prepare()
{
    if (m_start > 0) {
        std::memmove(m_data.data(), m_data.data() + m_start, size());
        m_end -= m_start;
        m_start = 0;
    }
    if (m_data.empty())
        m_data.resize(m_initial);
    else if (m_data.size() - m_end < m_initial / 4)
        m_data.resize(std::max(m_data.size() * 2, m_end + m_initial));
    m_offered = m_data.size() - m_end;
    return asio::buffer(m_data.data() + m_end, m_offered);
}

void InputBuffer::commit(std::size_t count)
{
    m_end += std::min(count, m_data.size() - m_end);
    if (count == m_offered && m_data.size() < m_largest)
        m_data.resize(std::min(m_largest, m_data.size() * 2));
}

void InputBuffer::append(const std::uint8_t *data, std::size_t count)
{
    if (count == 0)
        return;
    if (m_data.size() - m_end < count)
        m_data.resize(m_end + count);
    std::memcpy(m_data.data() + m_end, data, count);
    m_end += count;
}

} // namespace qivro::engine
