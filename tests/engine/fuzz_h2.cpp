// Bytes from an HTTP/2 server into a client connection with one gun request open, in pieces whose
// size the first byte picks, with the stream read and written meanwhile: the session and the
// streams built on it must survive anything.
#include "transport/gunstream.h"
#include "transport/http2connection.h"
#include "transport/http2stream.h"

#include <asio/io_context.hpp>

using namespace qivro::engine;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    if (size < 1)
        return 0;
    asio::io_context io;
    auto connection = std::make_shared<Http2Connection>(io.get_executor(), nullptr);
    if (!connection->start())
        return 0;
    auto stream
        = connection->request({{":method", "POST"}, {":scheme", "https"}, {":path", "/tun/Tun"},
                                  {":authority", "a.test"}, {"content-type", "application/grpc"}},
            "v2ray-grpc: ");
    if (!stream)
        return 0;
    auto gun = std::make_shared<GunStream>(io.get_executor(), stream);
    std::vector<std::uint8_t> buffer(4096);
    std::function<void()> readMore = [&] {
        gun->asyncReadSome(asio::buffer(buffer), [&](const std::error_code &error, std::size_t) {
            if (!error)
                readMore();
        });
    };
    readMore();
    const std::string upload(3000, 'u');
    gun->asyncWrite(asio::buffer(upload), [](const std::error_code &, std::size_t) {});
    // poll() stops the context whenever it runs out of work; later polls would run nothing.
    const auto drain = [&io] {
        io.restart();
        io.poll();
    };
    const std::size_t piece = 1 + data[0] % 128;
    for (std::size_t at = 1; at < size; at += piece) {
        if (!connection->receive(data + at, std::min(piece, size - at)))
            break;
        drain();
    }
    gun->close();
    drain();
    connection->close();
    drain();
    return 0;
}
