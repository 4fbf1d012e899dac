// The ws transport: an HTTP/1.1 upgrade, then the stream's bytes in binary frames. With early data
// the upgrade waits for the first write and carries its start in the path or a header.
#pragma once

#include "common/inputbuffer.h"
#include "common/writequeue.h"
#include "transport/transport.h"
#include "transport/wsframereader.h"

#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace qivro::engine {

class WebSocketTransport : public Transport
{
public:
    using OpenHandler = std::function<void(
        const std::string &error, std::shared_ptr<Stream> inner, std::vector<std::uint8_t> rest)>;

    WebSocketTransport(const TransportConfig &config, TransportContext context, std::string path);
    void dial(const asio::any_io_executor &executor, StreamHandler handler) override;
    // Connects and upgrades, with earlyData (may be empty) in the path or the configured header.
    void open(
        const asio::any_io_executor &executor, const std::string &earlyData, OpenHandler handler);

private:
    std::string request(const std::string &earlyData, const std::string &key) const;

    TransportContext m_context;
    std::string m_path;
    std::string m_host;
    std::vector<std::pair<std::string, std::string>> m_headers;
    std::uint32_t m_maxEarlyData = 0;
    std::string m_earlyDataHeader;
};

class WebSocketStream
    : public Stream
    , public std::enable_shared_from_this<WebSocketStream>
{
public:
    // Already upgraded: rest holds frame bytes that came with the response.
    WebSocketStream(const asio::any_io_executor &executor, std::shared_ptr<Stream> inner,
        std::vector<std::uint8_t> rest);
    // Upgrades on the first write, through the transport.
    WebSocketStream(const asio::any_io_executor &executor, WebSocketTransport *transport,
        std::uint32_t maxEarlyData);

    void asyncReadSome(asio::mutable_buffer buffer, IoHandler handler) override;
    void asyncWrite(asio::const_buffer buffer, IoHandler handler) override;
    // A WebSocket cannot half-close; the server learns of the end when the stream closes.
    void shutdownSend() override { }
    void close() override;
    std::string errorDetail() const override;

private:
    void openEarly(asio::const_buffer buffer, IoHandler handler);
    void queueFrame(std::uint8_t opcode, const std::uint8_t *data, std::size_t size);
    // innerCompleted: called from the layer below's completion, not from a caller of ours.
    void readStep(bool innerCompleted = false);
    void readInner();
    void readFailed(const std::error_code &error);
    void completeRead(const std::error_code &error, std::size_t size, bool innerCompleted = false);
    void fail(const std::error_code &error, const std::string &detail);

    asio::any_io_executor m_executor;
    std::shared_ptr<Stream> m_inner;
    WebSocketTransport *m_transport = nullptr;
    std::uint32_t m_maxEarlyData = 0;
    bool m_opening = false;
    WriteQueue m_out;

    WsFrameReader m_frames;
    InputBuffer m_in;
    bool m_innerReading = false;
    asio::mutable_buffer m_readBuffer;
    IoHandler m_readHandler;

    std::error_code m_error;
    std::string m_detail;
    bool m_closed = false;
};

} // namespace qivro::engine
