#include "transport/http2client.h"

#include <algorithm>
#include <asio/post.hpp>

namespace qivro::engine {

Http2Client::Http2Client(TransportContext context, Http2Settings settings)
    : m_context(std::move(context))
    , m_settings(settings)
{ }

Http2Client::~Http2Client()
{
    closeAll();
}

void Http2Client::closeAll()
{
    auto pool = std::move(m_pool);
    m_pool.clear();
    for (auto &connection : pool)
        connection->close();
}

void Http2Client::open(const asio::any_io_executor &executor, Http2Connection::Headers headers,
    std::string statusPrefix, Handler handler)
{
    // Connections that take no more streams leave the pool; their open streams keep them.
    m_pool.erase(std::remove_if(m_pool.begin(), m_pool.end(),
                     [](const auto &connection) { return !connection->acceptsStreams(); }),
        m_pool.end());
    for (auto &connection : m_pool) {
        if (connection->executor() != executor)
            continue;
        if (auto stream = connection->request(headers, statusPrefix)) {
            asio::post(executor, [handler = std::move(handler), stream] { handler({}, stream); });
            return;
        }
    }
    m_context.connect(executor,
        [this, executor, headers = std::move(headers), statusPrefix = std::move(statusPrefix),
            handler = std::move(handler)](const std::string &error, std::shared_ptr<Stream> inner) {
            if (!error.empty())
                return handler(error, nullptr);
            auto connection = std::make_shared<Http2Connection>(executor, inner, m_settings);
            if (!connection->start()) {
                inner->close();
                return handler("http2: cannot start a session", nullptr);
            }
            m_pool.push_back(connection);
            auto stream = connection->request(headers, statusPrefix);
            if (!stream)
                return handler("http2: the connection refused a new stream", nullptr);
            handler({}, stream);
        });
}

} // namespace qivro::engine
