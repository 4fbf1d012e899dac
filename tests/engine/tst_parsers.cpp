// The edges of the request parsers that face untrusted proxy clients, and sniffing: curl carries
// the common forms end to end (tst_engineinterop), and that a prefix of a complete SOCKS message
// needs more is checked by its fuzz corpus replay.
#include "common/httpparser.h"
#include "inbound/socksparser.h"
#include "route/sniff.h"
#include "testing.h"

#include <cstdint>
#include <string>
#include <vector>

using namespace qivro::engine;

namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes bytes(std::initializer_list<int> values)
{
    Bytes out;
    for (int v : values)
        out.push_back(static_cast<std::uint8_t>(v));
    return out;
}

Bytes operator+(Bytes a, const std::string &text)
{
    a.insert(a.end(), text.begin(), text.end());
    return a;
}

Bytes operator+(Bytes a, const Bytes &b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

const char *statusName(ParseStatus status)
{
    return status == ParseStatus::Done    ? "Done"
        : status == ParseStatus::NeedMore ? "NeedMore"
                                          : "Invalid";
}

} // namespace

TEST_CASE(socks5Requests)
{
    struct Row
    {
        const char *name;
        Bytes data;
        ParseStatus status;
        std::size_t consumed;
        int command;
        std::string destination;
    };
    const std::vector<Row> rows = {
        {"domain lower-cased", bytes({5, 1, 0, 3, 11}) + "Example.COM" + bytes({0, 80}),
            ParseStatus::Done, 18, 1, "example.com:80"},
        {"ipv6", bytes({5, 1, 0, 4, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 187}),
            ParseStatus::Done, 22, 1, "[::1]:443"},
        {"trailing payload not consumed", bytes({5, 1, 0, 1, 1, 2, 3, 4, 0, 1, 'G', 'E'}),
            ParseStatus::Done, 10, 1, "1.2.3.4:1"},
        {"empty domain", bytes({5, 1, 0, 3, 0, 0, 80}), ParseStatus::Invalid, 0, 0, ""},
        {"bad version", bytes({4, 1, 0, 1}), ParseStatus::Invalid, 0, 0, ""},
        {"bad command", bytes({5, 9, 0, 1}), ParseStatus::Invalid, 0, 0, ""},
        {"bad reserved byte", bytes({5, 1, 1, 1}), ParseStatus::Invalid, 0, 0, ""},
        {"bad address type", bytes({5, 1, 0, 2, 0, 0}), ParseStatus::Invalid, 0, 0, ""},
    };
    for (const Row &row : rows) {
        socks::Request request;
        std::size_t consumed = 0;
        const ParseStatus status
            = socks::parseRequest5(row.data.data(), row.data.size(), request, consumed);
        CHECK_MSG(status == row.status, std::string(row.name) + ": got " + statusName(status));
        if (status != ParseStatus::Done || row.status != ParseStatus::Done)
            continue;
        CHECK_EQ(consumed, row.consumed);
        CHECK_EQ(int(request.command), row.command);
        CHECK_EQ(request.destination.toString(), row.destination);
    }
}

// Credentials are proven end to end (curl with and without the right password).
TEST_CASE(socks5Greetings)
{
    socks::Greeting greeting;
    std::size_t consumed = 0;
    const Bytes hello = bytes({5, 2, 0, 2});
    CHECK(
        socks::parseGreeting(hello.data(), hello.size(), greeting, consumed) == ParseStatus::Done);
    CHECK_EQ(consumed, 4u);
    CHECK(greeting.methods == bytes({0, 2}));
    for (const Bytes &bad : {bytes({5, 0}), Bytes() + "GET / HTTP/1.1"})
        CHECK(socks::parseGreeting(bad.data(), bad.size(), greeting, consumed)
            == ParseStatus::Invalid);
}

TEST_CASE(socks4Requests)
{
    struct Row
    {
        const char *name;
        Bytes data;
        ParseStatus status;
        std::string destination;
    };
    const std::vector<Row> rows = {
        {"socks4a domain", bytes({4, 1, 1, 187, 0, 0, 0, 9, 0}) + "Host.Test" + bytes({0}),
            ParseStatus::Done, "host.test:443"},
        {"socks4a ip text", bytes({4, 1, 0, 80, 0, 0, 0, 1, 0}) + "127.0.0.1" + bytes({0}),
            ParseStatus::Done, "127.0.0.1:80"},
        {"user id too long", bytes({4, 1, 0, 80, 10, 0, 0, 1}) + std::string(300, 'u'),
            ParseStatus::Invalid, ""},
        {"empty domain", bytes({4, 1, 0, 80, 0, 0, 0, 1, 0, 0}), ParseStatus::Invalid, ""},
        {"udp command", bytes({4, 3, 0, 80, 10, 0, 0, 1, 0}), ParseStatus::Invalid, ""},
    };
    for (const Row &row : rows) {
        socks::Request4 request;
        std::size_t consumed = 0;
        const ParseStatus status
            = socks::parseRequest4(row.data.data(), row.data.size(), request, consumed);
        CHECK_MSG(status == row.status, std::string(row.name) + ": got " + statusName(status));
        if (status == ParseStatus::Done && row.status == ParseStatus::Done) {
            CHECK_EQ(request.destination.toString(), row.destination);
            CHECK_EQ(consumed, row.data.size());
        }
    }
}

