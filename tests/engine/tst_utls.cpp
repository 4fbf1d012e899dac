// The engine's own TLS 1.3 client: the ClientHello on the wire against the browsers' shapes, and
// handshakes with `openssl s_server` (suites, certificates, HelloRetryRequest, ALPN, KeyUpdate).
#include "config/config.h"
#include "testing.h"
#include "tls/utls/certificateverifier.h"
#include "tls/utls/fingerprint.h"
#include "tls/utls/handshakemessages.h"
#include "tlspeers.h"

#include <algorithm>
#include <asio/read.hpp>
#include <brotli/encode.h>
#include <map>
#include <thread>
#include <zlib.h>

using namespace qivro::engine;
using utls::Bytes;

namespace {

bool isGrease(std::uint16_t value)
{
    return (value & 0x0f0f) == 0x0a0a && (value >> 8) == (value & 0xff);
}

// A second reading of the ClientHello, independent of the code that writes it.
struct CapturedHello
{
    std::size_t length = 0;
    std::vector<std::uint16_t> ciphers;
    std::vector<std::pair<std::uint16_t, Bytes>> extensions;

    const Bytes *find(std::uint16_t type) const
    {
        for (const auto &extension : extensions) {
            if (extension.first == type)
                return &extension.second;
        }
        return nullptr;
    }
    std::vector<std::uint16_t> list16(std::uint16_t type, std::size_t skip) const
    {
        std::vector<std::uint16_t> values;
        if (const Bytes *body = find(type)) {
            for (std::size_t i = skip; i + 1 < body->size(); i += 2)
                values.push_back(static_cast<std::uint16_t>((*body)[i] << 8 | (*body)[i + 1]));
        }
        return values;
    }
};

CapturedHello parseHello(const Bytes &record)
{
    CapturedHello hello;
    utls::ByteReader reader(record);
    std::uint8_t type = 0;
    std::uint16_t version = 0;
    utls::ByteReader body;
    utls::ByteReader message;
    if (!reader.u8(type) || !reader.u16(version) || !reader.prefixed(2, body) || !body.u8(type)
        || !body.prefixed(3, message))
        return hello;
    hello.length = message.remaining() + 4;
    utls::ByteReader suites;
    utls::ByteReader extensions;
    Bytes skipped;
    message.skip(2 + 32);
    message.prefixedBytes(1, skipped);
    message.prefixed(2, suites);
    message.prefixedBytes(1, skipped);
    message.prefixed(2, extensions);
    std::uint16_t value = 0;
    while (suites.u16(value))
        hello.ciphers.push_back(value);
    while (!extensions.empty()) {
        Bytes data;
        if (!extensions.u16(value) || !extensions.prefixedBytes(2, data))
            break;
        hello.extensions.push_back({value, data});
    }
    return hello;
}

// (group, key length) of each key share.
std::vector<std::pair<std::uint16_t, std::size_t>> keyShares(const CapturedHello &hello)
{
    std::vector<std::pair<std::uint16_t, std::size_t>> shares;
    if (const Bytes *body = hello.find(51)) {
        utls::ByteReader reader(*body);
        utls::ByteReader list;
        reader.prefixed(2, list);
        std::uint16_t group = 0;
        Bytes key;
        while (list.u16(group) && list.prefixedBytes(2, key))
            shares.push_back({group, key.size()});
    }
    return shares;
}

// Lets the client send its hello to a listener that keeps it and hangs up.
Bytes captureHello(utls::ClientOptions options)
{
    asio::io_context io;
    asio::ip::tcp::acceptor acceptor(io, {asio::ip::make_address("127.0.0.1"), 0});
    Bytes record(5);
    std::thread server([&] {
        asio::ip::tcp::socket socket(io);
        acceptor.accept(socket);
        std::error_code error;
        asio::read(socket, asio::buffer(record), error);
        record.resize(5 + (record[3] << 8 | record[4]));
        asio::read(socket, asio::buffer(record.data() + 5, record.size() - 5), error);
    });
    support::TlsDriver driver;
    driver.connect(acceptor.local_endpoint().port(), std::move(options));
    server.join();
    return record;
}

utls::ClientOptions options(const std::string &fingerprint, const std::string &caPem = {})
{
    utls::ClientOptions result;
    result.shape = utls::shapeForFingerprint(fingerprint);
    result.serverName = "example.test";
    std::string error;
    result.verifier = utls::CertificateVerifier::create(caPem, {}, error);
    return result;
}

} // namespace

