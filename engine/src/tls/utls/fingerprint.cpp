#include "tls/utls/fingerprint.h"

#include "tls/utls/handshakemessages.h"

#include <openssl/rand.h>

namespace qivro::engine::utls {

namespace ext = extension;

const HelloShape &chromeShape()
{
    static const HelloShape shape {"chrome",
        {grease, 0x1301, 0x1302, 0x1303, 0xc02b, 0xc02f, 0xc02c, 0xc030, 0xcca9, 0xcca8, 0xc013,
            0xc014, 0x009c, 0x009d, 0x002f, 0x0035},
        {grease, ext::serverName, ext::extendedMasterSecret, ext::renegotiationInfo,
            ext::supportedGroups, ext::ecPointFormats, ext::sessionTicket, ext::alpn,
            ext::statusRequest, ext::signatureAlgorithms, ext::signedCertificateTimestamp,
            ext::keyShare, ext::pskKeyExchangeModes, ext::supportedVersions,
            ext::compressCertificate, ext::applicationSettings, ext::encryptedClientHello, grease},
        true, {grease, 0x001d, 0x0017, 0x0018}, {grease, 0x001d},
        {0x0403, 0x0804, 0x0401, 0x0503, 0x0805, 0x0501, 0x0806, 0x0601}, {grease, 0x0304, 0x0303},
        {"h2", "http/1.1"}, {2}, {}, 0, {128, 160, 192, 224}, {0x0001, 0x0003}};
    return shape;
}

const HelloShape &firefoxShape()
{
    static const HelloShape shape {"firefox",
        {0x1301, 0x1303, 0x1302, 0xc02b, 0xc02f, 0xcca9, 0xcca8, 0xc02c, 0xc030, 0xc00a, 0xc009,
            0xc013, 0xc014, 0x009c, 0x009d, 0x002f, 0x0035},
        {ext::serverName, ext::extendedMasterSecret, ext::renegotiationInfo, ext::supportedGroups,
            ext::ecPointFormats, ext::sessionTicket, ext::alpn, ext::statusRequest,
            ext::delegatedCredentials, ext::keyShare, ext::supportedVersions,
            ext::signatureAlgorithms, ext::pskKeyExchangeModes, ext::recordSizeLimit,
            ext::encryptedClientHello},
        false, {0x001d, 0x0017, 0x0018, 0x0019, 0x0100, 0x0101}, {0x001d, 0x0017},
        {0x0403, 0x0503, 0x0603, 0x0804, 0x0805, 0x0806, 0x0401, 0x0501, 0x0601, 0x0203, 0x0201},
        {0x0304, 0x0303}, {"h2", "http/1.1"}, {}, {0x0403, 0x0503, 0x0603, 0x0203}, 0x4001, {223},
        {0x0001, 0x0003}};
    return shape;
}

const HelloShape &safariShape()
{
    static const HelloShape shape {"safari",
        {grease, 0x1301, 0x1302, 0x1303, 0xc02c, 0xc02b, 0xcca9, 0xc030, 0xc02f, 0xcca8, 0xc00a,
            0xc009, 0xc014, 0xc013, 0x009d, 0x009c, 0x0035, 0x002f, 0xc008, 0xc012, 0x000a},
        {grease, ext::serverName, ext::extendedMasterSecret, ext::renegotiationInfo,
            ext::supportedGroups, ext::ecPointFormats, ext::alpn, ext::statusRequest,
            ext::signatureAlgorithms, ext::signedCertificateTimestamp, ext::keyShare,
            ext::pskKeyExchangeModes, ext::supportedVersions, ext::compressCertificate, grease,
            ext::padding},
        false, {grease, 0x001d, 0x0017, 0x0018, 0x0019}, {grease, 0x001d},
        {0x0403, 0x0804, 0x0401, 0x0503, 0x0203, 0x0805, 0x0805, 0x0501, 0x0806, 0x0601, 0x0201},
        {grease, 0x0304, 0x0303, 0x0302, 0x0301}, {"h2", "http/1.1"}, {1}, {}, 0, {}, {}};
    return shape;
}

const HelloShape &iosShape()
{
    static const HelloShape shape {"ios",
        {grease, 0x1301, 0x1302, 0x1303, 0xc02c, 0xc02b, 0xcca9, 0xc030, 0xc02f, 0xcca8, 0xc024,
            0xc023, 0xc00a, 0xc009, 0xc028, 0xc027, 0xc014, 0xc013, 0x009d, 0x009c, 0x003d, 0x003c,
            0x0035, 0x002f, 0xc008, 0xc012, 0x000a},
        {grease, ext::serverName, ext::extendedMasterSecret, ext::renegotiationInfo,
            ext::supportedGroups, ext::ecPointFormats, ext::alpn, ext::statusRequest,
            ext::signatureAlgorithms, ext::signedCertificateTimestamp, ext::keyShare,
            ext::pskKeyExchangeModes, ext::supportedVersions, grease, ext::padding},
        false, {grease, 0x001d, 0x0017, 0x0018, 0x0019}, {grease, 0x001d},
        {0x0403, 0x0804, 0x0401, 0x0503, 0x0203, 0x0805, 0x0805, 0x0501, 0x0806, 0x0601, 0x0201},
        {grease, 0x0304, 0x0303, 0x0302, 0x0301}, {"h2", "http/1.1"}, {}, {}, 0, {}, {}};
    return shape;
}

const HelloShape *shapeForFingerprint(const std::string &name)
{
    static const char *const chromeNames[]
        = {"", "chrome", "chrome_psk", "chrome_psk_shuffle", "chrome_padding_psk_shuffle",
            "chrome_pq", "chrome_pq_psk", "edge", "360", "qq", "android", "randomized"};
    for (const char *chrome : chromeNames) {
        if (name == chrome)
            return &chromeShape();
    }
    if (name == "firefox")
        return &firefoxShape();
    if (name == "safari")
        return &safariShape();
    if (name == "ios")
        return &iosShape();
    if (name == "random") {
        const HelloShape *shapes[] = {&chromeShape(), &firefoxShape(), &safariShape(), &iosShape()};
        unsigned char pick = 0;
        RAND_bytes(&pick, 1);
        return shapes[pick % 4];
    }
    return nullptr;
}

} // namespace qivro::engine::utls
