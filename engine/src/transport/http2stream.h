// The body of one HTTP/2 request and of its response, as a byte stream: writes go out as DATA,
// reads return the response body once the response head said 200.
#pragma once

#include "common/stream.h"

#include <cstdint>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

namespace qivro::engine {

class Http2Connection;

class Http2Stream
    : public Stream
    , public std::enable_shared_from_this<Http2Stream>
{
public:
    Http2Stream(std::shared_ptr<Http2Connection> connection, std::string statusPrefix);
    void setId(std::int32_t id) { m_id = id; }

    void asyncReadSome(asio::mutable_buffer buffer, IoHandler handler) override;
    void asyncWrite(asio::const_buffer buffer, IoHandler handler) override;
    // Ends the request body; the response keeps coming.
    void shutdownSend() override;
    void close() override;
    std::string errorDetail() const override { return m_detail; }

    // From the connection.
    void onHeader(const std::string &name, const std::string &value);
    void onHeadersDone();
    void onData(const std::uint8_t *data, std::size_t size);
    void onRemoteEnd();
    void onClosed(std::uint32_t errorCode, const std::string &connectionError);
    // nghttp2's data source: copies up to size bytes of the body; NGHTTP2_ERR_DEFERRED when none
    // are waiting, with the end flag set once the body is over.
    long takeUpload(std::uint8_t *out, std::size_t size, std::uint32_t *flags);

private:
    void serveRead();
    void postServe();
    void fail(const std::string &detail);
    void failUploads(const std::error_code &error);

    std::shared_ptr<Http2Connection> m_connection;
    std::string m_statusPrefix;
    std::int32_t m_id = -1;
    int m_status = 0;
    bool m_headersDone = false;
    bool m_remoteEnded = false;
    bool m_closed = false;
    bool m_streamClosed = false;
    bool m_failed = false;
    bool m_servePosted = false;
    std::string m_detail;

    std::vector<std::uint8_t> m_body;
    std::size_t m_bodyOffset = 0;
    asio::mutable_buffer m_readBuffer;
    IoHandler m_readHandler;

    std::vector<std::uint8_t> m_upload;
    std::size_t m_uploadOffset = 0;
    std::uint64_t m_uploadTaken = 0;
    std::uint64_t m_uploadQueued = 0;
    std::vector<std::tuple<IoHandler, std::size_t, std::uint64_t>> m_uploadWaiters;
    bool m_uploadEnded = false;
};

} // namespace qivro::engine
