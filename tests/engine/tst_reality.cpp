// REALITY: the published vector reproduced, the keys parsed strictly, and dials through a
// REALITY test server of the tests' own that hands strangers to `openssl s_server`.
#include "common/base64url.h"
#include "realityserver.h"
#include "testing.h"
#include "tls/utls/certificateverifier.h"
#include "tls/utls/fingerprint.h"
#include "tls/utls/keyshare.h"
#include "tls/utls/reality.h"
#include "tlspeers.h"

#include <chrono>
#include <ctime>
#include <openssl/evp.h>
#include <openssl/x509.h>
#include <thread>

using namespace qivro::engine;
using utls::Bytes;

using support::unhex;

namespace {

Bytes counting(std::uint8_t from)
{
    Bytes out(32);
    for (std::size_t i = 0; i < 32; ++i)
        out[i] = static_cast<std::uint8_t>(from + i);
    return out;
}

// A self-signed Ed25519 certificate for seed whose signature field is replaced.
Bytes certificateWithSignature(const Bytes &seed, const Bytes &signature)
{
    EVP_PKEY *key = EVP_PKEY_new_raw_private_key(EVP_PKEY_ED25519, nullptr, seed.data(), 32);
    X509 *certificate = X509_new();
    X509_NAME *name = X509_get_subject_name(certificate);
    X509_NAME_add_entry_by_txt(
        name, "CN", MBSTRING_ASC, reinterpret_cast<const unsigned char *>("vector"), -1, -1, 0);
    X509_set_issuer_name(certificate, name);
    X509_gmtime_adj(X509_getm_notBefore(certificate), 0);
    X509_gmtime_adj(X509_getm_notAfter(certificate), 3600);
    X509_set_pubkey(certificate, key);
    X509_sign(certificate, key, nullptr);
    unsigned char *der = nullptr;
    const int size = i2d_X509(certificate, &der);
    Bytes out(der, der + size);
    OPENSSL_free(der);
    X509_free(certificate);
    EVP_PKEY_free(key);
    std::copy(signature.begin(), signature.end(), out.end() - 64);
    return out;
}

} // namespace

TEST_CASE(goldenVectorIsReproduced)
{
    const Bytes clientPublic
        = unhex("07a37cbc142093c8b755dc1b10e86cb426374ad16aa853ed0bdfc0b2b86d1c7c");
    const Bytes serverPublic
        = unhex("5869aff450549732cbaaed5e5df9b30a6da31cb0e5742bad5ad4a1a768f1a67b");
    const Bytes random = counting(0xa0);
    Bytes hello = unhex("0100008c0303");
    hello.insert(hello.end(), random.begin(), random.end());
    hello.push_back(0x20);
    hello.insert(hello.end(), 32, 0);
    const Bytes tail = unhex("0002130101000041002b0003020304000a00040002001d003300260024001d0020");
    hello.insert(hello.end(), tail.begin(), tail.end());
    hello.insert(hello.end(), clientPublic.begin(), clientPublic.end());
    const Bytes sigalgs = unhex("000d000400020807");
    hello.insert(hello.end(), sigalgs.begin(), sigalgs.end());
    CHECK_EQ(hello.size(), 144u);

    const auto share = utls::KeyShare::x25519FromPrivate(counting(0x01).data());
    CHECK(share->publicKey() == clientPublic);
    Bytes shared;
    CHECK(share->agree(serverPublic.data(), serverPublic.size(), shared));
    CHECK(shared == unhex("a84dc7c3c8f058b1b2dc4cd1e9b5dc0a7987f88b6a9564cde3391fc421159e77"));

    utls::RealityKeys keys;
    CHECK_EQ(utls::parseRealityKeys(encodeBase64Url(serverPublic.data(), serverPublic.size()),
                 "0123456789abcdef", keys),
        "");
    utls::RealityAuth auth(keys);
    CHECK(auth.seal(hello, random, *share, 0x65000000));
    CHECK(auth.authKey()
        == unhex("02081137cf0207838e853b1c457d10aaf9f26eeb08a6b44b9305804ebad5983c"));
    CHECK(Bytes(hello.begin() + 39, hello.begin() + 71)
        == unhex("deadd3082bf73adb5effabb78976b986341b42f43e3f49e6f481b0c51386abc1"));

    const Bytes expectedMac
        = unhex("28ab1f01deae18d978295846533464873105bb8ad43bebdb30e89a1be950dfdc"
                "75b5cd6c67d4b3a8f428615ad01fcdb8f9421a59084fe4996d209a8e8d8d74c0");
    const Bytes certificate = certificateWithSignature(counting(0x41), expectedMac);
    Bytes ed25519;
    CHECK(utls::ed25519PublicKey(certificate, ed25519));
    CHECK(ed25519 == unhex("adc14011f82d1c56d956aa4f9d73d8858361a606048525e0d08c638dc75dd8c7"));
    CHECK(utls::RealityAuth::certificateSignature(auth.authKey(), ed25519) == expectedMac);
    CHECK(auth.authenticates(certificate));
    Bytes forged = certificate;
    forged.back() ^= 1;
    CHECK(!auth.authenticates(forged));
}

