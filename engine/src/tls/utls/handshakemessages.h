// Parsers for the handshake messages a TLS 1.3 server sends (RFC 8446 section 4), each checking
// the structure strictly and naming the alert to send on failure.
#pragma once

#include "tls/utls/bytes.h"

#include <string>

namespace qivro::engine::utls {

namespace alert {
constexpr std::uint8_t closeNotify = 0;
constexpr std::uint8_t unexpectedMessage = 10;
constexpr std::uint8_t badRecordMac = 20;
constexpr std::uint8_t recordOverflow = 22;
constexpr std::uint8_t handshakeFailure = 40;
constexpr std::uint8_t badCertificate = 42;
constexpr std::uint8_t unsupportedCertificate = 43;
constexpr std::uint8_t certificateExpired = 45;
constexpr std::uint8_t certificateUnknown = 46;
constexpr std::uint8_t illegalParameter = 47;
constexpr std::uint8_t unknownCa = 48;
constexpr std::uint8_t decodeError = 50;
constexpr std::uint8_t decryptError = 51;
constexpr std::uint8_t protocolVersion = 70;
constexpr std::uint8_t internalError = 80;
constexpr std::uint8_t unsupportedExtension = 110;
constexpr std::uint8_t noApplicationProtocol = 120;
} // namespace alert

// "handshake failure", "bad record MAC" ...: the names Go prints after "remote error: tls: ".
std::string alertText(std::uint8_t description);

namespace message {
constexpr std::uint8_t clientHello = 1;
constexpr std::uint8_t serverHello = 2;
constexpr std::uint8_t newSessionTicket = 4;
constexpr std::uint8_t encryptedExtensions = 8;
constexpr std::uint8_t certificate = 11;
constexpr std::uint8_t certificateRequest = 13;
constexpr std::uint8_t certificateVerify = 15;
constexpr std::uint8_t finished = 20;
constexpr std::uint8_t keyUpdate = 24;
constexpr std::uint8_t compressedCertificate = 25;
constexpr std::uint8_t clientEncryptedExtensions = 203; // carries the client's ALPS settings
} // namespace message

namespace extension {
constexpr std::uint16_t serverName = 0;
constexpr std::uint16_t statusRequest = 5;
constexpr std::uint16_t supportedGroups = 10;
constexpr std::uint16_t ecPointFormats = 11;
constexpr std::uint16_t signatureAlgorithms = 13;
constexpr std::uint16_t alpn = 16;
constexpr std::uint16_t signedCertificateTimestamp = 18;
constexpr std::uint16_t padding = 21;
constexpr std::uint16_t extendedMasterSecret = 23;
constexpr std::uint16_t compressCertificate = 27;
constexpr std::uint16_t recordSizeLimit = 28;
constexpr std::uint16_t delegatedCredentials = 34;
constexpr std::uint16_t sessionTicket = 35;
constexpr std::uint16_t preSharedKey = 41;
constexpr std::uint16_t earlyData = 42;
constexpr std::uint16_t supportedVersions = 43;
constexpr std::uint16_t cookie = 44;
constexpr std::uint16_t pskKeyExchangeModes = 45;
constexpr std::uint16_t keyShare = 51;
constexpr std::uint16_t applicationSettings = 0x4469;
constexpr std::uint16_t encryptedClientHello = 0xfe0d;
constexpr std::uint16_t renegotiationInfo = 0xff01;
} // namespace extension

// A failed parse or check: the alert to send and what to tell the user.
struct Failure
{
    std::uint8_t alert = 0;
    std::string text;
    explicit operator bool() const { return !text.empty(); }
};
Failure fail(std::uint8_t alert, std::string text);

struct ServerHello
{
    Bytes random;
    Bytes sessionId;
    std::uint16_t cipherSuite = 0;
    bool retryRequest = false;
    std::uint16_t version = 0; // from supported_versions; 0 when the server sent none
    std::uint16_t keyShareGroup = 0;
    Bytes keyShare;
    std::uint16_t selectedGroup = 0; // HelloRetryRequest
    Bytes cookie; // HelloRetryRequest
};
Failure parseServerHello(const Bytes &body, ServerHello &out);

struct EncryptedExtensions
{
    std::string alpn;
    bool applicationSettings = false;
    std::uint16_t recordSizeLimit = 0;
};
// offered: the extension types our ClientHello carried; the server may answer only those.
Failure parseEncryptedExtensions(
    const Bytes &body, const std::vector<std::uint16_t> &offered, EncryptedExtensions &out);

// DER certificates, leaf first.
Failure parseCertificate(const Bytes &body, std::vector<Bytes> &chain);
// Inflates a CompressedCertificate (RFC 8879) into the body of a Certificate message.
Failure decompressCertificate(
    const Bytes &body, const std::vector<std::uint16_t> &offeredAlgorithms, Bytes &certificate);

struct CertificateVerify
{
    std::uint16_t scheme = 0;
    Bytes signature;
};
Failure parseCertificateVerify(const Bytes &body, CertificateVerify &out);

// Requested client certificates are answered with an empty list; only the context matters.
Failure parseCertificateRequest(const Bytes &body, Bytes &context);

struct NewSessionTicket
{
    std::uint32_t lifetime = 0;
    std::uint32_t ageAdd = 0;
    Bytes nonce;
    Bytes ticket;
};
Failure parseNewSessionTicket(const Bytes &body, NewSessionTicket &out);

Failure parseKeyUpdate(const Bytes &body, bool &updateRequested);

} // namespace qivro::engine::utls
