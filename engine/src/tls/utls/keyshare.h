// Ephemeral (EC)DH keys for the key_share extension: X25519, P-256, P-384 and P-521.
#pragma once

#include "tls/utls/bytes.h"

#include <memory>

typedef struct evp_pkey_st EVP_PKEY;

namespace qivro::engine::utls {

namespace group {
constexpr std::uint16_t secp256r1 = 0x0017;
constexpr std::uint16_t secp384r1 = 0x0018;
constexpr std::uint16_t secp521r1 = 0x0019;
constexpr std::uint16_t x25519 = 0x001d;
} // namespace group

class KeyShare
{
public:
    ~KeyShare();
    KeyShare(const KeyShare &) = delete;
    KeyShare &operator=(const KeyShare &) = delete;

    // nullptr for groups we have no key type for.
    static std::unique_ptr<KeyShare> generate(std::uint16_t group);
    static std::unique_ptr<KeyShare> x25519FromPrivate(const std::uint8_t *privateKey);
    static bool supported(std::uint16_t group);

    std::uint16_t group() const { return m_group; }
    // The encoded public value as it goes on the wire (raw for X25519, uncompressed point for EC).
    const Bytes &publicKey() const { return m_public; }
    // The shared secret with a peer's public value; false for a malformed or degenerate one.
    bool agree(const std::uint8_t *peer, std::size_t size, Bytes &secret) const;

private:
    KeyShare(std::uint16_t group, EVP_PKEY *key);

    std::uint16_t m_group;
    EVP_PKEY *m_key;
    Bytes m_public;
};

} // namespace qivro::engine::utls
