// Browser ClientHello shapes and the fingerprint names the configuration may use.
//
// Shapes we build (TLS 1.3 only is spoken; the TLS 1.2 suites and versions are offered as the
// browser offers them, a server that picks TLS 1.2 gets a clear error):
//   chrome   Chrome 120: GREASE, extensions shuffled per connection, ALPS, ECH GREASE
//   firefox  Firefox 120: x25519 + P-256 key shares, delegated credentials, record_size_limit,
//            ECH GREASE
//   safari   Safari 16.0: GREASE, zlib certificate compression, padding
//   ios      iOS 14: Safari's shape with the older cipher list and no certificate compression
//
// Fingerprint name           -> shape    why
//   "" (utls without a name) -> chrome   the default of the format
//   chrome                   -> chrome
//   chrome_psk, chrome_psk_shuffle, chrome_padding_psk_shuffle
//                            -> chrome   no session resumption here, and a first connection of
//                                        those carries no pre_shared_key anyway
//   chrome_pq, chrome_pq_psk -> chrome   no post-quantum key exchange in OpenSSL 3.0
//   edge, 360, qq            -> chrome   Chromium-based browsers; their own older shapes are
//                                        rarer on the wire than current Chrome
//   android                  -> chrome   Android's default browser is Chrome
//   firefox                  -> firefox
//   safari                   -> safari
//   ios                      -> ios
//   random                   -> one of chrome, firefox, safari, ios, drawn once per outbound
//   randomized               -> chrome   every connection already differs in extension order,
//                                        GREASE values and ECH GREASE
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace qivro::engine::utls {

// Stands for a GREASE value (RFC 8701) in a shape; each connection draws its own.
constexpr std::uint16_t grease = 0x0a0a;

struct HelloShape
{
    const char *name;
    std::vector<std::uint16_t> cipherSuites;
    // Extension types in their base order; grease marks the GREASE extensions (the first sent
    // empty, the second with one zero byte, as Chrome does).
    std::vector<std::uint16_t> extensions;
    // Chrome permutes every extension but GREASE and padding on each connection.
    bool shuffle = false;
    std::vector<std::uint16_t> groups;
    // grease here is a one-byte share of the GREASE group.
    std::vector<std::uint16_t> keyShares;
    std::vector<std::uint16_t> signatureAlgorithms;
    std::vector<std::uint16_t> versions;
    std::vector<std::string> alpn;
    std::vector<std::uint16_t> certificateCompression;
    std::vector<std::uint16_t> delegatedCredentialAlgorithms;
    std::uint16_t recordSizeLimit = 0;
    // ECH GREASE: candidate plaintext lengths (the AEAD adds 16) and HPKE AEAD ids.
    std::vector<std::uint16_t> echPayloadLengths;
    std::vector<std::uint16_t> echAeads;
};

const HelloShape &chromeShape();
const HelloShape &firefoxShape();
const HelloShape &safariShape();
const HelloShape &iosShape();

// The shape for a configured fingerprint name; nullptr for names the configuration refuses.
const HelloShape *shapeForFingerprint(const std::string &name);

} // namespace qivro::engine::utls
