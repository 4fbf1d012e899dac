#include "outbound/salamander.h"

#include <cstring>
#include <sodium.h>

namespace qivro::engine {

Salamander::Salamander(std::string psk)
    : m_psk(std::move(psk))
{
    // Needed once before randombytes_buf; thread-safe and idempotent.
    [[maybe_unused]] static const int sodium = sodium_init();
}

std::array<std::uint8_t, Salamander::kKeySize> Salamander::key(const std::uint8_t *salt) const
{
    // Unkeyed BLAKE2b with a 32-byte digest: the digest size is part of the hash's parameters,
    // so a truncated 64-byte digest would be a different key.
    std::array<std::uint8_t, kKeySize> out {};
    crypto_generichash_state state;
    crypto_generichash_init(&state, nullptr, 0, kKeySize);
    crypto_generichash_update(
        &state, reinterpret_cast<const unsigned char *>(m_psk.data()), m_psk.size());
    crypto_generichash_update(&state, salt, kSaltSize);
    crypto_generichash_final(&state, out.data(), kKeySize);
    return out;
}

void Salamander::sealWithSalt(
    std::uint8_t *packet, std::size_t size, const std::uint8_t *salt) const
{
    if (size < kSaltSize)
        return;
    std::memmove(packet, salt, kSaltSize);
    const auto mask = key(packet);
    for (std::size_t i = kSaltSize; i < size; ++i)
        packet[i] ^= mask[(i - kSaltSize) % kKeySize];
}

void Salamander::seal(std::uint8_t *packet, std::size_t size)
{
    std::uint8_t salt[kSaltSize];
    randombytes_buf(salt, sizeof salt);
    sealWithSalt(packet, size, salt);
}

bool Salamander::open(std::uint8_t *&packet, std::size_t &size)
{
    if (size <= kSaltSize)
        return false;
    const auto mask = key(packet);
    packet += kSaltSize;
    size -= kSaltSize;
    for (std::size_t i = 0; i < size; ++i)
        packet[i] ^= mask[i % kKeySize];
    return true;
}

} // namespace qivro::engine
