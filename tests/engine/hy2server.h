// A Hysteria 2 server for the tests, on 127.0.0.1 (unless told) in a thread of its own:
// QUIC with datagrams, the HTTP/3 login, TCP proxy streams and UDP sessions relayed to the
// addresses the client names, optional Salamander. Written from the protocol's description, apart
// from the engine's client, so the two check each other.
#pragma once

#include "testcerts.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

namespace support {

struct Hy2ServerOptions
{
    std::string password = "correct horse";
    std::string obfsPassword; // Salamander when not empty
    bool udp = true;
    std::string address = "127.0.0.1";
};

class Hy2Server
{
public:
    Hy2Server(Hy2ServerOptions options, const CertificateSet &certificates);
    ~Hy2Server();
    std::uint16_t port() const;

    // What clients did, for the tests' checks.
    struct Counters
    {
        std::atomic<int> logins {0};
        std::atomic<int> refusedLogins {0};
        std::atomic<int> tcpStreams {0}; // proxied TCP requests, to tell which server carried one
        std::atomic<int> fragmentedPackets {0}; // reassembled from more than one datagram
    };
    const Counters &counters() const;

private:
    struct Impl;
    std::unique_ptr<Impl> m_impl;
};

} // namespace support
