// The far end of the TUN tests, run inside the test's second network namespace:
//   tunpeer <port>   TCP <port>   echo; counts how its clients ended (FIN or reset)
//                    TCP <port>+1 reads a line, then resets the connection
//                    TCP <port>+2 prints "eof=N reset=N" of the echo port and closes
//                    TCP <port>+3 reads a byte count, sends that many bytes, then closes
//                    UDP <port>   echo
// The echo and the report share one event loop, so a report counts every end that came before it;
// the other ports serve a connection each in a thread of its own.
#include <array>
#include <asio.hpp>
#include <cstdio>
#include <memory>
#include <string>
#include <thread>

using asio::ip::tcp;
using asio::ip::udp;

namespace {

int g_eof = 0;
int g_reset = 0;

using Socket = std::shared_ptr<tcp::socket>;

void echo(const Socket &socket, const std::shared_ptr<std::array<char, 64 * 1024>> &buffer)
{
    socket->async_read_some(
        asio::buffer(*buffer), [socket, buffer](std::error_code error, std::size_t n) {
            if (error == asio::error::eof) {
                ++g_eof;
                socket->shutdown(tcp::socket::shutdown_send, error);
            } else if (error) {
                g_reset += error == asio::error::connection_reset;
            } else {
                asio::async_write(*socket, asio::buffer(buffer->data(), n),
                    [socket, buffer](std::error_code writeError, std::size_t) {
                        if (!writeError)
                            echo(socket, buffer);
                    });
            }
        });
}

void report(const Socket &socket)
{
    auto text = std::make_shared<std::string>(
        "eof=" + std::to_string(g_eof) + " reset=" + std::to_string(g_reset) + "\n");
    asio::async_write(
        *socket, asio::buffer(*text), [socket, text](std::error_code error, std::size_t) {
            socket->shutdown(tcp::socket::shutdown_send, error);
        });
}

// Blocking, in a thread of its own: reset after a line (kind 1) or send the count asked for.
void resetOrSource(const Socket &socket, int kind)
{
    std::error_code error;
    std::string line;
    if (asio::read_until(*socket, asio::dynamic_buffer(line), '\n', error), error)
        return;
    if (kind == 1) {
        socket->set_option(asio::socket_base::linger(true, 0), error);
        return socket->close(error);
    }
    const std::string block(256 * 1024, 'q');
    for (unsigned long long left = std::stoull(line); left > 0 && !error;) {
        const auto n = static_cast<std::size_t>(std::min<unsigned long long>(left, block.size()));
        asio::write(*socket, asio::buffer(block.data(), n), error);
        left -= n;
    }
    socket->shutdown(tcp::socket::shutdown_send, error);
}

void acceptLoop(tcp::acceptor &acceptor, int kind)
{
    acceptor.async_accept([&acceptor, kind](std::error_code error, tcp::socket accepted) {
        if (!error) {
            auto socket = std::make_shared<tcp::socket>(std::move(accepted));
            if (kind == 0)
                echo(socket, std::make_shared<std::array<char, 64 * 1024>>());
            else if (kind == 2)
                report(socket);
            else
                std::thread([socket, kind] { resetOrSource(socket, kind); }).detach();
        }
        acceptLoop(acceptor, kind);
    });
}

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
    udp::socket udpEcho(io, udp::endpoint(udp::v4(), port));
    std::thread([&udpEcho] {
        std::array<char, 65536> buffer;
        for (udp::endpoint from;;) {
            std::error_code error;
            const std::size_t n = udpEcho.receive_from(asio::buffer(buffer), from, 0, error);
            if (!error)
                udpEcho.send_to(asio::buffer(buffer.data(), n), from, 0, error);
        }
    }).detach();
    io.run();
    return 0;
}
