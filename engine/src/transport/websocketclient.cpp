#include "transport/websocketclient.h"

#include "common/httpparser.h"
#include "common/websocket.h"
#include "transport/responsehead.h"

#include <algorithm>
#include <asio/post.hpp>
#include <cstring>
#include <openssl/evp.h>
#include <openssl/rand.h>

namespace qivro::engine {

namespace {

constexpr int handshakeTimeoutMs = 15000;
// Payloads at least this large skip our buffer when nothing else is waiting in it.
constexpr std::uint64_t directReadThreshold = 32 * 1024;

std::string base64(const std::uint8_t *data, std::size_t size)
{
    std::string out(4 * ((size + 2) / 3) + 1, '\0');
    const int written = EVP_EncodeBlock(
        reinterpret_cast<unsigned char *>(out.data()), data, static_cast<int>(size));
    out.resize(static_cast<std::size_t>(written));
    return out;
}

// Early data goes as unpadded base64url, the form servers decode it from.
std::string base64Url(const std::string &data)
{
    std::string text = base64(reinterpret_cast<const std::uint8_t *>(data.data()), data.size());
    for (char &c : text) {
        if (c == '+')
            c = '-';
        else if (c == '/')
            c = '_';
    }
    while (!text.empty() && text.back() == '=')
        text.pop_back();
    return text;
}

bool sameName(const std::string &a, const std::string &b)
{
    return toLower(a) == toLower(b);
}

// Why a response does not complete the upgrade, "" when it does.
std::string upgradeProblem(const http::ResponseHead &head, const std::string &key)
{
    const std::string *upgrade = http::findHeader(head.headers, "Upgrade");
    const std::string *connection = http::findHeader(head.headers, "Connection");
    const std::string *accept = http::findHeader(head.headers, "Sec-WebSocket-Accept");
    if (head.status != 101)
        return "unexpected HTTP response status: " + std::to_string(head.status);
    if (head.minorVersion < 1)
        return "handshake error: bad HTTP protocol version";
    if (!upgrade || !sameName(*upgrade, "websocket"))
        return "handshake error: bad \"Upgrade\" header";
    if (!connection || !sameName(*connection, "Upgrade"))
        return "handshake error: bad \"Connection\" header";
    if (!accept || *accept != websocket::acceptKey(key))
        return "handshake error: bad \"Sec-WebSocket-Accept\" header";
    return {};
}

} // namespace

WebSocketTransport::WebSocketTransport(
    const TransportConfig &config, TransportContext context, std::string path)
    : m_context(std::move(context))
    , m_path(std::move(path))
    , m_maxEarlyData(config.maxEarlyData)
    , m_earlyDataHeader(config.earlyDataHeaderName)
{
    m_host = hostPort(m_context.server, m_context.port);
    bool hostSet = false;
    bool agentSet = false;
    for (const auto &[name, value] : config.headers) {
        if (sameName(name, "Host")) {
            if (!hostSet)
                m_host = value;
            hostSet = true;
            continue;
        }
        agentSet = agentSet || sameName(name, "User-Agent");
        m_headers.emplace_back(canonicalHeaderName(name), value);
    }
    if (!agentSet)
        m_headers.emplace_back("User-Agent", "Go-http-client/1.1");
    std::stable_sort(m_headers.begin(), m_headers.end(),
        [](const auto &a, const auto &b) { return a.first < b.first; });
}

std::string WebSocketTransport::request(const std::string &earlyData, const std::string &key) const
{
    std::string path = m_path;
    auto headers = m_headers;
    if (!earlyData.empty()) {
        const std::string encoded = base64Url(earlyData);
        if (m_earlyDataHeader.empty()) {
            path += encoded;
        } else {
            const std::string name = canonicalHeaderName(m_earlyDataHeader);
            headers.erase(std::remove_if(headers.begin(), headers.end(),
                              [&](const auto &header) { return sameName(header.first, name); }),
                headers.end());
            headers.emplace_back(name, encoded);
            std::stable_sort(headers.begin(), headers.end(),
                [](const auto &a, const auto &b) { return a.first < b.first; });
        }
    }
    std::string text = "GET " + path + " HTTP/1.1\r\nHost: " + m_host
        + "\r\nUpgrade: websocket\r\nConnection: Upgrade\r\nSec-WebSocket-Version: 13\r\n"
          "Sec-WebSocket-Key: "
        + key + "\r\n";
    for (const auto &[name, value] : headers) {
        if (sameName(name, "Sec-WebSocket-Protocol"))
            text += "Sec-WebSocket-Protocol: " + value + "\r\n";
    }
    for (const auto &[name, value] : headers) {
        if (!sameName(name, "Sec-WebSocket-Protocol"))
            text += name + ": " + value + "\r\n";
    }
    return text + "\r\n";
}

void WebSocketTransport::open(
    const asio::any_io_executor &executor, const std::string &earlyData, OpenHandler handler)
{
    std::uint8_t nonce[16];
    RAND_bytes(nonce, sizeof nonce);
    const std::string key = base64(nonce, sizeof nonce);
    m_context.connect(executor,
        [executor, key, request = request(earlyData, key), handler = std::move(handler)](
            const std::string &error, std::shared_ptr<Stream> inner) mutable {
            if (!error.empty())
                return handler(error, nullptr, {});
            exchangeHeads(executor, inner, request, handshakeTimeoutMs,
                [inner, key, handler = std::move(handler)](const std::string &error,
                    const http::ResponseHead &head, std::vector<std::uint8_t> rest) {
                    const std::string problem = error.empty() ? upgradeProblem(head, key) : error;
                    if (!problem.empty()) {
                        inner->close();
                        return handler(problem, nullptr, {});
                    }
                    handler({}, inner, std::move(rest));
                });
        });
}

void WebSocketTransport::dial(const asio::any_io_executor &executor, StreamHandler handler)
{
    if (m_maxEarlyData > 0) {
        auto stream = std::make_shared<WebSocketStream>(executor, this, m_maxEarlyData);
        asio::post(executor, [handler = std::move(handler), stream] { handler({}, stream); });
        return;
    }
    open(executor, {},
        [executor, handler = std::move(handler)](const std::string &error,
            std::shared_ptr<Stream> inner, std::vector<std::uint8_t> rest) {
            if (!error.empty())
                return handler(error, nullptr);
            handler({}, std::make_shared<WebSocketStream>(executor, inner, std::move(rest)));
        });
}

WebSocketStream::WebSocketStream(const asio::any_io_executor &executor,
    std::shared_ptr<Stream> inner, std::vector<std::uint8_t> rest)
    : m_executor(executor)
    , m_inner(std::move(inner))
    , m_out(executor)
    , m_in(16 * 1024, 256 * 1024)
{
    m_in.append(rest.data(), rest.size());
}

WebSocketStream::WebSocketStream(const asio::any_io_executor &executor,
    WebSocketTransport *transport, std::uint32_t maxEarlyData)
    : m_executor(executor)
    , m_transport(transport)
    , m_maxEarlyData(maxEarlyData)
    , m_out(executor)
    , m_in(16 * 1024, 256 * 1024)
{ }

std::string WebSocketStream::errorDetail() const
{
    if (!m_detail.empty())
        return m_detail;
    return m_inner ? m_inner->errorDetail() : std::string();
}

void WebSocketStream::asyncWrite(asio::const_buffer buffer, IoHandler handler)
{
    std::error_code error = m_error;
    if (!error && m_closed)
        error = asio::error::operation_aborted;
    if (!error && !m_inner && m_opening)
        error = asio::error::in_progress; // writes come one at a time
    if (error) {
        asio::post(m_executor, [handler = std::move(handler), error] { handler(error, 0); });
        return;
    }
    if (!m_inner)
        return openEarly(buffer, std::move(handler));
    if (buffer.size() == 0) {
        asio::post(m_executor, [handler = std::move(handler)] { handler({}, 0); });
        return;
    }
    queueFrame(websocket::Binary, static_cast<const std::uint8_t *>(buffer.data()), buffer.size());
    m_out.addWaiter(std::move(handler), buffer.size());
    m_out.flush(m_inner, shared_from_this());
}

void WebSocketStream::openEarly(asio::const_buffer buffer, IoHandler handler)
{
    m_opening = true;
    const auto *data = static_cast<const char *>(buffer.data());
    const std::size_t earlySize = std::min<std::size_t>(buffer.size(), m_maxEarlyData);
    auto late = std::make_shared<std::vector<std::uint8_t>>(data + earlySize, data + buffer.size());
    const std::size_t total = buffer.size();
    auto self = shared_from_this();
    m_transport->open(m_executor, std::string(data, earlySize),
        [self, late, total, handler = std::move(handler)](const std::string &error,
            std::shared_ptr<Stream> inner, std::vector<std::uint8_t> rest) {
            self->m_opening = false;
            if (self->m_closed) {
                if (inner)
                    inner->close();
                return handler(asio::error::operation_aborted, 0);
            }
            if (!error.empty()) {
                self->fail(std::make_error_code(std::errc::connection_refused), error);
                return handler(self->m_error, 0);
            }
            self->m_inner = std::move(inner);
            self->m_in.append(rest.data(), rest.size());
            if (late->empty()) {
                handler({}, total);
            } else {
                self->queueFrame(websocket::Binary, late->data(), late->size());
                self->m_out.addWaiter(std::move(handler), total);
                self->m_out.flush(self->m_inner, self);
            }
            if (self->m_readHandler)
                self->readStep();
        });
}

void WebSocketStream::queueFrame(std::uint8_t opcode, const std::uint8_t *data, std::size_t size)
{
    std::uint8_t mask[4];
    RAND_bytes(mask, sizeof mask);
    std::uint8_t header[14];
    const std::size_t headerSize = websocket::encodeClientFrameHeader(header, opcode, size, mask);
    std::vector<std::uint8_t> &out = m_out.pending();
    out.insert(out.end(), header, header + headerSize);
    const std::size_t at = out.size();
    out.insert(out.end(), data, data + size);
    websocket::applyMask(out.data() + at, size, mask, 0);
}

void WebSocketStream::asyncReadSome(asio::mutable_buffer buffer, IoHandler handler)
{
    if (m_error || m_closed) {
        const std::error_code error = m_error ? m_error : asio::error::operation_aborted;
        asio::post(m_executor, [handler = std::move(handler), error] { handler(error, 0); });
        return;
    }
    m_readBuffer = buffer;
    m_readHandler = std::move(handler);
    if (m_inner)
        readStep();
}

// Fills the caller's buffer with the payload of as many frames as have arrived: servers often
// send many small frames, and each read handed out costs a write downstream.
void WebSocketStream::readStep(bool innerCompleted)
{
    auto *target = static_cast<std::uint8_t *>(m_readBuffer.data());
    const std::size_t capacity = m_readBuffer.size();
    std::size_t filled = 0;
    while (m_readHandler && !m_innerReading) {
        const std::size_t room = capacity - filled;
        const bool inPayload = m_frames.payloadLeft() > 0 && m_frames.delivering();
        if (room == 0 && capacity > 0)
            return completeRead({}, filled, innerCompleted);
        if (inPayload && m_in.empty() && filled > 0)
            return completeRead({}, filled, innerCompleted);
        if (inPayload && m_in.empty() && m_frames.payloadLeft() >= directReadThreshold) {
            // A large payload goes straight into the caller's buffer.
            const std::size_t want
                = static_cast<std::size_t>(std::min<std::uint64_t>(room, m_frames.payloadLeft()));
            m_innerReading = true;
            auto self = shared_from_this();
            m_inner->asyncReadSome(
                asio::buffer(target, want), [self](const std::error_code &error, std::size_t size) {
                    self->m_innerReading = false;
                    if (error)
                        return self->readFailed(error);
                    self->m_frames.skipPayload(size);
                    self->completeRead({}, size, true);
                });
            return;
        }
        const WsFrameReader::Step step
            = m_frames.next(m_in.data(), inPayload ? std::min(m_in.size(), room) : m_in.size());
        switch (step.kind) {
        case WsFrameReader::Step::Data:
            std::memcpy(target + filled, m_in.data() + step.dataAt, step.dataSize);
            filled += step.dataSize;
            m_in.consume(step.consumed);
            break;
        case WsFrameReader::Step::Skip:
            m_in.consume(step.consumed);
            break;
        case WsFrameReader::Step::NeedMore:
            if (filled > 0)
                return completeRead({}, filled, innerCompleted);
            return readInner();
        case WsFrameReader::Step::Ping:
            m_in.consume(step.consumed);
            queueFrame(websocket::Pong, reinterpret_cast<const std::uint8_t *>(step.payload.data()),
                step.payload.size());
            m_out.flush(m_inner, shared_from_this());
            break;
        case WsFrameReader::Step::Close: {
            if (filled > 0) // the next read meets the close frame again
                return completeRead({}, filled);
            m_in.consume(step.consumed);
            const std::uint8_t code[2] = {static_cast<std::uint8_t>(step.code >> 8),
                static_cast<std::uint8_t>(step.code & 0xFF)};
            queueFrame(websocket::Close, code, step.code == 1005 ? 0 : 2);
            m_out.flush(m_inner, shared_from_this());
            if (step.code == 1000 || step.code == 1005)
                return completeRead(asio::error::eof, 0);
            return fail(std::make_error_code(std::errc::connection_reset),
                "websocket: close " + std::to_string(step.code) + " " + step.payload);
        }
        case WsFrameReader::Step::Error:
            if (filled > 0)
                return completeRead({}, filled);
            return fail(std::make_error_code(std::errc::protocol_error), step.error);
        }
    }
}

void WebSocketStream::readFailed(const std::error_code &error)
{
    if (error == asio::error::eof && m_in.empty() && m_frames.payloadLeft() == 0)
        return completeRead(asio::error::eof, 0);
    if (error == asio::error::eof)
        return fail(std::make_error_code(std::errc::connection_reset), "unexpected EOF");
    fail(error, m_inner->errorDetail());
}

void WebSocketStream::readInner()
{
    if (m_innerReading || m_closed)
        return;
    m_innerReading = true;
    auto self = shared_from_this();
    m_inner->asyncReadSome(m_in.prepare(), [self](const std::error_code &error, std::size_t size) {
        self->m_innerReading = false;
        if (error)
            return self->readFailed(error);
        self->m_in.commit(size);
        self->readStep(true);
    });
}

void WebSocketStream::completeRead(
    const std::error_code &error, std::size_t size, bool innerCompleted)
{
    if (!m_readHandler)
        return;
    auto handler = std::move(m_readHandler);
    m_readHandler = nullptr;
    // From the layer below's completion the caller's stack is gone: a post would only cost the
    // event loop another round per read.
    if (innerCompleted)
        return handler(error, size);
    asio::post(m_executor, [handler = std::move(handler), error, size] { handler(error, size); });
}

void WebSocketStream::fail(const std::error_code &error, const std::string &detail)
{
    if (!m_error) {
        m_error = error;
        m_detail = detail;
    }
    completeRead(m_error, 0);
    m_out.fail(m_error);
}

void WebSocketStream::close()
{
    if (m_closed)
        return;
    m_closed = true;
    if (m_inner)
        m_inner->close();
    completeRead(asio::error::operation_aborted, 0);
}

} // namespace qivro::engine
