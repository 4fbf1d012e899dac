// A Hysteria 2 server for the tests, on 127.0.0.1 (or a given address) in a thread of its own:
// QUIC with datagrams, the HTTP/3 login, TCP proxy streams and UDP sessions relayed to the
// addresses the client names, optional Salamander. Written from the protocol's description, apart
// from the engine's client, so the two check each other.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

namespace support {

struct Hy2ServerOptions
{
    std::string listen = "127.0.0.1";
    std::string password = "correct horse";
    std::string obfsPassword; // Salamander when not empty
    bool udp = true;
    std::string receiveRate = "0"; // hysteria-cc-rx of the answer
    bool bbr = true;
};

// A self-signed certificate for hy2.test and 127.0.0.1, written to a temporary directory.
struct TestCertificate
{
    std::string certificateFile;
    std::string keyFile;
};
TestCertificate makeTestCertificate();

class Hy2Server
{
public:
    Hy2Server(Hy2ServerOptions options, const TestCertificate &certificate);
    ~Hy2Server();
    std::uint16_t port() const;

    // What clients did, for the tests' checks.
    struct Counters
    {
        std::atomic<int> logins {0};
        std::atomic<int> refusedLogins {0};
        std::atomic<int> tcpStreams {0};
        std::atomic<int> fragmentedPackets {0}; // reassembled from more than one datagram
        std::atomic<int> udpPackets {0};
    };
    const Counters &counters() const;

private:
    struct Impl;
    std::unique_ptr<Impl> m_impl;
};

} // namespace support
