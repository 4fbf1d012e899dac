// A TCP listener on loopback (or another local IPv4 address) that serves each connection in a
// thread of its own, for the tests' servers. Going away, it shuts every connection still open
// down, waits for the threads, and closes what it accepted.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace support {

class Listener
{
public:
    // serve gets the connected socket; it is closed when serve returns.
    explicit Listener(std::function<void(int fd)> serve, const std::string &address = "127.0.0.1");
    ~Listener();
    std::uint16_t port() const { return m_port; }
    int connections() const { return m_connections.load(); }
    // Another socket a connection uses (a spliced upstream): shut down with the rest until the
    // connection closes it here.
    void track(int fd);
    void close(int fd);

private:
    std::function<void(int)> m_serve;
    int m_fd = -1;
    std::uint16_t m_port = 0;
    std::atomic<bool> m_stopping {false};
    std::atomic<int> m_connections {0};
    std::mutex m_mutex;
    std::set<int> m_open;
    std::vector<std::thread> m_threads;
    std::thread m_acceptThread;
};

} // namespace support
