#include "tls/utls/recordcipher.h"

#include <cstring>
#include <openssl/evp.h>

namespace qivro::engine::utls {

namespace {

const EVP_CIPHER *cipherByName(const char *name)
{
    static EVP_CIPHER *aes128 = EVP_CIPHER_fetch(nullptr, "AES-128-GCM", nullptr);
    static EVP_CIPHER *aes256 = EVP_CIPHER_fetch(nullptr, "AES-256-GCM", nullptr);
    static EVP_CIPHER *chacha = EVP_CIPHER_fetch(nullptr, "ChaCha20-Poly1305", nullptr);
    if (std::strcmp(name, "AES-256-GCM") == 0)
        return aes256;
    if (std::strcmp(name, "ChaCha20-Poly1305") == 0)
        return chacha;
    return aes128;
}

} // namespace

RecordCipher::~RecordCipher()
{
    EVP_CIPHER_CTX_free(m_ctx);
}

bool RecordCipher::init(const CipherSuite &suite, const Bytes &secret, bool encrypt)
{
    const Bytes key = hkdfExpandLabel(suite.digest, secret, "key", {}, suite.keyLength);
    const Bytes iv = hkdfExpandLabel(suite.digest, secret, "iv", {}, sizeof m_iv);
    if (key.size() != suite.keyLength || iv.size() != sizeof m_iv)
        return false;
    std::memcpy(m_iv, iv.data(), sizeof m_iv);
    m_sequence = 0;
    if (!m_ctx)
        m_ctx = EVP_CIPHER_CTX_new();
    return m_ctx
        && EVP_CipherInit_ex(
               m_ctx, cipherByName(suite.cipher), nullptr, key.data(), nullptr, encrypt ? 1 : 0)
        == 1;
}

void RecordCipher::nonce(std::uint8_t *out) const
{
    std::memcpy(out, m_iv, sizeof m_iv);
    for (int i = 0; i < 8; ++i)
        out[11 - i] ^= static_cast<std::uint8_t>(m_sequence >> (8 * i));
}

void RecordCipher::seal(std::uint8_t type, const std::uint8_t *data, std::size_t size, Bytes &out)
{
    const std::size_t length = size + 1 + tagSize;
    const std::size_t start = out.size();
    out.resize(start + recordHeaderSize + length);
    std::uint8_t *record = out.data() + start;
    record[0] = 23;
    record[1] = 3;
    record[2] = 3;
    record[3] = static_cast<std::uint8_t>(length >> 8);
    record[4] = static_cast<std::uint8_t>(length);
    std::uint8_t iv[12];
    nonce(iv);
    int written = 0;
    std::uint8_t *cipher = record + recordHeaderSize;
    EVP_EncryptInit_ex(m_ctx, nullptr, nullptr, nullptr, iv);
    EVP_EncryptUpdate(m_ctx, nullptr, &written, record, recordHeaderSize);
    EVP_EncryptUpdate(m_ctx, cipher, &written, data, static_cast<int>(size));
    EVP_EncryptUpdate(m_ctx, cipher + size, &written, &type, 1);
    EVP_EncryptFinal_ex(m_ctx, cipher + size + 1, &written);
    EVP_CIPHER_CTX_ctrl(m_ctx, EVP_CTRL_AEAD_GET_TAG, static_cast<int>(tagSize), cipher + size + 1);
    ++m_sequence;
}

bool RecordCipher::open(
    std::uint8_t *record, std::size_t size, std::uint8_t &type, std::size_t &plainSize)
{
    if (size < recordHeaderSize + tagSize + 1)
        return false;
    const std::size_t cipherSize = size - recordHeaderSize - tagSize;
    std::uint8_t *body = record + recordHeaderSize;
    std::uint8_t iv[12];
    nonce(iv);
    int written = 0;
    const bool ok = EVP_DecryptInit_ex(m_ctx, nullptr, nullptr, nullptr, iv) == 1
        && EVP_DecryptUpdate(m_ctx, nullptr, &written, record, recordHeaderSize) == 1
        && EVP_DecryptUpdate(m_ctx, body, &written, body, static_cast<int>(cipherSize)) == 1
        && EVP_CIPHER_CTX_ctrl(
               m_ctx, EVP_CTRL_AEAD_SET_TAG, static_cast<int>(tagSize), body + cipherSize)
            == 1
        && EVP_DecryptFinal_ex(m_ctx, body + cipherSize, &written) == 1;
    if (!ok)
        return false;
    ++m_sequence;
    // The content type is the last non-zero byte; zeros after it are padding.
    std::size_t end = cipherSize;
    while (end > 0 && body[end - 1] == 0)
        --end;
    if (end == 0)
        return false;
    type = body[end - 1];
    plainSize = end - 1;
    return true;
}

} // namespace qivro::engine::utls
