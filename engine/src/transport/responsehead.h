// HTTP/1.1 pieces the upgrade-style transports share: reading a response head off a stream,
// and a stream that hands out the bytes read past that head before reading on.
#pragma once

#include "common/httpparser.h"
#include "common/stream.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace qivro::engine {

using ResponseHeadHandler = std::function<void(
    const std::string &error, const http::ResponseHead &head, std::vector<std::uint8_t> rest)>;

// Reads until a complete head; rest holds what followed it in the last read.
void readResponseHead(std::shared_ptr<Stream> stream, ResponseHeadHandler handler);

// Writes a request head, then reads the response head; the stream is closed when either fails
// or timeoutMs passes first.
void exchangeHeads(const asio::any_io_executor &executor, std::shared_ptr<Stream> stream,
    std::string request, int timeoutMs, ResponseHeadHandler handler);

// "404 Not Found", as Go writes a response's status.
std::string statusText(int status);

class PrefixedStream : public Stream
{
public:
    PrefixedStream(const asio::any_io_executor &executor, std::shared_ptr<Stream> inner,
        std::vector<std::uint8_t> prefix);
    void asyncReadSome(asio::mutable_buffer buffer, IoHandler handler) override;
    void asyncWrite(asio::const_buffer buffer, IoHandler handler) override;
    void shutdownSend() override;
    void close() override;
    std::string errorDetail() const override { return m_inner->errorDetail(); }

private:
    asio::any_io_executor m_executor;
    std::shared_ptr<Stream> m_inner;
    std::vector<std::uint8_t> m_prefix;
    std::size_t m_offset = 0;
};

} // namespace qivro::engine
