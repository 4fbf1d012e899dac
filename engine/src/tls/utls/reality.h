// REALITY, client side: the ClientHello's session id carries a sealed token that only the
// server holding the private key for public_key can open; the server proves itself by signing
// its throw-away Ed25519 certificate with an HMAC of the shared key instead of a CA's signature.
#pragma once

#include "tls/utls/bytes.h"

#include <string>

namespace qivro::engine::utls {

class KeyShare;

struct RealityKeys
{
    Bytes publicKey; // the server's X25519 public key
    Bytes shortId; // 8 bytes, zero-padded
};

// public_key: unpadded base64url of 32 bytes; short_id: up to 16 hex digits, an even count.
// Returns "" or the error ("invalid public_key", "invalid short_id").
std::string parseRealityKeys(
    const std::string &publicKey, const std::string &shortId, RealityKeys &out);

class RealityAuth
{
public:
    explicit RealityAuth(RealityKeys keys)
        : m_keys(std::move(keys))
    { }

    // hello: the handshake message with a zero session id; random: its client random; share: its
    // X25519 key share. Fills the session id in and keeps the shared auth key.
    bool seal(Bytes &hello, const Bytes &random, const KeyShare &share, std::uint32_t unixTime);
    // True when the leaf is Ed25519 and its signature is HMAC-SHA512(auth, its public key).
    bool authenticates(const Bytes &leafCertificate) const;

    const Bytes &authKey() const { return m_auth; }
    static Bytes certificateSignature(const Bytes &auth, const Bytes &ed25519PublicKey);

private:
    RealityKeys m_keys;
    Bytes m_auth;
};

} // namespace qivro::engine::utls
