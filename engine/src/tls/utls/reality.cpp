#include "tls/utls/reality.h"

#include "common/address.h" // hexDigit
#include "common/base64url.h"
#include "tls/utls/certificateverifier.h"
#include "tls/utls/clienthello.h"
#include "tls/utls/keyschedule.h"
#include "tls/utls/keyshare.h"

#include <algorithm>
#include <openssl/crypto.h>
#include <openssl/evp.h>

namespace qivro::engine::utls {

namespace {

// The version the server may check: what the format's reference client of our generation sends.
const std::uint8_t clientVersion[3] = {1, 8, 1};

bool decodeHex(const std::string &text, Bytes &out)
{
    if (text.size() % 2)
        return false;
    out.clear();
    for (std::size_t i = 0; i < text.size(); i += 2) {
        const int high = hexDigit(text[i]);
        const int low = hexDigit(text[i + 1]);
        if (high < 0 || low < 0)
            return false;
        out.push_back(static_cast<std::uint8_t>(high << 4 | low));
    }
    return true;
}

} // namespace

std::string parseRealityKeys(
    const std::string &publicKey, const std::string &shortId, RealityKeys &out)
{
    if (!decodeBase64Url(publicKey, out.publicKey) || out.publicKey.size() != 32)
        return "invalid public_key";
    if (!decodeHex(shortId, out.shortId) || out.shortId.size() > 8)
        return "invalid short_id";
    out.shortId.resize(8, 0);
    return {};
}

bool RealityAuth::seal(
    Bytes &hello, const Bytes &random, const KeyShare &share, std::uint32_t unixTime)
{
    constexpr std::size_t at = ClientHello::sessionIdOffset;
    if (share.group() != group::x25519 || hello.size() < at + 32 || hello[at - 1] != 32
        || random.size() != 32)
        return false;
    Bytes shared;
    if (!share.agree(m_keys.publicKey.data(), m_keys.publicKey.size(), shared))
        return false;
    const Bytes salt(random.begin(), random.begin() + 20);
    m_auth = hkdfExpand("SHA256", hkdfExtract("SHA256", salt, shared),
        Bytes {'R', 'E', 'A', 'L', 'I', 'T', 'Y'}, 32);
    if (m_auth.size() != 32)
        return false;

    std::uint8_t plain[16] = {clientVersion[0], clientVersion[1], clientVersion[2], 0,
        static_cast<std::uint8_t>(unixTime >> 24), static_cast<std::uint8_t>(unixTime >> 16),
        static_cast<std::uint8_t>(unixTime >> 8), static_cast<std::uint8_t>(unixTime)};
    std::copy(m_keys.shortId.begin(), m_keys.shortId.end(), plain + 8);

    // The whole hello with a zero session id is the additional data.
    std::fill(hello.begin() + at, hello.begin() + at + 32, 0);
    EVP_CIPHER_CTX *ctx = EVP_CIPHER_CTX_new();
    std::uint8_t sealed[32];
    int written = 0;
    const bool ok = ctx
        && EVP_EncryptInit_ex(ctx, EVP_aes_256_gcm(), nullptr, m_auth.data(), random.data() + 20)
            == 1
        && EVP_EncryptUpdate(ctx, nullptr, &written, hello.data(), static_cast<int>(hello.size()))
            == 1
        && EVP_EncryptUpdate(ctx, sealed, &written, plain, sizeof plain) == 1
        && EVP_EncryptFinal_ex(ctx, sealed + 16, &written) == 1
        && EVP_CIPHER_CTX_ctrl(ctx, EVP_CTRL_AEAD_GET_TAG, 16, sealed + 16) == 1;
    EVP_CIPHER_CTX_free(ctx);
    if (ok)
        std::copy(sealed, sealed + 32, hello.begin() + at);
    return ok;
}

Bytes RealityAuth::certificateSignature(const Bytes &auth, const Bytes &ed25519PublicKey)
{
    return hmac("SHA512", auth, ed25519PublicKey);
}

bool RealityAuth::authenticates(const Bytes &leafCertificate) const
{
    Bytes publicKey;
    if (m_auth.empty() || !ed25519PublicKey(leafCertificate, publicKey)
        || leafCertificate.size() < 64)
        return false;
    // An Ed25519 signature is the last 64 bytes of the DER certificate.
    const Bytes expected = certificateSignature(m_auth, publicKey);
    return expected.size() == 64
        && CRYPTO_memcmp(expected.data(), leafCertificate.data() + leafCertificate.size() - 64, 64)
        == 0;
}

} // namespace qivro::engine::utls
