#include "tls/tlsclient.h"

#include "common/log.h"
#include "tls/systemroots.h"
#include "tls/tlsstream.h"

#include <asio/ip/address.hpp>
#include <asio/post.hpp>
#include <asio/steady_timer.hpp>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <iterator>
#include <map>
#include <openssl/err.h>
#include <openssl/pem.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>

namespace qivro::engine {

namespace {

int versionNumber(const std::string &text, int fallback)
{
    static const std::map<std::string, int> versions = {{"1.0", TLS1_VERSION},
        {"1.1", TLS1_1_VERSION}, {"1.2", TLS1_2_VERSION}, {"1.3", TLS1_3_VERSION}};
    const auto it = versions.find(text);
    return it == versions.end() ? fallback : it->second;
}

// The system's trust store plus the client's extra CA file, loaded once for every outbound:
// a copy per outbound would cost a megabyte each.
X509_STORE *defaultStore()
{
    static X509_STORE *store = [] {
        X509_STORE *created = X509_STORE_new();
        if (!created)
            return created;
        addSystemRoots(created);
        if (const char *extra = std::getenv("QIVRO_EXTRA_CA_FILE"); extra && *extra) {
            if (X509_STORE_load_file(created, extra) != 1)
                logWarn("tls: cannot load QIVRO_EXTRA_CA_FILE ", extra);
        }
        ERR_clear_error();
        return created;
    }();
    return store;
}

// A store holding only the configured certificates, which then are the only roots trusted.
X509_STORE *storeFromPem(const std::string &pem, std::string &error)
{
    BIO *bio = BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size()));
    X509_STORE *store = X509_STORE_new();
    int count = 0;
    while (X509 *certificate = PEM_read_bio_X509(bio, nullptr, nullptr, nullptr)) {
        count += X509_STORE_add_cert(store, certificate) == 1;
        X509_free(certificate);
    }
    BIO_free(bio);
    ERR_clear_error();
    if (count == 0) {
        X509_STORE_free(store);
        error = "failed to parse certificate:\n\n" + pem;
        return nullptr;
    }
    return store;
}

int newSession(SSL *ssl, SSL_SESSION *session)
{
    auto *client = static_cast<TlsClient *>(SSL_CTX_get_app_data(SSL_get_SSL_CTX(ssl)));
    if (!client)
        return 0;
    client->storeSession(session);
    return 1; // the cache keeps the reference
}

std::string alertText(int alert)
{
    static const std::map<int, const char *> texts
        = {{0, "close notify"}, {10, "unexpected message"}, {20, "bad record MAC"},
            {21, "decryption failed"}, {22, "record overflow"}, {30, "decompression failure"},
            {40, "handshake failure"}, {42, "bad certificate"}, {43, "unsupported certificate"},
            {44, "revoked certificate"}, {45, "expired certificate"}, {46, "unknown certificate"},
            {47, "illegal parameter"}, {48, "unknown certificate authority"}, {49, "access denied"},
            {50, "error decoding message"}, {51, "error decrypting message"},
            {60, "export restriction"}, {70, "protocol version not supported"},
            {71, "insufficient security level"}, {80, "internal error"},
            {86, "inappropriate fallback"}, {90, "user canceled"}, {100, "no renegotiation"},
            {109, "missing extension"}, {110, "unsupported extension"},
            {111, "certificate unobtainable"}, {112, "unrecognized name"},
            {113, "bad certificate status response"}, {114, "bad certificate hash value"},
            {115, "unknown PSK identity"}, {116, "certificate required"},
            {120, "no application protocol"}, {121, "encrypted client hello required"}};
    const auto it = texts.find(alert);
    return it != texts.end() ? std::string("tls: ") + it->second
                             : "tls: alert(" + std::to_string(alert) + ")";
}

std::string rfc3339(const ASN1_TIME *time)
{
    std::tm parts {};
    if (!time || ASN1_TIME_to_tm(time, &parts) != 1)
        return "?";
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &parts);
    return text;
}

std::string nowRfc3339()
{
    ASN1_TIME *now = ASN1_TIME_set(nullptr, std::time(nullptr));
    std::string text = rfc3339(now);
    ASN1_TIME_free(now);
    return text;
}

