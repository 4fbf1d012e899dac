// Byte streams and packet connections that inbounds and outbounds hand each other.
#pragma once

#include "common/address.h"

#include <asio/any_io_executor.hpp>
#include <asio/buffer.hpp>
#include <asio/ip/tcp.hpp>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <system_error>
#if !defined(_WIN32)
#include <fcntl.h>
#endif

namespace qivro::engine {

// Keeps a socket from programs the host process starts (a browser, a helper): a child holding a
// copy would keep a listening port bound, or a connection open, after the engine closed its own.
template <typename Handle>
void keepFromChildren(Handle handle)
{
#if !defined(_WIN32)
    ::fcntl(handle, F_SETFD, FD_CLOEXEC);
#else
    (void)handle; // Windows sockets are not inherited unless asked for
#endif
}

using IoHandler = std::function<void(const std::error_code &, std::size_t)>;

class Stream
{
public:
    virtual ~Stream() = default;
    virtual void asyncReadSome(asio::mutable_buffer buffer, IoHandler handler) = 0;
    // Completes once every byte is written (or on error). An empty write flushes pending headers.
    virtual void asyncWrite(asio::const_buffer buffer, IoHandler handler) = 0;
    virtual void shutdownSend() = 0;
    virtual void close() = 0;
    // Why the last operation failed, where the error code alone says too little ("" otherwise).
    virtual std::string errorDetail() const { return {}; }
    // Ends the stream with a reset where the transport has one, so the peer sees the reset the
    // other side of a relay saw.
    virtual void abort() { close(); }
};

// asio sends with MSG_NOSIGNAL on Linux (SO_NOSIGPIPE elsewhere), so a closed peer never raises
// SIGPIPE in the host process.
class TcpStream : public Stream
{
public:
    explicit TcpStream(asio::ip::tcp::socket socket);
    void asyncReadSome(asio::mutable_buffer buffer, IoHandler handler) override;
    void asyncWrite(asio::const_buffer buffer, IoHandler handler) override;
    void shutdownSend() override;
    void close() override;
    void abort() override;
    asio::ip::tcp::socket &socket() { return m_socket; }

private:
    asio::ip::tcp::socket m_socket;
};

class PacketConn
{
public:
    using ReceiveHandler
        = std::function<void(const Destination &from, const std::uint8_t *data, std::size_t size)>;
    virtual ~PacketConn() = default;
    virtual void send(const Destination &to, const std::uint8_t *data, std::size_t size) = 0;
    // Delivers every packet until close(); errors end delivery quietly.
    virtual void startReceive(ReceiveHandler handler) = 0;
    virtual void close() = 0;
};

// Go-style texts ("connection refused", "i/o timeout", "EOF") for the user-facing errors.
std::string errorText(const std::error_code &error);

} // namespace qivro::engine
