#include "tls/utls/keyschedule.h"

#include <cstring>
#include <openssl/core_names.h>
#include <openssl/evp.h>
#include <openssl/kdf.h>

namespace qivro::engine::utls {

namespace {

const CipherSuite suites[] = {
    {0x1301, "SHA256", "AES-128-GCM", 16, 32},
    {0x1302, "SHA384", "AES-256-GCM", 32, 48},
    {0x1303, "SHA256", "ChaCha20-Poly1305", 32, 32},
};

// Fetched once: implicit fetches on every call cost more than the hashing itself.
const EVP_MD *digestByName(const char *name)
{
    static EVP_MD *sha256 = EVP_MD_fetch(nullptr, "SHA256", nullptr);
    static EVP_MD *sha384 = EVP_MD_fetch(nullptr, "SHA384", nullptr);
    static EVP_MD *sha512 = EVP_MD_fetch(nullptr, "SHA512", nullptr);
    if (std::strcmp(name, "SHA384") == 0)
        return sha384;
    if (std::strcmp(name, "SHA512") == 0)
        return sha512;
    return sha256;
}

Bytes runHkdf(const char *digest, int mode, const Bytes &key, const Bytes *salt, const Bytes *info,
    std::size_t length)
{
    static EVP_KDF *kdf = EVP_KDF_fetch(nullptr, "HKDF", nullptr);
    EVP_KDF_CTX *ctx = EVP_KDF_CTX_new(kdf);
    OSSL_PARAM params[6];
    int i = 0;
    params[i++] = OSSL_PARAM_construct_int(OSSL_KDF_PARAM_MODE, &mode);
    params[i++]
        = OSSL_PARAM_construct_utf8_string(OSSL_KDF_PARAM_DIGEST, const_cast<char *>(digest), 0);
    params[i++] = OSSL_PARAM_construct_octet_string(
        OSSL_KDF_PARAM_KEY, const_cast<std::uint8_t *>(key.data()), key.size());
    if (salt && !salt->empty())
        params[i++] = OSSL_PARAM_construct_octet_string(
            OSSL_KDF_PARAM_SALT, const_cast<std::uint8_t *>(salt->data()), salt->size());
    if (info)
        params[i++] = OSSL_PARAM_construct_octet_string(
            OSSL_KDF_PARAM_INFO, const_cast<std::uint8_t *>(info->data()), info->size());
    params[i] = OSSL_PARAM_construct_end();
    Bytes out(length);
    if (!ctx || EVP_KDF_derive(ctx, out.data(), out.size(), params) != 1)
        out.clear();
    EVP_KDF_CTX_free(ctx);
    return out;
}

} // namespace

const CipherSuite *tls13Suite(std::uint16_t id)
{
    for (const CipherSuite &suite : suites) {
        if (suite.id == id)
            return &suite;
    }
    return nullptr;
}

Bytes hkdfExtract(const char *digest, const Bytes &salt, const Bytes &ikm)
{
    const std::size_t size = static_cast<std::size_t>(EVP_MD_get_size(digestByName(digest)));
    return runHkdf(digest, EVP_KDF_HKDF_MODE_EXTRACT_ONLY, ikm, &salt, nullptr, size);
}

Bytes hkdfExpand(const char *digest, const Bytes &prk, const Bytes &info, std::size_t length)
{
    return runHkdf(digest, EVP_KDF_HKDF_MODE_EXPAND_ONLY, prk, nullptr, &info, length);
}

Bytes hkdfExpandLabel(const char *digest, const Bytes &secret, const std::string &label,
    const Bytes &context, std::size_t length)
{
    Bytes info;
    ByteWriter out(info);
    out.u16(static_cast<unsigned>(length));
    const std::size_t labelField = out.open(1);
    out.text("tls13 " + label);
    out.close(labelField, 1);
    const std::size_t contextField = out.open(1);
    out.bytes(context);
    out.close(contextField, 1);
    return hkdfExpand(digest, secret, info, length);
}

Bytes hmac(const char *digest, const Bytes &key, const Bytes &data)
{
    Bytes out(EVP_MAX_MD_SIZE);
    std::size_t size = 0;
    if (!EVP_Q_mac(nullptr, "HMAC", nullptr, digest, nullptr, key.data(), key.size(), data.data(),
            data.size(), out.data(), out.size(), &size))
        size = 0;
    out.resize(size);
    return out;
}

Transcript::~Transcript()
{
    EVP_MD_CTX_free(m_ctx);
}

void Transcript::add(const std::uint8_t *message, std::size_t size)
{
    if (m_ctx)
        EVP_DigestUpdate(m_ctx, message, size);
    else
        m_pending.insert(m_pending.end(), message, message + size);
}

void Transcript::start(const CipherSuite &suite)
{
    m_md = digestByName(suite.digest);
    if (!m_ctx)
        m_ctx = EVP_MD_CTX_new();
    EVP_DigestInit_ex(m_ctx, m_md, nullptr);
    EVP_DigestUpdate(m_ctx, m_pending.data(), m_pending.size());
    m_pending.clear();
}

void Transcript::replaceWithMessageHash()
{
    const Bytes first = hash();
    EVP_DigestInit_ex(m_ctx, m_md, nullptr);
    const std::uint8_t header[] = {254, 0, 0, static_cast<std::uint8_t>(first.size())};
    EVP_DigestUpdate(m_ctx, header, sizeof header);
    EVP_DigestUpdate(m_ctx, first.data(), first.size());
}

Bytes Transcript::hash() const
{
    Bytes out(EVP_MAX_MD_SIZE);
    unsigned size = 0;
    EVP_MD_CTX *copy = EVP_MD_CTX_new();
    if (m_ctx && EVP_MD_CTX_copy_ex(copy, m_ctx) == 1)
        EVP_DigestFinal_ex(copy, out.data(), &size);
    EVP_MD_CTX_free(copy);
    out.resize(size);
    return out;
}

Bytes KeySchedule::deriveSecret(
    const Bytes &secret, const std::string &label, const Bytes &hash) const
{
    return hkdfExpandLabel(m_suite.digest, secret, label, hash, m_suite.hashLength);
}

void KeySchedule::deriveHandshake(const Bytes &shared, const Bytes &helloHash)
{
    const Bytes zeros(m_suite.hashLength, 0);
    Bytes emptyHash(EVP_MAX_MD_SIZE);
    unsigned size = 0;
    EVP_Digest(nullptr, 0, emptyHash.data(), &size, digestByName(m_suite.digest), nullptr);
    emptyHash.resize(size);
    const Bytes early = hkdfExtract(m_suite.digest, {}, zeros);
    const Bytes handshake
        = hkdfExtract(m_suite.digest, deriveSecret(early, "derived", emptyHash), shared);
    m_clientHandshake = deriveSecret(handshake, "c hs traffic", helloHash);
    m_serverHandshake = deriveSecret(handshake, "s hs traffic", helloHash);
    m_master = hkdfExtract(m_suite.digest, deriveSecret(handshake, "derived", emptyHash), zeros);
}

void KeySchedule::deriveApplication(const Bytes &finishedHash)
{
    m_clientApplication = deriveSecret(m_master, "c ap traffic", finishedHash);
    m_serverApplication = deriveSecret(m_master, "s ap traffic", finishedHash);
}

Bytes KeySchedule::finishedMac(const Bytes &baseSecret, const Bytes &transcriptHash) const
{
    const Bytes key
        = hkdfExpandLabel(m_suite.digest, baseSecret, "finished", {}, m_suite.hashLength);
    return hmac(m_suite.digest, key, transcriptHash);
}

Bytes KeySchedule::nextGeneration(const Bytes &trafficSecret) const
{
    return hkdfExpandLabel(m_suite.digest, trafficSecret, "traffic upd", {}, m_suite.hashLength);
}

} // namespace qivro::engine::utls
