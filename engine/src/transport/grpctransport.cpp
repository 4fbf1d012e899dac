#include "transport/grpctransport.h"

#include "transport/gunstream.h"

namespace qivro::engine {

namespace {

Http2Settings settingsOf(const TransportConfig &config)
{
    Http2Settings settings;
    settings.idleTimeoutMs = config.idleTimeoutMs;
    settings.pingTimeoutMs = config.pingTimeoutMs;
    return settings;
}

} // namespace

GrpcTransport::GrpcTransport(const TransportConfig &config, TransportContext context)
    : m_client(context, settingsOf(config))
{
    const std::string authority = context.tls && !context.tlsServerName.empty()
        ? hostPort(context.tlsServerName, context.port)
        : hostPort(context.server, context.port);
    m_headers = {{":method", "POST"}, {":scheme", "https"}, {":path", grpcPath(config.serviceName)},
        {":authority", authority}, {"content-type", "application/grpc"},
        {"user-agent", "grpc-go/1.48.0"}, {"te", "trailers"}};
}

void GrpcTransport::dial(const asio::any_io_executor &executor, StreamHandler handler)
{
    m_client.open(executor, m_headers, "v2ray-grpc: ",
        [executor, handler = std::move(handler)](
            const std::string &error, std::shared_ptr<Http2Stream> stream) {
            if (!error.empty())
                return handler(error, nullptr);
            handler({}, std::make_shared<GunStream>(executor, stream));
        });
}

} // namespace qivro::engine
