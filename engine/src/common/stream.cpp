#include "common/stream.h"

#include <asio/post.hpp>
#include <asio/write.hpp>

namespace qivro::engine {

TcpStream::TcpStream(asio::ip::tcp::socket socket)
    : m_socket(std::move(socket))
{ }

void TcpStream::asyncReadSome(asio::mutable_buffer buffer, IoHandler handler)
{
    m_socket.async_read_some(buffer, std::move(handler));
}

void TcpStream::asyncWrite(asio::const_buffer buffer, IoHandler handler)
{
    if (buffer.size() == 0) {
        asio::post(m_socket.get_executor(), [handler = std::move(handler)] { handler({}, 0); });
        return;
    }
    asio::async_write(m_socket, buffer, std::move(handler));
}

void TcpStream::shutdownSend()
{
    std::error_code ignored;
    m_socket.shutdown(asio::ip::tcp::socket::shutdown_send, ignored);
}

std::string errorText(const std::error_code &error)
{
    if (error == asio::error::connection_refused)
        return "connection refused";
    if (error == asio::error::timed_out || error == asio::error::operation_aborted)
        return "i/o timeout";
    if (error == asio::error::eof)
        return "EOF";
    return error.message();
}

void TcpStream::abort()
{
    std::error_code ignored;
    m_socket.set_option(asio::socket_base::linger(true, 0), ignored);
    m_socket.close(ignored);
}

void TcpStream::close()
{
    std::error_code ignored;
    m_socket.close(ignored);
}

} // namespace qivro::engine