TEST_CASE(socks5Datagrams)
{
    const Bytes packet = bytes({0, 0, 0, 1, 127, 0, 0, 2, 0, 53}) + "query";
    socks::Datagram datagram;
    CHECK(socks::parseDatagram(packet.data(), packet.size(), datagram));
    CHECK_EQ(datagram.destination.toString(), "127.0.0.2:53");
    CHECK_EQ(datagram.payloadOffset, 10u);
    const Bytes fragment = bytes({0, 0, 1, 1, 127, 0, 0, 2, 0, 53});
    CHECK(!socks::parseDatagram(fragment.data(), fragment.size(), datagram));
    const Bytes truncated = bytes({0, 0, 0, 3, 20, 'a'});
    CHECK(!socks::parseDatagram(truncated.data(), truncated.size(), datagram));
    Destination source = makeDestination("::1", 5353);
    CHECK(socks::datagramHeader(source)
        == bytes({0, 0, 0, 4, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 0x14, 0xE9}));
}

TEST_CASE(httpRequestHeads)
{
    struct Row
    {
        const char *name;
        std::string text;
        ParseStatus status;
        std::string destination; // proxy target, empty when none
        std::string path;
    };
    const std::vector<Row> rows = {
        {"absolute form", "GET http://Example.com:8080/a?b=1 HTTP/1.1\r\nHost: example.com\r\n\r\n",
            ParseStatus::Done, "example.com:8080", "/a?b=1"},
        {"default port, no path", "GET http://example.com HTTP/1.1\r\n\r\n", ParseStatus::Done,
            "example.com:80", "/"},
        {"connect ipv6", "CONNECT [::1]:443 HTTP/1.1\r\n\r\n", ParseStatus::Done, "[::1]:443", ""},
        {"origin form uses Host", "GET /x HTTP/1.1\r\nHost: h.test:81\r\n\r\n", ParseStatus::Done,
            "h.test:81", "/x"},
        {"incomplete head", "GET http://a.test/ HTTP/1.1\r\nHost: a", ParseStatus::NeedMore, "",
            ""},
        {"not http", "\x16\x03\x01\x02", ParseStatus::Invalid, "", ""},
        {"bad version", "GET / HTTP/2.0\r\n\r\n", ParseStatus::Invalid, "", ""},
        {"space in target", "GET /a b HTTP/1.1\r\n\r\n", ParseStatus::Invalid, "", ""},
        {"header without colon", "GET / HTTP/1.1\r\nbroken\r\n\r\n", ParseStatus::Invalid, "", ""},
        {"space before colon", "GET / HTTP/1.1\r\nHost : x\r\n\r\n", ParseStatus::Invalid, "", ""},
        {"oversized head", "GET / HTTP/1.1\r\nX: " + std::string(70000, 'a'), ParseStatus::Invalid,
            "", ""},
    };
    for (const Row &row : rows) {
        http::RequestHead head;
        std::size_t consumed = 0;
        const ParseStatus status
            = http::parseRequestHead(row.text.data(), row.text.size(), head, consumed);
        CHECK_MSG(status == row.status, std::string(row.name) + ": got " + statusName(status));
        if (status != ParseStatus::Done || row.status != ParseStatus::Done)
            continue;
        CHECK_EQ(consumed, row.text.size());
        Destination destination;
        std::string path;
        CHECK_MSG(http::proxyTarget(head, destination, path), row.name);
        CHECK_EQ(destination.toString(), row.destination);
        CHECK_EQ(path, row.path);
    }
    http::RequestHead head;
    std::size_t consumed = 0;
    const std::string relative = "GET /x HTTP/1.1\r\n\r\n";
    CHECK(http::parseRequestHead(relative.data(), relative.size(), head, consumed)
        == ParseStatus::Done);
    Destination destination;
    std::string path;
    CHECK(!http::proxyTarget(head, destination, path));
}

TEST_CASE(httpForwardingHead)
{
    const std::string text
        = "POST http://a.test/p HTTP/1.1\r\nHost: a.test\r\nProxy-Connection: keep-alive\r\n"
          "Proxy-Authorization: Basic eDp5\r\nContent-Length: 3\r\n\r\n";
    http::RequestHead head;
    std::size_t consumed = 0;
    CHECK(http::parseRequestHead(text.data(), text.size(), head, consumed) == ParseStatus::Done);
    CHECK_EQ(http::rewriteForOrigin(head, "/p"),
        "POST /p HTTP/1.1\r\nHost: a.test\r\nContent-Length: 3\r\n\r\n");
    CHECK(http::requestFraming(head).kind == http::Framing::Length);
    CHECK_EQ(http::requestFraming(head).length, 3u);
    CHECK(http::keepAlive(head.minorVersion, head.headers));
}

