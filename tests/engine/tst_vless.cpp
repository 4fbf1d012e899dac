// VLESS through the mixed inbound against a real VLESS server (Debian's v2ray) on loopback, over
// every transport it serves; the transports it lacks through transportbridge.py in front of it.
// Also the wire formats, checked against the framing as published.
#include "common/gatheringtcpstream.h"
#include "enginefixture.h"
#include "outbound/vlessprotocol.h"
#include "support.h"
#include "testcerts.h"
#include "transport/gunreader.h"
#include "transport/transport.h"
#include "transport/wsframereader.h"

#include <asio/write.hpp>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <functional>
#include <thread>

using nlohmann::json;
using support::Origin;
using namespace qivro::engine;

namespace {

const std::string uuid = "b831381d-6324-4d53-ad4f-8cda48b30811";

std::string hex(const std::vector<std::uint8_t> &bytes)
{
    return support::hex(bytes.data(), bytes.size());
}

json vlessOutbound(std::uint16_t port, const json &extra = json::object())
{
    json outbound = {{"type", "vless"}, {"tag", "vl"}, {"server", "127.0.0.1"},
        {"server_port", port}, {"uuid", uuid}};
    outbound.update(extra);
    return outbound;
}

// A few MiB down and up through the engine, then UDP both ways with XUDP and with the plain form.
void checkCarries(const json &outbound, const Origin &origin, const support::UdpEcho &echo,
    const std::string &label)
{
    for (const json &encoding : {json(nullptr), json("")}) {
        json variant = outbound;
        if (encoding.is_string())
            variant["packet_encoding"] = encoding;
        RunningEngine running(proxyConfig(variant));
        if (encoding.is_null())
            carriesBlob(running.mixedPort(), origin, label);
        udpEchoes(running.mixedPort(), echo, "ping " + label,
            label + (encoding.is_null() ? " xudp" : " plain"), 5000);
    }
}

// A v2ray with one VLESS inbound per stream setting.
V2ray vlessServers(const std::vector<json> &streamSettings)
{
    std::vector<json> inbounds;
    for (const json &settings : streamSettings)
        inbounds.push_back({{"protocol", "vless"},
            {"settings", {{"clients", {{{"id", uuid}}}}, {"decryption", "none"}}},
            {"streamSettings", settings}});
    return V2ray(inbounds);
}

json v2rayTls(const support::CertificateSet &certificates, const std::vector<std::string> &alpn)
{
    return {{"alpn", alpn},
        {"certificates",
            {{{"certificateFile", certificates.certificatePath},
                {"keyFile", certificates.keyPath}}}}};
}

bool haveServers()
{
    if (support::haveProgram("v2ray") && support::haveProgram("curl"))
        return true;
    std::fprintf(stderr, "v2ray or curl missing: skipped\n");
    return false;
}

} // namespace

