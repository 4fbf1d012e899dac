// TLS 1.3 record protection for one direction: AEAD with the per-record nonce (RFC 8446 5.2-5.3).
#pragma once

#include "tls/utls/keyschedule.h"

typedef struct evp_cipher_ctx_st EVP_CIPHER_CTX;

namespace qivro::engine::utls {

constexpr std::size_t recordHeaderSize = 5;
constexpr std::size_t maxPlaintext = 1 << 14;
constexpr std::size_t maxCiphertext = maxPlaintext + 256;
constexpr std::size_t tagSize = 16;

class RecordCipher
{
public:
    RecordCipher() = default;
    ~RecordCipher();
    RecordCipher(const RecordCipher &) = delete;
    RecordCipher &operator=(const RecordCipher &) = delete;

    // Keys from a traffic secret; the sequence number starts again at zero.
    bool init(const CipherSuite &suite, const Bytes &secret, bool encrypt);
    bool active() const { return m_ctx != nullptr; }

    // Appends one protected record, header included (size <= maxPlaintext).
    void seal(std::uint8_t type, const std::uint8_t *data, std::size_t size, Bytes &out);
    // Decrypts a whole record (header + body) in place; plain bytes start after the header.
    bool open(std::uint8_t *record, std::size_t size, std::uint8_t &type, std::size_t &plainSize);

private:
    void nonce(std::uint8_t *out) const;

    EVP_CIPHER_CTX *m_ctx = nullptr;
    std::uint8_t m_iv[12] = {};
    std::uint64_t m_sequence = 0;
};

} // namespace qivro::engine::utls