TEST_CASE(helloHasTheBrowsersShape)
{
    // Chrome 120 as a browser sends it: GREASE cipher first, the two GREASE extensions first and
    // last (first empty, last one zero byte), a one-byte GREASE key share before x25519.
    const std::vector<std::uint16_t> chromeCiphers = {0x1301, 0x1302, 0x1303, 0xc02b, 0xc02f,
        0xc02c, 0xc030, 0xcca9, 0xcca8, 0xc013, 0xc014, 0x009c, 0x009d, 0x002f, 0x0035};
    std::vector<std::uint16_t> chromeExtensions
        = {0, 23, 0xff01, 10, 11, 35, 16, 5, 13, 18, 51, 45, 43, 27, 0x4469, 0xfe0d};
    std::sort(chromeExtensions.begin(), chromeExtensions.end());

    const CapturedHello first = parseHello(captureHello(options("chrome")));
    const CapturedHello second = parseHello(captureHello(options("")));
    for (const CapturedHello *hello : {&first, &second}) {
        CHECK(!hello->ciphers.empty() && isGrease(hello->ciphers.front()));
        CHECK(std::vector<std::uint16_t>(hello->ciphers.begin() + 1, hello->ciphers.end())
            == chromeCiphers);
        const auto &extensions = hello->extensions;
        CHECK_EQ(extensions.size(), chromeExtensions.size() + 2);
        if (extensions.size() != chromeExtensions.size() + 2)
            continue;
        CHECK(isGrease(extensions.front().first) && extensions.front().second.empty());
        CHECK(isGrease(extensions.back().first) && extensions.back().second == Bytes {0});
        CHECK(extensions.front().first != extensions.back().first);
        std::vector<std::uint16_t> middle;
        for (std::size_t i = 1; i + 1 < extensions.size(); ++i)
            middle.push_back(extensions[i].first);
        std::sort(middle.begin(), middle.end());
        CHECK(middle == chromeExtensions);
        const auto groups = hello->list16(10, 2);
        CHECK(groups.size() == 4 && isGrease(groups[0])
            && std::vector<std::uint16_t>(groups.begin() + 1, groups.end())
                == std::vector<std::uint16_t>({0x001d, 0x0017, 0x0018}));
        const auto shares = keyShares(*hello);
        CHECK(shares.size() == 2 && shares[0].first == groups[0] && shares[0].second == 1
            && shares[1] == std::make_pair(std::uint16_t(0x001d), std::size_t(32)));
        const auto versions = hello->list16(43, 1);
        CHECK(versions.size() == 3 && isGrease(versions[0]) && versions[1] == 0x0304);
        const Bytes *ech = hello->find(0xfe0d);
        const std::size_t payload = ech ? ech->size() - (1 + 4 + 1 + 2 + 32 + 2) : 0;
        CHECK(ech && (payload == 144 || payload == 176 || payload == 208 || payload == 240));
        const Bytes *alpn = hello->find(16);
        CHECK(alpn
            && *alpn == Bytes({0, 12, 2, 'h', '2', 8, 'h', 't', 't', 'p', '/', '1', '.', '1'}));
    }
    // Shuffled per connection (15! orders: two equal ones mean no shuffle).
    std::vector<std::uint16_t> orderA;
    std::vector<std::uint16_t> orderB;
    for (const auto &extension : first.extensions)
        orderA.push_back(extension.first);
    for (const auto &extension : second.extensions)
        orderB.push_back(extension.first);
    CHECK(orderA != orderB);

    struct Row
    {
        const char *fingerprint;
        bool grease;
        std::vector<std::uint16_t> keyShareGroups;
        std::size_t paddedLength; // 0: no padding extension
    };
    const Row rows[] = {
        {"firefox", false, {0x001d, 0x0017}, 0},
        {"safari", true, {0x001d}, 512},
        {"ios", true, {0x001d}, 512},
    };
    for (const Row &row : rows) {
        const CapturedHello a = parseHello(captureHello(options(row.fingerprint)));
        const CapturedHello b = parseHello(captureHello(options(row.fingerprint)));
        CHECK_MSG(
            !a.extensions.empty() && isGrease(a.ciphers.front()) == row.grease, row.fingerprint);
        std::vector<std::uint16_t> groups;
        for (const auto &share : keyShares(a)) {
            if (!isGrease(share.first))
                groups.push_back(share.first);
        }
        CHECK_MSG(groups == row.keyShareGroups, row.fingerprint);
        CHECK_MSG(!row.paddedLength || a.length == row.paddedLength, row.fingerprint);
        CHECK_MSG((a.find(21) != nullptr) == (row.paddedLength != 0), row.fingerprint);
        // Their extension order is fixed.
        CHECK_MSG(a.extensions.size() == b.extensions.size(), row.fingerprint);
        for (std::size_t i = 0; i < std::min(a.extensions.size(), b.extensions.size()); ++i) {
            if (!isGrease(a.extensions[i].first))
                CHECK_MSG(a.extensions[i].first == b.extensions[i].first, row.fingerprint);
        }
    }

    // A configured ALPN replaces the shape's; an IP literal gets no SNI.
    utls::ClientOptions custom = options("chrome");
    custom.alpn = {"http/1.1"};
    custom.serverName = "127.0.0.1";
    const CapturedHello replaced = parseHello(captureHello(custom));
    const Bytes *alpn = replaced.find(16);
    CHECK(alpn && *alpn == Bytes({0, 9, 8, 'h', 't', 't', 'p', '/', '1', '.', '1'}));
    CHECK(replaced.find(0) == nullptr);
    CHECK(utls::shapeForFingerprint("netscape") == nullptr);
    // Every name the configuration accepts has a shape.
    for (const std::string &name : utlsFingerprints())
        CHECK_MSG(utls::shapeForFingerprint(name) != nullptr, name);
}