TEST_CASE(vlessWireFormat)
{
    // Every text form of a UUID gives the same bytes; other text maps to its UUIDv5 (the second
    // row is the mapping published with the VLESS server's documentation).
    const std::vector<std::pair<std::string, std::string>> ids = {
        {uuid, "b831381d63244d53ad4f8cda48b30811"},
        {"我爱🍉老师1314", "5783a3e7e37351cd8642c83782b807c5"},
        {"{B831381D-6324-4D53-AD4F-8CDA48B30811}", "b831381d63244d53ad4f8cda48b30811"},
    };
    for (const auto &[text, bytes] : ids) {
        const vless::Uuid parsed = vless::parseUuid(text);
        CHECK_MSG(hex({parsed.begin(), parsed.end()}) == bytes, text);
    }
    const vless::Uuid nil = vless::parseUuid("00000000-0000-0000-0000-000000000000");
    CHECK_MSG((nil[6] >> 4) == 5 && (nil[8] & 0xC0) == 0x80, "the nil UUID is text like any other");

    // version | uuid | addons | command | port | type | address, as the framing describes it.
    const vless::Uuid id = vless::parseUuid(uuid);
    const std::string prefix = "00b831381d63244d53ad4f8cda48b3081100";
    const std::vector<std::tuple<vless::Command, Destination, std::string>> requests = {
        {vless::CommandUdp, makeDestination("a.test", 80), prefix + "0200500206612e74657374"},
        {vless::CommandTcp, makeDestination("::1", 53),
            prefix + "01003503" + std::string(30, '0') + "01"},
    };
    for (const auto &[command, destination, expected] : requests) {
        std::vector<std::uint8_t> out;
        CHECK(vless::appendRequest(out, id, command, destination));
        CHECK_MSG(hex(out) == expected, destination.toString());
    }

    // The response header arrives in any pieces; what follows it is payload.
    for (const std::string response : {"0000", "0003aabbcc"}) {
        const std::vector<std::uint8_t> bytes = support::unhex(response + "7061796c6f6164");
        for (std::size_t split = 0; split <= bytes.size(); ++split) {
            vless::ResponseParser parser;
            std::size_t header = parser.feed(bytes.data(), split);
            if (!parser.done())
                header = split + parser.feed(bytes.data() + split, bytes.size() - split);
            CHECK_MSG(parser.done() && header == response.size() / 2, response);
        }
    }
    vless::ResponseParser wrongVersion;
    wrongVersion.feed(support::unhex("0100").data(), 2);
    CHECK(wrongVersion.failed() && wrongVersion.error() == "unknown version: 1");

    // A keep-alive with a data block, which v2ray does not send, is taken whole (its replies with
    // addresses carry every UDP row of throughV2ray; prefixes needing more is the fuzz corpus
    // replay's check).
    vless::xudp::Frame frame;
    std::size_t consumed = 0;
    const std::vector<std::uint8_t> keepAlive = support::unhex("00040000040100026869");
    CHECK(vless::xudp::parseFrame(keepAlive.data(), keepAlive.size(), frame, consumed)
            == ParseStatus::Done
        && !frame.hasAddress && frame.dataAt == 8 && frame.dataSize == 2
        && consumed == keepAlive.size());
    for (const std::string bad : {"000300000201", "0005000009010000", "ffff00000201"})
        CHECK_MSG(vless::xudp::parseFrame(
                      support::unhex(bad).data(), support::unhex(bad).size(), frame, consumed)
                == ParseStatus::Invalid,
            bad);
}

// What the readers make of whole messages; that pieces of any size give the same is the fuzz
// corpus replay's check.
TEST_CASE(transportFraming)
{
    // gun: 00 | length | 0a | varint | data; the reader takes MultiHunk's repeated field and
    // skips other fields (the bridge's gRPC sends neither).
    const std::vector<std::uint8_t> message = support::unhex("000000000d0a03616263"
                                                             "1007"
                                                             "0a04"
                                                             "64656667"
                                                             "0000000000"
                                                             "00000000050a03686969");
    std::string data;
    GunReader gun;
    for (std::size_t at = 0; at < message.size();) {
        const GunReader::Step step = gun.next(message.data() + at, message.size() - at);
        if (!CHECK_MSG(step.kind != GunReader::Step::Error && step.consumed, step.error))
            break;
        if (step.kind == GunReader::Step::Data)
            data.append(message.begin() + static_cast<long>(at),
                message.begin() + static_cast<long>(at + step.consumed));
        at += step.consumed;
    }
    CHECK_EQ(data, "abcdefghii");
    for (const std::string bad : {"01000000020a00", "0001000001", "00000000030a0561"}) {
        GunReader reader;
        const std::vector<std::uint8_t> bytes = support::unhex(bad);
        GunReader::Step step = reader.next(bytes.data(), bytes.size());
        if (step.kind == GunReader::Step::Skip)
            step = reader.next(bytes.data() + step.consumed, bytes.size() - step.consumed);
        CHECK_MSG(step.kind == GunReader::Step::Error, bad);
    }

    // ws frames from a server: a text message skipped, a fragmented binary message with a ping
    // between its parts, then a close; and three broken streams.
    const auto walk = [](const std::string &hexFrames) {
        const std::vector<std::uint8_t> frames = support::unhex(hexFrames);
        WsFrameReader reader;
        std::string trace;
        for (std::size_t at = 0; at < frames.size();) {
            const WsFrameReader::Step step = reader.next(frames.data() + at, frames.size() - at);
            if (step.kind == WsFrameReader::Step::Error)
                return trace + "<error>";
            if (step.kind == WsFrameReader::Step::NeedMore)
                return trace + "<more>";
            if (step.kind == WsFrameReader::Step::Data)
                trace.append(frames.begin() + static_cast<long>(at + step.dataAt),
                    frames.begin() + static_cast<long>(at + step.dataAt + step.dataSize));
            trace += step.kind == WsFrameReader::Step::Ping ? "<ping " + step.payload + ">" : "";
            if (step.kind == WsFrameReader::Step::Close)
                trace += "<close " + std::to_string(step.code) + ">";
            at += step.consumed;
        }
        return trace;
    };
    CHECK_EQ(walk("8103616263020368656c89017080026c6f880203e8"), "hel<ping p>lo<close 1000>");
    for (const std::string bad : {"82810000000061", "0001ff", "8201ff8201ff0001ff0101ff"})
        CHECK_MSG(walk(bad).find("<error>") != std::string::npos, bad);

    // Paths go out as Go's URL writer sends them.
    const std::vector<std::pair<std::string, std::string>> paths = {{"", "/"}, {"ws", "/ws"},
        {"/ws?ed=2048", "/ws%3Fed=2048"}, {"/a b", "/a%20b"}, {"/ä", "/%C3%A4"}, {"/a!b", "/a!b"}};
    for (const auto &[path, expected] : paths) {
        std::string out;
        CHECK_MSG(requestPath(path, out) && out == expected, path + " -> " + out);
    }
    std::string out;
    CHECK(!requestPath("/%zz", out));
    CHECK_EQ(grpcPath("my/svc"), "/my%2Fsvc/Tun");
}