// The server's names of one kind (GEN_DNS or GEN_IPADD), as Go lists them.
std::vector<std::string> subjectAltNames(X509 *certificate, int kind)
{
    std::vector<std::string> names;
    auto *general = static_cast<GENERAL_NAMES *>(
        X509_get_ext_d2i(certificate, NID_subject_alt_name, nullptr, nullptr));
    for (int i = 0; general && i < sk_GENERAL_NAME_num(general); ++i) {
        const GENERAL_NAME *name = sk_GENERAL_NAME_value(general, i);
        if (name->type != kind)
            continue;
        const ASN1_STRING *value = kind == GEN_DNS ? name->d.dNSName : name->d.iPAddress;
        const auto *bytes = ASN1_STRING_get0_data(value);
        const int size = ASN1_STRING_length(value);
        if (kind == GEN_DNS) {
            names.emplace_back(reinterpret_cast<const char *>(bytes), size);
        } else if (size == 4 || size == 16) {
            asio::ip::address address;
            if (size == 4) {
                asio::ip::address_v4::bytes_type raw;
                std::memcpy(raw.data(), bytes, 4);
                address = asio::ip::address_v4(raw);
            } else {
                asio::ip::address_v6::bytes_type raw;
                std::memcpy(raw.data(), bytes, 16);
                address = asio::ip::address_v6(raw);
            }
            names.push_back(address.to_string());
        }
    }
    GENERAL_NAMES_free(general);
    return names;
}

std::string joined(const std::vector<std::string> &items)
{
    std::string text;
    for (const std::string &item : items)
        text += (text.empty() ? "" : ", ") + item;
    return text;
}

bool isIpLiteral(const std::string &text)
{
    std::error_code error;
    asio::ip::make_address(text, error);
    return !error;
}

} // namespace

std::string verifyErrorText(long result, SSL *ssl, const std::string &verifyName)
{
    // After a failed verification only the chain the server sent is kept, its leaf first.
    STACK_OF(X509) *chain = ssl ? SSL_get_peer_cert_chain(ssl) : nullptr;
    X509 *leaf = chain && sk_X509_num(chain) > 0 ? sk_X509_value(chain, 0) : nullptr;
    switch (result) {
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT:
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT_LOCALLY:
    case X509_V_ERR_DEPTH_ZERO_SELF_SIGNED_CERT:
    case X509_V_ERR_SELF_SIGNED_CERT_IN_CHAIN:
    case X509_V_ERR_UNABLE_TO_VERIFY_LEAF_SIGNATURE:
    case X509_V_ERR_CERT_UNTRUSTED:
        return "x509: certificate signed by unknown authority";
    case X509_V_ERR_CERT_HAS_EXPIRED:
    case X509_V_ERR_CERT_NOT_YET_VALID: {
        const bool expired = result == X509_V_ERR_CERT_HAS_EXPIRED;
        const ASN1_TIME *bound
            = leaf ? (expired ? X509_get0_notAfter(leaf) : X509_get0_notBefore(leaf)) : nullptr;
        return "x509: certificate has expired or is not yet valid: current time " + nowRfc3339()
            + (expired ? " is after " : " is before ") + rfc3339(bound);
    }
    case X509_V_ERR_HOSTNAME_MISMATCH: {
        const std::vector<std::string> names
            = leaf ? subjectAltNames(leaf, GEN_DNS) : std::vector<std::string>();
        if (names.empty())
            return "x509: certificate is not valid for any names, but wanted to match "
                + verifyName;
        return "x509: certificate is valid for " + joined(names) + ", not " + verifyName;
    }
    case X509_V_ERR_IP_ADDRESS_MISMATCH: {
        const std::vector<std::string> addresses
            = leaf ? subjectAltNames(leaf, GEN_IPADD) : std::vector<std::string>();
        if (addresses.empty())
            return "x509: cannot validate certificate for " + verifyName
                + " because it doesn't contain any IP SANs";
        return "x509: certificate is valid for " + joined(addresses) + ", not " + verifyName;
    }
    default:
        return std::string("x509: ") + X509_verify_cert_error_string(result);
    }
}

