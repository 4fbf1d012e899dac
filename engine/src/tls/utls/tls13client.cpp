#include "tls/utls/tls13client.h"

#include "tls/utls/certificateverifier.h"
#include "tls/utls/keyshare.h"
#include "tls/utls/reality.h"

#include <algorithm>
#include <asio/ip/address.hpp>
#include <ctime>
#include <openssl/crypto.h>

namespace qivro::engine::utls {

namespace {

namespace content {
constexpr std::uint8_t changeCipherSpec = 20;
constexpr std::uint8_t alert = 21;
constexpr std::uint8_t handshake = 22;
constexpr std::uint8_t applicationData = 23;
} // namespace content

constexpr std::uint8_t userCanceled = 90;
constexpr std::size_t maxHandshakeMessage = 512 * 1024 + 4;

bool isIpLiteral(const std::string &host)
{
    std::error_code error;
    asio::ip::make_address(host, error);
    return !error;
}

void appendPlainRecord(Bytes &out, std::uint8_t type, const std::uint8_t *data, std::size_t size)
{
    ByteWriter writer(out);
    writer.u8(type);
    // The first hello goes out as TLS 1.0 records, like browsers and BoringSSL do.
    writer.u16(type == content::handshake ? 0x0301 : 0x0303);
    writer.u16(static_cast<unsigned>(size));
    writer.bytes(data, size);
}

} // namespace

Tls13Client::Tls13Client(ClientOptions options)
    : m_options(std::move(options))
{
    if (!m_options.shape)
        m_options.shape = &chromeShape();
    if (m_options.verifyName.empty())
        m_options.verifyName = m_options.serverName;
}

Tls13Client::~Tls13Client() = default;

bool Tls13Client::start()
{
    const std::string sni = isIpLiteral(m_options.serverName) ? "" : m_options.serverName;
    m_hello = std::make_unique<ClientHello>(*m_options.shape, sni, m_options.alpn);
    std::vector<const KeyShare *> shares;
    for (std::uint16_t group : m_options.shape->keyShares) {
        if (group == grease)
            continue;
        m_shares.push_back(KeyShare::generate(group));
        if (!m_shares.back())
            return fatal(fail(alert::internalError, "cannot generate a key share"), true);
        shares.push_back(m_shares.back().get());
    }
    if (m_options.reality)
        std::fill(m_hello->sessionId().begin(), m_hello->sessionId().end(), 0);
    m_firstHello = m_hello->build(shares);
    if (m_options.reality) {
        const KeyShare *x25519 = nullptr;
        for (const auto &share : m_shares) {
            if (share->group() == group::x25519)
                x25519 = share.get();
        }
        m_reality = std::make_unique<RealityAuth>(*m_options.reality);
        const auto now = m_options.unixTime ? m_options.unixTime
                                            : static_cast<std::uint32_t>(std::time(nullptr));
        if (!x25519 || !m_reality->seal(m_firstHello, m_hello->random(), *x25519, now))
            return fatal(fail(alert::internalError, "reality: cannot seal the session id"), true);
        std::copy(m_firstHello.begin() + ClientHello::sessionIdOffset,
            m_firstHello.begin() + ClientHello::sessionIdOffset + 32, m_hello->sessionId().begin());
    }
    m_transcript.add(m_firstHello);
    appendPlainRecord(m_out, content::handshake, m_firstHello.data(), m_firstHello.size());
    m_state = State::WaitServerHello;
    return true;
}

std::uint8_t *Tls13Client::inputSpace(std::size_t size)
{
    const std::size_t keep = m_plainSize ? std::min(m_plainOffset, m_inOffset) : m_inOffset;
    if (keep > 0 && keep >= m_in.size() / 2) {
        m_in.erase(m_in.begin(), m_in.begin() + static_cast<std::ptrdiff_t>(keep));
        m_inOffset -= keep;
        if (m_plainSize)
            m_plainOffset -= keep;
    }
    m_inputStart = m_in.size();
    m_in.resize(m_inputStart + size);
    return m_in.data() + m_inputStart;
}

void Tls13Client::commitInput(std::size_t size)
{
    m_in.resize(m_inputStart + size);
}

Bytes Tls13Client::takeUnprocessed()
{
    Bytes rest(m_in.begin() + static_cast<std::ptrdiff_t>(m_inOffset), m_in.end());
    m_in.resize(m_inOffset);
    return rest;
}

void Tls13Client::consume(std::size_t size)
{
    size = std::min(size, m_plainSize);
    m_plainOffset += size;
    m_plainSize -= size;
}

bool Tls13Client::fatal(const Failure &failure, bool silent)
{
    if (m_state == State::Failed)
        return false;
    m_error = failure.text;
    if (!silent && failure.alert)
        sendAlert(failure.alert);
    m_state = State::Failed;
    return false;
}

void Tls13Client::sendAlert(std::uint8_t description)
{
    const std::uint8_t body[2] = {2, description};
    if (m_write.active())
        m_write.seal(content::alert, body, sizeof body, m_out);
    else
        appendPlainRecord(m_out, content::alert, body, sizeof body);
}

void Tls13Client::closeNotify()
{
    if (m_state == State::Failed || !m_write.active())
        return;
    const std::uint8_t body[2] = {1, alert::closeNotify};
    m_write.seal(content::alert, body, sizeof body, m_out);
}

void Tls13Client::sendChangeCipherSpec()
{
    // Middlebox compatibility (RFC 8446 D.4): one dummy record before the second flight.
    if (m_sentChangeCipherSpec)
        return;
    const std::uint8_t one = 1;
    appendPlainRecord(m_out, content::changeCipherSpec, &one, 1);
    m_sentChangeCipherSpec = true;
}

void Tls13Client::sendHandshake(const Bytes &message)
{
    m_transcript.add(message);
    for (std::size_t at = 0; at < message.size(); at += m_maxFragment) {
        const std::size_t size = std::min(m_maxFragment, message.size() - at);
        m_write.seal(content::handshake, message.data() + at, size, m_out);
    }
}

void Tls13Client::write(const std::uint8_t *data, std::size_t size)
{
    if (!connected())
        return;
    for (std::size_t at = 0; at < size; at += m_maxFragment)
        m_write.seal(
            content::applicationData, data + at, std::min(m_maxFragment, size - at), m_out);
}

bool Tls13Client::process()
{
    while (m_state != State::Failed && m_plainSize == 0 && !m_peerClosed) {
        const std::size_t buffered = m_in.size() - m_inOffset;
        if (buffered < recordHeaderSize)
            return true;
        std::uint8_t *header = m_in.data() + m_inOffset;
        const std::size_t length = static_cast<std::size_t>(header[3]) << 8 | header[4];
        if (length > maxCiphertext)
            return fatal(fail(alert::recordOverflow, "record larger than TLS allows"));
        if (buffered < recordHeaderSize + length)
            return true;
        m_inOffset += recordHeaderSize + length;
        if (!record(header[0], header, length))
            return false;
    }
    return m_state != State::Failed;
}

bool Tls13Client::record(std::uint8_t type, std::uint8_t *header, std::size_t size)
{
    std::uint8_t *body = header + recordHeaderSize;
    const bool handshaking = m_state != State::Connected;
    if (type == content::changeCipherSpec) {
        if (!handshaking || (m_state == State::WaitServerHello && !m_retried) || size != 1
            || body[0] != 1)
            return fatal(fail(alert::unexpectedMessage, "unexpected ChangeCipherSpec"));
        return true;
    }
    if (!m_read.active()) {
        if (type == content::handshake)
            return size > 0 ? handshakeData(body, size)
                            : fatal(fail(alert::decodeError, "empty handshake record"));
        if (type == content::alert && size == 2) {
            // Plain alerts arrive when the server refuses our hello.
            m_error = "remote error: tls: " + alertText(body[1]);
            m_state = State::Failed;
            return false;
        }
        return fatal(fail(alert::unexpectedMessage,
            "unexpected record type " + std::to_string(type) + " before encryption"));
    }
    if (type != content::applicationData)
        return fatal(fail(alert::unexpectedMessage,
            "unexpected record type " + std::to_string(type) + " after ServerHello"));
    std::uint8_t inner = 0;
    std::size_t plainSize = 0;
    if (!m_read.open(header, recordHeaderSize + size, inner, plainSize))
        return fatal(fail(alert::badRecordMac, "bad record MAC"));
    if (plainSize > maxPlaintext)
        return fatal(fail(alert::recordOverflow, "record larger than TLS allows"));
    switch (inner) {
    case content::handshake:
        return plainSize > 0 ? handshakeData(body, plainSize)
                             : fatal(fail(alert::unexpectedMessage, "empty handshake record"));
    case content::alert:
        if (plainSize != 2)
            return fatal(fail(alert::decodeError, "malformed alert"));
        if (body[1] == alert::closeNotify) {
            m_peerClosed = true;
            return true;
        }
        if (body[1] == userCanceled)
            return true;
        m_error = "remote error: tls: " + alertText(body[1]);
        m_state = State::Failed;
        return false;
    case content::applicationData:
        if (handshaking || !m_handshake.empty())
            return fatal(fail(alert::unexpectedMessage, "application data during the handshake"));
        m_plainOffset = static_cast<std::size_t>(body - m_in.data());
        m_plainSize = plainSize;
        return true;
    default:
        return fatal(fail(alert::unexpectedMessage, "unknown record type"));
    }
}

bool Tls13Client::handshakeData(const std::uint8_t *data, std::size_t size)
{
    m_handshake.insert(m_handshake.end(), data, data + size);
    while (m_handshake.size() >= 4) {
        const std::size_t length = static_cast<std::size_t>(m_handshake[1]) << 16
            | static_cast<std::size_t>(m_handshake[2]) << 8 | m_handshake[3];
        if (length + 4 > maxHandshakeMessage)
            return fatal(fail(alert::illegalParameter, "handshake message too large"));
        if (m_handshake.size() < length + 4)
            break;
        const Bytes whole(m_handshake.begin(), m_handshake.begin() + 4 + length);
        m_handshake.erase(m_handshake.begin(), m_handshake.begin() + 4 + length);
        const Bytes body(whole.begin() + 4, whole.end());
        if (!message(whole[0], body, whole))
            return false;
    }
    return true;
}

bool Tls13Client::message(std::uint8_t type, const Bytes &body, const Bytes &whole)
{
    const auto unexpected = [&] {
        return fatal(
            fail(alert::unexpectedMessage, "unexpected handshake message " + std::to_string(type)));
    };
    switch (m_state) {
    case State::WaitServerHello:
        if (type != message::serverHello)
            return unexpected();
        return onServerHello(body, whole);
    case State::WaitEncryptedExtensions:
        if (type != message::encryptedExtensions)
            return unexpected();
        m_transcript.add(whole);
        return onEncryptedExtensions(body);
    case State::WaitCertificate:
        if (type == message::certificateRequest && !m_certificateRequested) {
            m_transcript.add(whole);
            m_certificateRequested = true;
            if (Failure failure = parseCertificateRequest(body, m_certificateRequestContext))
                return fatal(failure);
            return true;
        }
        if (type == message::compressedCertificate
            && !m_options.shape->certificateCompression.empty()) {
            m_transcript.add(whole);
            Bytes inflated;
            if (Failure failure
                = decompressCertificate(body, m_options.shape->certificateCompression, inflated))
                return fatal(failure);
            return onCertificate(inflated);
        }
        if (type != message::certificate)
            return unexpected();
        m_transcript.add(whole);
        return onCertificate(body);
    case State::WaitCertificateVerify:
        if (type != message::certificateVerify)
            return unexpected();
        if (!onCertificateVerify(body))
            return false;
        m_transcript.add(whole);
        return true;
    case State::WaitFinished:
        if (type != message::finished)
            return unexpected();
        return onFinished(body, whole);
    case State::Connected:
        return onPostHandshake(type, body);
    default:
        return unexpected();
    }
}

bool Tls13Client::onServerHello(const Bytes &body, const Bytes &whole)
{
    ServerHello hello;
    if (Failure failure = parseServerHello(body, hello))
        return fatal(failure);
    if (hello.version != 0x0304) {
        if (m_options.reality)
            return fatal(fail(alert::protocolVersion,
                             "reality verification failed: the server does not speak TLS 1.3"),
                true);
        return fatal(fail(alert::protocolVersion,
            "the server chose TLS 1.2; browser-shaped TLS (utls) speaks TLS 1.3 only, "
            "disable utls for this server"));
    }
    if (hello.sessionId != m_hello->sessionId())
        return fatal(fail(alert::illegalParameter, "the server did not echo our session id"));
    const auto offered = m_hello->offeredCipherSuites();
    const CipherSuite *suite = tls13Suite(hello.cipherSuite);
    if (!suite || std::find(offered.begin(), offered.end(), hello.cipherSuite) == offered.end()
        || (m_suite && m_suite != suite))
        return fatal(fail(alert::illegalParameter,
            "the server chose cipher suite " + std::to_string(hello.cipherSuite)
                + ", which was not offered"));
    if (hello.retryRequest)
        return onRetryRequest(hello, whole) && (m_suite = suite, true);
    if (!m_suite)
        m_transcript.start(*suite);
    m_suite = suite;
    m_transcript.add(whole);

    const KeyShare *share = nullptr;
    for (const auto &candidate : m_shares) {
        if (candidate->group() == hello.keyShareGroup)
            share = candidate.get();
    }
    Bytes shared;
    if (!share)
        return fatal(fail(alert::illegalParameter, "the server's key share is for another group"));
    if (!share->agree(hello.keyShare.data(), hello.keyShare.size(), shared))
        return fatal(fail(alert::illegalParameter, "malformed key share from the server"));
    // A key change: no handshake message may straddle it (RFC 8446 5.1).
    if (!m_handshake.empty())
        return fatal(fail(alert::unexpectedMessage, "handshake data after ServerHello"));
    m_keys = std::make_unique<KeySchedule>(*suite);
    m_keys->deriveHandshake(shared, m_transcript.hash());
    if (!m_read.init(*suite, m_keys->serverHandshake(), false)
        || !m_write.init(*suite, m_keys->clientHandshake(), true))
        return fatal(fail(alert::internalError, "cannot set the handshake keys"));
    m_state = State::WaitEncryptedExtensions;
    return true;
}

bool Tls13Client::onRetryRequest(const ServerHello &hello, const Bytes &whole)
{
    if (m_retried)
        return fatal(fail(alert::unexpectedMessage, "a second HelloRetryRequest"));
    m_retried = true;
    const std::uint16_t group = hello.selectedGroup;
    const bool alreadySent = std::any_of(m_shares.begin(), m_shares.end(),
        [group](const auto &share) { return share->group() == group; });
    if (group == 0 || alreadySent || !m_hello->offersGroup(group) || !KeyShare::supported(group))
        return fatal(fail(alert::illegalParameter,
            "HelloRetryRequest for group " + std::to_string(group) + ", which we cannot use"));
    m_transcript.start(*tls13Suite(hello.cipherSuite));
    m_transcript.replaceWithMessageHash();
    m_transcript.add(whole);
    m_shares.clear();
    m_shares.push_back(KeyShare::generate(group));
    const Bytes second = m_hello->build({m_shares.back().get()}, true, hello.cookie);
    m_transcript.add(second);
    sendChangeCipherSpec();
    appendPlainRecord(m_out, content::handshake, second.data(), second.size());
    // The second hello goes out as a TLS 1.2 record.
    m_out[m_out.size() - second.size() - 3] = 3;
    return true;
}

bool Tls13Client::onEncryptedExtensions(const Bytes &body)
{
    EncryptedExtensions extensions;
    if (Failure failure = parseEncryptedExtensions(body, m_hello->offeredExtensions(), extensions))
        return fatal(failure);
    if (!extensions.alpn.empty()) {
        const auto &offered = m_options.alpn.empty() ? m_options.shape->alpn : m_options.alpn;
        if (std::find(offered.begin(), offered.end(), extensions.alpn) == offered.end())
            return fatal(fail(alert::illegalParameter,
                "the server chose application protocol " + extensions.alpn
                    + ", which was not offered"));
    }
    m_alpn = extensions.alpn;
    m_applicationSettings = extensions.applicationSettings && m_alpn == "h2";
    if (extensions.recordSizeLimit)
        m_maxFragment = std::min<std::size_t>(maxPlaintext, extensions.recordSizeLimit - 1u);
    m_state = State::WaitCertificate;
    return true;
}

bool Tls13Client::onCertificate(const Bytes &body)
{
    if (Failure failure = parseCertificate(body, m_chain))
        return fatal(failure);
    m_state = State::WaitCertificateVerify;
    if (m_reality) {
        if (m_reality->authenticates(m_chain.front())) {
            m_realityVerified = true;
            return true;
        }
        // Whoever answered is not the REALITY server: a real certificate means the server
        // handed us to the site it imitates (a wrong key or short id, or a probe in between).
        // Either way we leave without a word.
        std::string chainError = "no verifier";
        if (m_options.verifier)
            chainError = m_options.verifier->verifyChain(m_chain, m_options.verifyName);
        return fatal(fail(alert::badCertificate,
                         chainError.empty()
                             ? "reality verification failed: the server sent the real certificate "
                               "of "
                                 + m_options.verifyName
                                 + " (not a REALITY server, or a wrong public_key or short_id)"
                             : "reality verification failed: " + chainError),
            true);
    }
    if (m_options.insecure)
        return true;
    if (!m_options.verifier)
        return fatal(fail(alert::internalError, "no certificate verifier"));
    const std::string error = m_options.verifier->verifyChain(m_chain, m_options.verifyName);
    if (!error.empty())
        return fatal(fail(alert::badCertificate, "tls: failed to verify certificate: " + error));
    return true;
}

bool Tls13Client::onCertificateVerify(const Bytes &body)
{
    CertificateVerify verify;
    if (Failure failure = parseCertificateVerify(body, verify))
        return fatal(failure);
    const auto &offered = m_options.shape->signatureAlgorithms;
    // REALITY servers sign with Ed25519 although browsers do not offer it.
    const bool allowed = std::find(offered.begin(), offered.end(), verify.scheme) != offered.end()
        || (m_realityVerified && verify.scheme == 0x0807);
    if (!allowed)
        return fatal(fail(alert::illegalParameter,
            "the server signed with algorithm " + std::to_string(verify.scheme)
                + ", which was not offered"));
    const std::string error = verifyHandshakeSignature(
        m_chain.front(), verify.scheme, m_transcript.hash(), verify.signature);
    if (!error.empty())
        return fatal(fail(alert::decryptError, "tls: " + error));
    m_state = State::WaitFinished;
    return true;
}

bool Tls13Client::onFinished(const Bytes &body, const Bytes &whole)
{
    const Bytes expected = m_keys->finishedMac(m_keys->serverHandshake(), m_transcript.hash());
    if (body.size() != expected.size()
        || CRYPTO_memcmp(body.data(), expected.data(), expected.size()) != 0)
        return fatal(fail(alert::decryptError, "the server's Finished does not verify"));
    m_transcript.add(whole);
    m_keys->deriveApplication(m_transcript.hash());
    sendChangeCipherSpec();
    if (m_applicationSettings) {
        // The server takes our ALPS settings; an empty HTTP/2 SETTINGS payload changes nothing.
        Bytes settings;
        ByteWriter out(settings);
        out.u8(message::clientEncryptedExtensions);
        const std::size_t length = out.open(3);
        const std::size_t list = out.open(2);
        out.u16(extension::applicationSettings);
        out.u16(0);
        out.close(list, 2);
        out.close(length, 3);
        sendHandshake(settings);
    }
    if (m_certificateRequested) {
        Bytes empty;
        ByteWriter out(empty);
        out.u8(message::certificate);
        const std::size_t length = out.open(3);
        const std::size_t context = out.open(1);
        out.bytes(m_certificateRequestContext);
        out.close(context, 1);
        out.u24(0);
        out.close(length, 3);
        sendHandshake(empty);
    }
    Bytes finished;
    ByteWriter out(finished);
    out.u8(message::finished);
    const Bytes mac = m_keys->finishedMac(m_keys->clientHandshake(), m_transcript.hash());
    out.u24(mac.size());
    out.bytes(mac);
    sendHandshake(finished);
    m_readSecret = m_keys->serverApplication();
    m_writeSecret = m_keys->clientApplication();
    if (!m_read.init(*m_suite, m_readSecret, false) || !m_write.init(*m_suite, m_writeSecret, true))
        return fatal(fail(alert::internalError, "cannot set the application keys"));
    m_chain.clear();
    m_state = State::Connected;
    return true;
}

bool Tls13Client::onPostHandshake(std::uint8_t type, const Bytes &body)
{
    if (type == message::newSessionTicket) {
        // Accepted and dropped: every connection is a full handshake (REALITY cannot resume).
        NewSessionTicket ticket;
        if (Failure failure = parseNewSessionTicket(body, ticket))
            return fatal(failure);
        return true;
    }
    if (type == message::keyUpdate) {
        bool requested = false;
        if (Failure failure = parseKeyUpdate(body, requested))
            return fatal(failure);
        if (!m_handshake.empty())
            return fatal(fail(alert::unexpectedMessage, "KeyUpdate not at a record boundary"));
        m_readSecret = m_keys->nextGeneration(m_readSecret);
        m_read.init(*m_suite, m_readSecret, false);
        if (requested) {
            const std::uint8_t update[5] = {message::keyUpdate, 0, 0, 1, 0};
            m_write.seal(content::handshake, update, sizeof update, m_out);
            m_writeSecret = m_keys->nextGeneration(m_writeSecret);
            m_write.init(*m_suite, m_writeSecret, true);
        }
        return true;
    }
    return fatal(fail(alert::unexpectedMessage,
        "unexpected handshake message " + std::to_string(type) + " after the handshake"));
}

} // namespace qivro::engine::utls
