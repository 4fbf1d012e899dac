#include "listener.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

namespace support {

Listener::Listener(std::function<void(int fd)> serve, const std::string &address)
    : m_serve(std::move(serve))
{
    m_fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in local {};
    local.sin_family = AF_INET;
    ::inet_pton(AF_INET, address.c_str(), &local.sin_addr);
    socklen_t length = sizeof local;
    ::bind(m_fd, reinterpret_cast<sockaddr *>(&local), length);
    ::listen(m_fd, 256);
    ::getsockname(m_fd, reinterpret_cast<sockaddr *>(&local), &length);
    m_port = ntohs(local.sin_port);
    m_acceptThread = std::thread([this] {
        for (;;) {
            const int fd = ::accept(m_fd, nullptr, nullptr);
            if (fd < 0 || m_stopping) {
                if (fd >= 0)
                    ::close(fd);
                return;
            }
            const int one = 1;
            ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
            ++m_connections;
            std::lock_guard lock(m_mutex);
            m_open.insert(fd);
            m_threads.emplace_back([this, fd] {
                m_serve(fd);
                close(fd);
            });
        }
    });
}

void Listener::track(int fd)
{
    std::lock_guard lock(m_mutex);
    m_open.insert(fd);
}

void Listener::close(int fd)
{
    std::lock_guard lock(m_mutex); // the destructor may be shutting it down meanwhile
    m_open.erase(fd);
    ::close(fd);
}

Listener::~Listener()
{
    m_stopping = true;
    ::shutdown(m_fd, SHUT_RDWR); // wakes the blocking accept
    m_acceptThread.join();
    ::close(m_fd);
    {
        std::lock_guard lock(m_mutex);
        for (int fd : m_open)
            ::shutdown(fd, SHUT_RDWR);
    }
    for (std::thread &thread : m_threads)
        thread.join();
}

} // namespace support
