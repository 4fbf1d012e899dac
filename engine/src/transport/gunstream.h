// The bytes of one grpc ("gun") tunnel: writes become gRPC messages on the HTTP/2 stream, reads
// return the data fields of the server's messages.
#pragma once

#include "common/inputbuffer.h"
#include "common/stream.h"
#include "transport/gunreader.h"

#include <memory>
#include <string>
#include <vector>

namespace qivro::engine {

class GunStream
    : public Stream
    , public std::enable_shared_from_this<GunStream>
{
public:
    GunStream(const asio::any_io_executor &executor, std::shared_ptr<Stream> inner);
    void asyncReadSome(asio::mutable_buffer buffer, IoHandler handler) override;
    void asyncWrite(asio::const_buffer buffer, IoHandler handler) override;
    void shutdownSend() override { m_inner->shutdownSend(); }
    void close() override { m_inner->close(); }
    std::string errorDetail() const override;

private:
    void readStep(asio::mutable_buffer buffer, IoHandler handler);

    asio::any_io_executor m_executor;
    std::shared_ptr<Stream> m_inner;
    GunReader m_reader;
    InputBuffer m_in;
    std::vector<std::uint8_t> m_out;
    std::string m_detail;
};

} // namespace qivro::engine
