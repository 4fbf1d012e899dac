// The V2Ray transports a proxy protocol runs over (ws, httpupgrade, grpc, http, quic): each turns
// connections to the server (TCP, with TLS when configured) into byte streams.
#pragma once

#include "common/stream.h"
#include "config/config.h"

#include <asio/any_io_executor.hpp>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace qivro::engine {

using StreamHandler = std::function<void(const std::string &error, std::shared_ptr<Stream>)>;
// Opens one connection to the server: TCP, then TLS when the outbound has it.
using Connector = std::function<void(const asio::any_io_executor &, StreamHandler)>;

struct TransportContext
{
    std::string server; // host as configured: a name or an IP literal
    std::uint16_t port = 0;
    bool tls = false;
    std::string tlsServerName; // the configured server_name, "" when none
    Connector connect;
};

class Transport
{
public:
    virtual ~Transport() = default;
    // The handler runs on the executor, with a stream ready for the first write.
    virtual void dial(const asio::any_io_executor &executor, StreamHandler handler) = 0;
    // Closes what is kept between dials (pooled connections).
    virtual void stop() { }
};

// The ALPN a transport needs under TLS when the configuration names none.
std::vector<std::string> transportAlpn(const std::string &type);

// nullptr with error set when the configuration cannot be used (a path that does not parse).
std::unique_ptr<Transport> createTransport(
    const TransportConfig &config, TransportContext context, std::string &error);

// "host:port" with IPv6 literals in brackets, as Go writes a server address.
std::string hostPort(const std::string &host, std::uint16_t port);
// A path as Go's URL writer sends it: kept when it is a valid escaped path, otherwise escaped
// ("?" becomes %3F); a leading "/" added. False when it holds a malformed escape.
bool requestPath(const std::string &path, std::string &out);
// Go writes header names in their canonical form: "user-agent" goes out as "User-Agent".
std::string canonicalHeaderName(std::string name);

// The gun path for a service name: /<name, escaped as one path segment>/Tun.
std::string grpcPath(const std::string &serviceName);

} // namespace qivro::engine
