#include "common/tracker.h"

#include <cstdio>
#include <openssl/rand.h>

namespace qivro::engine {

std::string newUuid()
{
    unsigned char bytes[16] = {};
    RAND_bytes(bytes, sizeof bytes);
    bytes[6] = static_cast<unsigned char>((bytes[6] & 0x0F) | 0x40);
    bytes[8] = static_cast<unsigned char>((bytes[8] & 0x3F) | 0x80);
    char text[37];
    std::snprintf(text, sizeof text,
        "%02x%02x%02x%02x-%02x%02x-%02x%02x-%02x%02x-%02x%02x%02x%02x%02x%02x", bytes[0], bytes[1],
        bytes[2], bytes[3], bytes[4], bytes[5], bytes[6], bytes[7], bytes[8], bytes[9], bytes[10],
        bytes[11], bytes[12], bytes[13], bytes[14], bytes[15]);
    return text;
}

std::shared_ptr<ConnectionInfo> Tracker::create()
{
    auto info = std::make_shared<ConnectionInfo>();
    info->id = newUuid();
    return info;
}

void Tracker::add(const std::shared_ptr<ConnectionInfo> &info)
{
    std::lock_guard lock(m_mutex);
    m_connections.emplace(info->id, info);
}

void Tracker::setCloser(ConnectionInfo &info, std::function<void()> closer)
{
    std::lock_guard lock(m_mutex);
    info.closer = std::move(closer);
}

void Tracker::close(const std::string &id)
{
    std::lock_guard lock(m_mutex);
    m_connections.erase(id);
}

std::vector<std::shared_ptr<ConnectionInfo>> Tracker::snapshot() const
{
    std::lock_guard lock(m_mutex);
    std::vector<std::shared_ptr<ConnectionInfo>> list;
    list.reserve(m_connections.size());
    for (const auto &entry : m_connections)
        list.push_back(entry.second);
    return list;
}

bool Tracker::closeConnection(const std::string &id)
{
    std::function<void()> closer;
    {
        std::lock_guard lock(m_mutex);
        const auto it = m_connections.find(id);
        if (it == m_connections.end())
            return false;
        closer = it->second->closer;
    }
    if (closer)
        closer();
    return true;
}

void Tracker::closeAll()
{
    std::vector<std::function<void()>> closers;
    {
        std::lock_guard lock(m_mutex);
        for (const auto &entry : m_connections)
            closers.push_back(entry.second->closer);
    }
    for (const auto &closer : closers) {
        if (closer)
            closer();
    }
}

void Tracker::addUpload(ConnectionInfo &info, std::uint64_t bytes)
{
    info.upload += bytes;
    m_upload += bytes;
}

void Tracker::addDownload(ConnectionInfo &info, std::uint64_t bytes)
{
    info.download += bytes;
    m_download += bytes;
}

} // namespace qivro::engine
