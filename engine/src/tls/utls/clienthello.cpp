#include "tls/utls/clienthello.h"

#include "tls/utls/handshakemessages.h"
#include "tls/utls/keyshare.h"

#include <algorithm>
#include <openssl/rand.h>

namespace qivro::engine::utls {

namespace {

enum GreaseIndex
{
    greaseCipher,
    greaseGroup,
    greaseExtension1,
    greaseExtension2,
    greaseVersion
};

std::uint32_t randomBelow(std::uint32_t bound)
{
    std::uint32_t value = 0;
    RAND_bytes(reinterpret_cast<unsigned char *>(&value), sizeof value);
    return value % bound;
}

Bytes randomBytes(std::size_t size)
{
    Bytes out(size);
    RAND_bytes(out.data(), static_cast<int>(size));
    return out;
}

void writeList16(ByteWriter &out, const std::vector<std::uint16_t> &values, int lengthWidth,
    std::uint16_t greaseValue)
{
    const std::size_t field = out.open(lengthWidth);
    for (std::uint16_t value : values)
        out.u16(value == grease ? greaseValue : value);
    out.close(field, lengthWidth);
}

} // namespace

ClientHello::ClientHello(
    const HelloShape &shape, std::string serverName, std::vector<std::string> alpn)
    : m_shape(shape)
    , m_serverName(std::move(serverName))
    , m_alpn(alpn.empty() ? shape.alpn : std::move(alpn))
    , m_random(randomBytes(32))
    , m_sessionId(randomBytes(32))
    , m_order(shape.extensions)
{
    // GREASE values have the form 0x?a?a; the two extensions must differ.
    for (std::uint16_t &value : m_grease) {
        const auto nibble = static_cast<std::uint16_t>(randomBelow(16) << 4);
        value = static_cast<std::uint16_t>(((nibble | 0x0a) << 8) | nibble | 0x0a);
    }
    if (m_grease[greaseExtension1] == m_grease[greaseExtension2])
        m_grease[greaseExtension2] ^= 0x1010;

    if (shape.shuffle) {
        std::vector<std::size_t> slots;
        for (std::size_t i = 0; i < m_order.size(); ++i) {
            if (m_order[i] != grease && m_order[i] != extension::padding)
                slots.push_back(i);
        }
        for (std::size_t i = slots.size(); i > 1; --i) {
            const std::size_t j = randomBelow(static_cast<std::uint32_t>(i));
            std::swap(m_order[slots[i - 1]], m_order[slots[j]]);
        }
    }

    if (!shape.echPayloadLengths.empty()) {
        ByteWriter out(m_ech);
        out.u8(0); // outer ClientHello
        out.u16(0x0001); // HKDF-SHA256
        out.u16(shape.echAeads[randomBelow(static_cast<std::uint32_t>(shape.echAeads.size()))]);
        out.u8(randomBelow(256));
        // The encapsulated key is a real X25519 public value, as an HPKE sender's would be.
        const auto key = KeyShare::generate(group::x25519);
        const std::size_t enc = out.open(2);
        out.bytes(key->publicKey());
        out.close(enc, 2);
        const std::size_t length = shape.echPayloadLengths[randomBelow(
                                       static_cast<std::uint32_t>(shape.echPayloadLengths.size()))]
            + 16u;
        out.u16(static_cast<unsigned>(length));
        out.bytes(randomBytes(length));
    }
}

std::uint16_t ClientHello::greased(std::uint16_t value, int which) const
{
    return value == grease ? m_grease[which] : value;
}

std::vector<std::uint16_t> ClientHello::offeredExtensions() const
{
    std::vector<std::uint16_t> types;
    for (std::uint16_t type : m_order) {
        if (type != grease && !(type == extension::serverName && m_serverName.empty()))
            types.push_back(type);
    }
    return types;
}

std::vector<std::uint16_t> ClientHello::offeredCipherSuites() const
{
    std::vector<std::uint16_t> suites;
    for (std::uint16_t suite : m_shape.cipherSuites) {
        if (suite != grease)
            suites.push_back(suite);
    }
    return suites;
}

bool ClientHello::offersGroup(std::uint16_t group) const
{
    return std::find(m_shape.groups.begin(), m_shape.groups.end(), group) != m_shape.groups.end();
}

void ClientHello::writeExtension(ByteWriter &out, std::uint16_t type,
    const std::vector<const KeyShare *> &shares, bool retry, int &greaseSeen) const
{
    if (type == extension::serverName && m_serverName.empty())
        return;
    if (type == grease) {
        const bool second = greaseSeen++ > 0;
        out.u16(m_grease[second ? greaseExtension2 : greaseExtension1]);
        out.u16(second ? 1 : 0);
        if (second)
            out.u8(0);
        return;
    }
    out.u16(type);
    const std::size_t body = out.open(2);
    switch (type) {
    case extension::serverName: {
        const std::size_t list = out.open(2);
        out.u8(0);
        const std::size_t name = out.open(2);
        out.text(m_serverName);
        out.close(name, 2);
        out.close(list, 2);
        break;
    }
    case extension::renegotiationInfo:
        out.u8(0);
        break;
    case extension::supportedGroups:
        writeList16(out, m_shape.groups, 2, m_grease[greaseGroup]);
        break;
    case extension::ecPointFormats:
        out.u8(1);
        out.u8(0);
        break;
    case extension::alpn: {
        const std::size_t list = out.open(2);
        for (const std::string &protocol : m_alpn) {
            out.u8(static_cast<unsigned>(protocol.size()));
            out.text(protocol);
        }
        out.close(list, 2);
        break;
    }
    case extension::statusRequest:
        out.u8(1); // OCSP, no responder ids, no extensions
        out.u16(0);
        out.u16(0);
        break;
    case extension::signatureAlgorithms:
        writeList16(out, m_shape.signatureAlgorithms, 2, 0);
        break;
    case extension::keyShare: {
        const std::size_t list = out.open(2);
        for (std::uint16_t group : m_shape.keyShares) {
            if (group == grease && !retry) {
                out.u16(m_grease[greaseGroup]);
                out.u16(1);
                out.u8(0);
            }
        }
        for (const KeyShare *share : shares) {
            out.u16(share->group());
            const std::size_t key = out.open(2);
            out.bytes(share->publicKey());
            out.close(key, 2);
        }
        out.close(list, 2);
        break;
    }
    case extension::pskKeyExchangeModes:
        out.u8(1);
        out.u8(1); // psk_dhe_ke
        break;
    case extension::supportedVersions:
        writeList16(out, m_shape.versions, 1, m_grease[greaseVersion]);
        break;
    case extension::compressCertificate:
        writeList16(out, m_shape.certificateCompression, 1, 0);
        break;
    case extension::delegatedCredentials:
        writeList16(out, m_shape.delegatedCredentialAlgorithms, 2, 0);
        break;
    case extension::recordSizeLimit:
        out.u16(m_shape.recordSizeLimit);
        break;
    case extension::applicationSettings: {
        const std::size_t list = out.open(2);
        out.u8(2);
        out.text("h2");
        out.close(list, 2);
        break;
    }
    case extension::encryptedClientHello:
        out.bytes(m_ech);
        break;
    default: // extended_master_secret, session_ticket, signed_certificate_timestamp: empty
        break;
    }
    out.close(body, 2);
}

Bytes ClientHello::build(
    const std::vector<const KeyShare *> &shares, bool retry, const Bytes &cookie) const
{
    std::size_t paddingLength = 0;
    bool padded = false;
    Bytes message;
    for (int pass = 0; pass < 2; ++pass) {
        message.clear();
        ByteWriter out(message);
        out.u8(message::clientHello);
        const std::size_t length = out.open(3);
        out.u16(0x0303);
        out.bytes(m_random);
        out.u8(static_cast<unsigned>(m_sessionId.size()));
        out.bytes(m_sessionId);
        const std::size_t suites = out.open(2);
        for (std::uint16_t suite : m_shape.cipherSuites)
            out.u16(greased(suite, greaseCipher));
        out.close(suites, 2);
        out.u8(1);
        out.u8(0);
        const std::size_t extensions = out.open(2);
        int greaseSeen = 0;
        for (std::uint16_t type : m_order) {
            if (type == extension::keyShare && !cookie.empty()) {
                out.u16(extension::cookie);
                const std::size_t body = out.open(2);
                const std::size_t field = out.open(2);
                out.bytes(cookie);
                out.close(field, 2);
                out.close(body, 2);
            }
            if (type != extension::padding) {
                writeExtension(out, type, shares, retry, greaseSeen);
            } else if (padded) {
                out.u16(extension::padding);
                out.u16(static_cast<unsigned>(paddingLength));
                message.insert(message.end(), paddingLength, 0);
            }
        }
        out.close(extensions, 2);
        out.close(length, 3);
        // BoringSSL pads hellos of 256 to 511 bytes up to 512 (some middleboxes choke on them).
        const std::size_t unpadded = message.size();
        if (pass == 1 || padded || unpadded <= 0xff || unpadded >= 0x200
            || std::find(m_order.begin(), m_order.end(), extension::padding) == m_order.end())
            break;
        paddingLength = 0x200 - unpadded;
        paddingLength = paddingLength >= 5 ? paddingLength - 4 : 1;
        padded = true;
    }
    return message;
}

} // namespace qivro::engine::utls
