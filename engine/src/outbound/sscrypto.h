// Shadowsocks AEAD: key derivation, the TCP chunk stream and UDP packets.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

typedef struct evp_cipher_ctx_st EVP_CIPHER_CTX;

namespace qivro::engine::ss {

enum class CipherKind
{
    Aes128Gcm,
    Aes256Gcm,
    Chacha20Poly1305
};

// False for methods this build cannot speak (the configuration accepts more).
bool cipherFromMethod(const std::string &method, CipherKind &kind);
std::size_t keySize(CipherKind kind);
constexpr std::size_t tagSize = 16;
constexpr std::size_t nonceSize = 12;
constexpr std::size_t maxPayload = 0x3FFF;

// EVP_BytesToKey with MD5, as every Shadowsocks implementation derives the master key.
std::vector<std::uint8_t> masterKey(const std::string &password, std::size_t size);
bool subkey(const std::vector<std::uint8_t> &master, const std::uint8_t *salt, std::size_t saltSize,
    std::uint8_t *out);

class Aead
{
public:
    Aead();
    ~Aead();
    Aead(const Aead &) = delete;
    Aead &operator=(const Aead &) = delete;

    bool init(CipherKind kind, const std::uint8_t *key);
    // out receives size + tagSize bytes.
    bool seal(
        const std::uint8_t *nonce, const std::uint8_t *plain, std::size_t size, std::uint8_t *out);
    // in holds size + tagSize bytes; out receives size bytes.
    bool open(
        const std::uint8_t *nonce, const std::uint8_t *in, std::size_t size, std::uint8_t *out);

private:
    EVP_CIPHER_CTX *m_encrypt = nullptr;
    EVP_CIPHER_CTX *m_decrypt = nullptr;
};

void incrementNonce(std::uint8_t *nonce);

// salt | [len + tag][payload + tag] ...
class StreamEncryptor
{
public:
    StreamEncryptor(CipherKind kind, std::vector<std::uint8_t> master);
    bool encrypt(const std::uint8_t *data, std::size_t size, std::vector<std::uint8_t> &out);

private:
    CipherKind m_kind;
    std::vector<std::uint8_t> m_master;
    Aead m_aead;
    std::uint8_t m_nonce[nonceSize] = {};
    bool m_started = false;
};

class StreamDecryptor
{
public:
    StreamDecryptor(CipherKind kind, std::vector<std::uint8_t> master);
    // Appends the plaintext of every complete chunk; false on an authentication or framing
    // error, after which the stream is unusable.
    bool feed(const std::uint8_t *data, std::size_t size, std::vector<std::uint8_t> &plain);
    bool failed() const { return m_failed; }

private:
    CipherKind m_kind;
    std::vector<std::uint8_t> m_master;
    Aead m_aead;
    std::uint8_t m_nonce[nonceSize] = {};
    std::vector<std::uint8_t> m_pending;
    std::size_t m_pendingOffset = 0;
    bool m_started = false;
    bool m_failed = false;
    std::size_t m_payloadLength = 0; // non-zero while waiting for a payload
};

// One UDP packet: salt | enc(plaintext) + tag, nonce zero.
bool sealPacket(CipherKind kind, const std::vector<std::uint8_t> &master, const std::uint8_t *plain,
    std::size_t size, std::vector<std::uint8_t> &out);
bool openPacket(CipherKind kind, const std::vector<std::uint8_t> &master, const std::uint8_t *data,
    std::size_t size, std::vector<std::uint8_t> &plain);

} // namespace qivro::engine::ss