// The outbound's TCP reads wait for batches once a download runs in bulk: bytes that arrive before
// the sender pauses must still come out, and so must the end of the stream.
TEST_CASE(batchedReadsHoldNothingBack)
{
    struct Row
    {
        std::string label;
        std::size_t bulk;
        std::size_t tail;
        bool closeAfter;
    };
    const std::vector<Row> rows = {
        {"bulk, then a short message and a pause", 3 << 20, 100, false},
        {"bulk, then less than a batch and the end", 3 << 20, 1000, true},
        {"bulk, then a batch but one byte", 2 << 20, GatheringTcpStream::batchBytes - 1, false},
    };
    for (const Row &row : rows) {
        asio::io_context io;
        asio::ip::tcp::acceptor acceptor(io, {asio::ip::make_address("127.0.0.1"), 0});
        asio::ip::tcp::socket writer(io);
        writer.connect(acceptor.local_endpoint());
        auto stream = std::make_shared<GatheringTcpStream>(acceptor.accept());
        std::string sent(row.bulk + row.tail, '\0');
        for (std::size_t i = 0; i < sent.size(); ++i)
            sent[i] = static_cast<char>((i * 2654435761u) >> 11);
        std::atomic<bool> done {false};
        std::thread sender([&] {
            std::error_code error;
            // Small writes, as a server writing one record at a time makes them.
            for (std::size_t at = 0; at < row.bulk && !error; at += 2048)
                asio::write(writer,
                    asio::buffer(&sent[at], std::min<std::size_t>(2048, row.bulk - at)), error);
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
            asio::write(writer, asio::buffer(&sent[row.bulk], row.tail), error);
            if (row.closeAfter)
                writer.shutdown(asio::socket_base::shutdown_send, error);
            while (!done)
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
        });
        std::string received;
        std::vector<char> buffer(256 * 1024);
        std::error_code ended;
        std::function<void()> readMore = [&] {
            stream->asyncReadSome(
                asio::buffer(buffer), [&](const std::error_code &error, std::size_t size) {
                    received.append(buffer.data(), size);
                    if (error)
                        ended = error;
                    else if (received.size() < sent.size() || row.closeAfter)
                        readMore();
                });
        };
        readMore();
        // The sender keeps its side open: a read waiting for a batch that never comes would hang.
        io.run_for(std::chrono::seconds(10));
        done = true;
        sender.join();
        CHECK_MSG(received == sent,
            row.label + ": " + std::to_string(received.size()) + " of "
                + std::to_string(sent.size()));
        CHECK_MSG(ended == (row.closeAfter ? std::error_code(asio::error::eof) : std::error_code()),
            row.label + ": " + ended.message());
    }
}

