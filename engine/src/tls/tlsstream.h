// A TLS client connection over any Stream (TCP or a transport), on OpenSSL's SSL API. The
// ciphertext moves through a BIO of our own, so the layer below never has to be a socket.
#pragma once

#include "common/inputbuffer.h"
#include "common/stream.h"
#include "common/writequeue.h"

#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

typedef struct ssl_st SSL;

namespace qivro::engine {

class TlsStream
    : public Stream
    , public std::enable_shared_from_this<TlsStream>
{
public:
    using HandshakeHandler = std::function<void(const std::string &error)>;
    // Takes ownership of ssl, already configured for the client side.
    TlsStream(const asio::any_io_executor &executor, std::shared_ptr<Stream> inner, SSL *ssl);
    ~TlsStream() override;

    // errorText maps a failed handshake to the message the user sees.
    void handshake(HandshakeHandler handler, std::function<std::string(SSL *)> errorText);
    std::string alpn() const;
    bool resumed() const;

    void asyncReadSome(asio::mutable_buffer buffer, IoHandler handler) override;
    void asyncWrite(asio::const_buffer buffer, IoHandler handler) override;
    void shutdownSend() override;
    void close() override;
    std::string errorDetail() const override { return m_detail; }

    // The BIO's side: ciphertext in from the layer below and out to it.
    std::size_t takeCipher(char *out, std::size_t size);
    void putCipher(const char *data, std::size_t size);
    bool cipherEof() const { return m_inEof && m_in.empty(); }

private:
    // innerCompleted: called from the layer below's completion, not from a caller of ours.
    void drive(bool innerCompleted = false);
    bool driveHandshake();
    void driveRead(bool innerCompleted = false);
    void readInner();
    void flush();
    void fail(const std::error_code &error, const std::string &detail);
    void completeRead(const std::error_code &error, std::size_t size);

    asio::any_io_executor m_executor;
    std::shared_ptr<Stream> m_inner;
    SSL *m_ssl = nullptr;

    InputBuffer m_in;
    bool m_inEof = false;
    bool m_innerReading = false;

    WriteQueue m_out;
    bool m_shutdownPending = false;

    HandshakeHandler m_handshakeHandler;
    std::function<std::string(SSL *)> m_handshakeErrorText;
    bool m_handshaken = false;
    bool m_tlsFailed = false; // a record failed to decrypt or parse: its session is not reused

    asio::mutable_buffer m_readBuffer;
    IoHandler m_readHandler;

    std::error_code m_error;
    std::string m_detail;
    bool m_closed = false;
};

} // namespace qivro::engine
