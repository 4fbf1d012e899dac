#include "outbound/sscrypto.h"

#include <algorithm>
#include <cstring>
#include <openssl/evp.h>
#include <openssl/kdf.h>
#include <openssl/rand.h>

namespace qivro::engine::ss {

namespace {

const EVP_CIPHER *evpCipher(CipherKind kind)
{
    switch (kind) {
    case CipherKind::Aes128Gcm:
        return EVP_aes_128_gcm();
    case CipherKind::Aes256Gcm:
        return EVP_aes_256_gcm();
    case CipherKind::Chacha20Poly1305:
        return EVP_chacha20_poly1305();
    }
    return nullptr;
}

} // namespace

bool cipherFromMethod(const std::string &method, CipherKind &kind)
{
    if (method == "aes-128-gcm")
        kind = CipherKind::Aes128Gcm;
    else if (method == "aes-256-gcm")
        kind = CipherKind::Aes256Gcm;
    else if (method == "chacha20-ietf-poly1305")
        kind = CipherKind::Chacha20Poly1305;
    else
        return false;
    return true;
}

std::size_t keySize(CipherKind kind)
{
    return kind == CipherKind::Aes128Gcm ? 16 : 32;
}

std::vector<std::uint8_t> masterKey(const std::string &password, std::size_t size)
{
    std::vector<std::uint8_t> key;
    std::vector<std::uint8_t> previous;
    EVP_MD_CTX *context = EVP_MD_CTX_new();
    while (key.size() < size) {
        unsigned char digest[EVP_MAX_MD_SIZE];
        unsigned int length = 0;
        EVP_DigestInit_ex(context, EVP_md5(), nullptr);
        EVP_DigestUpdate(context, previous.data(), previous.size());
        EVP_DigestUpdate(context, password.data(), password.size());
        EVP_DigestFinal_ex(context, digest, &length);
        previous.assign(digest, digest + length);
        key.insert(key.end(), previous.begin(), previous.end());
    }
    EVP_MD_CTX_free(context);
    key.resize(size);
    return key;
}

bool subkey(const std::vector<std::uint8_t> &master, const std::uint8_t *salt, std::size_t saltSize,
    std::uint8_t *out)
{
    EVP_PKEY_CTX *context = EVP_PKEY_CTX_new_id(EVP_PKEY_HKDF, nullptr);
    if (!context)
        return false;
    static const unsigned char info[] = "ss-subkey";
    std::size_t length = master.size();
    const bool ok = EVP_PKEY_derive_init(context) > 0
        && EVP_PKEY_CTX_set_hkdf_md(context, EVP_sha1()) > 0
        && EVP_PKEY_CTX_set1_hkdf_salt(context, salt, static_cast<int>(saltSize)) > 0
        && EVP_PKEY_CTX_set1_hkdf_key(context, master.data(), static_cast<int>(master.size())) > 0
        && EVP_PKEY_CTX_add1_hkdf_info(context, info, sizeof info - 1) > 0
        && EVP_PKEY_derive(context, out, &length) > 0 && length == master.size();
    EVP_PKEY_CTX_free(context);
    return ok;
}

Aead::Aead()
    : m_encrypt(EVP_CIPHER_CTX_new())
    , m_decrypt(EVP_CIPHER_CTX_new())
{ }

Aead::~Aead()
{
    EVP_CIPHER_CTX_free(m_encrypt);
    EVP_CIPHER_CTX_free(m_decrypt);
}

bool Aead::init(CipherKind kind, const std::uint8_t *key)
{
    const EVP_CIPHER *cipher = evpCipher(kind);
    return m_encrypt && m_decrypt
        && EVP_EncryptInit_ex(m_encrypt, cipher, nullptr, key, nullptr) > 0
        && EVP_DecryptInit_ex(m_decrypt, cipher, nullptr, key, nullptr) > 0;
}

bool Aead::seal(
    const std::uint8_t *nonce, const std::uint8_t *plain, std::size_t size, std::uint8_t *out)
{
    int length = 0;
    int finalLength = 0;
    return EVP_EncryptInit_ex(m_encrypt, nullptr, nullptr, nullptr, nonce) > 0
        && (size == 0
            || EVP_EncryptUpdate(m_encrypt, out, &length, plain, static_cast<int>(size)) > 0)
        && EVP_EncryptFinal_ex(m_encrypt, out + length, &finalLength) > 0
        && EVP_CIPHER_CTX_ctrl(m_encrypt, EVP_CTRL_AEAD_GET_TAG, tagSize, out + size) > 0;
}

bool Aead::open(
    const std::uint8_t *nonce, const std::uint8_t *in, std::size_t size, std::uint8_t *out)
{
    int length = 0;
    int finalLength = 0;
    std::uint8_t tag[tagSize];
    std::memcpy(tag, in + size, tagSize);
    return EVP_DecryptInit_ex(m_decrypt, nullptr, nullptr, nullptr, nonce) > 0
        && (size == 0 || EVP_DecryptUpdate(m_decrypt, out, &length, in, static_cast<int>(size)) > 0)
        && EVP_CIPHER_CTX_ctrl(m_decrypt, EVP_CTRL_AEAD_SET_TAG, tagSize, tag) > 0
        && EVP_DecryptFinal_ex(m_decrypt, out + length, &finalLength) > 0;
}

void incrementNonce(std::uint8_t *nonce)
{
    for (std::size_t i = 0; i < nonceSize; ++i) {
        if (++nonce[i] != 0)
            break;
    }
}

StreamEncryptor::StreamEncryptor(CipherKind kind, std::vector<std::uint8_t> master)
    : m_kind(kind)
    , m_master(std::move(master))
{ }

bool StreamEncryptor::encrypt(
    const std::uint8_t *data, std::size_t size, std::vector<std::uint8_t> &out)
{
    if (!m_started) {
        const std::size_t saltSize = m_master.size();
        std::vector<std::uint8_t> salt(saltSize);
        std::vector<std::uint8_t> key(saltSize);
        if (RAND_bytes(salt.data(), static_cast<int>(saltSize)) != 1
            || !subkey(m_master, salt.data(), saltSize, key.data())
            || !m_aead.init(m_kind, key.data()))
            return false;
        out.insert(out.end(), salt.begin(), salt.end());
        m_started = true;
    }
    // An empty write sends nothing but the salt: a zero-length chunk is not valid on the wire.
    std::size_t offset = 0;
    while (offset < size) {
        const std::size_t chunk = std::min(maxPayload, size - offset);
        const std::size_t start = out.size();
        out.resize(start + 2 + tagSize + chunk + tagSize);
        const std::uint8_t length[2]
            = {static_cast<std::uint8_t>(chunk >> 8), static_cast<std::uint8_t>(chunk & 0xFF)};
        if (!m_aead.seal(m_nonce, length, 2, out.data() + start))
            return false;
        incrementNonce(m_nonce);
        if (!m_aead.seal(m_nonce, data + offset, chunk, out.data() + start + 2 + tagSize))
            return false;
        incrementNonce(m_nonce);
        offset += chunk;
    }
    return true;
}

StreamDecryptor::StreamDecryptor(CipherKind kind, std::vector<std::uint8_t> master)
    : m_kind(kind)
    , m_master(std::move(master))
{ }

bool StreamDecryptor::feed(
    const std::uint8_t *data, std::size_t size, std::vector<std::uint8_t> &plain)
{
    if (m_failed)
        return false;
    if (m_pendingOffset > 0 && m_pendingOffset == m_pending.size()) {
        m_pending.clear();
        m_pendingOffset = 0;
    }
    m_pending.insert(m_pending.end(), data, data + size);
    const auto available = [this] { return m_pending.size() - m_pendingOffset; };
    if (!m_started) {
        const std::size_t saltSize = m_master.size();
        if (available() < saltSize)
            return true;
        std::vector<std::uint8_t> key(saltSize);
        if (!subkey(m_master, m_pending.data() + m_pendingOffset, saltSize, key.data())
            || !m_aead.init(m_kind, key.data())) {
            m_failed = true;
            return false;
        }
        m_pendingOffset += saltSize;
        m_started = true;
    }
    while (true) {
        if (m_payloadLength == 0) {
            if (available() < 2 + tagSize)
                break;
            std::uint8_t length[2];
            if (!m_aead.open(m_nonce, m_pending.data() + m_pendingOffset, 2, length)) {
                m_failed = true;
                return false;
            }
            incrementNonce(m_nonce);
            m_payloadLength = (static_cast<std::size_t>(length[0]) << 8) | length[1];
            m_pendingOffset += 2 + tagSize;
            if (m_payloadLength == 0 || m_payloadLength > maxPayload) {
                m_failed = true;
                return false;
            }
        }
        if (available() < m_payloadLength + tagSize)
            break;
        const std::size_t start = plain.size();
        plain.resize(start + m_payloadLength);
        if (!m_aead.open(m_nonce, m_pending.data() + m_pendingOffset, m_payloadLength,
                plain.data() + start)) {
            plain.resize(start);
            m_failed = true;
            return false;
        }
        incrementNonce(m_nonce);
        m_pendingOffset += m_payloadLength + tagSize;
        m_payloadLength = 0;
    }
    // Keep the buffer from growing: drop consumed bytes once they dominate.
    if (m_pendingOffset > 64 * 1024 && m_pendingOffset * 2 > m_pending.size()) {
        m_pending.erase(
            m_pending.begin(), m_pending.begin() + static_cast<std::ptrdiff_t>(m_pendingOffset));
        m_pendingOffset = 0;
    }
    return true;
}

bool sealPacket(CipherKind kind, const std::vector<std::uint8_t> &master, const std::uint8_t *plain,
    std::size_t size, std::vector<std::uint8_t> &out)
{
    const std::size_t saltSize = master.size();
    out.resize(saltSize + size + tagSize);
    std::vector<std::uint8_t> key(saltSize);
    const std::uint8_t nonce[nonceSize] = {};
    Aead aead;
    return RAND_bytes(out.data(), static_cast<int>(saltSize)) == 1
        && subkey(master, out.data(), saltSize, key.data()) && aead.init(kind, key.data())
        && aead.seal(nonce, plain, size, out.data() + saltSize);
}

bool openPacket(CipherKind kind, const std::vector<std::uint8_t> &master, const std::uint8_t *data,
    std::size_t size, std::vector<std::uint8_t> &plain)
{
    const std::size_t saltSize = master.size();
    if (size < saltSize + tagSize)
        return false;
    std::vector<std::uint8_t> key(saltSize);
    const std::uint8_t nonce[nonceSize] = {};
    Aead aead;
    plain.resize(size - saltSize - tagSize);
    return subkey(master, data, saltSize, key.data()) && aead.init(kind, key.data())
        && aead.open(nonce, data + saltSize, plain.size(), plain.data());
}

} // namespace qivro::engine::ss
