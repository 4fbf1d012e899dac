// The engine's own TLS 1.3 client as a Stream over any other Stream: browser-shaped hellos
// ("utls") and REALITY.
#pragma once

#include "common/stream.h"
#include "tls/utls/tls13client.h"

#include <asio/steady_timer.hpp>
#include <deque>

namespace qivro::engine::utls {

class UtlsStream
    : public Stream
    , public std::enable_shared_from_this<UtlsStream>
{
public:
    using HandshakeHandler
        = std::function<void(const std::string &error, std::shared_ptr<UtlsStream> stream)>;

    UtlsStream(const asio::any_io_executor &executor, std::shared_ptr<Stream> lower,
        ClientOptions options);

    // Runs the handshake; the handler gets the stream once application data may flow, or the
    // reason it failed (the lower stream is closed then).
    static void connect(const asio::any_io_executor &executor, std::shared_ptr<Stream> lower,
        ClientOptions options, int timeoutMs, HandshakeHandler handler);

    void asyncReadSome(asio::mutable_buffer buffer, IoHandler handler) override;
    void asyncWrite(asio::const_buffer buffer, IoHandler handler) override;
    void shutdownSend() override;
    void close() override;

    const std::string &alpn() const { return m_client.alpn(); }
    const Tls13Client &client() const { return m_client; }
    // The reason of the last failure after an error was reported.
    const std::string &error() const { return m_client.error(); }

    // The vision flow's direct copy: writes go to the lower stream untouched from now on...
    void passWritesThrough();
    // ...and reads return the decrypted bytes left, then the bytes not yet decrypted, then the
    // lower stream's own.
    void passReadsThrough();
    const std::shared_ptr<Stream> &lower() const { return m_lower; }
    // Reads stop at each record's end, so the caller can switch to passing reads through right
    // after the record that told it to; otherwise a read takes every record already buffered.
    void keepRecordBoundaries() { m_recordReads = true; }

private:
    struct PendingWrite
    {
        Bytes data;
        std::function<void(const std::error_code &)> done;
    };

    void handshakeStep(std::shared_ptr<HandshakeHandler> handler);
    void finishHandshake(
        const std::shared_ptr<HandshakeHandler> &handler, const std::string &error);
    void readRecords(asio::mutable_buffer buffer, IoHandler handler);
    void deliver(asio::mutable_buffer buffer, IoHandler &handler);
    void flushOutput(std::function<void(const std::error_code &)> done = nullptr);
    void enqueue(Bytes data, std::function<void(const std::error_code &)> done);
    void writeNext();
    void post(IoHandler handler, const std::error_code &error, std::size_t size);

    asio::any_io_executor m_executor;
    std::shared_ptr<Stream> m_lower;
    Tls13Client m_client;
    asio::steady_timer m_timer;
    std::deque<PendingWrite> m_queue;
    bool m_writing = false;
    bool m_rawWrites = false;
    bool m_rawReads = false;
    bool m_recordReads = false;
    Bytes m_rawLeft;
    std::size_t m_rawOffset = 0;
    static constexpr std::size_t readChunk = 32 * 1024;
};

} // namespace qivro::engine::utls
