// The http transport without TLS: the request head goes out with the first write, the response
// head is read before the first read returns, and raw bytes follow both ways.
#pragma once

#include "common/stream.h"

#include <memory>
#include <string>
#include <vector>

namespace qivro::engine {

class Http1Stream
    : public Stream
    , public std::enable_shared_from_this<Http1Stream>
{
public:
    Http1Stream(
        const asio::any_io_executor &executor, std::shared_ptr<Stream> inner, std::string head);
    void asyncReadSome(asio::mutable_buffer buffer, IoHandler handler) override;
    void asyncWrite(asio::const_buffer buffer, IoHandler handler) override;
    void shutdownSend() override { m_inner->shutdownSend(); }
    void close() override { m_inner->close(); }
    std::string errorDetail() const override;

private:
    asio::any_io_executor m_executor;
    std::shared_ptr<Stream> m_inner;
    std::string m_head;
    bool m_headSent = false;
    bool m_responseRead = false;
    std::shared_ptr<Stream> m_body; // after the response head: its leftover, then the socket
    std::vector<std::uint8_t> m_writeBuffer;
    std::string m_detail;
};

} // namespace qivro::engine
