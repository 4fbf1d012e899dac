// Copies bytes both ways between an inbound stream and an outbound stream until both sides end.
#pragma once

#include "common/pipepool.h"
#include "common/stream.h"
#include "common/tracker.h"

#include <memory>
#include <vector>

namespace qivro::engine {

class Relay : public std::enable_shared_from_this<Relay>
{
public:
    Relay(std::shared_ptr<Stream> client, std::shared_ptr<Stream> remote,
        std::shared_ptr<ConnectionInfo> info, Tracker &tracker);
    ~Relay();
    // initial: bytes already read from the client (sniffed), sent before anything else.
    void start(const asio::any_io_executor &executor, std::vector<std::uint8_t> initial);
    void close();

private:
    void pump(bool upstream);
    // Writes the size bytes just read to the other side, then reads again.
    void forward(bool upstream, std::size_t size);
    void directionDone();
    // A failed read or write ends both sides; a reset is passed on as a reset.
    void fail(bool upstream, const std::error_code &error);
#if defined(__linux__)
    // Plain TCP on both sides: bytes move through a pipe with splice() and never enter user space.
    void splicePump(bool upstream);
    // True once the pipe is empty; false when it went on asynchronously or the relay closed.
    bool spliceDrain(bool upstream, std::size_t pending);
    Pipe m_pipes[2];
    bool m_copy[2] = {false, false}; // no pipe to be had: this direction copies in user space
    TcpStream *m_tcpClient = nullptr;
    TcpStream *m_tcpRemote = nullptr;
#endif

    std::shared_ptr<Stream> m_client;
    std::shared_ptr<Stream> m_remote;
    std::shared_ptr<ConnectionInfo> m_info;
    Tracker &m_tracker;
    std::vector<std::uint8_t> m_upBuffer;
    std::vector<std::uint8_t> m_downBuffer;
    static constexpr std::size_t initialBuffer = 16 * 1024;
    std::size_t m_upCapacity = initialBuffer;
    std::size_t m_downCapacity = initialBuffer;
    int m_open = 2;
    bool m_closed = false;
};

} // namespace qivro::engine
