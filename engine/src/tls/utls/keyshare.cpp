#include "tls/utls/keyshare.h"

#include <openssl/core_names.h>
#include <openssl/evp.h>

namespace qivro::engine::utls {

namespace {

const char *curveName(std::uint16_t group)
{
    switch (group) {
    case group::secp256r1:
        return "P-256";
    case group::secp384r1:
        return "P-384";
    case group::secp521r1:
        return "P-521";
    default:
        return nullptr;
    }
}

struct PkeyCtx
{
    EVP_PKEY_CTX *ctx;
    ~PkeyCtx() { EVP_PKEY_CTX_free(ctx); }
};

} // namespace

KeyShare::KeyShare(std::uint16_t group, EVP_PKEY *key)
    : m_group(group)
    , m_key(key)
{
    if (group == group::x25519) {
        std::size_t size = 32;
        m_public.resize(size);
        EVP_PKEY_get_raw_public_key(key, m_public.data(), &size);
        m_public.resize(size);
    } else {
        unsigned char *encoded = nullptr;
        const std::size_t size = EVP_PKEY_get1_encoded_public_key(key, &encoded);
        m_public.assign(encoded, encoded + size);
        OPENSSL_free(encoded);
    }
}

KeyShare::~KeyShare()
{
    EVP_PKEY_free(m_key);
}

bool KeyShare::supported(std::uint16_t group)
{
    return group == group::x25519 || curveName(group);
}

std::unique_ptr<KeyShare> KeyShare::generate(std::uint16_t group)
{
    EVP_PKEY *key = nullptr;
    if (group == group::x25519)
        key = EVP_PKEY_Q_keygen(nullptr, nullptr, "X25519");
    else if (const char *curve = curveName(group))
        key = EVP_PKEY_Q_keygen(nullptr, nullptr, "EC", curve);
    if (!key)
        return nullptr;
    return std::unique_ptr<KeyShare>(new KeyShare(group, key));
}

std::unique_ptr<KeyShare> KeyShare::x25519FromPrivate(const std::uint8_t *privateKey)
{
    EVP_PKEY *key = EVP_PKEY_new_raw_private_key(EVP_PKEY_X25519, nullptr, privateKey, 32);
    if (!key)
        return nullptr;
    return std::unique_ptr<KeyShare>(new KeyShare(group::x25519, key));
}

bool KeyShare::agree(const std::uint8_t *peer, std::size_t size, Bytes &secret) const
{
    EVP_PKEY *peerKey = nullptr;
    if (m_group == group::x25519) {
        if (size != 32)
            return false;
        peerKey = EVP_PKEY_new_raw_public_key(EVP_PKEY_X25519, nullptr, peer, size);
    } else {
        // Only uncompressed points are allowed in TLS 1.3.
        if (size == 0 || peer[0] != 4 || size != m_public.size())
            return false;
        peerKey = EVP_PKEY_new();
        if (peerKey
            && (EVP_PKEY_copy_parameters(peerKey, m_key) != 1
                || EVP_PKEY_set1_encoded_public_key(peerKey, peer, size) != 1)) {
            EVP_PKEY_free(peerKey);
            peerKey = nullptr;
        }
    }
    if (!peerKey)
        return false;
    PkeyCtx derive {EVP_PKEY_CTX_new(m_key, nullptr)};
    std::size_t length = 0;
    bool ok = derive.ctx && EVP_PKEY_derive_init(derive.ctx) == 1
        && EVP_PKEY_derive_set_peer(derive.ctx, peerKey) == 1
        && EVP_PKEY_derive(derive.ctx, nullptr, &length) == 1;
    if (ok) {
        secret.resize(length);
        ok = EVP_PKEY_derive(derive.ctx, secret.data(), &length) == 1;
        secret.resize(length);
    }
    EVP_PKEY_free(peerKey);
    // A small-order X25519 point gives all zeros; the secret would be public.
    unsigned char any = 0;
    for (std::uint8_t byte : secret)
        any |= byte;
    return ok && any != 0;
}

} // namespace qivro::engine::utls
