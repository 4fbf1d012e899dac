// The TLS 1.3 key schedule (RFC 8446 section 7) on OpenSSL's HKDF, and the running transcript hash.
#pragma once

#include "tls/utls/bytes.h"

#include <string>

typedef struct evp_md_ctx_st EVP_MD_CTX;
typedef struct evp_md_st EVP_MD;

namespace qivro::engine::utls {

struct CipherSuite
{
    std::uint16_t id;
    const char *digest;
    const char *cipher;
    std::size_t keyLength;
    std::size_t hashLength;
};

// The TLS 1.3 suites we can run; nullptr for any other id.
const CipherSuite *tls13Suite(std::uint16_t id);

Bytes hkdfExtract(const char *digest, const Bytes &salt, const Bytes &ikm);
Bytes hkdfExpand(const char *digest, const Bytes &prk, const Bytes &info, std::size_t length);
Bytes hkdfExpandLabel(const char *digest, const Bytes &secret, const std::string &label,
    const Bytes &context, std::size_t length);
Bytes hmac(const char *digest, const Bytes &key, const Bytes &data);

// Holds handshake messages until the suite (and with it the hash) is known.
class Transcript
{
public:
    Transcript() = default;
    ~Transcript();
    Transcript(const Transcript &) = delete;
    Transcript &operator=(const Transcript &) = delete;

    void add(const std::uint8_t *message, std::size_t size);
    void add(const Bytes &message) { add(message.data(), message.size()); }
    void start(const CipherSuite &suite);
    // After a HelloRetryRequest the first ClientHello counts as its hash only (RFC 8446 4.4.1).
    void replaceWithMessageHash();
    Bytes hash() const;

private:
    Bytes m_pending;
    EVP_MD_CTX *m_ctx = nullptr;
    const EVP_MD *m_md = nullptr;
};

class KeySchedule
{
public:
    explicit KeySchedule(const CipherSuite &suite)
        : m_suite(suite)
    { }

    // From the (EC)DHE secret and the hash of ClientHello..ServerHello.
    void deriveHandshake(const Bytes &shared, const Bytes &helloHash);
    // From the hash of ClientHello..server Finished.
    void deriveApplication(const Bytes &finishedHash);
    Bytes finishedMac(const Bytes &baseSecret, const Bytes &transcriptHash) const;
    Bytes nextGeneration(const Bytes &trafficSecret) const;

    const CipherSuite &suite() const { return m_suite; }
    const Bytes &clientHandshake() const { return m_clientHandshake; }
    const Bytes &serverHandshake() const { return m_serverHandshake; }
    const Bytes &clientApplication() const { return m_clientApplication; }
    const Bytes &serverApplication() const { return m_serverApplication; }

private:
    Bytes deriveSecret(const Bytes &secret, const std::string &label, const Bytes &hash) const;

    const CipherSuite &m_suite;
    Bytes m_master;
    Bytes m_clientHandshake;
    Bytes m_serverHandshake;
    Bytes m_clientApplication;
    Bytes m_serverApplication;
};

} // namespace qivro::engine::utls
