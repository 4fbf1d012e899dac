#include "tls/utls/certificateverifier.h"

#include <cstdlib>
#include <cstring>
#include <openssl/core_names.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/rsa.h>
#include <openssl/x509.h>
#include <openssl/x509_vfy.h>
#include <openssl/x509v3.h>

namespace qivro::engine::utls {

namespace {

X509 *decode(const Bytes &der)
{
    const unsigned char *data = der.data();
    return d2i_X509(nullptr, &data, static_cast<long>(der.size()));
}

bool isIpLiteral(const std::string &host)
{
    ASN1_OCTET_STRING *ip = a2i_IPADDRESS(host.c_str());
    const bool literal = ip != nullptr;
    ASN1_OCTET_STRING_free(ip);
    return literal;
}

std::string chainError(int code, const std::string &host)
{
    switch (code) {
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT:
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT_LOCALLY:
    case X509_V_ERR_DEPTH_ZERO_SELF_SIGNED_CERT:
    case X509_V_ERR_SELF_SIGNED_CERT_IN_CHAIN:
    case X509_V_ERR_UNABLE_TO_VERIFY_LEAF_SIGNATURE:
        return "x509: certificate signed by unknown authority";
    case X509_V_ERR_CERT_HAS_EXPIRED:
    case X509_V_ERR_CERT_NOT_YET_VALID:
        return "x509: certificate has expired or is not yet valid";
    case X509_V_ERR_HOSTNAME_MISMATCH:
    case X509_V_ERR_IP_ADDRESS_MISMATCH:
        return "x509: certificate is not valid for " + host;
    default:
        return std::string("x509: ") + X509_verify_cert_error_string(code);
    }
}

// The digest and key type a TLS 1.3 signature scheme stands for.
struct Scheme
{
    std::uint16_t id;
    const char *digest; // nullptr for EdDSA
    int keyType;
    const char *curve; // ECDSA only
};

const Scheme schemes[] = {
    {0x0403, "SHA256", EVP_PKEY_EC, "prime256v1"},
    {0x0503, "SHA384", EVP_PKEY_EC, "secp384r1"},
    {0x0603, "SHA512", EVP_PKEY_EC, "secp521r1"},
    {0x0804, "SHA256", EVP_PKEY_RSA, nullptr},
    {0x0805, "SHA384", EVP_PKEY_RSA, nullptr},
    {0x0806, "SHA512", EVP_PKEY_RSA, nullptr},
    {0x0807, nullptr, EVP_PKEY_ED25519, nullptr},
    {0x0808, nullptr, EVP_PKEY_ED448, nullptr},
    {0x0809, "SHA256", EVP_PKEY_RSA_PSS, nullptr},
    {0x080a, "SHA384", EVP_PKEY_RSA_PSS, nullptr},
    {0x080b, "SHA512", EVP_PKEY_RSA_PSS, nullptr},
};

} // namespace

CertificateVerifier::~CertificateVerifier()
{
    X509_STORE_free(m_store);
}

std::shared_ptr<CertificateVerifier> CertificateVerifier::create(
    const std::string &pem, const std::string &pemPath, std::string &error)
{
    X509_STORE *store = X509_STORE_new();
    std::shared_ptr<CertificateVerifier> verifier(new CertificateVerifier(store));
    X509_STORE_set_default_paths(store);
    if (const char *extra = std::getenv("QIVRO_EXTRA_CA_FILE"); extra && *extra) {
        if (X509_STORE_load_file(store, extra) != 1) {
            error = std::string("load QIVRO_EXTRA_CA_FILE ") + extra + ": no PEM certificate";
            return nullptr;
        }
    }
    if (!pemPath.empty() && X509_STORE_load_file(store, pemPath.c_str()) != 1) {
        error = "load certificate_path " + pemPath + ": no PEM certificate";
        return nullptr;
    }
    if (!pem.empty()) {
        BIO *bio = BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size()));
        int added = 0;
        while (X509 *certificate = PEM_read_bio_X509(bio, nullptr, nullptr, nullptr)) {
            added += X509_STORE_add_cert(store, certificate);
            X509_free(certificate);
        }
        BIO_free(bio);
        if (added == 0) {
            error = "certificate: no PEM certificate";
            return nullptr;
        }
    }
    return verifier;
}

