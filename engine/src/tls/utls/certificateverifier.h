// Server authentication for the engine's own TLS client: the X.509 chain against the trusted
// roots and the host name, and the CertificateVerify signature over the transcript.
#pragma once

#include "tls/utls/bytes.h"

#include <memory>
#include <string>

typedef struct x509_store_st X509_STORE;

namespace qivro::engine::utls {

class CertificateVerifier
{
public:
    ~CertificateVerifier();
    CertificateVerifier(const CertificateVerifier &) = delete;
    CertificateVerifier &operator=(const CertificateVerifier &) = delete;

    // Trusts the system store, the PEM file named by QIVRO_EXTRA_CA_FILE and the outbound's own
    // certificates (PEM text and/or a PEM file). nullptr with error set when those do not load.
    static std::shared_ptr<CertificateVerifier> create(
        const std::string &pem, const std::string &pemPath, std::string &error);

    // "" when the chain (leaf first) leads to a trusted root and the leaf is valid for host
    // (a DNS name or an IP literal); else Go-style text such as
    // "x509: certificate signed by unknown authority".
    std::string verifyChain(const std::vector<Bytes> &chain, const std::string &host) const;

private:
    explicit CertificateVerifier(X509_STORE *store)
        : m_store(store)
    { }
    X509_STORE *m_store;
};

// Checks a server's CertificateVerify (RFC 8446 4.4.3); "" when the signature holds.
std::string verifyHandshakeSignature(
    const Bytes &leaf, std::uint16_t scheme, const Bytes &transcriptHash, const Bytes &signature);

// True when the DER certificate carries an Ed25519 key; its raw 32 bytes go to publicKey.
bool ed25519PublicKey(const Bytes &certificate, Bytes &publicKey);

} // namespace qivro::engine::utls