TEST_CASE(handshakesWithOpenSslServer)
{
    if (!support::haveProgram("openssl"))
        return;
    support::TestPki pki;
    const std::string rsa = pki.leaf("rsa");
    const std::string p256 = pki.leaf("p256");
    const std::string p384 = pki.leaf("p384", "DNS:example.test,IP:127.0.0.1");
    const std::string stranger = pki.selfSigned("p256", "DNS:example.test");

    struct Row
    {
        const char *name;
        std::string certificate;
        std::vector<std::string> server;
        const char *fingerprint;
        std::vector<std::string> alpn;
        std::string serverName;
        bool trustCa;
        bool insecure;
        std::string error; // expected fragment; empty: success
        std::uint16_t cipher;
        bool retried;
        std::string negotiatedAlpn;
    };
    const Row rows[] = {
        {"aes128 rsa", rsa, {"-ciphersuites", "TLS_AES_128_GCM_SHA256"}, "chrome", {},
            "example.test", true, false, "", 0x1301, false, ""},
        {"aes256 p256", p256, {"-ciphersuites", "TLS_AES_256_GCM_SHA384"}, "chrome", {},
            "example.test", true, false, "", 0x1302, false, ""},
        {"chacha p384 by ip", p384, {"-ciphersuites", "TLS_CHACHA20_POLY1305_SHA256"}, "safari", {},
            "127.0.0.1", true, false, "", 0x1303, false, ""},
        {"retry for p256", rsa, {"-groups", "P-256"}, "chrome", {}, "example.test", true, false, "",
            0, true, ""},
        {"firefox p256 share", rsa, {"-groups", "P-256"}, "firefox", {}, "example.test", true,
            false, "", 0, false, ""},
        {"alpn", rsa, {"-alpn", "http/1.1"}, "chrome", {"h2", "http/1.1"}, "example.test", true,
            false, "", 0, false, "http/1.1"},
        {"unknown ca", stranger, {}, "chrome", {}, "example.test", true, false,
            "signed by unknown authority", 0, false, ""},
        {"wrong name", rsa, {}, "chrome", {}, "other.test", true, false, "not valid for other.test",
            0, false, ""},
        {"insecure skips the chain", stranger, {}, "chrome", {}, "other.test", false, true, "", 0,
            false, ""},
        {"tls 1.2 server", rsa, {"-tls1_2"}, "chrome", {}, "example.test", true, false, "TLS 1.2",
            0, false, ""},
    };
    const std::string caPem = pki.caPem();
    for (const Row &row : rows) {
        std::vector<std::string> server = {"-rev"};
        if (row.server.empty() || row.server.front() != "-tls1_2")
            server.push_back("-tls1_3");
        server.insert(server.end(), row.server.begin(), row.server.end());
        support::SServer peer(row.certificate, server);
        CHECK_MSG(peer.ready(), row.name);
        utls::ClientOptions client = options(row.fingerprint, row.trustCa ? caPem : "");
        client.serverName = row.serverName;
        client.alpn = row.alpn;
        client.insecure = row.insecure;
        support::TlsDriver driver;
        const bool connected = driver.connect(peer.port(), client);
        if (!row.error.empty()) {
            CHECK_MSG(!connected && driver.error().find(row.error) != std::string::npos,
                std::string(row.name) + ": " + driver.error());
            continue;
        }
        CHECK_MSG(connected, std::string(row.name) + ": " + driver.error());
        if (!connected)
            continue;
        CHECK_MSG(driver.write("hello qivro\n"), row.name);
        CHECK_MSG(driver.read(12) == "orviq olleh\n", row.name);
        CHECK_MSG(driver.stream().alpn() == row.negotiatedAlpn, row.name);
        CHECK_MSG(!row.cipher || driver.stream().client().cipherSuite() == row.cipher, row.name);
        CHECK_MSG(driver.stream().client().retried() == row.retried, row.name);
    }
}