TEST_CASE(throughV2ray)
{
    if (!haveServers())
        return;
    const support::CertificateSet certificates
        = support::makeCertificates("vless", {"localhost", "127.0.0.1"});
    const json tls = v2rayTls(certificates, {"http/1.1"});
    const json tlsH2 = v2rayTls(certificates, {"h2"});
    const V2ray server = vlessServers({{{"network", "tcp"}},
        {{"network", "tcp"}, {"security", "tls"}, {"tlsSettings", tls}},
        {{"network", "ws"}, {"wsSettings", {{"path", "/ws"}}}},
        {{"network", "ws"}, {"wsSettings", {{"path", "/ws"}}}, {"security", "tls"},
            {"tlsSettings", tls}},
        {{"network", "http"}, {"httpSettings", {{"host", {"www.example.com"}}, {"path", "/h2"}}},
            {"security", "tls"}, {"tlsSettings", tlsH2}}});
    Origin origin("origin", 3 << 20);
    support::UdpEcho echo;
    const json clientTls = {
        {"enabled", true}, {"server_name", "localhost"}, {"certificate_path", certificates.caPath}};
    const std::vector<std::tuple<std::string, std::size_t, json>> rows = {
        {"tcp", 0, json::object()},
        {"tls", 1, {{"tls", clientTls}}},
        {"ws", 2, {{"transport", {{"type", "ws"}, {"path", "/ws"}}}}},
        {"ws+tls", 3, {{"tls", clientTls}, {"transport", {{"type", "ws"}, {"path", "/ws"}}}}},
        {"h2+tls", 4, {{"tls", clientTls}, {"transport", {{"type", "http"}, {"path", "/h2"}}}}},
    };
    for (const auto &[label, index, extra] : rows)
        checkCarries(vlessOutbound(server.ports[index], extra), origin, echo, label);
    // A reader with a small window, and more bytes than the engine's socket buffers: its writes
    // stop short and end later.
    const Origin large("large", 16 << 20);
    RunningEngine running(proxyConfig(vlessOutbound(server.ports[1], {{"tls", clientTls}})));
    asio::io_context io;
    asio::ip::tcp::socket socket(io);
    socket.open(asio::ip::tcp::v4());
    socket.set_option(asio::socket_base::receive_buffer_size(4096));
    socket.connect({asio::ip::make_address("127.0.0.1"), running.mixedPort()});
    const std::string body = support::socksGet(socket, "127.0.0.1", large.port(), "/blob", true);
    CHECK_MSG(support::sha256Hex(body) == support::sha256Hex(large.blob()),
        "small window: download of " + std::to_string(body.size()) + " bytes");
}

TEST_CASE(throughTestServers)
{
    if (!haveServers() || support::run({"/usr/bin/python3", "-c", "import h2"}).exitCode != 0) {
        std::fprintf(stderr, "python3-h2 missing: skipped\n");
        return;
    }
    const support::CertificateSet certificates
        = support::makeCertificates("bridge", {"localhost", "127.0.0.1"});
    const V2ray server = vlessServers({{{"network", "tcp"}}});
    Origin origin("origin", 2 << 20);
    support::UdpEcho echo;
    const std::string script = std::string(QIVRO_TEST_SOURCE_DIR) + "/transportbridge.py";
    const json tls = {
        {"enabled", true}, {"server_name", "localhost"}, {"certificate_path", certificates.caPath}};
    struct Row
    {
        std::string label;
        std::vector<std::string> bridge;
        json outbound;
    };
    const std::vector<Row> rows = {
        {"grpc h2c", {"--mode", "gun", "--service", "tun"},
            {{"transport", {{"type", "grpc"}, {"service_name", "tun"}}}}},
        {"httpupgrade", {"--mode", "httpupgrade", "--path", "/up", "--host", "up.test"},
            {{"transport", {{"type", "httpupgrade"}, {"path", "/up"}, {"host", "up.test"}}}}},
        {"ws early data in a header, Host from the headers",
            {"--mode", "wsearly", "--path", "/ws", "--early-header", "Sec-WebSocket-Protocol",
                "--host", "ws.test"},
            {{"transport",
                {{"type", "ws"}, {"path", "/ws"}, {"max_early_data", 2048},
                    {"early_data_header_name", "Sec-WebSocket-Protocol"},
                    {"headers", {{"Host", "ws.test"}}}}}}},
        {"ws early data in the path", {"--mode", "wsearly", "--path", "/ws", "--tls"},
            {{"tls", tls},
                {"transport", {{"type", "ws"}, {"path", "/ws"}, {"max_early_data", 8}}}}},
        {"http over HTTP/1.1", {"--mode", "http1", "--path", "/h1", "--host", "h1.test"},
            {{"transport", {{"type", "http"}, {"path", "/h1"}, {"host", {"h1.test"}}}}}},
    };
    for (const Row &row : rows) {
        const std::uint16_t port = support::freeTcpPort();
        std::vector<std::string> argv = {"/usr/bin/python3", script, "--listen",
            std::to_string(port), "--backend", std::to_string(server.ports[0])};
        for (const std::string &argument : row.bridge) {
            if (argument == "--tls")
                argv.insert(argv.end(),
                    {"--cert", certificates.certificatePath, "--key", certificates.keyPath});
            else
                argv.push_back(argument);
        }
        support::Process bridge(argv, support::writeTempFile("bridge.log", ""));
        CHECK_MSG(support::waitForTcpPort(port), row.label);
        checkCarries(vlessOutbound(port, row.outbound), origin, echo, row.label);
    }
}

