#include "outbound/visionframing.h"

#include <algorithm>
#include <cstring>
#include <random>

namespace qivro::engine::vision {

namespace {

std::size_t randomBelow(std::size_t bound)
{
    thread_local std::mt19937 generator {std::random_device {}()};
    return std::uniform_int_distribution<std::size_t>(0, bound - 1)(generator);
}

const std::uint8_t tls13Version[] = {0x00, 0x2b, 0x00, 0x02, 0x03, 0x04};

} // namespace

void TrafficState::filter(const std::uint8_t *data, std::size_t size, bool uplink)
{
    int &left = uplink ? m_uplinkPackets : m_downlinkPackets;
    if (left <= 0)
        return;
    --left;
    if (size >= 6 && data[0] == 0x16 && data[1] == 3) {
        if (data[2] == 3 && data[5] == 2) {
            m_isTls = m_isTls12OrAbove = true;
            m_serverHelloLeft = (data[3] << 8 | data[4]) + 5;
            // The suite follows the session id, whose length is at offset 43.
            if (size >= 79 && m_serverHelloLeft >= 79) {
                const std::size_t at = 44u + data[43];
                if (at + 2 <= size)
                    m_cipher = static_cast<std::uint16_t>(data[at] << 8 | data[at + 1]);
            }
        } else if (data[5] == 1) {
            m_isTls = true;
        }
    }
    if (m_serverHelloLeft > 0) {
        const std::size_t end
            = std::min<std::size_t>(static_cast<std::size_t>(m_serverHelloLeft), size);
        m_serverHelloLeft -= static_cast<long>(end);
        if (std::search(data, data + end, std::begin(tls13Version), std::end(tls13Version))
            != data + end) {
            m_directAllowed = m_cipher >= 0x1301 && m_cipher <= 0x1304;
            left = 0;
        } else if (m_serverHelloLeft <= 0) {
            left = 0; // TLS 1.2: its records must stay inside the outer TLS
        }
    }
}

bool completeApplicationRecords(const std::uint8_t *data, std::size_t size)
{
    std::size_t at = 0;
    while (at + 5 <= size) {
        if (data[at] != 0x17 || data[at + 1] != 3 || data[at + 2] != 3)
            return false;
        at += 5 + (static_cast<std::size_t>(data[at + 3]) << 8 | data[at + 4]);
    }
    return size > 0 && at == size;
}

std::size_t splitPoint(const std::uint8_t *data, std::size_t size)
{
    const std::uint8_t start[] = {0x17, 3, 3};
    std::size_t at = 0;
    for (std::size_t i = size >= 3 ? size - 3 : 0; i > 0; --i) {
        if (std::memcmp(data + i, start, 3) == 0) {
            at = i;
            break;
        }
    }
    if (at < 21 || at > maxContent)
        at = std::min<std::size_t>(size / 2, maxContent);
    return at;
}

void appendFrame(Bytes &out, const UserId *userId, std::uint8_t commandByte,
    const std::uint8_t *content, std::size_t size, bool longPadding)
{
    std::size_t padding
        = size < 900 && longPadding ? randomBelow(500) + 900 - size : randomBelow(256);
    padding = std::min(padding, maxContent - std::min(size, maxContent));
    if (userId)
        out.insert(out.end(), userId->begin(), userId->end());
    out.push_back(commandByte);
    out.push_back(static_cast<std::uint8_t>(size >> 8));
    out.push_back(static_cast<std::uint8_t>(size));
    out.push_back(static_cast<std::uint8_t>(padding >> 8));
    out.push_back(static_cast<std::uint8_t>(padding));
    out.insert(out.end(), content, content + size);
    out.insert(out.end(), padding, 0);
}

bool Unpadder::feed(const std::uint8_t *data, std::size_t size, Bytes &out, std::size_t &consumed)
{
    std::size_t at = 0;
    while (at < size && !m_finished) {
        if (!m_started) {
            if (data[at] != m_userId[m_idMatched])
                return false;
            ++at;
            m_started = ++m_idMatched == m_userId.size();
        } else if (m_headerHave < sizeof m_header) {
            m_header[m_headerHave++] = data[at++];
            if (m_headerHave == sizeof m_header) {
                m_command = m_header[0];
                m_contentLeft = static_cast<std::size_t>(m_header[1] << 8 | m_header[2]);
                m_paddingLeft = static_cast<std::size_t>(m_header[3] << 8 | m_header[4]);
                if (m_command > command::direct)
                    return false;
            }
        } else if (m_contentLeft > 0) {
            const std::size_t take = std::min(m_contentLeft, size - at);
            out.insert(out.end(), data + at, data + at + take);
            at += take;
            m_contentLeft -= take;
        } else {
            const std::size_t skip = std::min(m_paddingLeft, size - at);
            at += skip;
            m_paddingLeft -= skip;
        }
        if (m_started && m_headerHave == sizeof m_header && m_contentLeft == 0
            && m_paddingLeft == 0) {
            if (m_command == command::padding)
                m_headerHave = 0;
            else
                m_finished = true;
        }
    }
    consumed = at;
    return true;
}

} // namespace qivro::engine::vision
