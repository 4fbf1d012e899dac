#include "common/httpparser.h"

#include <algorithm>
#include <cctype>
#include <cstring>

namespace qivro::engine::http {

namespace {

bool isTokenChar(unsigned char c)
{
    return std::isalnum(c) || std::strchr("!#$%&'*+-.^_`|~", c) != nullptr;
}

bool equalsNoCase(const std::string &a, const std::string &b)
{
    return a.size() == b.size()
        && std::equal(a.begin(), a.end(), b.begin(),
            [](unsigned char x, unsigned char y) { return std::tolower(x) == std::tolower(y); });
}

std::string trim(const std::string &text)
{
    const std::size_t begin = text.find_first_not_of(" \t");
    if (begin == std::string::npos)
        return {};
    const std::size_t end = text.find_last_not_of(" \t");
    return text.substr(begin, end - begin + 1);
}

// Finds the end of the head; npos while incomplete.
std::size_t headEnd(const char *data, std::size_t size)
{
    for (std::size_t i = 0; i + 3 < size; ++i) {
        if (data[i] == '\r' && data[i + 1] == '\n' && data[i + 2] == '\r' && data[i + 3] == '\n')
            return i + 4;
    }
    return std::string::npos;
}

bool parseVersion(const std::string &text, int &minor)
{
    if (text.size() != 8 || text.compare(0, 7, "HTTP/1.") != 0
        || !std::isdigit(static_cast<unsigned char>(text[7])))
        return false;
    minor = text[7] - '0';
    return minor <= 1;
}

bool parseHeaderLines(const std::string &block, Headers &headers)
{
    std::size_t position = 0;
    while (position < block.size()) {
        std::size_t end = block.find("\r\n", position);
        if (end == std::string::npos)
            end = block.size();
        const std::string line = block.substr(position, end - position);
        position = end + 2;
        if (line.empty())
            continue;
        const std::size_t colon = line.find(':');
        if (colon == std::string::npos || colon == 0)
            return false;
        const std::string name = line.substr(0, colon);
        if (!std::all_of(name.begin(), name.end(), [](unsigned char c) { return isTokenChar(c); }))
            return false;
        const std::string value = trim(line.substr(colon + 1));
        if (std::any_of(value.begin(), value.end(),
                [](unsigned char c) { return c == '\r' || c == '\n' || c == 0; }))
            return false;
        headers.emplace_back(name, value);
    }
    return true;
}

ParseStatus limitOrMore(std::size_t size)
{
    return size > maxHeadSize ? ParseStatus::Invalid : ParseStatus::NeedMore;
}

bool parseLength(const std::string &text, std::uint64_t &value)
{
    if (text.empty() || text.size() > 18
        || !std::all_of(text.begin(), text.end(), [](unsigned char c) { return std::isdigit(c); }))
        return false;
    value = std::stoull(text);
    return true;
}

} // namespace

ParseStatus parseRequestHead(
    const char *data, std::size_t size, RequestHead &out, std::size_t &consumed)
{
    // Reject early what cannot be a request, so garbage does not wait for 64 KiB.
    for (std::size_t i = 0; i < size && data[i] != ' '; ++i) {
        if (!isTokenChar(static_cast<unsigned char>(data[i])) || i > 32)
            return ParseStatus::Invalid;
    }
    const std::size_t end = headEnd(data, std::min(size, maxHeadSize + 4));
    if (end == std::string::npos)
        return limitOrMore(size);
    const std::string head(data, end - 4);
    const std::size_t lineEnd = head.find("\r\n");
    const std::string line = head.substr(0, lineEnd);
    const std::size_t first = line.find(' ');
    const std::size_t second = first == std::string::npos ? first : line.find(' ', first + 1);
    if (first == std::string::npos || second == std::string::npos || first == 0
        || second == first + 1 || line.find(' ', second + 1) != std::string::npos)
        return ParseStatus::Invalid;
    RequestHead request;
    request.method = line.substr(0, first);
    request.target = line.substr(first + 1, second - first - 1);
    if (!parseVersion(line.substr(second + 1), request.minorVersion))
        return ParseStatus::Invalid;
    if (std::any_of(request.target.begin(), request.target.end(),
            [](unsigned char c) { return c <= 0x20 || c == 0x7F; }))
        return ParseStatus::Invalid;
    if (lineEnd != std::string::npos
        && !parseHeaderLines(head.substr(lineEnd + 2), request.headers))
        return ParseStatus::Invalid;
    out = std::move(request);
    consumed = end;
    return ParseStatus::Done;
}

ParseStatus parseResponseHead(
    const char *data, std::size_t size, ResponseHead &out, std::size_t &consumed)
{
    if (size >= 5 && std::memcmp(data, "HTTP/", 5) != 0)
        return ParseStatus::Invalid;
    const std::size_t end = headEnd(data, std::min(size, maxHeadSize + 4));
    if (end == std::string::npos)
        return limitOrMore(size);
    const std::string head(data, end - 4);
    const std::size_t lineEnd = head.find("\r\n");
    const std::string line = head.substr(0, lineEnd);
    ResponseHead response;
    if (line.size() < 12 || line[8] != ' '
        || !parseVersion(line.substr(0, 8), response.minorVersion))
        return ParseStatus::Invalid;
    const std::string code = line.substr(9, 3);
    if (!std::all_of(code.begin(), code.end(), [](unsigned char c) { return std::isdigit(c); })
        || (line.size() > 12 && line[12] != ' '))
        return ParseStatus::Invalid;
    response.status = std::stoi(code);
    if (lineEnd != std::string::npos
        && !parseHeaderLines(head.substr(lineEnd + 2), response.headers))
        return ParseStatus::Invalid;
    out = std::move(response);
    consumed = end;
    return ParseStatus::Done;
}

const std::string *findHeader(const Headers &headers, const std::string &name)
{
    for (const auto &[key, value] : headers) {
        if (equalsNoCase(key, name))
            return &value;
    }
    return nullptr;
}

bool headerHasToken(const Headers &headers, const std::string &name, const std::string &token)
{
    for (const auto &[key, value] : headers) {
        if (!equalsNoCase(key, name))
            continue;
        std::size_t position = 0;
        while (position <= value.size()) {
            std::size_t comma = value.find(',', position);
            if (comma == std::string::npos)
                comma = value.size();
            if (equalsNoCase(trim(value.substr(position, comma - position)), token))
                return true;
            position = comma + 1;
        }
    }
    return false;
}

namespace {

BodyFraming framingFromHeaders(const Headers &headers, bool untilCloseDefault)
{
    BodyFraming framing;
    bool haveLength = false;
    bool chunked = false;
    for (const auto &[key, value] : headers) {
        if (equalsNoCase(key, "Transfer-Encoding")) {
            const std::size_t comma = value.rfind(',');
            const std::string last
                = trim(comma == std::string::npos ? value : value.substr(comma + 1));
            if (!equalsNoCase(last, "chunked"))
                return {Framing::Invalid, 0};
            chunked = true;
        } else if (equalsNoCase(key, "Content-Length")) {
            std::uint64_t length = 0;
            if (!parseLength(value, length) || (haveLength && length != framing.length))
                return {Framing::Invalid, 0};
            haveLength = true;
            framing.length = length;
        }
    }
    if (chunked && haveLength)
        return {Framing::Invalid, 0};
    if (chunked)
        return {Framing::Chunked, 0};
    if (haveLength)
        return {framing.length ? Framing::Length : Framing::None, framing.length};
    return {untilCloseDefault ? Framing::UntilClose : Framing::None, 0};
}

} // namespace

BodyFraming requestFraming(const RequestHead &head)
{
    return framingFromHeaders(head.headers, false);
}

BodyFraming responseFraming(const ResponseHead &head, const std::string &requestMethod)
{
    if (requestMethod == "HEAD" || (head.status >= 100 && head.status < 200) || head.status == 204
        || head.status == 304)
        return {Framing::None, 0};
    return framingFromHeaders(head.headers, true);
}

bool keepAlive(int minorVersion, const Headers &headers)
{
    if (headerHasToken(headers, "Connection", "close"))
        return false;
    if (minorVersion == 0)
        return headerHasToken(headers, "Connection", "keep-alive");
    return true;
}

std::size_t ChunkedScanner::feed(const char *data, std::size_t size)
{
    std::size_t i = 0;
    while (i < size && m_state != State::Done && m_state != State::Invalid) {
        const char c = data[i];
        switch (m_state) {
        case State::Size:
            if (std::isxdigit(static_cast<unsigned char>(c))) {
                if (++m_digits > 15) {
                    m_state = State::Invalid;
                    break;
                }
                const int digit = std::isdigit(static_cast<unsigned char>(c))
                    ? c - '0'
                    : std::tolower(static_cast<unsigned char>(c)) - 'a' + 10;
                m_remaining = m_remaining * 16 + static_cast<std::uint64_t>(digit);
            } else if (m_digits > 0 && (c == ';' || c == ' ' || c == '\t')) {
                m_state = State::Extension;
            } else if (m_digits > 0 && c == '\r') {
                m_state = State::SizeLf;
            } else {
                m_state = State::Invalid;
            }
            ++i;
            break;
        case State::Extension:
            if (c == '\r')
                m_state = State::SizeLf;
            else if (c == '\n')
                m_state = State::Invalid;
            ++i;
            break;
        case State::SizeLf:
            if (c != '\n') {
                m_state = State::Invalid;
                break;
            }
            ++i;
            m_digits = 0;
            m_trailerLineLength = 0;
            m_state = m_remaining == 0 ? State::Trailer : State::Data;
            break;
        case State::Data: {
            const std::size_t take
                = static_cast<std::size_t>(std::min<std::uint64_t>(m_remaining, size - i));
            i += take;
            m_remaining -= take;
            if (m_remaining == 0)
                m_state = State::DataCr;
            break;
        }
        case State::DataCr:
            m_state = c == '\r' ? State::DataLf : State::Invalid;
            ++i;
            break;
        case State::DataLf:
            m_state = c == '\n' ? State::Size : State::Invalid;
            ++i;
            break;
        case State::Trailer:
            if (c == '\r') {
                m_state = State::TrailerLf;
            } else if (++m_trailerLineLength > maxHeadSize) {
                m_state = State::Invalid;
            }
            ++i;
            break;
        case State::TrailerLf:
            if (c != '\n') {
                m_state = State::Invalid;
                break;
            }
            ++i;
            m_state = m_trailerLineLength == 0 ? State::Done : State::Trailer;
            m_trailerLineLength = 0;
            break;
        case State::Done:
        case State::Invalid:
            break;
        }
    }
    return i;
}

bool proxyTarget(const RequestHead &head, Destination &destination, std::string &path)
{
    std::string host;
    std::uint16_t port = 80;
    if (head.method == "CONNECT") {
        if (!splitHostPort(head.target, host, port) || host.empty())
            return false;
        destination = makeDestination(host, port);
        return true;
    }
    std::string authority;
    const std::string scheme = "http://";
    if (head.target.size() > scheme.size()
        && equalsNoCase(head.target.substr(0, scheme.size()), scheme)) {
        const std::size_t slash = head.target.find_first_of("/?#", scheme.size());
        authority = head.target.substr(
            scheme.size(), slash == std::string::npos ? std::string::npos : slash - scheme.size());
        path = slash == std::string::npos ? "/" : head.target.substr(slash);
        if (!path.empty() && path[0] != '/')
            path = "/" + path;
    } else if (!head.target.empty() && head.target[0] == '/') {
        const std::string *hostHeader = findHeader(head.headers, "Host");
        if (!hostHeader)
            return false;
        authority = *hostHeader;
        path = head.target;
    } else {
        return false;
    }
    const std::size_t at = authority.rfind('@');
    if (at != std::string::npos)
        authority = authority.substr(at + 1);
    if (!splitHostPort(authority, host, port)) {
        host = authority;
        port = 80;
        if (host.size() >= 2 && host.front() == '[' && host.back() == ']')
            host = host.substr(1, host.size() - 2);
    }
    if (host.empty() || host.find_first_of(" /\\") != std::string::npos)
        return false;
    destination = makeDestination(host, port);
    return true;
}

std::string rewriteForOrigin(const RequestHead &head, const std::string &path)
{
    std::string out
        = head.method + " " + path + " HTTP/1." + std::to_string(head.minorVersion) + "\r\n";
    for (const auto &[key, value] : head.headers) {
        if (key.size() >= 6 && equalsNoCase(key.substr(0, 6), "Proxy-"))
            continue;
        out += key + ": " + value + "\r\n";
    }
    out += "\r\n";
    return out;
}

std::string percentDecode(const std::string &text, bool &ok)
{
    ok = true;
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '%') {
            out += text[i];
            continue;
        }
        if (i + 2 >= text.size() || !std::isxdigit(static_cast<unsigned char>(text[i + 1]))
            || !std::isxdigit(static_cast<unsigned char>(text[i + 2]))) {
            ok = false;
            return {};
        }
        out += static_cast<char>(std::stoi(text.substr(i + 1, 2), nullptr, 16));
        i += 2;
    }
    return out;
}

} // namespace qivro::engine::http
