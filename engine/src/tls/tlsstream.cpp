#include "tls/tlsstream.h"

#include <algorithm>
#include <asio/post.hpp>
#include <cstring>
#include <openssl/err.h>
#include <openssl/ssl.h>

namespace qivro::engine {

namespace {

// One record with its header and the largest expansion a cipher may add.
constexpr std::size_t initialCipherBuffer = 16384 + 2048;
constexpr std::size_t largestCipherBuffer = 256 * 1024;

TlsStream *streamOf(BIO *bio)
{
    return static_cast<TlsStream *>(BIO_get_data(bio));
}

int bioWrite(BIO *bio, const char *data, std::size_t size, std::size_t *written)
{
    BIO_clear_retry_flags(bio);
    streamOf(bio)->putCipher(data, size);
    *written = size;
    return 1;
}

int bioRead(BIO *bio, char *out, std::size_t size, std::size_t *read)
{
    BIO_clear_retry_flags(bio);
    TlsStream *stream = streamOf(bio);
    *read = stream->takeCipher(out, size);
    if (*read > 0)
        return 1;
    if (!stream->cipherEof())
        BIO_set_retry_read(bio);
    return 0;
}

long bioCtrl(BIO *bio, int command, long, void *)
{
    switch (command) {
    case BIO_CTRL_FLUSH:
        return 1;
    case BIO_CTRL_EOF:
        return streamOf(bio)->cipherEof() ? 1 : 0;
    default:
        return 0;
    }
}

BIO_METHOD *bioMethod()
{
    static BIO_METHOD *method = [] {
        BIO_METHOD *created
            = BIO_meth_new(BIO_get_new_index() | BIO_TYPE_SOURCE_SINK, "qivro stream");
        if (created) {
            BIO_meth_set_write_ex(created, bioWrite);
            BIO_meth_set_read_ex(created, bioRead);
            BIO_meth_set_ctrl(created, bioCtrl);
            BIO_meth_set_create(created, [](BIO *bio) {
                BIO_set_init(bio, 1);
                return 1;
            });
        }
        return created;
    }();
    return method;
}

std::string libraryError(const char *fallback)
{
    const unsigned long code = ERR_peek_last_error();
    const char *reason = code ? ERR_reason_error_string(code) : nullptr;
    return std::string("tls: ") + (reason ? reason : fallback);
}

} // namespace

TlsStream::TlsStream(const asio::any_io_executor &executor, std::shared_ptr<Stream> inner, SSL *ssl)
    : m_executor(executor)
    , m_inner(std::move(inner))
    , m_ssl(ssl)
    , m_in(initialCipherBuffer, largestCipherBuffer)
    , m_out(executor)
{
    m_out.setIdleHandler([this](const std::error_code &error) {
        if (error && !m_error)
            fail(error, m_inner->errorDetail());
        if (m_shutdownPending && !m_error) {
            m_shutdownPending = false;
            m_inner->shutdownSend();
        }
    });
    BIO *bio = bioMethod() ? BIO_new(bioMethod()) : nullptr;
    if (bio) {
        BIO_set_data(bio, this);
        SSL_set_bio(m_ssl, bio, bio);
        // Servers often send many small records; reading ahead parses them out of one BIO read
        // instead of two reads per record.
        SSL_set_read_ahead(m_ssl, 1);
    } else {
        m_error = std::make_error_code(std::errc::not_enough_memory);
        m_detail = "tls: cannot create the connection's I/O";
    }
}

TlsStream::~TlsStream()
{
    // Proxied connections end without close_notify; OpenSSL would then refuse to resume their
    // session, which Go's client (and so the server's ticket) allows.
    if (m_handshaken && !m_tlsFailed)
        SSL_set_shutdown(m_ssl, SSL_SENT_SHUTDOWN | SSL_RECEIVED_SHUTDOWN);
    SSL_free(m_ssl);
}

void TlsStream::handshake(HandshakeHandler handler, std::function<std::string(SSL *)> errorText)
{
    m_handshakeHandler = std::move(handler);
    m_handshakeErrorText = std::move(errorText);
    if (m_error) {
        fail(m_error, m_detail);
        return;
    }
    auto self = shared_from_this();
    asio::post(m_executor, [self] { self->drive(); });
}

std::string TlsStream::alpn() const
{
    const unsigned char *data = nullptr;
    unsigned int size = 0;
    SSL_get0_alpn_selected(m_ssl, &data, &size);
    return std::string(reinterpret_cast<const char *>(data), data ? size : 0);
}

bool TlsStream::resumed() const
{
    return SSL_session_reused(m_ssl) == 1;
}

std::size_t TlsStream::takeCipher(char *out, std::size_t size)
{
    const std::size_t count = std::min(size, m_in.size());
    if (count > 0)
        std::memcpy(out, m_in.data(), count);
    m_in.consume(count);
    return count;
}

void TlsStream::putCipher(const char *data, std::size_t size)
{
    m_out.pending().insert(m_out.pending().end(), data, data + size);
}

void TlsStream::drive(bool innerCompleted)
{
    if (m_closed || m_error)
        return;
    if (!m_handshaken) {
        if (m_handshakeHandler)
            driveHandshake();
        return;
    }
    driveRead(innerCompleted);
}

bool TlsStream::driveHandshake()
{
    ERR_clear_error();
    const int result = SSL_do_handshake(m_ssl);
    if (result == 1) {
        m_handshaken = true;
        flush();
        auto handler = std::move(m_handshakeHandler);
        m_handshakeHandler = nullptr;
        handler({});
        driveRead();
        return true;
    }
    if (SSL_get_error(m_ssl, result) == SSL_ERROR_WANT_READ) {
        flush();
        readInner();
        return false;
    }
    flush(); // the alert that tells the server why
    std::string text = m_handshakeErrorText ? m_handshakeErrorText(m_ssl) : std::string();
    if (text.empty())
        text = cipherEof() ? "EOF" : libraryError("handshake failure");
    fail(std::make_error_code(std::errc::protocol_error), text);
    return false;
}

void TlsStream::driveRead(bool innerCompleted)
{
    if (!m_readHandler)
        return;
    auto *data = static_cast<char *>(m_readBuffer.data());
    const std::size_t capacity = m_readBuffer.size();
    std::size_t total = 0;
    int status = SSL_ERROR_NONE;
    ERR_clear_error(); // successful reads leave the queue empty for SSL_get_error
    while (total < capacity) {
        std::size_t read = 0;
        const int result = SSL_read_ex(m_ssl, data + total, capacity - total, &read);
        if (result == 1) {
            total += read;
            continue;
        }
        status = SSL_get_error(m_ssl, result);
        break;
    }
    flush(); // reading may have produced records to send (a key update's answer)
    if (total > 0 || capacity == 0) {
        if (!innerCompleted)
            return completeRead({}, total);
        // The layer below's completion already unwound the caller's stack: handing the bytes on
        // here saves the event loop a round per read.
        auto handler = std::move(m_readHandler);
        m_readHandler = nullptr;
        return handler({}, total);
    }
    if (status == SSL_ERROR_WANT_READ)
        return readInner();
    if (status == SSL_ERROR_ZERO_RETURN)
        return completeRead(asio::error::eof, 0);
    m_tlsFailed = true;
    fail(std::make_error_code(std::errc::protocol_error), libraryError("record error"));
}

void TlsStream::readInner()
{
    if (m_innerReading || m_closed || m_inEof)
        return;
    m_innerReading = true;
    auto self = shared_from_this();
    m_inner->asyncReadSome(m_in.prepare(), [self](const std::error_code &error, std::size_t size) {
        self->m_innerReading = false;
        if (self->m_closed)
            return self->fail(error ? error : asio::error::operation_aborted, {});
        if (error == asio::error::eof)
            self->m_inEof = true;
        else if (error)
            return self->fail(error, self->m_inner->errorDetail());
        else
            self->m_in.commit(size);
        self->drive(true);
    });
}

void TlsStream::asyncWrite(asio::const_buffer buffer, IoHandler handler)
{
    std::error_code error = m_error;
    if (!error && (!m_handshaken || m_closed))
        error = asio::error::not_connected;
    if (error || buffer.size() == 0) {
        asio::post(m_executor, [handler = std::move(handler), error] { handler(error, 0); });
        return;
    }
    ERR_clear_error();
    std::size_t written = 0;
    if (SSL_write_ex(m_ssl, buffer.data(), buffer.size(), &written) != 1) {
        fail(std::make_error_code(std::errc::protocol_error), libraryError("write failed"));
        asio::post(
            m_executor, [handler = std::move(handler), error = m_error] { handler(error, 0); });
        return;
    }
    m_out.addWaiter(std::move(handler), buffer.size());
    flush();
}

void TlsStream::flush()
{
    m_out.flush(m_inner, shared_from_this());
}

void TlsStream::shutdownSend()
{
    if (m_closed || m_error || !m_handshaken)
        return;
    ERR_clear_error();
    SSL_shutdown(m_ssl); // close_notify, as a TLS half-close
    m_shutdownPending = true;
    flush();
}

void TlsStream::close()
{
    if (m_closed)
        return;
    m_closed = true;
    m_inner->close();
}

void TlsStream::fail(const std::error_code &error, const std::string &detail)
{
    if (!m_error) {
        m_error = error;
        m_detail = detail;
    }
    if (m_handshakeHandler) {
        auto handler = std::move(m_handshakeHandler);
        m_handshakeHandler = nullptr;
        std::string text = m_detail.empty() ? m_error.message() : m_detail;
        asio::post(m_executor, [handler = std::move(handler), text] { handler(text); });
    }
    if (m_readHandler)
        completeRead(m_error, 0);
    m_out.fail(m_error);
}

void TlsStream::completeRead(const std::error_code &error, std::size_t size)
{
    auto handler = std::move(m_readHandler);
    m_readHandler = nullptr;
    asio::post(m_executor, [handler = std::move(handler), error, size] { handler(error, size); });
}

void TlsStream::asyncReadSome(asio::mutable_buffer buffer, IoHandler handler)
{
    if (m_error || !m_handshaken) {
        const std::error_code error = m_error ? m_error : asio::error::not_connected;
        asio::post(m_executor, [handler = std::move(handler), error] { handler(error, 0); });
        return;
    }
    m_readBuffer = buffer;
    m_readHandler = std::move(handler);
    driveRead();
}

} // namespace qivro::engine
