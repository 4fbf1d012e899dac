// The vision flow on a VLESS connection: pads both directions while the inner TLS handshake
// passes, then either carries on plainly inside the outer TLS or, for inner TLS 1.3, hands the
// inner records straight to the TCP connection (both directions switch on their own).
#pragma once

#include "common/stream.h"
#include "outbound/visionframing.h"

#include <asio/steady_timer.hpp>
#include <memory>

namespace qivro::engine {

namespace utls {
class UtlsStream;
}

class VisionStream
    : public Stream
    , public std::enable_shared_from_this<VisionStream>
{
public:
    // inner: the VLESS stream (the request header goes out with the first write). outerTls: the
    // engine's TLS under it, which the direct copy bypasses; without it the flow never goes
    // direct on its own side and cannot follow a server that does.
    VisionStream(const asio::any_io_executor &executor, std::shared_ptr<Stream> inner,
        std::shared_ptr<utls::UtlsStream> outerTls, const vision::UserId &userId);

    void asyncReadSome(asio::mutable_buffer buffer, IoHandler handler) override;
    void asyncWrite(asio::const_buffer buffer, IoHandler handler) override;
    void shutdownSend() override;
    void close() override;

    bool readsDirect() const { return m_readsDirect; }
    bool writesDirect() const { return m_writesDirect; }

private:
    void deliver(asio::mutable_buffer buffer, IoHandler &handler);
    void writeRest(std::shared_ptr<vision::Bytes> rest, std::size_t reported, IoHandler handler);

    asio::any_io_executor m_executor;
    std::shared_ptr<Stream> m_inner;
    std::shared_ptr<utls::UtlsStream> m_outerTls;
    vision::UserId m_userId;
    vision::TrafficState m_traffic;
    vision::Unpadder m_unpadder;
    bool m_writePadding = true;
    bool m_firstFrame = true;
    bool m_writesDirect = false;
    bool m_readsDirect = false;
    bool m_delayFirstDirectWrite = false;
    asio::steady_timer m_timer;
    vision::Bytes m_readBuffer;
    vision::Bytes m_plain;
    std::size_t m_plainOffset = 0;
    vision::Bytes m_writeBuffer;
};

} // namespace qivro::engine