TEST_CASE(httpBodyFraming)
{
    struct Row
    {
        const char *name;
        std::string response;
        std::string method;
        http::Framing framing;
        std::uint64_t length;
    };
    const std::vector<Row> rows = {
        {"length", "HTTP/1.1 200 OK\r\nContent-Length: 12\r\n\r\n", "GET", http::Framing::Length,
            12},
        {"chunked", "HTTP/1.1 200 OK\r\nTransfer-Encoding: gzip, chunked\r\n\r\n", "GET",
            http::Framing::Chunked, 0},
        {"until close", "HTTP/1.0 200 OK\r\n\r\n", "GET", http::Framing::UntilClose, 0},
        {"head has no body", "HTTP/1.1 200 OK\r\nContent-Length: 12\r\n\r\n", "HEAD",
            http::Framing::None, 0},
        {"204 has no body", "HTTP/1.1 204 No Content\r\n\r\n", "GET", http::Framing::None, 0},
        {"conflicting lengths", "HTTP/1.1 200 OK\r\nContent-Length: 1\r\nContent-Length: 2\r\n\r\n",
            "GET", http::Framing::Invalid, 0},
        {"length and chunked",
            "HTTP/1.1 200 OK\r\nContent-Length: 1\r\nTransfer-Encoding: chunked\r\n\r\n", "GET",
            http::Framing::Invalid, 0},
        {"negative length", "HTTP/1.1 200 OK\r\nContent-Length: -1\r\n\r\n", "GET",
            http::Framing::Invalid, 0},
    };
    for (const Row &row : rows) {
        http::ResponseHead head;
        std::size_t consumed = 0;
        CHECK_MSG(http::parseResponseHead(row.response.data(), row.response.size(), head, consumed)
                == ParseStatus::Done,
            row.name);
        const http::BodyFraming framing = http::responseFraming(head, row.method);
        CHECK_MSG(framing.kind == row.framing, row.name);
        CHECK_EQ(framing.length, row.length);
    }
}

TEST_CASE(chunkedScanner)
{
    const std::string body = "5;ext=1\r\nhello\r\n0A\r\n0123456789\r\n0\r\nTrailer: x\r\n\r\n";
    const std::string next = "GET / HTTP/1.1\r\n";
    const std::string stream = body + next;
    // Fed byte by byte and in one piece, the end is found at the same place.
    http::ChunkedScanner whole;
    CHECK_EQ(whole.feed(stream.data(), stream.size()), body.size());
    CHECK(whole.done());
    http::ChunkedScanner bytewise;
    std::size_t taken = 0;
    for (char c : stream) {
        if (bytewise.done())
            break;
        taken += bytewise.feed(&c, 1);
    }
    CHECK(bytewise.done());
    CHECK_EQ(taken, body.size());
    for (const std::string bad : {"x\r\n", "5\r\nhelloXX", "5\n", "fffffffffffffffff\r\n"}) {
        http::ChunkedScanner scanner;
        scanner.feed(bad.data(), bad.size());
        CHECK_MSG(scanner.invalid(), bad);
    }
}

TEST_CASE(sniffing)
{
    // A ClientHello for "Sniff.Example" (record header, handshake header, version, random,
    // session id, cipher suites, compression, then the server_name extension).
    const std::string name = "Sniff.Example";
    Bytes sni = bytes({0, 0}) + bytes({0, static_cast<int>(name.size() + 5)})
        + bytes({0, static_cast<int>(name.size() + 3), 0, 0, static_cast<int>(name.size())}) + name;
    Bytes hello = bytes({3, 3}) + Bytes(32, 7) + bytes({0, 0, 2, 0x13, 1, 1, 0})
        + bytes({0, static_cast<int>(sni.size())}) + sni;
    Bytes handshake = bytes({1, 0, 0, static_cast<int>(hello.size())}) + hello;
    Bytes record = bytes({0x16, 3, 1, 0, static_cast<int>(handshake.size())}) + handshake;
    std::string found;
    CHECK(sniff::tlsServerName(record.data(), record.size(), found) == sniff::Result::Found);
    CHECK_EQ(found, "sniff.example");
    CHECK(sniff::tlsServerName(record.data(), 20, found) == sniff::Result::NeedMore);
    const Bytes plain = Bytes() + "GET / HTTP/1.1\r\nHost: Web.Test:8080\r\n\r\n";
    CHECK(sniff::tlsServerName(plain.data(), plain.size(), found) == sniff::Result::NotThis);
    CHECK(sniff::httpHost(plain.data(), plain.size(), found) == sniff::Result::Found);
    CHECK_EQ(found, "web.test");
    CHECK(sniff::httpHost(plain.data(), 10, found) == sniff::Result::NeedMore);

    const Bytes query = bytes({0x12, 0x34, 1, 0, 0, 1, 0, 0, 0, 0, 0, 0, 1, 'a', 4}) + "test"
        + bytes({0, 0, 1, 0, 1});
    CHECK(sniff::isDnsQuery(query.data(), query.size()));
    Bytes response = query;
    response[2] |= 0x80;
    CHECK(!sniff::isDnsQuery(response.data(), response.size()));
    CHECK(!sniff::isDnsQuery(query.data(), query.size() - 3));
}

QTEST_MAIN()
