// The far end of the TUN tests, run inside the test's second network namespace:
//   tunpeer <port>   TCP <port>   echo; counts how its clients ended (FIN or reset)
//                    TCP <port>+1 reads a line, then resets the connection
//                    TCP <port>+2 prints "eof=N reset=N" of the echo port and closes
//                    TCP <port>+3 reads a byte count, sends that many bytes, then closes
//                    UDP <port>   echo
#include <array>
#include <asio.hpp>
#include <cstdio>
#include <memory>
#include <string>

using asio::ip::tcp;
using asio::ip::udp;

namespace {

int g_eof = 0;
int g_reset = 0;

class Echo : public std::enable_shared_from_this<Echo>
{
public:
    explicit Echo(tcp::socket socket)
        : m_socket(std::move(socket))
    { }
    void start() { read(); }

private:
    void read()
    {
        m_socket.async_read_some(asio::buffer(m_buffer),
            [self = shared_from_this()](std::error_code error, std::size_t n) {
                if (error == asio::error::eof) {
                    ++g_eof;
                    self->m_socket.shutdown(tcp::socket::shutdown_send, error);
                    return;
                }
                if (error) {
                    g_reset += error == asio::error::connection_reset;
                    return;
                }
                asio::async_write(self->m_socket, asio::buffer(self->m_buffer, n),
                    [self](std::error_code writeError, std::size_t) {
                        if (!writeError)
                            self->read();
                    });
            });
    }
    tcp::socket m_socket;
    std::array<char, 64 * 1024> m_buffer {};
};

class Oneshot : public std::enable_shared_from_this<Oneshot>
{
public:
    Oneshot(tcp::socket socket, int kind)
        : m_socket(std::move(socket))
        , m_kind(kind)
    { }
    void start()
    {
        if (m_kind == 2) {
            m_text = "eof=" + std::to_string(g_eof) + " reset=" + std::to_string(g_reset) + "\n";
            return send();
        }
        asio::async_read_until(m_socket, asio::dynamic_buffer(m_text), '\n',
            [self = shared_from_this()](std::error_code error, std::size_t) {
                if (error)
                    return;
                if (self->m_kind == 1) {
                    self->m_socket.set_option(asio::socket_base::linger(true, 0), error);
                    self->m_socket.close(error);
                    return;
                }
                self->m_left = std::stoull(self->m_text);
                self->m_text.assign(256 * 1024, 'q');
                self->source();
            });
    }

private:
    void send()
    {
        asio::async_write(m_socket, asio::buffer(m_text),
            [self = shared_from_this()](std::error_code error, std::size_t) {
                self->m_socket.shutdown(tcp::socket::shutdown_send, error);
            });
    }
    void source()
    {
        if (m_left == 0) {
            std::error_code ignored;
            m_socket.shutdown(tcp::socket::shutdown_send, ignored);
            return;
        }
        const std::size_t n
            = static_cast<std::size_t>(std::min<unsigned long long>(m_left, m_text.size()));
        asio::async_write(m_socket, asio::buffer(m_text.data(), n),
            [self = shared_from_this(), n](std::error_code error, std::size_t) {
                if (error)
                    return;
                self->m_left -= n;
                self->source();
            });
    }
    tcp::socket m_socket;
    int m_kind;
    std::string m_text;
    unsigned long long m_left = 0;
};

void acceptLoop(tcp::acceptor &acceptor, int kind)
{
    acceptor.async_accept([&acceptor, kind](std::error_code error, tcp::socket socket) {
        if (!error) {
            if (kind == 0)
                std::make_shared<Echo>(std::move(socket))->start();
            else
                std::make_shared<Oneshot>(std::move(socket), kind)->start();
        }
        acceptLoop(acceptor, kind);
    });
}

struct UdpEcho
{
    udp::socket socket;
    udp::endpoint from;
    std::array<char, 65536> buffer {};

    void receive()
    {
        socket.async_receive_from(
            asio::buffer(buffer), from, [this](std::error_code error, std::size_t n) {
                if (!error)
                    socket.send_to(asio::buffer(buffer, n), from, 0, error);
                receive();
            });
    }
};

} // namespace

int main(int argc, char **argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <port>\n", argv[0]);
        return 2;
    }
    const auto port = static_cast<unsigned short>(std::stoi(argv[1]));
    asio::io_context io;
    std::vector<std::unique_ptr<tcp::acceptor>> acceptors;
    for (int kind = 0; kind < 4; ++kind) {
        acceptors.push_back(std::make_unique<tcp::acceptor>(
            io, tcp::endpoint(tcp::v4(), static_cast<unsigned short>(port + kind))));
        acceptors.back()->listen(4096);
        acceptLoop(*acceptors.back(), kind);
    }
    UdpEcho echo {udp::socket(io, udp::endpoint(udp::v4(), port)), {}, {}};
    echo.receive();
    io.run();
    return 0;
}
