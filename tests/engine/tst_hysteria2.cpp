// Hysteria 2 outbounds against the test server (and a plain HTTP/3 server) on loopback: bytes
// through the mixed inbound compared end to end, login failures, framing and Salamander's
// published vector, and a lossy link in a private network namespace.
#include "enginefixture.h"
#include "hy2server.h"
#include "outbound/hysteria2protocol.h"
#include "outbound/salamander.h"
#include "outboundfactory.h"
#include "peernamespace.h"
#include "support.h"

#include <algorithm>
#include <cstdlib>
#include <sstream>
#include <thread>
#include <unistd.h>

using nlohmann::json;
using namespace qivro::engine;

namespace {

const support::CertificateSet &certificate()
{
    static const support::CertificateSet made
        = support::makeCertificates("hy2", {"hy2.test", "127.0.0.1"});
    return made;
}

json hy2Outbound(std::uint16_t port, const std::string &password, const std::string &obfs = {},
    const std::string &host = "127.0.0.1")
{
    json outbound = {{"type", "hysteria2"}, {"tag", "hy"}, {"server", host}, {"server_port", port},
        {"password", password}, {"connect_timeout", "2s"},
        {"tls",
            {{"enabled", true}, {"server_name", "hy2.test"},
                {"certificate_path", certificate().caPath}}}};
    if (!obfs.empty())
        outbound["obfs"] = {{"type", "salamander"}, {"password", obfs}};
    return outbound;
}

json engineConfig(const json &outbound)
{
    return proxyConfig(outbound, true, false);
}

// The error a first dial (or, with udp, a first packet connection) through the outbound reports.
std::string dialError(const json &outbound, bool udp = false)
{
    Config config;
    std::string error;
    if (!parseConfig(engineConfig(outbound).dump(), config, error))
        return "config: " + error;
    auto hy = createOutbound(*config.findOutbound("hy"));
    asio::io_context io;
    std::string result = "no answer";
    if (udp)
        hy->listenUdp(io.get_executor(),
            [&](const std::string &listenError, std::shared_ptr<PacketConn> conn) {
                result = conn ? "connected" : listenError;
                if (conn)
                    conn->close();
                io.stop();
            });
    else
        hy->dialTcp(io.get_executor(), makeDestination("127.0.0.1", 9),
            [&](const std::string &dialError, std::shared_ptr<Stream> stream) {
                result = stream ? "connected" : dialError;
                if (stream)
                    stream->close();
                io.stop();
            });
    io.run_for(std::chrono::seconds(8));
    hy->closeConnections();
    return result;
}

} // namespace

TEST_CASE(framing)
{
    // The answers the test server never sends: the bounds on message and padding.
    struct ResponseRow
    {
        std::vector<std::uint8_t> bytes;
        ParseStatus status;
        int code;
        std::string message;
    };
    const std::vector<ResponseRow> responses = {
        {{0x01, 0x02, 'n', 'o', 0x01, 'p'}, ParseStatus::Done, 1, "no"},
        {{0x00, 0x00}, ParseStatus::NeedMore, 0, ""},
        {{0x00, 0x48, 0x01}, ParseStatus::Invalid, 0, ""}, // message longer than 2048
        {{0x00, 0x00, 0x50, 0x01}, ParseStatus::Invalid, 0, ""}, // padding longer than 4096
    };
    for (const ResponseRow &row : responses) {
        hy2::TcpResponse response;
        std::size_t consumed = 0;
        const ParseStatus status
            = hy2::parseTcpResponse(row.bytes.data(), row.bytes.size(), response, consumed);
        CHECK(status == row.status);
        if (status == ParseStatus::Done) {
            CHECK_EQ(int(response.status), row.code);
            CHECK_EQ(response.message, row.message);
            CHECK_EQ(consumed, row.bytes.size());
        }
    }

    // A packet split to a size limit comes back whole from any order of its fragments; a
    // missing one, or one of another packet in between, loses it.
    std::vector<std::uint8_t> payload(3000);
    for (std::size_t i = 0; i < payload.size(); ++i)
        payload[i] = static_cast<std::uint8_t>(i * 31);
    auto messages = hy2::splitUdpPacket(7, 99, "[::1]:53", payload.data(), payload.size(), 1000);
    CHECK_EQ(messages.size(), 4u);
    std::vector<std::uint8_t> beyond = messages[0];
    beyond[6] = beyond[7]; // a fragment index equal to the count
    hy2::UdpMessage refused;
    CHECK(!hy2::parseUdpMessage(beyond.data(), beyond.size(), refused));
    std::reverse(messages.begin(), messages.end());
    struct DefragRow
    {
        std::vector<int> order;
        bool whole;
    };
    // In order is every fragmented row of tcpAndUdpThroughServer.
    for (const DefragRow &row : std::vector<DefragRow> {{{2, 0, 3, 1}, true}, {{0, 1, 3}, false},
             {{0, 1, 1, 2}, false}, {{0, -1, 1, 2, 3}, false}}) {
        hy2::Defragger defragger;
        std::vector<std::uint8_t> packet;
        std::string address;
        bool done = false;
        for (int index : row.order) {
            CHECK(!done);
            hy2::UdpMessage message;
            std::vector<std::uint8_t> other;
            if (index < 0) {
                other = hy2::splitUdpPacket(7, 100, "[::1]:53", payload.data(), 2000, 1000)[0];
                CHECK(hy2::parseUdpMessage(other.data(), other.size(), message));
            } else {
                CHECK(messages[index].size() <= 1000);
                CHECK(
                    hy2::parseUdpMessage(messages[index].data(), messages[index].size(), message));
                CHECK(message.sessionId == 7 && message.packetId == 99);
            }
            done = defragger.feed(message, packet, address);
        }
        CHECK_EQ(done, row.whole);
        if (row.whole)
            CHECK(packet == payload && address == "[::1]:53");
    }

    // Salamander: the published vector (the test server has its own implementation, so a
    // mistake shared by both would pass end to end); a packet of bare salt carries nothing.
    const std::uint8_t salt[8] = {0, 1, 2, 3, 4, 5, 6, 7};
    Salamander salamander("cry_me_a_r1ver");
    const auto key = salamander.key(salt);
    CHECK_EQ(support::hex(key.data(), key.size()),
        "721fae781c722360391daa6ece7b040b62e07787f64705865b4198638d0b6b7f");
    const std::string text = "hello, salamander";
    std::vector<std::uint8_t> packet(8 + text.size());
    std::copy(text.begin(), text.end(), packet.begin() + 8);
    salamander.sealWithSalt(packet.data(), packet.size(), salt);
    CHECK_EQ(support::hex(packet.data(), packet.size()),
        "00010203040506071a7ac214735e03135871cb03af15606e10");
    std::uint8_t *bare = packet.data();
    std::size_t size = 8;
    CHECK(!salamander.open(bare, size));
}

