// The TLS 1.3 client's handling of what servers send. The first byte picks a target:
//   0-6  one handshake message parser (ServerHello and HelloRetryRequest, EncryptedExtensions,
//        Certificate with the chain check and the REALITY test, CompressedCertificate,
//        CertificateVerify with the signature check, NewSessionTicket, KeyUpdate and
//        CertificateRequest)
//   7    the client itself after its hello: records, alerts, ChangeCipherSpec, reassembly,
//        ServerHello and HelloRetryRequest (a second hello is written), split as the input says
//   8    record protection: what one side seals the other must open to the same bytes, and a
//        flipped bit must not open
#include "fuzzcheck.h"
#include "tls/utls/certificateverifier.h"
#include "tls/utls/handshakemessages.h"
#include "tls/utls/reality.h"
#include "tls/utls/recordcipher.h"
#include "tls/utls/tls13client.h"

#include <cstring>

using namespace qivro::engine::utls;

namespace {

const std::vector<std::uint16_t> &offered()
{
    static const std::vector<std::uint16_t> types
        = {0, 5, 10, 11, 13, 16, 18, 23, 27, 28, 35, 43, 45, 51, 0x4469, 0xfe0d, 0xff01};
    return types;
}

void messages(std::uint8_t target, const Bytes &body)
{
    static const auto verifier = [] {
        std::string error;
        return CertificateVerifier::create({}, {}, error);
    }();
    switch (target) {
    case 0: {
        ServerHello hello;
        parseServerHello(body, hello);
        break;
    }
    case 1: {
        EncryptedExtensions extensions;
        parseEncryptedExtensions(body, offered(), extensions);
        break;
    }
    case 2: {
        std::vector<Bytes> chain;
        if (!parseCertificate(body, chain)) {
            require(!chain.empty());
            verifier->verifyChain(chain, "example.test");
            RealityAuth reality({Bytes(32, 1), Bytes(8, 0)});
            reality.authenticates(chain.front());
            Bytes key;
            ed25519PublicKey(chain.front(), key);
        }
        break;
    }
    case 3: {
        Bytes certificate;
        require(decompressCertificate(body, {1, 2}, certificate) || !certificate.empty());
        break;
    }
    case 4: {
        // Two bytes give the message's length; the certificate to check it with follows it.
        CertificateVerify verify;
        if (body.size() < 2)
            break;
        const std::size_t split = std::min<std::size_t>(
            static_cast<std::size_t>(body[0] << 8 | body[1]), body.size() - 2);
        const Bytes head(body.begin() + 2, body.begin() + 2 + static_cast<long>(split));
        const Bytes tail(body.begin() + 2 + static_cast<long>(split), body.end());
        if (!parseCertificateVerify(head, verify))
            verifyHandshakeSignature(tail, verify.scheme, Bytes(32, 7), verify.signature);
        break;
    }
    case 5: {
        NewSessionTicket ticket;
        parseNewSessionTicket(body, ticket);
        break;
    }
    default: {
        bool requested = false;
        parseKeyUpdate(body, requested);
        Bytes context;
        parseCertificateRequest(body, context);
        break;
    }
    }
}

void client(const std::uint8_t *data, std::size_t size)
{
    if (size < 1)
        return;
    const std::size_t split = static_cast<std::size_t>(data[0] | 1);
    ++data;
    --size;
    ClientOptions options;
    options.serverName = "example.test";
    options.insecure = true;
    Tls13Client tls(options);
    require(tls.start());
    for (std::size_t at = 0; at < size && !tls.failed(); at += split) {
        const std::size_t chunk = std::min(split, size - at);
        std::memcpy(tls.inputSpace(chunk), data + at, chunk);
        tls.commitInput(chunk);
        require(tls.process() || !tls.error().empty());
        tls.output().clear();
    }
}

void records(const std::uint8_t *data, std::size_t size)
{
    if (size < 2)
        return;
    static const std::uint16_t suites[] = {0x1301, 0x1302, 0x1303};
    const CipherSuite &suite = *tls13Suite(suites[data[0] % 3]);
    const std::uint8_t flip = data[1];
    data += 2;
    size = std::min(size - 2, maxPlaintext);
    const Bytes secret(suite.hashLength, 0x5a);
    RecordCipher sealer;
    RecordCipher opener;
    require(sealer.init(suite, secret, true) && opener.init(suite, secret, false));
    Bytes wire;
    for (int round = 0; round < 2; ++round) {
        wire.clear();
        sealer.seal(23, data, size, wire);
        std::uint8_t type = 0;
        std::size_t plainSize = 0;
        if (round == 1 && flip) {
            wire[flip % wire.size()] ^= 0x80;
            // The header is authenticated too: no flipped bit anywhere may open.
            require(!opener.open(wire.data(), wire.size(), type, plainSize));
            return;
        }
        require(opener.open(wire.data(), wire.size(), type, plainSize) && type == 23
            && plainSize == size && std::memcmp(wire.data() + 5, data, size) == 0);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    if (size < 1)
        return 0;
    const std::uint8_t target = data[0] % 9;
    if (target == 7)
        client(data + 1, size - 1);
    else if (target == 8)
        records(data + 1, size - 1);
    else
        messages(target, Bytes(data + 1, data + size));
    return 0;
}