TEST_CASE(keysAreParsedStrictly)
{
    const Bytes key = counting(0x21);
    const std::string good = encodeBase64Url(key.data(), key.size());
    struct Row
    {
        std::string publicKey;
        std::string shortId;
        std::string error;
    };
    const Row rows[] = {
        {good, "", ""},
        {good, "0123456789abcdef", ""},
        {good, "ab", ""},
        {"", "", "invalid public_key"},
        {good + "=", "", "invalid public_key"},
        {good.substr(0, 42), "", "invalid public_key"},
        {std::string(43, '+'), "", "invalid public_key"},
        {good, "0123456789abcdef01", "invalid short_id"},
        {good, "abc", "invalid short_id"},
        {good, "zz", "invalid short_id"},
    };
    for (const Row &row : rows) {
        utls::RealityKeys keys;
        CHECK_EQ(utls::parseRealityKeys(row.publicKey, row.shortId, keys), row.error);
        if (row.error.empty())
            CHECK(keys.publicKey == key && keys.shortId.size() == 8);
    }
}

TEST_CASE(dialsThroughRealityServer)
{
    if (!support::haveProgram("openssl"))
        return;
    support::TestPki pki;
    const std::string real = pki.leaf("p256", "DNS:example.test");
    const std::string stranger = pki.selfSigned("p256", "DNS:example.test");
    support::SServer realSite(real, {"-tls1_3", "-rev"});
    support::SServer strangeSite(stranger, {"-tls1_3", "-rev"});
    CHECK(realSite.ready() && strangeSite.ready());

    const Bytes privateKey = counting(0x61);
    const Bytes publicKey = support::RealityServer::publicKeyOf(privateKey);
    const std::string goodKey = encodeBase64Url(publicKey.data(), publicKey.size());
    const Bytes otherKey = support::RealityServer::publicKeyOf(counting(0x62));
    const std::string wrongKey = encodeBase64Url(otherKey.data(), otherKey.size());
    const auto now = static_cast<std::uint32_t>(std::time(nullptr));

    struct Row
    {
        const char *name;
        const char *fingerprint;
        std::string publicKey;
        std::string shortId;
        std::uint32_t time;
        bool compress;
        bool viaRealSite; // false: the fallback's certificate is not trusted
        bool direct; // no REALITY server at all: the real site itself
        std::string error;
    };
    const Row rows[] = {
        {"chrome", "chrome", goodKey, "a1b2", 0, false, true, false, ""},
        {"firefox", "firefox", goodKey, "a1b2c3d4e5f60718", 0, false, true, false, ""},
        {"safari, empty short id", "safari", goodKey, "", 0, false, true, false, ""},
        {"compressed certificate", "chrome", goodKey, "a1b2", 0, true, true, false, ""},
        {"wrong public key", "chrome", wrongKey, "a1b2", 0, false, true, false,
            "sent the real certificate of example.test"},
        {"wrong short id", "chrome", goodKey, "a1b3", 0, false, true, false,
            "sent the real certificate"},
        {"clock far off", "chrome", goodKey, "a1b2", now - 3600, false, true, false,
            "sent the real certificate"},
        {"untrusted fallback", "chrome", wrongKey, "a1b2", 0, false, false, false,
            "reality verification failed: x509: certificate signed by unknown authority"},
        {"real site at the address", "chrome", goodKey, "a1b2", 0, false, true, true,
            "sent the real certificate"},
    };
    for (const Row &row : rows) {
        support::RealityServer::Options options;
        options.privateKey = privateKey;
        options.shortIds = {"a1b2", "a1b2c3d4e5f60718", ""};
        options.serverNames = {"example.test"};
        options.fallbackPort = row.viaRealSite ? realSite.port() : strangeSite.port();
        options.compressCertificate = row.compress;
        support::RealityServer server(options);

        auto keys = std::make_shared<utls::RealityKeys>();
        CHECK_EQ(utls::parseRealityKeys(row.publicKey, row.shortId, *keys), "");
        utls::ClientOptions client;
        client.shape = utls::shapeForFingerprint(row.fingerprint);
        client.serverName = "example.test";
        client.reality = keys;
        client.unixTime = row.time;
        std::string error;
        client.verifier = utls::CertificateVerifier::create(pki.caPem(), {}, error);
        support::TlsDriver driver;
        const bool connected = driver.connect(row.direct ? realSite.port() : server.port(), client);
        if (!row.error.empty()) {
            CHECK_MSG(!connected && driver.error().find(row.error) != std::string::npos,
                std::string(row.name) + ": " + driver.error());
            // A refusing client leaves without a word, not even an alert.
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
            CHECK_MSG(server.bytesAfterHello() == 0, row.name);
            CHECK_MSG(server.authenticated() == 0, row.name);
            continue;
        }
        CHECK_MSG(connected, std::string(row.name) + ": " + driver.error());
        if (!connected)
            continue;
        CHECK_MSG(driver.write("ping through reality"), row.name);
        CHECK_MSG(driver.read(20) == "ping through reality", row.name);
        CHECK_MSG(server.authenticated() == 1 && server.fallbacks() == 0, row.name);
    }
}

QTEST_MAIN()