TEST_CASE(tcpAndUdpThroughServer)
{
    for (const std::string obfs : {"", "cry_me_a_r1ver"}) {
        support::Hy2ServerOptions options;
        options.obfsPassword = obfs;
        support::Hy2Server server(options, certificate());
        support::Origin origin("origin", 4 << 20), small("small", 300000);
        support::UdpEcho udpEcho;
        RunningEngine running(engineConfig(hy2Outbound(server.port(), options.password, obfs)));
        const std::string row = obfs.empty() ? "plain" : "salamander";
        carriesBlob(running.mixedPort(), origin, row);
        // Several connections at once share the one QUIC connection.
        std::vector<std::thread> parallel;
        std::atomic<int> good {0};
        for (int i = 0; i < 6; ++i)
            parallel.emplace_back([&] {
                good += socksFetch(running.mixedPort(), "127.0.0.1", small.port(), "/blob")
                    == small.blob();
            });
        for (auto &thread : parallel)
            thread.join();
        CHECK_MSG(good == 6, row + " parallel");
        CHECK_EQ(server.counters().logins.load(), 1);
        udpEchoes(running.mixedPort(), udpEcho, "ping " + row, row);
        std::string big(3000, 'x');
        for (std::size_t i = 0; i < big.size(); ++i)
            big[i] = static_cast<char>('a' + i % 26);
        udpEchoes(running.mixedPort(), udpEcho, big, row + " fragmented", 5000);
        CHECK(server.counters().fragmentedPackets >= 1);

        const auto info = support::httpCall(running.apiPort(), "GET", "/proxies/hy");
        CHECK_MSG(info.status == 200 && json::parse(info.body)["type"] == "Hysteria2"
                && json::parse(info.body)["udp"] == true,
            info.body);
    }
}

