// The outbound TLS layer against an OpenSSL server on loopback: trust (configured certificates,
// the extra CA file, insecure), names and IPs, versions, cipher suites, ALPN, and the
// errors the user reads when a handshake fails. A certificate file that is trusted, and one
// that is not, are rows of the VLESS suite's roads through v2ray.
#include "outbound/dialer.h"
#include "support.h"
#include "testcerts.h"
#include "testing.h"
#include "tls/tlsclient.h"
#include "tls/tlsstream.h"

#include <asio/io_context.hpp>
#include <atomic>
#include <cstdlib>
#include <mutex>
#include <openssl/ssl.h>
#include <sstream>
#include <thread>

using namespace qivro::engine;
using support::CertificateSet;

namespace {

// Accepts connections one after the other and echoes what each sends.
class EchoTlsServer
{
public:
    EchoTlsServer(
        const CertificateSet &certificates, std::vector<std::string> alpn = {}, int maxVersion = 0)
        : m_alpn(std::move(alpn))
        , m_acceptor(m_io, {asio::ip::make_address("127.0.0.1"), 0})
    {
        m_context = SSL_CTX_new(TLS_server_method());
        SSL_CTX_use_certificate_file(
            m_context, certificates.certificatePath.c_str(), SSL_FILETYPE_PEM);
        SSL_CTX_use_PrivateKey_file(m_context, certificates.keyPath.c_str(), SSL_FILETYPE_PEM);
        if (maxVersion)
            SSL_CTX_set_max_proto_version(m_context, maxVersion);
        if (!m_alpn.empty())
            SSL_CTX_set_alpn_select_cb(m_context, selectAlpn, this);
        m_thread = std::thread([this] { run(); });
    }
    ~EchoTlsServer()
    {
        m_stop = true;
        support::waitForTcpPort(port(), 100);
        m_thread.join();
        SSL_CTX_free(m_context);
    }
    std::uint16_t port() const { return m_acceptor.local_endpoint().port(); }
    // What the last connection showed: "sni=... alpn=... cipher=...".
    std::string last()
    {
        std::lock_guard lock(m_mutex);
        return m_last;
    }

private:
    static int selectAlpn(SSL *, const unsigned char **out, unsigned char *outSize,
        const unsigned char *in, unsigned int inSize, void *arg)
    {
        auto *self = static_cast<EchoTlsServer *>(arg);
        for (unsigned int at = 0; at < inSize; at += 1 + in[at]) {
            const std::string offered(reinterpret_cast<const char *>(in + at + 1), in[at]);
            for (const std::string &mine : self->m_alpn) {
                if (mine == offered) {
                    *out = in + at + 1;
                    *outSize = in[at];
                    return SSL_TLSEXT_ERR_OK;
                }
            }
        }
        return SSL_TLSEXT_ERR_ALERT_FATAL;
    }

    void run()
    {
        while (true) {
            asio::ip::tcp::socket socket(m_io);
            std::error_code error;
            m_acceptor.accept(socket, error);
            if (error || m_stop)
                return;
            SSL *ssl = SSL_new(m_context);
            SSL_set_fd(ssl, socket.native_handle());
            if (SSL_accept(ssl) == 1) {
                const char *sni = SSL_get_servername(ssl, TLSEXT_NAMETYPE_host_name);
                const unsigned char *alpn = nullptr;
                unsigned int alpnSize = 0;
                SSL_get0_alpn_selected(ssl, &alpn, &alpnSize);
                {
                    std::lock_guard lock(m_mutex);
                    m_last = std::string("sni=") + (sni ? sni : "") + " alpn="
                        + std::string(reinterpret_cast<const char *>(alpn), alpn ? alpnSize : 0)
                        + " cipher=" + SSL_get_cipher_name(ssl);
                }
                char buffer[16384];
                int size;
                while ((size = SSL_read(ssl, buffer, sizeof buffer)) > 0) {
                    if (SSL_write(ssl, buffer, size) <= 0)
                        break;
                }
                SSL_shutdown(ssl);
            }
            SSL_free(ssl);
        }
    }

    std::vector<std::string> m_alpn;
    SSL_CTX *m_context = nullptr;
    asio::io_context m_io;
    asio::ip::tcp::acceptor m_acceptor;
    std::atomic<bool> m_stop {false};
    std::mutex m_mutex;
    std::string m_last;
    std::thread m_thread;
};

struct Outcome
{
    std::string error;
    std::string echoed;
};

// Handshakes with the server, sends message and reads the echo back.
Outcome exchange(TlsClient &client, std::uint16_t port, const std::string &message)
{
    asio::io_context io;
    Outcome outcome;
    std::shared_ptr<TlsStream> stream;
    std::vector<char> buffer(64 * 1024);
    std::function<void()> readMore = [&] {
        stream->asyncReadSome(
            asio::buffer(buffer), [&](const std::error_code &error, std::size_t size) {
                outcome.echoed.append(buffer.data(), size);
                if (!error && outcome.echoed.size() < message.size())
                    return readMore();
                stream->close();
            });
    };
    connectTcp(io.get_executor(), "127.0.0.1", port, 5000,
        [&](const std::string &error, asio::ip::tcp::socket socket) {
            if (!error.empty()) {
                outcome.error = error;
                return;
            }
            client.handshake(io.get_executor(), std::make_shared<TcpStream>(std::move(socket)),
                5000, [&](const std::string &error, std::shared_ptr<TlsStream> tls) {
                    outcome.error = error;
                    if (!tls)
                        return;
                    stream = tls;
                    tls->asyncWrite(
                        asio::buffer(message), [](const std::error_code &, std::size_t) {});
                    readMore();
                });
        });
    io.run();
    return outcome;
}

std::vector<std::string> lines(const std::string &text)
{
    std::vector<std::string> out;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        out.push_back(line);
    return out;
}

} // namespace

