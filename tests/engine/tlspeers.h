// TLS test peers on loopback: a throw-away PKI made with the openssl tool, `openssl s_server`
// runs, and a blocking driver for the engine's own TLS client.
#pragma once

#include "support.h"
#include "tls/utls/utlsstream.h"

#include <asio/io_context.hpp>
#include <memory>
#include <string>

namespace support {

// A CA and leaf certificates signed by it, in a temporary directory.
class TestPki
{
public:
    TestPki();
    // keyType: "rsa", "p256", "p384", "ed25519". Returns the directory prefix of <name>.pem/.key.
    std::string leaf(const std::string &keyType, const std::string &names = "DNS:example.test");
    // A certificate signed by nobody we trust.
    std::string selfSigned(const std::string &keyType, const std::string &names);
    const std::string &caPath() const { return m_caPath; }
    std::string caPem() const;

private:
    std::string m_dir;
    std::string m_caPath;
    int m_count = 0;
};

// `openssl s_server` on a free port; extra arguments choose versions, groups, suites ...
class SServer
{
public:
    SServer(const std::string &certificatePrefix, const std::vector<std::string> &extra,
        bool withInput = false);
    std::uint16_t port() const { return m_port; }
    bool ready() const { return m_ready; }
    bool command(const std::string &line) { return m_process->writeInput(line); }
    std::string log() const;

private:
    std::uint16_t m_port;
    std::string m_log;
    std::unique_ptr<Process> m_process;
    bool m_ready = false;
};

// Runs the engine's TLS client over a loopback TCP connection in the calling thread.
class TlsDriver
{
public:
    // Connects and shakes hands; error() tells why not.
    bool connect(std::uint16_t port, qivro::engine::utls::ClientOptions options);
    bool write(const std::string &data);
    // Reads until at least size bytes or the time runs out.
    std::string read(std::size_t size, int timeoutMs = 5000);
    const std::string &error() const { return m_error; }
    qivro::engine::utls::UtlsStream &stream() { return *m_stream; }

private:
    asio::io_context m_io;
    std::shared_ptr<qivro::engine::utls::UtlsStream> m_stream;
    std::string m_error;
};

} // namespace support