TEST_CASE(loginFailures)
{
    support::Hy2ServerOptions options;
    support::Hy2Server server(options, certificate());
    support::Hy2ServerOptions obfuscated;
    obfuscated.obfsPassword = "other secret";
    support::Hy2Server salamander(obfuscated, certificate());
    const std::uint16_t h3Port = support::freeUdpPort();
    const std::string &file = certificate().certificatePath;
    support::Process h3server({"gtlsserver", "-q", "-d", file.substr(0, file.rfind('/')),
        "127.0.0.1", std::to_string(h3Port), certificate().keyPath, file});
    // Ready once it holds the port; a loaded machine may take seconds to get there.
    for (int i = 0; i < 100 && h3server.running(); ++i) {
        asio::io_context io;
        asio::ip::udp::socket probe(io, asio::ip::udp::v4());
        std::error_code error;
        probe.bind({asio::ip::make_address("127.0.0.1"), h3Port}, error);
        if (error)
            break;
        probe.close();
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }

    json untrusted = hy2Outbound(server.port(), options.password);
    untrusted["tls"].erase("certificate_path");
    json insecure = untrusted;
    insecure["tls"]["insecure"] = true;
    json inlinePem = untrusted;
    std::istringstream pem(certificate().caPem);
    for (std::string line; std::getline(pem, line);)
        inlinePem["tls"]["certificate"].push_back(line);
    json wrongName = hy2Outbound(server.port(), options.password);
    wrongName["tls"]["server_name"] = "other.test";
    json udpOnly = hy2Outbound(server.port(), options.password);
    udpOnly["network"] = "udp";
    struct Row
    {
        std::string name;
        json outbound;
        std::string error; // expected start of the dial error
        bool extraCa = false; // QIVRO_EXTRA_CA_FILE names the test certificate
    };
    const std::vector<Row> rows = {
        {"good", hy2Outbound(server.port(), options.password), "connected"},
        {"insecure", insecure, "connected"},
        {"inline certificate", inlinePem, "connected"},
        {"extra CA file", untrusted, "connected", true},
        {"wrong server name", wrongName, "tls: handshake failed"},
        {"wrong password", hy2Outbound(server.port(), "nope"),
            "authentication failed, status code: 404"},
        {"plain HTTP/3 server", hy2Outbound(h3Port, options.password),
            "authentication failed, status code: "},
        {"untrusted certificate", untrusted, "tls: handshake failed"},
        {"salamander missing", hy2Outbound(salamander.port(), options.password),
            "quic: handshake timed out"},
        {"tcp disabled", udpOnly, "tcp is disabled"},
    };
    for (const Row &row : rows) {
        if (row.name == "plain HTTP/3 server" && !h3server.running())
            continue;
        if (row.extraCa)
            ::setenv("QIVRO_EXTRA_CA_FILE", certificate().caPath.c_str(), 1);
        const std::string error = dialError(row.outbound);
        ::unsetenv("QIVRO_EXTRA_CA_FILE");
        CHECK_MSG(error.rfind(row.error, 0) == 0, row.name + ": " + error);
    }
    CHECK(server.counters().refusedLogins >= 1);

    // UDP: allowed by the server, refused by it, or switched off in the outbound.
    support::Hy2ServerOptions noUdp;
    noUdp.udp = false;
    support::Hy2Server tcpOnlyServer(noUdp, certificate());
    json tcpOnly = hy2Outbound(server.port(), options.password);
    tcpOnly["network"] = "tcp";
    CHECK_EQ(dialError(hy2Outbound(server.port(), options.password), true), "connected");
    CHECK_EQ(dialError(hy2Outbound(tcpOnlyServer.port(), noUdp.password), true),
        "UDP disabled by server");
    CHECK_EQ(dialError(tcpOnly, true), "udp is disabled");
}

// Loss on the QUIC leg, in a network namespace of this test's own (root only): one thread moves
// there, and the server, the engine and the programs they start follow it.
TEST_CASE(lossInNamespace)
{
    std::thread([] {
        std::string why;
        if (!support::PeerNamespace::isolate(why)) {
            std::fprintf(stderr, "skipped: %s\n", why.c_str());
            return;
        }
        support::Hy2ServerOptions options;
        support::Hy2Server server(options, certificate());
        const std::string port = std::to_string(server.port());
        // netem where the kernel has it, else an nftables rule dropping the same share.
        const bool netem
            = support::run({"tc", "qdisc", "add", "dev", "lo", "root", "netem", "loss", "3%"})
                  .exitCode
            == 0;
        if (!netem) {
            const auto table = support::run({"nft",
                "add table inet loss; add chain inet loss input { "
                "type filter hook input priority 0; }; add rule "
                "inet loss input udp sport "
                    + port
                    + " numgen random mod 100 < 3 counter drop; add rule inet loss input udp dport "
                    + port + " numgen random mod 100 < 3 counter drop"});
            if (table.exitCode != 0) {
                std::fprintf(stderr, "skipped: neither netem nor nftables here\n");
                return;
            }
        }
        support::Origin origin("origin", 4 << 20);
        support::UdpEcho udpEcho;
        RunningEngine running(engineConfig(hy2Outbound(server.port(), options.password)));
        carriesBlob(running.mixedPort(), origin, "lossy");
        int answered = 0;
        for (int i = 0; i < 20; ++i)
            answered += support::socksUdpExchange(
                            running.mixedPort(), "127.0.0.1", udpEcho.port(), "ping", 1000)
                == "echo:ping";
        CHECK_MSG(answered >= 12, std::to_string(answered) + " of 20 datagrams answered");
        std::fprintf(stderr, "loss by %s\n%s\n", netem ? "netem" : "nftables",
            support::run({"nft", "list", "table", "inet", "loss"}).output.c_str());
    }).join();
}

QTEST_MAIN()
