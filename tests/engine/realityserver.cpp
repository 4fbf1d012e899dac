#include "realityserver.h"

#include <algorithm>
#include <brotli/encode.h>
#include <cstring>
#include <ctime>
#include <openssl/core_names.h>
#include <openssl/evp.h>
#include <openssl/kdf.h>
#include <openssl/rand.h>
#include <openssl/x509.h>
#include <sys/socket.h>
#include <unistd.h>

namespace support {

namespace {

Octets sha256(const Octets &data)
{
    Octets out(32);
    EVP_Digest(data.data(), data.size(), out.data(), nullptr, EVP_sha256(), nullptr);
    return out;
}

Octets hmacSha(const char *digest, const Octets &key, const Octets &data)
{
    Octets out(64);
    std::size_t size = 0;
    EVP_Q_mac(nullptr, "HMAC", nullptr, digest, nullptr, key.data(), key.size(), data.data(),
        data.size(), out.data(), out.size(), &size);
    out.resize(size);
    return out;
}

OSSL_PARAM octets(const char *key, const void *data, std::size_t size)
{
    static std::uint8_t none = 0; // an empty parameter still needs a pointer
    return OSSL_PARAM_construct_octet_string(key, size ? const_cast<void *>(data) : &none, size);
}

// One call of an OpenSSL KDF over SHA-256; empty when it fails.
Octets derive(const char *name, std::vector<OSSL_PARAM> params, std::size_t length)
{
    params.push_back(
        OSSL_PARAM_construct_utf8_string(OSSL_KDF_PARAM_DIGEST, const_cast<char *>("SHA256"), 0));
    params.push_back(OSSL_PARAM_construct_end());
    EVP_KDF *kdf = EVP_KDF_fetch(nullptr, name, nullptr);
    EVP_KDF_CTX *ctx = EVP_KDF_CTX_new(kdf);
    Octets out(length);
    if (EVP_KDF_derive(ctx, out.data(), out.size(), params.data()) != 1)
        out.clear();
    EVP_KDF_CTX_free(ctx);
    EVP_KDF_free(kdf);
    return out;
}

// OpenSSL's own TLS 1.3 KDF, which does the "derived" step itself when given a salt.
Octets tls13Kdf(int mode, const Octets &key, const Octets *salt, const std::string &label,
    const Octets &data, std::size_t length)
{
    static const char prefix[] = "tls13 ";
    std::vector<OSSL_PARAM> params = {OSSL_PARAM_construct_int(OSSL_KDF_PARAM_MODE, &mode),
        octets(OSSL_KDF_PARAM_KEY, key.data(), key.size()),
        octets(OSSL_KDF_PARAM_PREFIX, prefix, sizeof prefix - 1),
        octets(OSSL_KDF_PARAM_LABEL, label.data(), label.size()),
        octets(OSSL_KDF_PARAM_DATA, data.data(), data.size())};
    if (salt)
        params.push_back(octets(OSSL_KDF_PARAM_SALT, salt->data(), salt->size()));
    return derive("TLS13-KDF", std::move(params), length);
}

Octets expand(
    const Octets &secret, const std::string &label, const Octets &context, std::size_t length = 32)
{
    return tls13Kdf(EVP_KDF_HKDF_MODE_EXPAND_ONLY, secret, nullptr, label, context, length);
}

Octets x25519(const Octets &privateKey, const Octets &peer)
{
    EVP_PKEY *own = EVP_PKEY_new_raw_private_key(EVP_PKEY_X25519, nullptr, privateKey.data(), 32);
    EVP_PKEY *other = EVP_PKEY_new_raw_public_key(EVP_PKEY_X25519, nullptr, peer.data(), 32);
    EVP_PKEY_CTX *ctx = EVP_PKEY_CTX_new(own, nullptr);
    Octets secret(32);
    std::size_t size = 32;
    if (!other || EVP_PKEY_derive_init(ctx) != 1 || EVP_PKEY_derive_set_peer(ctx, other) != 1
        || EVP_PKEY_derive(ctx, secret.data(), &size) != 1)
        secret.clear();
    EVP_PKEY_CTX_free(ctx);
    EVP_PKEY_free(other);
    EVP_PKEY_free(own);
    return secret;
}

Octets nonceFor(const Octets &iv, std::uint64_t sequence)
{
    Octets nonce = iv;
    for (int i = 0; i < 8; ++i)
        nonce[11 - static_cast<std::size_t>(i)] ^= static_cast<std::uint8_t>(sequence >> (8 * i));
    return nonce;
}

// AES-128-GCM, the suite this server always picks.
bool gcm(bool seal, const Octets &key, const Octets &nonce, const std::uint8_t *aad,
    std::size_t aadSize, const std::uint8_t *in, std::size_t size, std::uint8_t *out,
    std::uint8_t *tag)
{
    EVP_CIPHER_CTX *ctx = EVP_CIPHER_CTX_new();
    int written = 0;
    const EVP_CIPHER *cipher = key.size() == 32 ? EVP_aes_256_gcm() : EVP_aes_128_gcm();
    bool ok = EVP_CipherInit_ex(ctx, cipher, nullptr, key.data(), nonce.data(), seal ? 1 : 0) == 1
        && EVP_CipherUpdate(ctx, nullptr, &written, aad, static_cast<int>(aadSize)) == 1
        && EVP_CipherUpdate(ctx, out, &written, in, static_cast<int>(size)) == 1;
    if (ok && !seal)
        ok = EVP_CIPHER_CTX_ctrl(ctx, EVP_CTRL_GCM_SET_TAG, 16, tag) == 1;
    ok = ok && EVP_CipherFinal_ex(ctx, out + size, &written) == 1;
    if (ok && seal)
        ok = EVP_CIPHER_CTX_ctrl(ctx, EVP_CTRL_GCM_GET_TAG, 16, tag) == 1;
    EVP_CIPHER_CTX_free(ctx);
    return ok;
}

void put24(Octets &out, std::size_t value)
{
    out.push_back(static_cast<std::uint8_t>(value >> 16));
    put16(out, value & 0xffff);
}

Octets handshakeMessage(std::uint8_t type, const Octets &body)
{
    Octets out = {type};
    put24(out, body.size());
    out.insert(out.end(), body.begin(), body.end());
    return out;
}

struct ClientHelloFacts
{
    Octets random;
    Octets sessionId;
    std::string serverName;
    bool tls13 = false;
    bool brotli = false;
    Octets x25519Share;
};

// Reads what the REALITY check needs out of a ClientHello handshake message.
bool readClientHello(const Octets &hello, ClientHelloFacts &facts)
{
    if (hello.size() < 4 + 2 + 32 + 1 || hello[0] != 1)
        return false;
    facts.random.assign(hello.begin() + 6, hello.begin() + 38);
    std::size_t at = 38;
    const std::size_t sessionLength = hello[at++];
    if (at + sessionLength + 2 > hello.size())
        return false;
    facts.sessionId.assign(hello.begin() + static_cast<long>(at),
        hello.begin() + static_cast<long>(at + sessionLength));
    at += sessionLength;
    at += 2 + get16(hello, at);
    if (at + 1 > hello.size())
        return false;
    at += 1 + hello[at];
    if (at + 2 > hello.size())
        return false;
    const std::size_t end = at + 2 + get16(hello, at);
    at += 2;
    if (end > hello.size())
        return false;
    while (at + 4 <= end) {
        const std::uint16_t type = get16(hello, at);
        const std::size_t length = get16(hello, at + 2);
        const std::size_t body = at + 4;
        at = body + length;
        if (at > end)
            return false;
        if (type == 0 && length > 5)
            facts.serverName.assign(hello.begin() + static_cast<long>(body + 5),
                hello.begin() + static_cast<long>(body + 5 + get16(hello, body + 3)));
        if (type == 43) {
            for (std::size_t i = body + 1; i + 1 < at; i += 2)
                facts.tls13 = facts.tls13 || get16(hello, i) == 0x0304;
        }
        if (type == 27) {
            for (std::size_t i = body + 1; i + 1 < at; i += 2)
                facts.brotli = facts.brotli || get16(hello, i) == 2;
        }
        if (type == 51) {
            for (std::size_t i = body + 2; i + 4 <= at;) {
                const std::uint16_t group = get16(hello, i);
                const std::size_t size = get16(hello, i + 2);
                if (group == 0x001d && size == 32 && i + 4 + 32 <= at)
                    facts.x25519Share.assign(hello.begin() + static_cast<long>(i + 4),
                        hello.begin() + static_cast<long>(i + 36));
                i += 4 + size;
            }
        }
    }
    return true;
}

} // namespace

bool TlsServerSession::readRecord(std::uint8_t &type, Octets &body)
{
    auto fill = [this](std::size_t size) {
        std::uint8_t chunk[65536];
        while (buffer.size() < size) {
            const ssize_t got = ::recv(m_fd, chunk, sizeof chunk, 0);
            if (got <= 0)
                return false;
            buffer.insert(buffer.end(), chunk, chunk + got);
        }
        return true;
    };
    if (!fill(5))
        return false;
    const std::size_t length = get16(buffer, 3);
    if (!fill(5 + length))
        return false;
    type = buffer[0];
    body.assign(buffer.begin(), buffer.begin() + static_cast<long>(5 + length));
    buffer.erase(buffer.begin(), buffer.begin() + static_cast<long>(5 + length));
    return true;
}

bool TlsServerSession::openRecord(std::uint8_t &inner, Octets &out)
{
    std::uint8_t type = 20;
    Octets record;
    while (type == 20) { // change_cipher_spec, left over from compatibility mode
        if (!readRecord(type, record))
            return false;
    }
    if (type != 23 || record.size() < 5 + 17)
        return false;
    const std::size_t size = record.size() - 5 - 16;
    out.resize(size);
    if (!gcm(false, readKey, nonceFor(readIv, readSequence++), record.data(), 5, record.data() + 5,
            size, out.data(), record.data() + 5 + size))
        return false;
    while (!out.empty() && out.back() == 0)
        out.pop_back();
    if (out.empty())
        return false;
    inner = out.back();
    out.pop_back();
    return true;
}

bool TlsServerSession::read(Octets &out)
{
    std::uint8_t inner = 0;
    while (openRecord(inner, out)) {
        if (inner == 23)
            return true;
        if (inner == 21)
            return false;
    }
    return false;
}

bool TlsServerSession::sendRecord(std::uint8_t type, const std::uint8_t *data, std::size_t size)
{
    Octets record = {23, 3, 3};
    put16(record, size + 1 + 16);
    Octets plain(data, data + size);
    plain.push_back(type);
    record.resize(5 + plain.size() + 16);
    if (!gcm(true, writeKey, nonceFor(writeIv, writeSequence++), record.data(), 5, plain.data(),
            plain.size(), record.data() + 5, record.data() + 5 + plain.size()))
        return false;
    return sendAll(m_fd, record.data(), record.size());
}

bool TlsServerSession::write(const std::uint8_t *data, std::size_t size)
{
    std::size_t at = 0;
    do {
        if (!sendRecord(23, data + at, std::min<std::size_t>(16384, size - at)))
            return false;
        at += 16384;
    } while (at < size);
    return true;
}

Octets TlsServerSession::takeBuffered()
{
    Octets rest;
    rest.swap(buffer);
    return rest;
}

Octets RealityServer::publicKeyOf(const Octets &privateKey)
{
    EVP_PKEY *key = EVP_PKEY_new_raw_private_key(EVP_PKEY_X25519, nullptr, privateKey.data(), 32);
    Octets out(32);
    std::size_t size = 32;
    EVP_PKEY_get_raw_public_key(key, out.data(), &size);
    EVP_PKEY_free(key);
    return out;
}

RealityServer::RealityServer(Options options)
    : m_options(std::move(options))
{
    // A throw-away Ed25519 certificate; only its key matters to the client.
    EVP_PKEY *key = EVP_PKEY_Q_keygen(nullptr, nullptr, "ED25519");
    m_signingKey = key;
    m_signingPublic.resize(32);
    std::size_t publicSize = 32;
    EVP_PKEY_get_raw_public_key(key, m_signingPublic.data(), &publicSize);
    X509 *certificate = X509_new();
    X509_set_version(certificate, 2);
    ASN1_INTEGER_set(X509_get_serialNumber(certificate), 1);
    X509_gmtime_adj(X509_getm_notBefore(certificate), -3600);
    X509_gmtime_adj(X509_getm_notAfter(certificate), 3600);
    X509_NAME *name = X509_get_subject_name(certificate);
    X509_NAME_add_entry_by_txt(
        name, "CN", MBSTRING_ASC, reinterpret_cast<const unsigned char *>("reality"), -1, -1, 0);
    X509_set_issuer_name(certificate, name);
    X509_set_pubkey(certificate, key);
    X509_sign(certificate, key, nullptr);
    unsigned char *der = nullptr;
    const int derSize = i2d_X509(certificate, &der);
    m_certificate.assign(der, der + derSize);
    OPENSSL_free(der);
    X509_free(certificate);

    m_listener.emplace([this](int fd) { handle(fd); }, m_options.address);
}

RealityServer::~RealityServer()
{
    m_listener.reset();
    EVP_PKEY_free(static_cast<EVP_PKEY *>(m_signingKey));
}

void RealityServer::handle(int fd)
{
    Octets header(5);
    if (!readExact(fd, header.data(), 5) || header[0] != 22)
        return;
    Octets record = header;
    record.resize(5 + get16(header, 3));
    if (!readExact(fd, record.data() + 5, record.size() - 5))
        return;
    const Octets hello(record.begin() + 5, record.end());
    ClientHelloFacts facts;
    bool authentic = readClientHello(hello, facts) && facts.tls13 && facts.x25519Share.size() == 32
        && facts.sessionId.size() == 32
        && std::find(m_options.serverNames.begin(), m_options.serverNames.end(), facts.serverName)
            != m_options.serverNames.end();
    Octets auth;
    if (authentic) {
        const Octets shared = x25519(m_options.privateKey, facts.x25519Share);
        // HKDF in one call, extract and expand, with info "REALITY".
        static const char info[] = "REALITY";
        auth = derive("HKDF",
            {octets(OSSL_KDF_PARAM_KEY, shared.data(), shared.size()),
                octets(OSSL_KDF_PARAM_SALT, facts.random.data(), 20),
                octets(OSSL_KDF_PARAM_INFO, info, sizeof info - 1)},
            32);
        authentic = !shared.empty() && auth.size() == 32;
    }
    if (authentic) {
        Octets aad = hello;
        std::fill(aad.begin() + 39, aad.begin() + 71, 0);
        const Octets nonce(facts.random.begin() + 20, facts.random.end());
        Octets plain(16 + 16);
        Octets tag(facts.sessionId.begin() + 16, facts.sessionId.end());
        authentic = gcm(false, auth, nonce, aad.data(), aad.size(), facts.sessionId.data(), 16,
            plain.data(), tag.data());
        const std::uint32_t time = static_cast<std::uint32_t>(
            plain[4] << 24 | plain[5] << 16 | plain[6] << 8 | plain[7]);
        const Octets shortId(plain.begin() + 8, plain.begin() + 16);
        const long long now = static_cast<long long>(std::time(nullptr));
        authentic = authentic && std::llabs(now - time) <= 120
            && std::any_of(
                m_options.shortIds.begin(), m_options.shortIds.end(), [&](const std::string &id) {
                    Octets bytes = unhex(id);
                    bytes.resize(8);
                    return bytes == shortId;
                });
    }
    if (!authentic) {
        ++m_fallbacks;
        splice(fd, record);
        return;
    }
    ++m_authenticated;
    TlsServerSession session(fd);
    if (!handshake(fd, hello, facts.x25519Share, auth, facts.sessionId,
            facts.brotli && m_options.compressCertificate, session))
        return;
    if (m_options.serve) {
        m_options.serve(session);
        return;
    }
    Octets data;
    while (session.read(data)) {
        if (!session.write(data.data(), data.size()))
            break;
    }
    ::shutdown(fd, SHUT_WR);
}

bool RealityServer::handshake(int fd, const Octets &hello, const Octets &clientShare,
    const Octets &auth, const Octets &sessionId, bool brotli, TlsServerSession &session)
{
    Octets ephemeralPrivate(32);
    RAND_bytes(ephemeralPrivate.data(), 32);
    const Octets ephemeralPublic = publicKeyOf(ephemeralPrivate);
    const Octets shared = x25519(ephemeralPrivate, clientShare);

    Octets serverHello = {3, 3};
    Octets random(32);
    RAND_bytes(random.data(), 32);
    serverHello.insert(serverHello.end(), random.begin(), random.end());
    serverHello.push_back(static_cast<std::uint8_t>(sessionId.size()));
    serverHello.insert(serverHello.end(), sessionId.begin(), sessionId.end());
    serverHello.insert(serverHello.end(),
        {0x13, 0x01, 0x00, 0x00, 46, 0, 43, 0, 2, 3, 4, 0, 51, 0, 36, 0, 0x1d, 0, 32});
    serverHello.insert(serverHello.end(), ephemeralPublic.begin(), ephemeralPublic.end());
    const Octets serverHelloMessage = handshakeMessage(2, serverHello);
    Octets transcript = hello;
    transcript.insert(transcript.end(), serverHelloMessage.begin(), serverHelloMessage.end());

    const Octets zeros(32, 0);
    const Octets early = tls13Kdf(EVP_KDF_HKDF_MODE_EXTRACT_ONLY, zeros, nullptr, "", {}, 32);
    const Octets handshakeSecret
        = tls13Kdf(EVP_KDF_HKDF_MODE_EXTRACT_ONLY, shared, &early, "derived", {}, 32);
    const Octets master
        = tls13Kdf(EVP_KDF_HKDF_MODE_EXTRACT_ONLY, zeros, &handshakeSecret, "derived", {}, 32);
    const Octets clientHandshake = expand(handshakeSecret, "c hs traffic", sha256(transcript));
    const Octets serverHandshake = expand(handshakeSecret, "s hs traffic", sha256(transcript));
    session.writeKey = expand(serverHandshake, "key", {}, 16);
    session.writeIv = expand(serverHandshake, "iv", {}, 12);
    session.readKey = expand(clientHandshake, "key", {}, 16);
    session.readIv = expand(clientHandshake, "iv", {}, 12);

    Octets flight = handshakeMessage(8, {0, 0});
    // The certificate is signed by HMAC-SHA512(auth, its public key) instead of a CA.
    Octets certificate = m_certificate;
    const Octets mac = hmacSha("SHA512", auth, m_signingPublic);
    std::copy(mac.begin(), mac.end(), certificate.end() - 64);
    Octets certificateBody = {0};
    put24(certificateBody, 3 + certificate.size() + 2);
    put24(certificateBody, certificate.size());
    certificateBody.insert(certificateBody.end(), certificate.begin(), certificate.end());
    put16(certificateBody, 0);
    if (brotli) {
        Octets compressed(certificateBody.size() + 64);
        std::size_t compressedSize = compressed.size();
        BrotliEncoderCompress(BROTLI_DEFAULT_QUALITY, BROTLI_DEFAULT_WINDOW, BROTLI_MODE_GENERIC,
            certificateBody.size(), certificateBody.data(), &compressedSize, compressed.data());
        Octets body = {0, 2};
        put24(body, certificateBody.size());
        put24(body, compressedSize);
        body.insert(
            body.end(), compressed.begin(), compressed.begin() + static_cast<long>(compressedSize));
        const Octets message = handshakeMessage(25, body);
        flight.insert(flight.end(), message.begin(), message.end());
    } else {
        const Octets message = handshakeMessage(11, certificateBody);
        flight.insert(flight.end(), message.begin(), message.end());
    }
    transcript.insert(transcript.end(), flight.begin(), flight.end());

    Octets signed_(64, 0x20);
    const char context[] = "TLS 1.3, server CertificateVerify";
    signed_.insert(signed_.end(), context, context + sizeof context);
    const Octets hash = sha256(transcript);
    signed_.insert(signed_.end(), hash.begin(), hash.end());
    Octets signature(64);
    std::size_t signatureSize = 64;
    EVP_MD_CTX *md = EVP_MD_CTX_new();
    EVP_DigestSignInit(md, nullptr, nullptr, nullptr, static_cast<EVP_PKEY *>(m_signingKey));
    EVP_DigestSign(md, signature.data(), &signatureSize, signed_.data(), signed_.size());
    EVP_MD_CTX_free(md);
    Octets verifyBody = {0x08, 0x07};
    put16(verifyBody, 64);
    verifyBody.insert(verifyBody.end(), signature.begin(), signature.end());
    const Octets verify = handshakeMessage(15, verifyBody);
    flight.insert(flight.end(), verify.begin(), verify.end());
    transcript.insert(transcript.end(), verify.begin(), verify.end());
    const Octets finished = handshakeMessage(
        20, hmacSha("SHA256", expand(serverHandshake, "finished", {}), sha256(transcript)));
    flight.insert(flight.end(), finished.begin(), finished.end());
    transcript.insert(transcript.end(), finished.begin(), finished.end());

    Octets plainRecords = {22, 3, 3};
    put16(plainRecords, serverHelloMessage.size());
    plainRecords.insert(plainRecords.end(), serverHelloMessage.begin(), serverHelloMessage.end());
    plainRecords.insert(plainRecords.end(), {20, 3, 3, 0, 1, 1});
    if (!sendAll(fd, plainRecords.data(), plainRecords.size())
        || !session.sendRecord(22, flight.data(), flight.size()))
        return false;

    const Octets serverFinishedHash = sha256(transcript);
    std::uint8_t inner = 0;
    Octets clientFinished;
    if (!session.openRecord(inner, clientFinished) || inner != 22
        || clientFinished
            != handshakeMessage(
                20, hmacSha("SHA256", expand(clientHandshake, "finished", {}), serverFinishedHash)))
        return false;
    const Octets clientApplication = expand(master, "c ap traffic", serverFinishedHash);
    const Octets serverApplication = expand(master, "s ap traffic", serverFinishedHash);
    session.readKey = expand(clientApplication, "key", {}, 16);
    session.readIv = expand(clientApplication, "iv", {}, 12);
    session.writeKey = expand(serverApplication, "key", {}, 16);
    session.writeIv = expand(serverApplication, "iv", {}, 12);
    session.readSequence = 0;
    session.writeSequence = 0;
    return true;
}

void RealityServer::splice(int client, const Octets &hello)
{
    const int upstream = connectLoopback(m_options.fallbackPort, SOCK_STREAM);
    if (upstream < 0)
        return;
    m_listener->track(upstream);
    if (!sendAll(upstream, hello.data(), hello.size())) {
        m_listener->close(upstream);
        return;
    }
    std::thread down([client, upstream] {
        std::uint8_t chunk[16384];
        ssize_t got;
        while ((got = ::recv(upstream, chunk, sizeof chunk, 0)) > 0) {
            if (!sendAll(client, chunk, static_cast<std::size_t>(got)))
                break;
        }
        ::shutdown(client, SHUT_WR);
    });
    std::uint8_t chunk[16384];
    ssize_t got;
    while ((got = ::recv(client, chunk, sizeof chunk, 0)) > 0) {
        m_afterHello += static_cast<std::size_t>(got);
        if (!sendAll(upstream, chunk, static_cast<std::size_t>(got)))
            break;
    }
    ::shutdown(upstream, SHUT_WR);
    down.join();
    m_listener->close(upstream);
}

} // namespace support
