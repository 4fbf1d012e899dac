#include "testcerts.h"

#include "support.h"

#include <asio/ip/address.hpp>
#include <memory>
#include <openssl/ec.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509v3.h>

namespace support {

namespace {

// PEM text of what write puts into a memory BIO.
template <typename Write>
std::string pem(Write write)
{
    BIO *bio = BIO_new(BIO_s_mem());
    write(bio);
    char *data = nullptr;
    const long size = BIO_get_mem_data(bio, &data);
    std::string text(data, static_cast<std::size_t>(size));
    BIO_free(bio);
    return text;
}

void addExtension(X509 *certificate, X509 *issuer, int nid, const std::string &value)
{
    X509V3_CTX context;
    X509V3_set_ctx(&context, issuer, certificate, nullptr, nullptr, 0);
    X509_EXTENSION *extension = X509V3_EXT_conf_nid(nullptr, &context, nid, value.c_str());
    X509_add_ext(certificate, extension, -1);
    X509_EXTENSION_free(extension);
}

X509 *newCertificate(
    const std::string &commonName, EVP_PKEY *key, long from, long until, long serial)
{
    X509 *certificate = X509_new();
    X509_set_version(certificate, 2);
    ASN1_INTEGER_set(X509_get_serialNumber(certificate), serial);
    X509_gmtime_adj(X509_getm_notBefore(certificate), from);
    X509_gmtime_adj(X509_getm_notAfter(certificate), until);
    X509_set_pubkey(certificate, key);
    X509_NAME *name = X509_get_subject_name(certificate);
    X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC,
        reinterpret_cast<const unsigned char *>(commonName.c_str()), -1, -1, 0);
    return certificate;
}

} // namespace

CertificateSet makeCertificates(const std::string &tag, const std::vector<std::string> &names,
    long validFromSeconds, long validUntilSeconds)
{
    static long serial = 1;
    EVP_PKEY *caKey = EVP_EC_gen("P-256");
    X509 *ca = newCertificate("qivro test CA " + tag, caKey, -3600, 365L * 24 * 3600, serial++);
    X509_set_issuer_name(ca, X509_get_subject_name(ca));
    addExtension(ca, ca, NID_basic_constraints, "critical,CA:TRUE");
    addExtension(ca, ca, NID_key_usage, "critical,keyCertSign,cRLSign");
    addExtension(ca, ca, NID_subject_key_identifier, "hash");
    X509_sign(ca, caKey, EVP_sha256());

    EVP_PKEY *key = EVP_EC_gen("P-256");
    X509 *leaf = newCertificate(names.empty() ? "server" : names.front(), key, validFromSeconds,
        validUntilSeconds, serial++);
    X509_set_issuer_name(leaf, X509_get_subject_name(ca));
    std::string alternatives;
    for (const std::string &name : names) {
        std::error_code error;
        asio::ip::make_address(name, error);
        alternatives
            += (alternatives.empty() ? "" : ",") + std::string(error ? "DNS:" : "IP:") + name;
    }
    if (!alternatives.empty())
        addExtension(leaf, ca, NID_subject_alt_name, alternatives);
    addExtension(leaf, ca, NID_ext_key_usage, "serverAuth");
    addExtension(leaf, ca, NID_authority_key_identifier, "keyid:always");
    X509_sign(leaf, caKey, EVP_sha256());

    CertificateSet set;
    set.caPem = pem([ca](BIO *bio) { PEM_write_bio_X509(bio, ca); });
    set.caPath = writeTempFile(tag + "-ca.pem", set.caPem);
    set.certificatePath = writeTempFile(
        tag + "-cert.pem", pem([leaf](BIO *bio) { PEM_write_bio_X509(bio, leaf); }));
    set.keyPath = writeTempFile(tag + "-key.pem", pem([key](BIO *bio) {
        PEM_write_bio_PrivateKey(bio, key, nullptr, nullptr, 0, nullptr, nullptr);
    }));
    X509_free(leaf);
    X509_free(ca);
    EVP_PKEY_free(key);
    EVP_PKEY_free(caKey);
    return set;
}

} // namespace support
