// The grpc transport as a gun client: POST /<service>/Tun on a shared HTTP/2 connection, h2 over
// TLS or prior-knowledge h2c without it.
#pragma once

#include "transport/http2client.h"
#include "transport/transport.h"

namespace qivro::engine {

class GrpcTransport : public Transport
{
public:
    GrpcTransport(const TransportConfig &config, TransportContext context);
    void dial(const asio::any_io_executor &executor, StreamHandler handler) override;
    void stop() override { m_client.closeAll(); }

private:
    Http2Client m_client;
    Http2Connection::Headers m_headers;
};

} // namespace qivro::engine
