#include "tlspeers.h"

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <sstream>

namespace support {

using namespace qivro::engine;
using Clock = std::chrono::steady_clock;

namespace {

// openssl req: a certificate and its key at prefix.pem and prefix.key.
void request(const std::string &prefix, const std::string &subject, const std::string &keyType,
    const std::vector<std::string> &extra)
{
    std::vector<std::string> argv = {"openssl", "req", "-x509", "-nodes", "-keyout",
        prefix + ".key", "-out", prefix + ".pem", "-days", "2", "-subj", subject};
    argv.insert(argv.end(), extra.begin(), extra.end());
    if (keyType == "rsa" || keyType == "ed25519")
        argv.insert(argv.end(), {"-newkey", keyType == "rsa" ? "rsa:2048" : "ed25519"});
    else
        argv.insert(argv.end(),
            {"-newkey", "ec", "-pkeyopt",
                std::string("ec_paramgen_curve:") + (keyType == "p384" ? "P-384" : "P-256")});
    run(argv);
}

std::string readFile(const std::string &path)
{
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

} // namespace

TestPki::TestPki()
{
    char pattern[] = "/tmp/qivro-pki-XXXXXX";
    m_dir = ::mkdtemp(pattern) ? pattern : "/tmp";
    m_caPath = m_dir + "/ca.pem";
    request(m_dir + "/ca", "/CN=qivro test CA", "p256", {});
}

std::string TestPki::leaf(const std::string &keyType, const std::string &names)
{
    const std::string prefix = m_dir + "/leaf" + std::to_string(++m_count);
    request(prefix, "/CN=qivro test leaf", keyType,
        {"-addext", "subjectAltName=" + names, "-addext", "basicConstraints=critical,CA:FALSE",
            "-CA", m_caPath, "-CAkey", m_dir + "/ca.key"});
    return prefix;
}

std::string TestPki::selfSigned(const std::string &keyType, const std::string &names)
{
    const std::string prefix = m_dir + "/self" + std::to_string(++m_count);
    request(prefix, "/CN=qivro stranger", keyType, {"-addext", "subjectAltName=" + names});
    return prefix;
}

std::string TestPki::caPem() const
{
    return readFile(m_caPath);
}

SServer::SServer(
    const std::string &certificatePrefix, const std::vector<std::string> &extra, bool withInput)
    : m_port(freeTcpPort())
    , m_log(certificatePrefix + "-sserver-" + std::to_string(m_port) + ".log")
{
    std::vector<std::string> argv
        = {"openssl", "s_server", "-accept", "127.0.0.1:" + std::to_string(m_port), "-cert",
            certificatePrefix + ".pem", "-key", certificatePrefix + ".key"};
    argv.insert(argv.end(), extra.begin(), extra.end());
    m_process = std::make_unique<Process>(argv, m_log, withInput);
    m_ready = waitForTcpPort(m_port);
}

std::string SServer::log() const
{
    return readFile(m_log);
}

bool TlsDriver::connect(std::uint16_t port, utls::ClientOptions options)
{
    asio::ip::tcp::socket socket(m_io);
    std::error_code error;
    socket.connect({asio::ip::make_address("127.0.0.1"), port}, error);
    if (error) {
        m_error = error.message();
        return false;
    }
    bool done = false;
    m_stream.reset();
    utls::UtlsStream::connect(m_io.get_executor(), std::make_shared<TcpStream>(std::move(socket)),
        std::move(options), 5000,
        [&](const std::string &failure, std::shared_ptr<utls::UtlsStream> stream) {
            done = true;
            m_error = failure;
            m_stream = std::move(stream);
        });
    m_io.restart();
    const auto deadline = Clock::now() + std::chrono::seconds(6);
    while (!done && Clock::now() < deadline)
        m_io.run_one_for(std::chrono::milliseconds(50));
    return done && m_stream;
}

bool TlsDriver::write(const std::string &data)
{
    bool done = false;
    std::error_code result;
    m_stream->asyncWrite(asio::buffer(data), [&](const std::error_code &error, std::size_t) {
        result = error;
        done = true;
    });
    m_io.restart();
    const auto deadline = Clock::now() + std::chrono::seconds(5);
    while (!done && Clock::now() < deadline)
        m_io.run_one_for(std::chrono::milliseconds(50));
    return done && !result;
}

std::string TlsDriver::read(std::size_t size, int timeoutMs)
{
    std::string received;
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    char buffer[16384];
    bool pending = false;
    bool ended = false;
    m_io.restart();
    while (received.size() < size && !ended && Clock::now() < deadline) {
        if (!pending) {
            pending = true;
            m_stream->asyncReadSome(
                asio::buffer(buffer), [&](const std::error_code &error, std::size_t got) {
                    pending = false;
                    received.append(buffer, got);
                    if (error) {
                        ended = true;
                        m_error = error.message();
                    }
                });
        }
        m_io.run_one_for(std::chrono::milliseconds(50));
    }
    if (pending) {
        // A read still outstanding must not outlive its buffer.
        m_stream->close();
        m_io.restart();
        m_io.run_for(std::chrono::milliseconds(200));
    }
    return received;
}

} // namespace support
