// The TLS settings of one outbound: trust, names, versions, ALPN and its session cache. Each
// handshake layers a TlsStream over a stream to the server.
#pragma once

#include "common/stream.h"
#include "config/config.h"

#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

typedef struct ssl_ctx_st SSL_CTX;
typedef struct ssl_st SSL;
typedef struct ssl_session_st SSL_SESSION;

namespace qivro::engine {

class TlsStream;

class TlsClient
{
public:
    using Handler = std::function<void(const std::string &error, std::shared_ptr<TlsStream>)>;

    // server: the outbound's server, the name verified when server_name is empty.
    // defaultAlpn: offered when the configuration names none (a transport may need one).
    TlsClient(
        const TlsConfig &config, const std::string &server, std::vector<std::string> defaultAlpn);
    ~TlsClient();
    TlsClient(const TlsClient &) = delete;
    TlsClient &operator=(const TlsClient &) = delete;

    // Why this configuration cannot be used (unknown cipher suite, unreadable certificate);
    // "" when it can.
    const std::string &setupError() const { return m_setupError; }

    void handshake(const asio::any_io_executor &executor, std::shared_ptr<Stream> inner,
        int timeoutMs, Handler handler);

    // For the session cache, which OpenSSL fills from a callback.
    void storeSession(SSL_SESSION *session);

private:
    SSL *newConnection();

    SSL_CTX *m_context = nullptr;
    std::string m_setupError;
    std::string m_verifyName; // DNS name or IP literal the certificate must carry
    bool m_sendSni = true;
    std::mutex m_sessionMutex;
    SSL_SESSION *m_session = nullptr;
};

// The text Go's crypto/x509 gives for a failed verification ("x509: certificate signed by
// unknown authority"), from OpenSSL's verify result and the server's certificate.
std::string verifyErrorText(long result, SSL *ssl, const std::string &verifyName);

} // namespace qivro::engine