TEST_CASE(failuresAreClearAndContained)
{
    if (!haveServers())
        return;
    const support::CertificateSet certificates = support::makeCertificates("fail", {"localhost"});
    const V2ray server = vlessServers({{{"network", "tcp"}},
        {{"network", "ws"}, {"wsSettings", {{"path", "/ws"}}}},
        {{"network", "tcp"}, {"security", "tls"}, {"tlsSettings", v2rayTls(certificates, {})}}});
    Origin origin("origin");
    const std::string url = "http://127.0.0.1:" + std::to_string(origin.port()) + "/name";
    const json trusted = {
        {"enabled", true}, {"server_name", "localhost"}, {"certificate_path", certificates.caPath}};
    const std::vector<std::tuple<std::string, json, std::string>> rows = {
        {"wrong uuid",
            vlessOutbound(server.ports[0], {{"uuid", "0f1e2d3c-4b5a-6978-8796-a5b4c3d2e1f0"}}),
            "outbound/vless[vl]: read VLESS response: EOF"},
        {"wrong ws path",
            vlessOutbound(
                server.ports[1], {{"transport", {{"type", "ws"}, {"path", "/elsewhere"}}}}),
            "open outbound connection: unexpected HTTP response status: 404"},
        {"certificate not trusted",
            vlessOutbound(
                server.ports[2], {{"tls", {{"enabled", true}, {"server_name", "localhost"}}}}),
            "open outbound connection: tls: failed to verify certificate: x509: certificate signed "
            "by unknown authority"},
        {"vision flow", vlessOutbound(server.ports[0], {{"flow", "xtls-rprx-vision"}}),
            "outbound/vless[vl]: flow xtls-rprx-vision needs tls or reality"},
        {"quic",
            vlessOutbound(server.ports[2], {{"tls", trusted}, {"transport", {{"type", "quic"}}}}),
            "transport quic is not supported by this engine build"},
        {"shadowsocks plugin",
            {{"type", "shadowsocks"}, {"tag", "vl"}, {"server", "127.0.0.1"},
                {"server_port", origin.port()}, {"method", "aes-128-gcm"}, {"password", "p"},
                {"plugin", "obfs-local"}, {"plugin_opts", "obfs=http"}},
            "outbound/shadowsocks[vl]: plugin obfs-local is not supported by this engine build"},
    };
    for (const auto &[label, outbound, line] : rows) {
        LogCapture logs;
        RunningEngine running(proxyConfig(outbound));
        const std::string proxy = "socks5h://127.0.0.1:" + std::to_string(running.mixedPort());
        CHECK_MSG(support::curl({"-x", proxy, url}).empty(), label);
        for (int i = 0; i < 50 && !logs.contains(line); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        CHECK_MSG(logs.contains(line), label + ": " + line);
    }
    // A browser-shaped hello is accepted by v2ray's TLS and carries the connection.
    RunningEngine running(proxyConfig(vlessOutbound(server.ports[2],
        {{"tls",
            {{"enabled", true}, {"server_name", "localhost"},
                {"certificate_path", certificates.caPath},
                {"utls", {{"enabled", true}, {"fingerprint", "chrome"}}}}}})));
    const std::string proxy = "socks5h://127.0.0.1:" + std::to_string(running.mixedPort());
    CHECK_EQ(support::curl({"-x", proxy, url}), "origin");
    CHECK_EQ(support::curl({"-x", proxy, url}), "origin");
}

QTEST_MAIN()