std::string CertificateVerifier::verifyChain(
    const std::vector<Bytes> &chain, const std::string &host) const
{
    X509 *leaf = decode(chain.front());
    if (!leaf)
        return "x509: malformed certificate";
    STACK_OF(X509) *intermediates = sk_X509_new_null();
    for (std::size_t i = 1; i < chain.size(); ++i) {
        if (X509 *certificate = decode(chain[i]))
            sk_X509_push(intermediates, certificate);
    }
    X509_STORE_CTX *ctx = X509_STORE_CTX_new();
    std::string result;
    if (!ctx || X509_STORE_CTX_init(ctx, m_store, leaf, intermediates) != 1) {
        result = "x509: cannot start verification";
    } else {
        X509_VERIFY_PARAM *param = X509_STORE_CTX_get0_param(ctx);
        X509_VERIFY_PARAM_set_purpose(param, X509_PURPOSE_SSL_SERVER);
        X509_VERIFY_PARAM_set_hostflags(param, X509_CHECK_FLAG_NO_PARTIAL_WILDCARDS);
        if (isIpLiteral(host))
            X509_VERIFY_PARAM_set1_ip_asc(param, host.c_str());
        else
            X509_VERIFY_PARAM_set1_host(param, host.c_str(), host.size());
        if (X509_verify_cert(ctx) != 1)
            result = chainError(X509_STORE_CTX_get_error(ctx), host);
    }
    X509_STORE_CTX_free(ctx);
    sk_X509_pop_free(intermediates, X509_free);
    X509_free(leaf);
    return result;
}

std::string verifyHandshakeSignature(
    const Bytes &leaf, std::uint16_t scheme, const Bytes &transcriptHash, const Bytes &signature)
{
    const Scheme *found = nullptr;
    for (const Scheme &candidate : schemes) {
        if (candidate.id == scheme)
            found = &candidate;
    }
    if (!found)
        return "unsupported signature algorithm " + std::to_string(scheme);
    X509 *certificate = decode(leaf);
    EVP_PKEY *key = certificate ? X509_get0_pubkey(certificate) : nullptr;
    if (!key) {
        X509_free(certificate);
        return "malformed certificate";
    }
    bool matches = EVP_PKEY_get_base_id(key) == found->keyType;
    if (matches && found->curve) {
        char curve[32] = {};
        matches = EVP_PKEY_get_utf8_string_param(
                      key, OSSL_PKEY_PARAM_GROUP_NAME, curve, sizeof curve, nullptr)
                == 1
            && std::strcmp(curve, found->curve) == 0;
    }
    std::string result;
    if (!matches) {
        result = "signature algorithm " + std::to_string(scheme)
            + " does not match the certificate's key";
    } else {
        Bytes content(64, 0x20);
        const char context[] = "TLS 1.3, server CertificateVerify";
        content.insert(content.end(), context, context + sizeof context); // with its zero byte
        content.insert(content.end(), transcriptHash.begin(), transcriptHash.end());
        EVP_MD_CTX *ctx = EVP_MD_CTX_new();
        EVP_PKEY_CTX *pctx = nullptr;
        bool ok = EVP_DigestVerifyInit_ex(ctx, &pctx, found->digest, nullptr, nullptr, key, nullptr)
            == 1;
        if (ok && (found->keyType == EVP_PKEY_RSA || found->keyType == EVP_PKEY_RSA_PSS))
            ok = EVP_PKEY_CTX_set_rsa_padding(pctx, RSA_PKCS1_PSS_PADDING) == 1
                && EVP_PKEY_CTX_set_rsa_pss_saltlen(pctx, RSA_PSS_SALTLEN_DIGEST) == 1;
        ok = ok
            && EVP_DigestVerify(
                   ctx, signature.data(), signature.size(), content.data(), content.size())
                == 1;
        EVP_MD_CTX_free(ctx);
        if (!ok)
            result = "invalid signature by the server certificate";
    }
    X509_free(certificate);
    return result;
}

bool ed25519PublicKey(const Bytes &certificate, Bytes &publicKey)
{
    X509 *x509 = decode(certificate);
    EVP_PKEY *key = x509 ? X509_get0_pubkey(x509) : nullptr;
    std::size_t size = 32;
    publicKey.resize(size);
    const bool ok = key && EVP_PKEY_get_base_id(key) == EVP_PKEY_ED25519
        && EVP_PKEY_get_raw_public_key(key, publicKey.data(), &size) == 1 && size == 32;
    X509_free(x509);
    return ok;
}

} // namespace qivro::engine::utls
