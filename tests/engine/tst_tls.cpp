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
#include "tlspeers.h"

#include <asio/io_context.hpp>
#include <cstdlib>
#include <sstream>
#include <thread>

using namespace qivro::engine;
using support::CertificateSet;

namespace {

// What an `openssl s_server` saw of the one connection it served: "sni=... alpn=... cipher=...",
// the name read from its dump of the extension, the protocol as the client agreed it.
std::string seenBy(const support::SServer &server, const std::string &alpn)
{
    std::string log = server.log();
    for (int i = 0; i < 100 && log.find("Ciphersuite: ") == std::string::npos; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        log = server.log();
    }
    std::string name;
    const std::size_t extension = log.find("\"server name\"");
    if (extension != std::string::npos) {
        const std::size_t line = log.find('\n', extension) + 1;
        const std::string dump = log.substr(line, log.find('\n', line) - line);
        name = dump.substr(dump.rfind("  ") + 2);
        name.erase(0, name.find_first_not_of('.'));
    }
    const std::size_t cipher = log.find("Ciphersuite: ") + 13;
    return "sni=" + name + " alpn=" + alpn
        + " cipher=" + log.substr(cipher, log.find('\n', cipher) - cipher);
}

struct Outcome
{
    std::string error;
    std::string echoed;
    std::string alpn;
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
                    outcome.alpn = tls->alpn();
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

    // Each row meets an s_server of its own: the certificate set and its arguments.
    using Server = std::pair<const CertificateSet *, std::vector<std::string>>;
    const Server server {&main, {"-alpn", "http/1.1"}}, environmentServer {&fromEnvironment, {}},
        expiredServer {&expired, {}}, tls12Server {&main, {"-tls1_2"}};

    struct Row
    {
        std::string label;
        Server server;
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
        std::vector<std::string> arguments = {"-cert", row.server.first->certificatePath, "-key",
            row.server.first->keyPath, "-rev", "-tlsextdebug"};
        arguments.insert(arguments.end(), row.server.second.begin(), row.server.second.end());
        const support::SServer peer(row.server.first->certificatePath, arguments);
        const std::string line = "hello " + row.label;
        const Outcome outcome = exchange(client, peer.port(), line + "\n");
        if (row.error.empty()) {
            CHECK_MSG(outcome.error.empty()
                    && outcome.echoed == std::string(line.rbegin(), line.rend()) + "\n",
                row.label + ": " + outcome.error);
            const std::string seen = seenBy(peer, outcome.alpn);
            CHECK_MSG(seen.find(row.seen) != std::string::npos, row.label + ": " + seen);
        } else {
            CHECK_MSG(outcome.error.find(row.error) != std::string::npos,
                row.label + ": \"" + outcome.error + "\"");
        }
    }
    ::unsetenv("QIVRO_EXTRA_CA_FILE");
}

QTEST_MAIN()