TEST_CASE(handshakesAndTheirErrors)
{
    const CertificateSet main = support::makeCertificates("tls-main", {"localhost", "127.0.0.1"});
    const CertificateSet fromEnvironment = support::makeCertificates("tls-env", {"localhost"});
    const CertificateSet expired
        = support::makeCertificates("tls-old", {"localhost"}, -7200, -3600);
    // The system store and the extra CA file load once, on the first use.
    ::setenv("QIVRO_EXTRA_CA_FILE", fromEnvironment.caPath.c_str(), 1);

    EchoTlsServer server(main, {"http/1.1"});
    EchoTlsServer environmentServer(fromEnvironment);
    EchoTlsServer expiredServer(expired);
    EchoTlsServer tls12Server(main, {}, TLS1_2_VERSION);

    struct Row
    {
        std::string label;
        EchoTlsServer &server;
        std::function<void(TlsConfig &)> configure;
        std::string error; // fragment expected in the error, "" for success
        std::string seen; // fragment of what the server saw
    };
    const std::vector<Row> rows = {
        {"inline certificate and ALPN", server,
            [&](TlsConfig &c) {
                c.serverName = "localhost";
                c.certificate = lines(main.caPem);
                c.alpn = {"h2", "http/1.1"};
            },
            "", "sni=localhost alpn=http/1.1"},
        {"extra CA file", environmentServer, [](TlsConfig &c) { c.serverName = "localhost"; }, "",
            "sni=localhost"},
        {"another name", server,
            [&](TlsConfig &c) {
                c.serverName = "other.test";
                c.certificatePath = main.caPath;
            },
            "tls: failed to verify certificate: x509: certificate is valid for localhost, not "
            "other.test",
            ""},
        {"IP literal", server, [&](TlsConfig &c) { c.certificatePath = main.caPath; }, "", "sni= "},
        {"expired", expiredServer,
            [&](TlsConfig &c) {
                c.serverName = "localhost";
                c.certificatePath = expired.caPath;
            },
            "x509: certificate has expired or is not yet valid: current time ", ""},
        {"insecure", expiredServer, [](TlsConfig &c) { c.insecure = true; }, "", "sni= "},
        {"disable_sni", server,
            [&](TlsConfig &c) {
                c.serverName = "localhost";
                c.disableSni = true;
                c.certificatePath = main.caPath;
            },
            "", "sni= "},
        {"no common version", tls12Server,
            [&](TlsConfig &c) {
                c.insecure = true;
                c.minVersion = "1.3";
            },
            "remote error: tls: protocol version not supported", ""},
        {"cipher suite at TLS 1.2", tls12Server,
            [&](TlsConfig &c) {
                c.insecure = true;
                c.cipherSuites = {"TLS_ECDHE_ECDSA_WITH_CHACHA20_POLY1305_SHA256"};
            },
            "", "cipher=ECDHE-ECDSA-CHACHA20-POLY1305"},
        {"unknown cipher suite", server,
            [](TlsConfig &c) {
                c.insecure = true;
                c.cipherSuites = {"TLS_NOT_A_SUITE"};
            },
            "unknown cipher_suite: TLS_NOT_A_SUITE", ""},
        {"no common ALPN", server,
            [](TlsConfig &c) {
                c.insecure = true;
                c.alpn = {"h2"};
            },
            "remote error: tls: no application protocol", ""},
        {"unreadable certificate file", server,
            [](TlsConfig &c) { c.certificatePath = "/nonexistent/ca.pem"; },
            "read certificate: open /nonexistent/ca.pem", ""},
    };
    for (const Row &row : rows) {
        TlsConfig config;
        config.enabled = true;
        row.configure(config);
        TlsClient client(config, "127.0.0.1", {});
        const Outcome outcome = exchange(client, row.server.port(), "hello " + row.label);
        if (row.error.empty()) {
            CHECK_MSG(outcome.error.empty() && outcome.echoed == "hello " + row.label,
                row.label + ": " + outcome.error);
            CHECK_MSG(row.server.last().find(row.seen) != std::string::npos,
                row.label + ": " + row.server.last());
        } else {
            CHECK_MSG(outcome.error.find(row.error) != std::string::npos,
                row.label + ": \"" + outcome.error + "\"");
        }
    }
    ::unsetenv("QIVRO_EXTRA_CA_FILE");
}

QTEST_MAIN()