TlsClient::TlsClient(
    const TlsConfig &config, const std::string &server, std::vector<std::string> defaultAlpn)
{
    m_verifyName = config.serverName.empty() ? server : config.serverName;
    if (m_verifyName.size() > 2 && m_verifyName.front() == '[' && m_verifyName.back() == ']')
        m_verifyName = m_verifyName.substr(1, m_verifyName.size() - 2);
    // Go sends no server name for an IP literal.
    m_sendSni = !config.disableSni && !isIpLiteral(m_verifyName);
    m_context = SSL_CTX_new(TLS_client_method());
    if (!m_context) {
        m_setupError = "tls: cannot create a context";
        return;
    }
    SSL_CTX_set_app_data(m_context, this);
    SSL_CTX_set_options(m_context, SSL_OP_NO_RENEGOTIATION | SSL_OP_IGNORE_UNEXPECTED_EOF);
    SSL_CTX_set_min_proto_version(m_context, versionNumber(config.minVersion, TLS1_2_VERSION));
    SSL_CTX_set_max_proto_version(m_context, versionNumber(config.maxVersion, TLS1_3_VERSION));
    SSL_CTX_set_session_cache_mode(
        m_context, SSL_SESS_CACHE_CLIENT | SSL_SESS_CACHE_NO_INTERNAL_STORE);
    SSL_CTX_sess_set_new_cb(m_context, newSession);
    // Go's default preferences: AES-128 before AES-256 (the server then spends less too).
    SSL_CTX_set_ciphersuites(
        m_context, "TLS_AES_128_GCM_SHA256:TLS_CHACHA20_POLY1305_SHA256:TLS_AES_256_GCM_SHA384");
    SSL_CTX_set_cipher_list(m_context,
        "ECDHE-ECDSA-AES128-GCM-SHA256:ECDHE-RSA-AES128-GCM-SHA256:ECDHE-ECDSA-AES256-GCM-SHA384:"
        "ECDHE-RSA-AES256-GCM-SHA384:ECDHE-ECDSA-CHACHA20-POLY1305:ECDHE-RSA-CHACHA20-POLY1305:"
        "ECDHE-ECDSA-AES128-SHA:ECDHE-RSA-AES128-SHA:ECDHE-ECDSA-AES256-SHA:ECDHE-RSA-AES256-SHA:"
        "AES128-GCM-SHA256:AES256-GCM-SHA384:AES128-SHA:AES256-SHA");

    if (!config.cipherSuites.empty()) {
        // Go's names are the IANA ones; TLS 1.3 suites are accepted and, as in Go, not
        // configurable.
        SSL *probe = SSL_new(m_context);
        SSL_set_cipher_list(probe, "ALL:COMPLEMENTOFALL");
        STACK_OF(SSL_CIPHER) *known = SSL_get_ciphers(probe);
        std::string list;
        for (const std::string &name : config.cipherSuites) {
            bool found = false;
            for (int i = 0; !found && i < sk_SSL_CIPHER_num(known); ++i) {
                const SSL_CIPHER *cipher = sk_SSL_CIPHER_value(known, i);
                if (name == SSL_CIPHER_standard_name(cipher)) {
                    found = true;
                    list += (list.empty() ? "" : ":") + std::string(SSL_CIPHER_get_name(cipher));
                }
            }
            if (!found && name.rfind("TLS_AES_", 0) != 0 && name.rfind("TLS_CHACHA20_", 0) != 0) {
                m_setupError = "unknown cipher_suite: " + name;
                break;
            }
        }
        SSL_free(probe);
        if (!list.empty())
            SSL_CTX_set_cipher_list(m_context, list.c_str());
    }

    std::vector<std::string> alpn = config.alpn.empty() ? std::move(defaultAlpn) : config.alpn;
    std::string wire;
    for (const std::string &protocol : alpn) {
        if (!protocol.empty() && protocol.size() < 256)
            wire += static_cast<char>(protocol.size()) + protocol;
    }
    if (!wire.empty())
        SSL_CTX_set_alpn_protos(m_context, reinterpret_cast<const unsigned char *>(wire.data()),
            static_cast<unsigned int>(wire.size()));

    if (config.insecure) {
        SSL_CTX_set_verify(m_context, SSL_VERIFY_NONE, nullptr);
    } else {
        SSL_CTX_set_verify(m_context, SSL_VERIFY_PEER, nullptr);
        std::string pem;
        if (!config.certificate.empty()) {
            for (const std::string &line : config.certificate)
                pem += line + "\n";
        } else if (!config.certificatePath.empty()) {
            std::ifstream file(config.certificatePath, std::ios::binary);
            if (!file) {
                std::string reason = std::strerror(errno);
                reason[0] = static_cast<char>(std::tolower(static_cast<unsigned char>(reason[0])));
                m_setupError = "read certificate: open " + config.certificatePath + ": " + reason;
                return;
            }
            pem.assign(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
        }
        if (!pem.empty()) {
            if (X509_STORE *store = storeFromPem(pem, m_setupError))
                SSL_CTX_set0_verify_cert_store(m_context, store);
        } else if (X509_STORE *store = defaultStore()) {
            SSL_CTX_set1_cert_store(m_context, store);
        }
    }
    ERR_clear_error();
}

TlsClient::~TlsClient()
{
    if (m_context) {
        // Connections still open keep the context; they must not reach this object any more.
        SSL_CTX_set_app_data(m_context, nullptr);
        SSL_CTX_free(m_context);
    }
    SSL_SESSION_free(m_session);
}

void TlsClient::storeSession(SSL_SESSION *session)
{
    std::lock_guard lock(m_sessionMutex);
    SSL_SESSION_free(m_session);
    m_session = session;
}

SSL *TlsClient::newConnection()
{
    SSL *ssl = SSL_new(m_context);
    if (!ssl)
        return nullptr;
    SSL_set_connect_state(ssl);
    if (m_sendSni)
        SSL_set_tlsext_host_name(ssl, m_verifyName.c_str());
    X509_VERIFY_PARAM *param = SSL_get0_param(ssl);
    // Go matches a wildcard only as a whole left-most label and never falls back to the CN.
    X509_VERIFY_PARAM_set_hostflags(
        param, X509_CHECK_FLAG_NO_PARTIAL_WILDCARDS | X509_CHECK_FLAG_NEVER_CHECK_SUBJECT);
    if (isIpLiteral(m_verifyName))
        X509_VERIFY_PARAM_set1_ip_asc(param, m_verifyName.c_str());
    else
        X509_VERIFY_PARAM_set1_host(param, m_verifyName.c_str(), 0);
    std::lock_guard lock(m_sessionMutex);
    if (m_session && SSL_SESSION_is_resumable(m_session))
        SSL_set_session(ssl, m_session);
    return ssl;
}

void TlsClient::handshake(const asio::any_io_executor &executor, std::shared_ptr<Stream> inner,
    int timeoutMs, Handler handler)
{
    SSL *ssl = m_setupError.empty() ? newConnection() : nullptr;
    if (!ssl) {
        inner->close();
        const std::string error
            = m_setupError.empty() ? "tls: cannot create a connection" : m_setupError;
        asio::post(executor, [handler = std::move(handler), error] { handler(error, nullptr); });
        return;
    }
    auto stream = std::make_shared<TlsStream>(executor, std::move(inner), ssl);
    auto timer = std::make_shared<asio::steady_timer>(executor);
    auto timedOut = std::make_shared<bool>(false);
    timer->expires_after(std::chrono::milliseconds(timeoutMs > 0 ? timeoutMs : 15000));
    std::weak_ptr<TlsStream> weak = stream;
    timer->async_wait([weak, timedOut](const std::error_code &error) {
        if (error)
            return;
        *timedOut = true;
        if (auto stream = weak.lock())
            stream->close();
    });
    // The stream keeps this handler until the handshake ends: it must not keep the stream.
    stream->handshake(
        [weak, timer, timedOut, handler = std::move(handler)](const std::string &error) {
            timer->cancel();
            auto stream = weak.lock();
            if (error.empty() && stream) {
                handler({}, stream);
                return;
            }
            if (stream)
                stream->close();
            handler(*timedOut ? "context deadline exceeded" : error, nullptr);
        },
        [name = m_verifyName](SSL *failed) {
            const unsigned long code = ERR_peek_last_error();
            const int reason = ERR_GET_LIB(code) == ERR_LIB_SSL ? ERR_GET_REASON(code) : 0;
            const long verify = SSL_get_verify_result(failed);
            if (reason == SSL_R_CERTIFICATE_VERIFY_FAILED && verify != X509_V_OK)
                return "tls: failed to verify certificate: "
                    + verifyErrorText(verify, failed, name);
            if (reason >= SSL_AD_REASON_OFFSET && reason < SSL_AD_REASON_OFFSET + 256)
                return "remote error: " + alertText(reason - SSL_AD_REASON_OFFSET);
            return std::string();
        });
}

} // namespace qivro::engine
