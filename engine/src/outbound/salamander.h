// Salamander: each UDP datagram becomes salt[8] | payload XOR BLAKE2b-256(psk | salt), so a QUIC
// connection does not look like one on the wire.
#pragma once

#include "transport/quic/quicconnection.h"

#include <array>
#include <string>

namespace qivro::engine {

class Salamander : public quic::PacketObfuscator
{
public:
    static constexpr std::size_t kSaltSize = 8;
    static constexpr std::size_t kKeySize = 32;

    explicit Salamander(std::string psk);
    std::size_t overhead() const override { return kSaltSize; }
    // packet[0, 8) receives a fresh salt; the rest is obfuscated in place.
    void seal(std::uint8_t *packet, std::size_t size) override;
    bool open(std::uint8_t *&packet, std::size_t &size) override;

    std::array<std::uint8_t, kKeySize> key(const std::uint8_t *salt) const;
    // With a given salt, for known-answer checks.
    void sealWithSalt(std::uint8_t *packet, std::size_t size, const std::uint8_t *salt) const;

private:
    std::string m_psk;
};

} // namespace qivro::engine