TEST_CASE(keyUpdatesBothWays)
{
    if (!support::haveProgram("openssl"))
        return;
    support::TestPki pki;
    const std::string rsa = pki.leaf("rsa");
    for (const char *command : {"k\n", "K\n"}) {
        support::SServer peer(rsa, {"-tls1_3"}, true);
        support::TlsDriver driver;
        CHECK(driver.connect(peer.port(), options("chrome", pki.caPem())));
        // Records after the update only open with the next key; 'K' asks us to move our sending
        // key on too, so what we write afterwards must still be readable.
        CHECK(peer.command(command));
        // s_server takes a command only as a line of its own read.
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        CHECK(peer.command("from server\n"));
        CHECK_MSG(driver.read(12) == "from server\n", driver.stream().error());
        CHECK(driver.write("from client\n"));
        bool seen = false;
        for (int i = 0; i < 50 && !seen; ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
            seen = peer.log().find("from client") != std::string::npos;
        }
        CHECK_MSG(seen, peer.log());
    }
}

TEST_CASE(compressedCertificatesInflate)
{
    const Bytes certificate(3000, 0x42);
    Bytes brotli(4096);
    std::size_t brotliSize = brotli.size();
    BrotliEncoderCompress(BROTLI_DEFAULT_QUALITY, BROTLI_DEFAULT_WINDOW, BROTLI_MODE_GENERIC,
        certificate.size(), certificate.data(), &brotliSize, brotli.data());
    brotli.resize(brotliSize);
    Bytes zlib(4096);
    uLongf zlibSize = zlib.size();
    compress(zlib.data(), &zlibSize, certificate.data(), certificate.size());
    zlib.resize(zlibSize);

    auto message = [](std::uint16_t algorithm, std::size_t size, const Bytes &data) {
        Bytes out;
        utls::ByteWriter writer(out);
        writer.u16(algorithm);
        writer.u24(size);
        writer.u24(data.size());
        writer.bytes(data);
        return out;
    };
    struct Row
    {
        const char *name;
        Bytes body;
        std::vector<std::uint16_t> offered;
        bool ok;
    };
    const Row rows[] = {
        {"brotli", message(2, certificate.size(), brotli), {2}, true},
        {"zlib", message(1, certificate.size(), zlib), {1, 2}, true},
        {"not offered", message(1, certificate.size(), zlib), {2}, false},
        {"length lies", message(2, certificate.size() + 1, brotli), {2}, false},
        {"bomb", message(2, 1 << 23, brotli), {2}, false},
    };
    for (const Row &row : rows) {
        Bytes inflated;
        const utls::Failure failure = utls::decompressCertificate(row.body, row.offered, inflated);
        CHECK_MSG(!failure == row.ok, std::string(row.name) + ": " + failure.text);
        if (row.ok)
            CHECK_MSG(inflated == certificate, row.name);
    }
}

QTEST_MAIN()
