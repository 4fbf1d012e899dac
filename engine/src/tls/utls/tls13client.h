// A TLS 1.3 client without I/O: bytes from the server go in, bytes for the server and
// application data come out. It writes a browser-shaped ClientHello and, with REALITY keys,
// seals the session id and checks the server's answer instead of the certificate chain.
//
// Application records are decrypted one at a time, on demand (process()), so a caller that
// stops reading TLS mid-stream (the vision flow's direct copy) still holds the raw bytes after
// the last record it asked for.
#pragma once

#include "tls/utls/bytes.h"
#include "tls/utls/clienthello.h"
#include "tls/utls/handshakemessages.h"
#include "tls/utls/keyschedule.h"
#include "tls/utls/recordcipher.h"

#include <memory>
#include <string>

namespace qivro::engine::utls {

class CertificateVerifier;
class KeyShare;
class RealityAuth;
struct RealityKeys;

struct ClientOptions
{
    const HelloShape *shape = nullptr; // chrome when null
    std::string serverName; // sent as SNI unless empty or an IP literal
    std::string verifyName; // the name the certificate must match; serverName when empty
    std::vector<std::string> alpn; // replaces the shape's protocols when not empty
    bool insecure = false; // skip the chain check (the handshake signature is still checked)
    std::shared_ptr<const CertificateVerifier> verifier;
    std::shared_ptr<const RealityKeys> reality;
    std::uint32_t unixTime = 0; // REALITY's timestamp; the clock when 0
};

class Tls13Client
{
public:
    explicit Tls13Client(ClientOptions options);
    ~Tls13Client();
    Tls13Client(const Tls13Client &) = delete;
    Tls13Client &operator=(const Tls13Client &) = delete;

    // Puts the ClientHello into output(). False when it cannot be built.
    bool start();

    // Room for up to size bytes from the server; commit what was read, then process().
    std::uint8_t *inputSpace(std::size_t size);
    void commitInput(std::size_t size);
    // Works through buffered records until application data is available or more input is
    // needed. False after a fatal error: error() says why, output() may hold an alert.
    bool process();

    // Decrypted application data, consumed from the front.
    const std::uint8_t *data() const { return m_in.data() + m_plainOffset; }
    std::size_t available() const { return m_plainSize; }
    void consume(std::size_t size);

    // Protects application data into output().
    void write(const std::uint8_t *data, std::size_t size);
    void closeNotify();

    Bytes &output() { return m_out; }
    bool connected() const { return m_state == State::Connected; }
    bool failed() const { return m_state == State::Failed; }
    bool peerClosed() const { return m_peerClosed; }
    const std::string &error() const { return m_error; }
    const std::string &alpn() const { return m_alpn; }
    std::uint16_t cipherSuite() const { return m_suite ? m_suite->id : 0; }
    bool retried() const { return m_retried; }
    // The server's bytes not yet taken up as records, removed from the client.
    Bytes takeUnprocessed();

    // The ClientHello as first sent (for tests and captures).
    const Bytes &firstHello() const { return m_firstHello; }

private:
    enum class State
    {
        Idle,
        WaitServerHello,
        WaitEncryptedExtensions,
        WaitCertificate,
        WaitCertificateVerify,
        WaitFinished,
        Connected,
        Failed
    };

    bool fatal(const Failure &failure, bool silent = false);
    bool record(std::uint8_t type, std::uint8_t *body, std::size_t size);
    bool handshakeData(const std::uint8_t *data, std::size_t size);
    bool message(std::uint8_t type, const Bytes &body, const Bytes &whole);
    bool onServerHello(const Bytes &body, const Bytes &whole);
    bool onRetryRequest(const ServerHello &hello, const Bytes &whole);
    bool onEncryptedExtensions(const Bytes &body);
    bool onCertificate(const Bytes &body);
    bool onCertificateVerify(const Bytes &body);
    bool onFinished(const Bytes &body, const Bytes &whole);
    bool onPostHandshake(std::uint8_t type, const Bytes &body);
    void sendChangeCipherSpec();
    void sendAlert(std::uint8_t description);
    void sendHandshake(const Bytes &message);

    ClientOptions m_options;
    State m_state = State::Idle;
    std::string m_error;
    std::unique_ptr<ClientHello> m_hello;
    std::unique_ptr<RealityAuth> m_reality;
    std::vector<std::unique_ptr<KeyShare>> m_shares;
    Bytes m_firstHello;
    Transcript m_transcript;
    const CipherSuite *m_suite = nullptr;
    std::unique_ptr<KeySchedule> m_keys;
    RecordCipher m_read;
    RecordCipher m_write;
    Bytes m_readSecret;
    Bytes m_writeSecret;
    bool m_retried = false;
    bool m_sentChangeCipherSpec = false;
    bool m_realityVerified = false;
    bool m_applicationSettings = false;
    bool m_certificateRequested = false;
    Bytes m_certificateRequestContext;
    std::vector<Bytes> m_chain;
    std::string m_alpn;
    std::size_t m_maxFragment = maxPlaintext;

    Bytes m_in;
    std::size_t m_inOffset = 0;
    std::size_t m_inputStart = 0;
    std::size_t m_plainOffset = 0;
    std::size_t m_plainSize = 0;
    Bytes m_handshake;
    Bytes m_out;
    bool m_peerClosed = false;
};

} // namespace qivro::engine::utls
