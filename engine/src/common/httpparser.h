// HTTP/1.x message heads and body framing for the proxy inbound and the control API.
#pragma once

#include "common/address.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace qivro::engine::http {

constexpr std::size_t maxHeadSize = 64 * 1024;

using Headers = std::vector<std::pair<std::string, std::string>>;

struct RequestHead
{
    std::string method;
    std::string target;
    int minorVersion = 1;
    Headers headers;
};

struct ResponseHead
{
    int minorVersion = 1;
    int status = 0;
    Headers headers;
};

// Parses a head terminated by an empty line; consumed covers the terminator.
ParseStatus parseRequestHead(
    const char *data, std::size_t size, RequestHead &out, std::size_t &consumed);
ParseStatus parseResponseHead(
    const char *data, std::size_t size, ResponseHead &out, std::size_t &consumed);

// Case-insensitive; nullptr when absent.
const std::string *findHeader(const Headers &headers, const std::string &name);
// True when the comma-separated header value lists token (case-insensitive).
bool headerHasToken(const Headers &headers, const std::string &name, const std::string &token);

enum class Framing
{
    None,
    Length,
    Chunked,
    UntilClose,
    Invalid
};
struct BodyFraming
{
    Framing kind = Framing::None;
    std::uint64_t length = 0;
};
BodyFraming requestFraming(const RequestHead &head);
BodyFraming responseFraming(const ResponseHead &head, const std::string &requestMethod);
bool keepAlive(int minorVersion, const Headers &headers);

// Finds where a chunked body ends, without changing the bytes (they are forwarded as they are).
class ChunkedScanner
{
public:
    // Returns how many of the bytes belong to the body; done() once the last chunk and the
    // trailer have been seen. Sets invalid() on malformed framing.
    std::size_t feed(const char *data, std::size_t size);
    bool done() const { return m_state == State::Done; }
    bool invalid() const { return m_state == State::Invalid; }

private:
    enum class State
    {
        Size,
        Extension,
        SizeLf,
        Data,
        DataCr,
        DataLf,
        Trailer,
        TrailerLf,
        Done,
        Invalid
    };
    State m_state = State::Size;
    std::uint64_t m_remaining = 0;
    int m_digits = 0;
    std::size_t m_trailerLineLength = 0;
};

// The destination of a proxy request: CONNECT authority, absolute URI, or the Host header.
// path receives the origin-form target for forwarding.
bool proxyTarget(const RequestHead &head, Destination &destination, std::string &path);
// Head for the origin: origin-form target, without the Proxy-* headers.
std::string rewriteForOrigin(const RequestHead &head, const std::string &path);

std::string percentDecode(const std::string &text, bool &ok);

} // namespace qivro::engine::http
