#include "tls/utls/handshakemessages.h"

#include <algorithm>
#include <zlib.h>
#ifdef QIVRO_HAVE_BROTLI
#include <brotli/decode.h>
#endif

namespace qivro::engine::utls {

namespace {

const std::uint8_t retryRandom[32] = {0xcf, 0x21, 0xad, 0x74, 0xe5, 0x9a, 0x61, 0x11, 0xbe, 0x1d,
    0x8c, 0x02, 0x1e, 0x65, 0xb8, 0x91, 0xc2, 0xa2, 0x11, 0x16, 0x7a, 0xbb, 0x8c, 0x5e, 0x07, 0x9e,
    0x09, 0xe2, 0xc8, 0xa8, 0x33, 0x9c};

// A certificate list this large is an attack, not a server.
constexpr std::uint32_t maxCertificateMessage = 512 * 1024;

struct Extension
{
    std::uint16_t type = 0;
    ByteReader data;
};

// Splits an extension block, refusing duplicates (RFC 8446 4.2).
Failure readExtensions(ByteReader &reader, const char *where, std::vector<Extension> &out)
{
    ByteReader block;
    if (!reader.prefixed(2, block))
        return fail(alert::decodeError, std::string("malformed ") + where);
    while (!block.empty()) {
        Extension extension;
        if (!block.u16(extension.type) || !block.prefixed(2, extension.data))
            return fail(alert::decodeError, std::string("malformed ") + where);
        for (const Extension &seen : out) {
            if (seen.type == extension.type)
                return fail(alert::illegalParameter,
                    std::string("duplicate extension ") + std::to_string(extension.type) + " in "
                        + where);
        }
        out.push_back(extension);
    }
    return {};
}

Failure decodeError(const char *what)
{
    return fail(alert::decodeError, std::string("malformed ") + what);
}

} // namespace

Failure fail(std::uint8_t alert, std::string text)
{
    return Failure {alert, std::move(text)};
}

std::string alertText(std::uint8_t description)
{
    switch (description) {
    case alert::closeNotify:
        return "close notify";
    case alert::unexpectedMessage:
        return "unexpected message";
    case alert::badRecordMac:
        return "bad record MAC";
    case alert::recordOverflow:
        return "record overflow";
    case alert::handshakeFailure:
        return "handshake failure";
    case alert::badCertificate:
        return "bad certificate";
    case alert::unsupportedCertificate:
        return "unsupported certificate";
    case alert::certificateExpired:
        return "expired certificate";
    case alert::certificateUnknown:
        return "unknown certificate";
    case alert::illegalParameter:
        return "illegal parameter";
    case alert::unknownCa:
        return "unknown certificate authority";
    case alert::decodeError:
        return "error decoding message";
    case alert::decryptError:
        return "error decrypting message";
    case alert::protocolVersion:
        return "protocol version not supported";
    case alert::internalError:
        return "internal error";
    case alert::unsupportedExtension:
        return "unsupported extension";
    case alert::noApplicationProtocol:
        return "no application protocol";
    default:
        return "alert(" + std::to_string(description) + ")";
    }
}

Failure parseServerHello(const Bytes &body, ServerHello &out)
{
    ByteReader reader(body);
    std::uint16_t legacyVersion = 0;
    std::uint8_t compression = 0;
    if (!reader.u16(legacyVersion) || !reader.bytes(32, out.random)
        || !reader.prefixedBytes(1, out.sessionId) || !reader.u16(out.cipherSuite)
        || !reader.u8(compression) || out.sessionId.size() > 32)
        return decodeError("ServerHello");
    out.retryRequest = std::equal(out.random.begin(), out.random.end(), retryRandom);
    // A TLS 1.2 hello may end here; it has no supported_versions in any case.
    if (reader.empty())
        return {};
    std::vector<Extension> extensions;
    if (Failure failure = readExtensions(reader, "ServerHello", extensions))
        return failure;
    if (!reader.empty())
        return decodeError("ServerHello");
    if (legacyVersion != 0x0303 || compression != 0)
        return fail(alert::illegalParameter, "ServerHello: bad legacy version or compression");
    int unexpected = -1;
    for (Extension &extension : extensions) {
        ByteReader &data = extension.data;
        switch (extension.type) {
        case extension::supportedVersions:
            if (!data.u16(out.version) || !data.empty())
                return decodeError("supported_versions");
            break;
        case extension::keyShare:
            if (out.retryRequest) {
                if (!data.u16(out.selectedGroup) || !data.empty())
                    return decodeError("key_share");
            } else if (!data.u16(out.keyShareGroup) || !data.prefixedBytes(2, out.keyShare)
                || !data.empty() || out.keyShare.empty()) {
                return decodeError("key_share");
            }
            break;
        case extension::cookie:
            if (!out.retryRequest || !data.prefixedBytes(2, out.cookie) || !data.empty()
                || out.cookie.empty())
                return decodeError("cookie");
            break;
        default:
            unexpected = extension.type;
            break;
        }
    }
    // TLS 1.2 servers answer with extensions of their own; the caller refuses that version.
    if (unexpected >= 0 && out.version == 0x0304)
        return fail(alert::unsupportedExtension,
            "unexpected extension " + std::to_string(unexpected) + " in ServerHello");
    return {};
}

Failure parseEncryptedExtensions(
    const Bytes &body, const std::vector<std::uint16_t> &offered, EncryptedExtensions &out)
{
    static const std::uint16_t allowed[] = {extension::serverName, extension::supportedGroups,
        extension::alpn, extension::recordSizeLimit, extension::applicationSettings,
        extension::encryptedClientHello};
    ByteReader reader(body);
    std::vector<Extension> extensions;
    if (Failure failure = readExtensions(reader, "EncryptedExtensions", extensions))
        return failure;
    if (!reader.empty())
        return decodeError("EncryptedExtensions");
    for (Extension &extension : extensions) {
        const auto type = extension.type;
        if (std::find(offered.begin(), offered.end(), type) == offered.end()
            || std::find(std::begin(allowed), std::end(allowed), type) == std::end(allowed))
            return fail(alert::unsupportedExtension,
                "unexpected extension " + std::to_string(type) + " in EncryptedExtensions");
        ByteReader &data = extension.data;
        if (type == extension::alpn) {
            ByteReader list;
            Bytes protocol;
            if (!data.prefixed(2, list) || !list.prefixedBytes(1, protocol) || !list.empty()
                || !data.empty() || protocol.empty())
                return decodeError("ALPN");
            out.alpn.assign(protocol.begin(), protocol.end());
        } else if (type == extension::recordSizeLimit) {
            if (!data.u16(out.recordSizeLimit) || !data.empty())
                return decodeError("record_size_limit");
            if (out.recordSizeLimit < 64)
                return fail(alert::illegalParameter, "record_size_limit below 64");
        } else if (type == extension::serverName) {
            if (!data.empty())
                return decodeError("server_name");
        } else if (type == extension::applicationSettings) {
            out.applicationSettings = true;
        }
    }
    return {};
}

Failure parseCertificate(const Bytes &body, std::vector<Bytes> &chain)
{
    ByteReader reader(body);
    Bytes context;
    ByteReader list;
    if (!reader.prefixedBytes(1, context) || !reader.prefixed(3, list) || !reader.empty())
        return decodeError("Certificate");
    if (!context.empty())
        return fail(alert::illegalParameter, "Certificate with a request context");
    while (!list.empty()) {
        Bytes certificate;
        std::vector<Extension> extensions;
        if (!list.prefixedBytes(3, certificate) || certificate.empty())
            return decodeError("Certificate");
        if (Failure failure = readExtensions(list, "CertificateEntry", extensions))
            return failure;
        for (const Extension &extension : extensions) {
            // OCSP staples and SCTs are allowed and not used; anything else was never offered.
            if (extension.type != extension::statusRequest
                && extension.type != extension::signedCertificateTimestamp)
                return fail(alert::unsupportedExtension,
                    "unexpected extension " + std::to_string(extension.type) + " in Certificate");
        }
        chain.push_back(std::move(certificate));
    }
    if (chain.empty())
        return fail(alert::decodeError, "the server sent no certificate");
    return {};
}

Failure decompressCertificate(
    const Bytes &body, const std::vector<std::uint16_t> &offeredAlgorithms, Bytes &certificate)
{
    ByteReader reader(body);
    std::uint16_t algorithm = 0;
    std::uint32_t size = 0;
    ByteReader compressed;
    if (!reader.u16(algorithm) || !reader.u24(size) || !reader.prefixed(3, compressed)
        || !reader.empty() || compressed.empty())
        return decodeError("CompressedCertificate");
    if (std::find(offeredAlgorithms.begin(), offeredAlgorithms.end(), algorithm)
        == offeredAlgorithms.end())
        return fail(alert::illegalParameter,
            "certificate compressed with algorithm " + std::to_string(algorithm)
                + ", which was not offered");
    if (size == 0 || size > maxCertificateMessage)
        return fail(alert::badCertificate, "compressed certificate too large");
    certificate.resize(size);
    std::size_t produced = size;
    bool ok = false;
    if (algorithm == 1) {
        uLongf length = size;
        ok = uncompress(certificate.data(), &length, compressed.current(),
                 static_cast<uLong>(compressed.remaining()))
            == Z_OK;
        produced = length;
    }
#ifdef QIVRO_HAVE_BROTLI
    if (algorithm == 2)
        ok = BrotliDecoderDecompress(
                 compressed.remaining(), compressed.current(), &produced, certificate.data())
            == BROTLI_DECODER_RESULT_SUCCESS;
#endif
    if (!ok || produced != size)
        return fail(alert::badCertificate,
            "cannot decompress the certificate (algorithm " + std::to_string(algorithm) + ")");
    return {};
}

Failure parseCertificateVerify(const Bytes &body, CertificateVerify &out)
{
    ByteReader reader(body);
    if (!reader.u16(out.scheme) || !reader.prefixedBytes(2, out.signature) || !reader.empty()
        || out.signature.empty())
        return decodeError("CertificateVerify");
    return {};
}

Failure parseCertificateRequest(const Bytes &body, Bytes &context)
{
    ByteReader reader(body);
    std::vector<Extension> extensions;
    if (!reader.prefixedBytes(1, context))
        return decodeError("CertificateRequest");
    if (Failure failure = readExtensions(reader, "CertificateRequest", extensions))
        return failure;
    if (!reader.empty())
        return decodeError("CertificateRequest");
    return {};
}

Failure parseNewSessionTicket(const Bytes &body, NewSessionTicket &out)
{
    ByteReader reader(body);
    std::vector<Extension> extensions;
    if (!reader.u32(out.lifetime) || !reader.u32(out.ageAdd) || !reader.prefixedBytes(1, out.nonce)
        || !reader.prefixedBytes(2, out.ticket) || out.ticket.empty())
        return decodeError("NewSessionTicket");
    if (Failure failure = readExtensions(reader, "NewSessionTicket", extensions))
        return failure;
    if (!reader.empty())
        return decodeError("NewSessionTicket");
    if (out.lifetime > 7 * 24 * 3600)
        return fail(alert::illegalParameter, "session ticket lifetime above seven days");
    return {};
}

Failure parseKeyUpdate(const Bytes &body, bool &updateRequested)
{
    ByteReader reader(body);
    std::uint8_t request = 0;
    if (!reader.u8(request) || !reader.empty())
        return decodeError("KeyUpdate");
    if (request > 1)
        return fail(alert::illegalParameter, "KeyUpdate with an unknown request");
    updateRequested = request == 1;
    return {};
}

} // namespace qivro::engine::utls
