// A REALITY server for the tests, written from the protocol's description and sharing no code
// with the client: it opens the sealed session id of each ClientHello; an authentic client gets
// a TLS 1.3 handshake (its own minimal server side on OpenSSL's TLS13-KDF) with an Ed25519
// certificate signed by HMAC, everyone else is spliced to the fallback server.
#pragma once

#include "support.h"

#include <functional>
#include <optional>

namespace support {

// The server side of one TLS 1.3 connection after the handshake, blocking.
class TlsServerSession
{
public:
    explicit TlsServerSession(int fd)
        : m_fd(fd)
    { }
    // One record's application data; false at the end of the stream or on an error.
    bool read(Octets &out);
    bool write(const std::uint8_t *data, std::size_t size);
    bool write(const std::string &text)
    {
        return write(reinterpret_cast<const std::uint8_t *>(text.data()), text.size());
    }
    int fd() const { return m_fd; }
    // Bytes already taken off the socket but not yet read as records (the vision flow's
    // direct copy continues with them).
    Octets takeBuffered();

    // Set by the handshake.
    Octets readKey, readIv, writeKey, writeIv;
    std::uint64_t readSequence = 0;
    std::uint64_t writeSequence = 0;
    Octets buffer;

    bool readRecord(std::uint8_t &type, Octets &body);
    // The next protected record, decrypted; inner is its real content type.
    bool openRecord(std::uint8_t &inner, Octets &out);
    bool sendRecord(std::uint8_t type, const std::uint8_t *data, std::size_t size);

private:
    int m_fd;
};

class RealityServer
{
public:
    struct Options
    {
        Octets privateKey; // X25519, 32 bytes
        std::vector<std::string> shortIds; // hex
        std::vector<std::string> serverNames;
        std::string address = "127.0.0.1";
        std::uint16_t fallbackPort = 0;
        bool compressCertificate = false; // brotli, when the client offers it
        // Runs for each authenticated connection; echoes by default.
        std::function<void(TlsServerSession &)> serve;
    };

    explicit RealityServer(Options options);
    ~RealityServer();
    std::uint16_t port() const { return m_listener->port(); }
    static Octets publicKeyOf(const Octets &privateKey);

    int authenticated() const { return m_authenticated.load(); }
    int fallbacks() const { return m_fallbacks.load(); }
    // Bytes the clients sent to the fallback after their hello (a refusing client sends none).
    std::size_t bytesAfterHello() const { return m_afterHello.load(); }

private:
    void handle(int fd);
    bool handshake(int fd, const Octets &hello, const Octets &clientShare, const Octets &auth,
        const Octets &sessionId, bool brotli, TlsServerSession &session);
    void splice(int client, const Octets &hello);

    Options m_options;
    std::atomic<int> m_authenticated {0};
    std::atomic<int> m_fallbacks {0};
    std::atomic<std::size_t> m_afterHello {0};
    void *m_signingKey = nullptr; // EVP_PKEY, Ed25519
    Octets m_certificate; // DER; its last 64 bytes get the HMAC per connection
    Octets m_signingPublic;
    std::optional<Listener> m_listener; // last: its threads use the rest
};

} // namespace support
