// The TUN inbound. Through a stand-in device what only time or a forwarded packet would show (NAT
// ports, session expiry, dropped garbage, offload headers, the fake-address pool); then, as root in
// network namespaces the test makes itself, the real device with auto_route against an origin at
// 198.18.1.10 behind a veth pair: TCP and UDP byte for byte in both families, many connections,
// FIN and reset, fake-address DNS, echo requests, and the rules before and after a crash.
#include "dns/message.h"
#include "enginefixture.h"
#include "inbound/tun/systemstack.h"
#include "peernamespace.h"
#include "route/dnsrouter.h"

#include <asio/read.hpp>
#include <asio/read_until.hpp>
#include <asio/write.hpp>
#include <csignal>
#include <cstring>
#include <fstream>
#include <netinet/in.h>
#include <poll.h>
#include <sstream>
#include <sys/resource.h>
#include <sys/socket.h>
#include <thread>

using namespace qivro::engine;
using namespace qivro::engine::tun;
using asio::ip::tcp;
using asio::ip::udp;
using nlohmann::json;

namespace {

bool g_namespace = false;
std::string g_engineBinary;
std::string g_peerBinary;
constexpr int originPort = 7000; // echo; +1 resets; +2 reports; +3 sends a count of bytes
const char *const origin = "198.18.1.10";

// Device writes, as the kernel would read them.
class StandIn : public PacketDevice
{
public:
    void asyncWait(WaitHandler) override { }
    std::size_t read(std::uint8_t *, std::size_t, std::error_code &) override { return 0; }
    void write(const std::uint8_t *packet, std::size_t size) override
    {
        written.emplace_back(packet, packet + size);
    }
    void close() override { }
    std::vector<std::vector<std::uint8_t>> written;
};

struct RecordingHandler : StackHandler
{
    struct Session : UdpSession
    {
        std::vector<std::string> *sent;
        void send(const std::uint8_t *payload, std::size_t size) override
        {
            sent->emplace_back(payload, payload + size);
        }
    };
    std::shared_ptr<UdpSession> openUdp(
        const Flow &flow, const std::uint8_t *payload, std::size_t size) override
    {
        ++opened;
        auto session = std::make_shared<Session>();
        session->sent = &sent;
        sent.emplace_back(payload, payload + size);
        last = flow;
        return session;
    }
    int opened = 0;
    Flow last;
    std::vector<std::string> sent;
};

std::uint32_t sum16(const std::uint8_t *data, std::size_t size)
{
    std::uint32_t sum = 0;
    for (std::size_t i = 0; i < size; ++i)
        sum += i % 2 ? data[i] : data[i] << 8;
    return sum;
}

std::uint16_t folded(std::uint32_t sum)
{
    while (sum >> 16)
        sum = (sum & 0xFFFF) + (sum >> 16);
    return static_cast<std::uint16_t>(~sum);
}

// Recomputed from scratch: the IPv4 header sum and the transport sum over its pseudo-header.
bool checksumsRight(const std::vector<std::uint8_t> &packet)
{
    const bool v6 = packet[0] >> 4 == 6;
    const std::size_t header = v6 ? 40 : (packet[0] & 0xF) * 4u;
    if (!v6 && folded(sum16(packet.data(), header)) != 0)
        return false;
    const std::size_t length = packet.size() - header;
    const std::uint8_t protocol = v6 ? packet[6] : packet[9];
    std::uint32_t sum = sum16(packet.data() + header, length);
    if (protocol != protoIcmp) {
        sum += sum16(packet.data() + (v6 ? 8 : 12), v6 ? 32 : 8) + protocol
            + static_cast<std::uint32_t>(length);
    }
    return folded(sum) == 0;
}

Flow flowOf(const char *src, std::uint16_t sport, const char *dst, std::uint16_t dport)
{
    return {IpBytes::from(asio::ip::make_address(src)), IpBytes::from(asio::ip::make_address(dst)),
        sport, dport};
}

// A TCP (or, with icmp, an echo request) packet as an application would send it.
std::vector<std::uint8_t> tcpPacket(const Flow &flow, std::uint8_t flags, const std::string &data)
{
    const bool v6 = flow.src.v6;
    const std::size_t header = v6 ? 40 : 20;
    std::vector<std::uint8_t> packet(header + 20 + data.size(), 0);
    const std::size_t total = packet.size();
    if (v6) {
        packet[0] = 0x60;
        packet[4] = static_cast<std::uint8_t>((total - 40) >> 8);
        packet[5] = static_cast<std::uint8_t>(total - 40);
        packet[6] = protoTcp;
        packet[7] = 64;
    } else {
        packet[0] = 0x45;
        packet[2] = static_cast<std::uint8_t>(total >> 8);
        packet[3] = static_cast<std::uint8_t>(total);
        packet[8] = 64;
        packet[9] = protoTcp;
    }
    std::memcpy(packet.data() + (v6 ? 8 : 12), flow.src.bytes.data(), flow.src.size());
    std::memcpy(packet.data() + (v6 ? 24 : 16), flow.dst.bytes.data(), flow.dst.size());
    std::uint8_t *tcp = packet.data() + header;
    tcp[0] = static_cast<std::uint8_t>(flow.sport >> 8);
    tcp[1] = static_cast<std::uint8_t>(flow.sport);
    tcp[2] = static_cast<std::uint8_t>(flow.dport >> 8);
    tcp[3] = static_cast<std::uint8_t>(flow.dport);
    tcp[12] = 5 << 4;
    tcp[13] = flags;
    std::memcpy(tcp + 20, data.data(), data.size());
    if (!v6) {
        const std::uint16_t check = folded(sum16(packet.data(), 20));
        packet[10] = static_cast<std::uint8_t>(check >> 8);
        packet[11] = static_cast<std::uint8_t>(check);
    }
    const std::uint16_t check
        = folded(sum16(tcp, 20 + data.size()) + sum16(packet.data() + (v6 ? 8 : 12), v6 ? 32 : 8)
            + protoTcp + static_cast<std::uint32_t>(20 + data.size()));
    tcp[16] = static_cast<std::uint8_t>(check >> 8);
    tcp[17] = static_cast<std::uint8_t>(check);
    return packet;
}

Flow parsedFlow(std::vector<std::uint8_t> &packet)
{
    Packet view;
    CHECK(parsePacket(packet.data(), packet.size(), view));
    return view.flow;
}

std::string payloadOf(const std::vector<std::uint8_t> &packet)
{
    const std::size_t header = packet[0] >> 4 == 6 ? 40 : 20;
    const std::size_t transport = (packet[0] >> 4 == 6 ? packet[6] : packet[9]) == protoUdp
        ? 8
        : (packet[header + 12] >> 4) * 4u;
    return std::string(
        packet.begin() + static_cast<std::ptrdiff_t>(header + transport), packet.end());
}

const asio::ip::address_v4 tunAddress4 = asio::ip::make_address_v4("198.18.0.1");
const asio::ip::address_v6 tunAddress6 = asio::ip::make_address_v6("fdfe:dcba:9876::1");

struct StackRig
{
    StandIn device;
    RecordingHandler handler;
    SystemStack stack {device, handler, std::chrono::milliseconds(1000)};
    StackRig() { stack.setAddresses({tunAddress4, tunAddress6, 40000, 40006}); }
};

} // namespace

// Ports: one per flow, never shared; a closed connection's port returns after its linger, a
// connection the kernel never completed gives its port back, an accepted one keeps it.
TEST_CASE(natPortsAreAllocatedAndReleased)
{
    StackRig rig;
    const auto start = SystemStack::Clock::now();
    std::vector<std::uint16_t> ports;
    for (std::uint16_t i = 0; i < 300; ++i) {
        auto syn = tcpPacket(flowOf("198.18.0.1", 20000 + i, origin, 80), tcpSyn, "");
        rig.stack.input(syn.data(), syn.size(), start);
        ports.push_back(parsedFlow(rig.device.written.back()).sport);
    }
    std::sort(ports.begin(), ports.end());
    CHECK(std::adjacent_find(ports.begin(), ports.end()) == ports.end());
    CHECK_EQ(rig.stack.tcpCount(), 300u);

    const Flow accepted = flowOf("198.18.0.1", 20000, origin, 80);
    const Flow closed = flowOf("198.18.0.1", 20001, origin, 80);
    const std::uint16_t acceptedPort = *rig.stack.natPort(accepted);
    const std::uint16_t closedPort = *rig.stack.natPort(closed);
    const auto fake = *rig.stack.fakeSource(false);
    CHECK(rig.stack.accepted(fake, acceptedPort) && rig.stack.accepted(fake, closedPort));
    rig.stack.closed(closedPort, start);

    // The same four-tuple opening again after a close is a new connection with a new port.
    auto again = tcpPacket(closed, tcpSyn, "");
    rig.stack.input(again.data(), again.size(), start);
    CHECK(*rig.stack.natPort(closed) != closedPort);

    rig.stack.expire(start + SystemStack::pendingTimeout - std::chrono::seconds(1));
    CHECK_EQ(rig.stack.tcpCount(), 300u);
    rig.stack.expire(start + SystemStack::pendingTimeout);
    CHECK_EQ(rig.stack.tcpCount(), 1u); // only the accepted one
    CHECK_EQ(*rig.stack.natPort(accepted), acceptedPort);

    // A reset for a flow nobody knows is not given a port.
    auto stray = tcpPacket(flowOf("198.18.0.1", 999, origin, 80), tcpRst, "");
    const std::size_t before = rig.device.written.size();
    rig.stack.input(stray.data(), stray.size(), start);
    CHECK_EQ(rig.device.written.size(), before);
}

// UDP: one session per flow until it is idle for the timeout; replies come from the address the
// application sent to; fragments and garbage are dropped.
TEST_CASE(udpSessionsAndDrops)
{
    StackRig rig;
    const auto start = SystemStack::Clock::now();
    const Flow flow = flowOf("198.18.0.1", 5353, "198.19.0.7", 53);
    std::vector<std::uint8_t> datagram;
    buildUdp(flow, reinterpret_cast<const std::uint8_t *>("one"), 3, datagram);
    rig.stack.input(datagram.data(), datagram.size(), start);
    buildUdp(flow, reinterpret_cast<const std::uint8_t *>("two"), 3, datagram);
    rig.stack.input(datagram.data(), datagram.size(), start + std::chrono::milliseconds(900));
    CHECK_EQ(rig.handler.opened, 1);
    CHECK((rig.handler.sent == std::vector<std::string> {"one", "two"}));
    CHECK(rig.handler.last == flow);

    CHECK(rig.stack.replyUdp(flow, reinterpret_cast<const std::uint8_t *>("answer"), 6,
        start + std::chrono::milliseconds(1000)));
    auto &reply = rig.device.written.back();
    CHECK((parsedFlow(reply) == Flow {flow.dst, flow.src, flow.dport, flow.sport}));
    CHECK_EQ(payloadOf(reply), "answer");

    rig.stack.expire(start + std::chrono::milliseconds(1999));
    CHECK_EQ(rig.stack.udpCount(), 1u);
    rig.stack.expire(start + std::chrono::milliseconds(2000));
    CHECK_EQ(rig.stack.udpCount(), 0u);
    CHECK(!rig.stack.replyUdp(flow, reinterpret_cast<const std::uint8_t *>("late"), 4));
    rig.stack.input(datagram.data(), datagram.size(), start + std::chrono::seconds(3));
    CHECK_EQ(rig.handler.opened, 2);

    // A later fragment, a truncated header, a packet longer than it says: nothing written.
    std::vector<std::uint8_t> fragment = datagram;
    fragment[6] = 0x00;
    fragment[7] = 0x10;
    std::vector<std::uint8_t> truncated(datagram.begin(), datagram.begin() + 24);
    std::vector<std::uint8_t> overlong = datagram;
    overlong[3] = static_cast<std::uint8_t>(overlong[3] + 40);
    const std::size_t before = rig.device.written.size();
    const int opened = rig.handler.opened;
    for (auto *bad : {&fragment, &truncated, &overlong})
        rig.stack.input(bad->data(), bad->size());
    CHECK_EQ(rig.device.written.size(), before);
    CHECK_EQ(rig.handler.opened, opened);
}

// With offload every packet carries the device's virtio header: a segment goes back with its
// header as it came and its unfinished checksum moved to the new pseudo-header (the kernel trusts
// it for local delivery, so only this shows a wrong one); packets the stack makes itself get an
// empty header.
TEST_CASE(offloadedSegmentsKeepTheirHeader)
{
    struct Offloading : StandIn
    {
        std::size_t headerSize() const override { return 10; }
    } device;
    RecordingHandler handler;
    SystemStack stack(device, handler, std::chrono::seconds(1));
    stack.setAddresses({tunAddress4, tunAddress6, 40000, 40006});
    const std::uint8_t header[10] = {1, 1, 54, 0, 0xA8, 0x05, 34, 0, 16, 0}; // TCPv4 segment
    for (const char *host : {"198.18.1.10", "fc00::10"}) {
        const Flow app
            = flowOf(asio::ip::make_address(host).is_v6() ? "fdfe:dcba:9876::1" : "198.18.0.1",
                51000, host, 443);
        std::vector<std::uint8_t> segment = tcpPacket(app, tcpAck, std::string(3000, 's'));
        const bool v6 = app.src.v6;
        const std::size_t transport = v6 ? 40 : 20;
        const auto partialSum = [&](const std::vector<std::uint8_t> &packet) {
            const std::uint32_t sum = sum16(packet.data() + (v6 ? 8 : 12), v6 ? 32 : 8) + protoTcp
                + static_cast<std::uint32_t>(packet.size() - transport);
            return static_cast<std::uint16_t>(~folded(sum));
        };
        const std::uint16_t partial = partialSum(segment);
        segment[transport + 16] = static_cast<std::uint8_t>(partial >> 8);
        segment[transport + 17] = static_cast<std::uint8_t>(partial);
        segment.insert(segment.begin(), header, header + 10);
        stack.input(segment.data(), segment.size());
        std::vector<std::uint8_t> out = device.written.back();
        CHECK(std::equal(header, header + 10, out.begin()));
        out.erase(out.begin(), out.begin() + 10);
        CHECK((out[transport + 16] << 8 | out[transport + 17]) == partialSum(out));
        CHECK_EQ(payloadOf(out), std::string(3000, 's'));
    }
    std::vector<std::uint8_t> datagram;
    const Flow flow = flowOf("198.18.0.1", 5000, "198.18.1.10", 53);
    buildUdp(flow, reinterpret_cast<const std::uint8_t *>("q"), 1, datagram, 10);
    stack.input(datagram.data(), datagram.size());
    CHECK(stack.replyUdp(flow, reinterpret_cast<const std::uint8_t *>("a"), 1));
    std::vector<std::uint8_t> reply = device.written.back();
    CHECK(std::all_of(reply.begin(), reply.begin() + 10, [](std::uint8_t b) { return b == 0; }));
    reply.erase(reply.begin(), reply.begin() + 10);
    CHECK(checksumsRight(reply) && payloadOf(reply) == "a");
}

// Hijacked queries: A and AAAA of names the rules send to the fakeip server get pool addresses
// (that they lead back to the name is oneEngineCarriesEveryRoad's); other types of those names get
// no address; other names go on; a full pool recycles its oldest address.
TEST_CASE(fakeAddressesLeadBackToTheirNames)
{
    Config config;
    std::string error;
    CHECK_MSG(
        parseConfig(json {{"dns",
                              {{"servers",
                                   {{{"tag", "fake"}, {"address", "fakeip"}},
                                       {{"tag", "refuse"}, {"address", "rcode://refused"}}}},
                                  {"rules",
                                      {{{"domain_suffix", {"blocked.test"}}, {"server", "refuse"}},
                                          {{"query_type", {"A", "AAAA"}}, {"server", "fake"}}}},
                                  {"final", "refuse"},
                                  {"fakeip",
                                      {{"enabled", true}, {"inet4_range", "198.19.0.0/30"},
                                          {"inet6_range", "fc00::/18"}}}}},
                        {"outbounds", {{{"type", "direct"}, {"tag", "direct"}}}}}
                        .dump(),
            config, error),
        error);
    Router router;
    std::map<std::string, std::shared_ptr<Outbound>> none;
    DnsForwarder forwarder;
    DnsRouter dnsRouter;
    dnsRouter.init(config, router, forwarder);
    asio::io_context io;
    const auto ask = [&](const std::string &name, std::uint16_t type) {
        const std::vector<std::uint8_t> query = dns::buildQuery(0x4242, name, type);
        dns::Reply reply;
        dnsRouter.exchange(io.get_executor(), query.data(), query.size(),
            [&](const std::vector<std::uint8_t> &response) {
                CHECK(dns::parseReply(response.data(), response.size(), reply));
            });
        io.restart();
        io.run();
        CHECK_EQ(reply.id, 0x4242);
        return reply;
    };
    const dns::Reply first = ask("Origin.Test", dns::typeA);
    CHECK_EQ(first.addresses.size(), 1u);
    CHECK_EQ(first.addresses.at(0).to_string(), "198.19.0.1");
    const dns::Reply v6 = ask("origin.test", dns::typeAaaa);
    CHECK(v6.addresses.size() == 1 && v6.addresses.at(0).is_v6());
    CHECK(ask("origin.test", 16).addresses.empty());
    CHECK_EQ(int(ask("x.blocked.test", dns::typeA).rcode), 5);
    // A /30 holds two names: a third takes the oldest address, whose name is forgotten.
    ask("second.test", dns::typeA);
    const dns::Reply third = ask("third.test", dns::typeA);
    CHECK(third.addresses == first.addresses);
    CHECK_EQ(dnsRouter.restore({{}, first.addresses.at(0), 80}).domain, "third.test");
    CHECK(!dnsRouter.restore({{}, asio::ip::make_address("198.18.1.10"), 80}).isDomain());
}

namespace {

// The origin (and on demand ss-server and dnsmasq) in a second namespace behind the veth pair.
struct World
{
    support::PeerNamespace peer;
    bool ready = false;

    explicit World(bool shadowsocks = false, bool dns = false)
    {
        if (!g_namespace)
            return;
        std::string error;
        ready = peer.start({origin}, error);
        CHECK_MSG(ready, error);
        peer.spawn({g_peerBinary, std::to_string(originPort)});
        if (shadowsocks) {
            peer.spawn({"ss-server", "-s", support::PeerNamespace::peerAddress, "-p", "8388", "-k",
                "tunpass", "-m", "aes-256-gcm", "-u", "--mtu", "65535"});
        }
        if (dns) {
            peer.spawn({"dnsmasq", "--keep-in-foreground", "--no-resolv", "--no-hosts",
                "--user=root", "--listen-address=198.18.2.2", "--bind-interfaces",
                "--address=/origin.test/198.18.1.10", "--pid-file="});
        }
        // Before the TUN exists the pair reaches the origin and the resolver directly.
        for (int i = 0; i < 100 && !reachable(); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        CHECK(reachable());
        for (int i = 0; dns && i < 100 && !resolves(); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    static bool resolves()
    {
        asio::io_context io;
        udp::socket socket(io, udp::v4());
        const auto query = dns::buildQuery(7, "origin.test", dns::typeA);
        std::error_code error;
        socket.send_to(asio::buffer(query),
            {asio::ip::make_address(support::PeerNamespace::peerAddress), 53}, 0, error);
        pollfd entry {socket.native_handle(), POLLIN, 0};
        return ::poll(&entry, 1, 100) > 0;
    }
    static bool reachable()
    {
        asio::io_context io;
        tcp::socket socket(io);
        std::error_code error;
        socket.connect({asio::ip::make_address(origin), originPort}, error);
        return !error;
    }
};

json tunInbound(std::uint32_t mtu, bool strict = true, bool v6 = true)
{
    json address = {"198.18.0.1/30"};
    if (v6)
        address.push_back("fdfe:dcba:9876::1/126");
    return {{"type", "tun"}, {"tag", "tun-in"}, {"interface_name", "tun0"}, {"address", address},
        {"mtu", mtu}, {"auto_route", true}, {"strict_route", strict}, {"sniff", true},
        {"stack", "mixed"}, {"udp_timeout", "1m"}};
}

json tunConfig(json inbound, json outbound, json routeRules = json::array())
{
    const json hijack = {{"protocol", "dns"}, {"action", "hijack-dns"}};
    routeRules.insert(routeRules.begin(), hijack);
    return {{"log", {{"level", "warn"}}}, {"inbounds", {inbound}},
        {"outbounds", {outbound, {{"type", "direct"}, {"tag", "direct"}}}},
        {"route", {{"rules", routeRules}, {"final", outbound["tag"]}}},
        {"dns",
            {{"servers",
                 {{{"tag", "fake"}, {"address", "fakeip"}},
                     {{"tag", "plain"}, {"address", support::PeerNamespace::peerAddress}}}},
                {"rules", {{{"query_type", {"A", "AAAA"}}, {"server", "fake"}}}},
                {"final", "plain"},
                {"fakeip",
                    {{"enabled", true}, {"inet4_range", "198.19.0.0/16"},
                        {"inet6_range", "fc00::/18"}}}}}};
}

std::string pattern(std::size_t size, unsigned seed)
{
    std::string data(size, '\0');
    for (std::size_t i = 0; i < size; ++i) {
        seed = seed * 1103515245 + 12345;
        data[i] = static_cast<char>(seed >> 16);
    }
    return data;
}

// Sends data to the echo port while reading the echo back; returns what came back. The close
// goes after the echo, as Shadowsocks servers end both directions on the first FIN.
std::string echoed(const std::string &host, const std::string &data, bool halfClose = false)
{
    asio::io_context io;
    tcp::socket socket(io);
    std::error_code error;
    socket.connect({asio::ip::make_address(host), originPort}, error);
    if (error)
        return "connect: " + error.message();
    std::thread writer([&] {
        std::error_code ignored;
        asio::write(socket, asio::buffer(data), ignored);
        if (halfClose)
            socket.shutdown(tcp::socket::shutdown_send, ignored);
    });
    std::string back(halfClose ? 0 : data.size(), '\0');
    if (halfClose)
        asio::read(socket, asio::dynamic_buffer(back), error);
    else
        back.resize(asio::read(socket, asio::buffer(back), error));
    writer.join();
    return back;
}

std::string udpEchoed(const std::string &host, const std::string &data)
{
    asio::io_context io;
    udp::socket socket(io, udp::v4());
    if (asio::ip::make_address(host).is_v6())
        socket = udp::socket(io, udp::v6());
    std::error_code error;
    socket.send_to(asio::buffer(data), {asio::ip::make_address(host), originPort}, 0, error);
    pollfd entry {socket.native_handle(), POLLIN, 0};
    if (::poll(&entry, 1, 3000) <= 0)
        return "no answer";
    std::string back(65536, '\0');
    back.resize(socket.receive(asio::buffer(back), 0, error));
    return back;
}

std::string statusOfOrigin()
{
    asio::io_context io;
    tcp::socket socket(io);
    std::error_code error;
    socket.connect({asio::ip::make_address(origin), originPort + 2}, error);
    std::string line;
    asio::read(socket, asio::dynamic_buffer(line), error);
    return line;
}

std::string lines(const std::vector<std::string> &argv, const std::string &containing)
{
    std::string kept;
    std::istringstream output(support::run(argv).output);
    for (std::string line; std::getline(output, line);) {
        if (line.find(containing) != std::string::npos)
            kept += line + "\n";
    }
    return kept;
}

// Rules naming a device that has gone show as "[detached]"; they are the same rules.
std::string ourRules()
{
    std::string rules
        = lines({"ip", "rule"}, "proto 113") + lines({"ip", "-6", "rule"}, "proto 113");
    for (std::size_t at; (at = rules.find(" [detached]")) != std::string::npos;)
        rules.erase(at, 11);
    return rules;
}

} // namespace

// Bytes through the TUN both ways, unchanged: TCP and UDP at MTU 1500 and 9000, through the
// direct outbound and through Shadowsocks to ss-server.
TEST_CASE(tcpAndUdpByteForByte)
{
    World world(true);
    if (!world.ready)
        return;
    const json shadowsocks
        = {{"type", "shadowsocks"}, {"tag", "ss"}, {"server", support::PeerNamespace::peerAddress},
            {"server_port", 8388}, {"method", "aes-256-gcm"}, {"password", "tunpass"}};
    const json direct = {{"type", "direct"}, {"tag", "out"}};
    for (const std::uint32_t mtu : {1500u, 9000u}) {
        for (const json &outbound : {direct, shadowsocks}) {
            const std::string row
                = "mtu " + std::to_string(mtu) + " via " + outbound["tag"].get<std::string>();
            RunningEngine running(tunConfig(tunInbound(mtu), outbound));
            const std::string data = pattern(3 << 20, mtu);
            CHECK_MSG(echoed(origin, data) == data, row);
            for (const std::size_t size :
                {std::size_t(1), std::size_t(1400), std::size_t(mtu - 28)}) {
                const std::string datagram = pattern(size, static_cast<unsigned>(size));
                CHECK_MSG(
                    udpEchoed(origin, datagram) == datagram, row + " udp " + std::to_string(size));
            }
        }
    }
}

// One engine for the rest of the roads: a thousand connections at once; a close and a reset from
// either end reach the other, and a route that rejects and a destination that refuses both reset
// the application's connection; a hijacked query gets a fake address that leads to the name's
// real one, over IPv4 and IPv6, with the query over UDP and over TCP; echo requests are answered.
TEST_CASE(oneEngineCarriesEveryRoad)
{
    World world(false, true);
    if (!world.ready)
        return;
    RunningEngine running(tunConfig(tunInbound(1500), {{"type", "direct"}, {"tag", "out"}},
        {{{"port", originPort + 9}, {"action", "reject"}}}));
    {
        asio::io_context io;
        std::vector<std::unique_ptr<tcp::socket>> sockets;
        for (int i = 0; i < 1000; ++i) {
            auto socket = std::make_unique<tcp::socket>(io);
            std::error_code error;
            socket->connect({asio::ip::make_address(origin), originPort}, error);
            asio::write(*socket, asio::buffer("connection " + std::to_string(i) + "\n"), error);
            CHECK_MSG(!error, error.message());
            sockets.push_back(std::move(socket));
        }
        int answered = 0;
        for (int i = 0; i < 1000; ++i) {
            std::string line;
            std::error_code error;
            asio::read_until(
                *sockets[static_cast<std::size_t>(i)], asio::dynamic_buffer(line), '\n', error);
            answered += line == "connection " + std::to_string(i) + "\n";
        }
        CHECK_EQ(answered, 1000);
        CHECK(running.engine.running());
    }
    {
        const auto counts = [] {
            int eof = -1, reset = -1;
            std::sscanf(statusOfOrigin().c_str(), "eof=%d reset=%d", &eof, &reset);
            return std::pair {eof, reset};
        };
        // The thousand sockets above end as they close: the origin must count them all first.
        auto settled = counts();
        for (int i = 0; i < 200; ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
            const auto now = counts();
            if (now == settled && now.first >= 1000)
                break;
            settled = now;
        }
        const auto [eofBefore, resetBefore] = settled;
        // The application's FIN reaches the origin, whose own FIN comes back after the echo.
        CHECK_EQ(echoed(origin, "half-closed", true), "half-closed");
        CHECK_EQ(counts().first, eofBefore + 1);

        asio::io_context io; // outlives the sockets openTo hands out
        const auto openTo = [&io](int port) {
            auto socket = std::make_unique<tcp::socket>(io);
            std::error_code error;
            socket->connect(
                {asio::ip::make_address(origin), static_cast<std::uint16_t>(port)}, error);
            return socket;
        };
        // The application's reset reaches the origin.
        {
            tcp::socket socket(io);
            socket.connect({asio::ip::make_address(origin), originPort});
            asio::write(socket, asio::buffer("x\n", 2));
            std::string line;
            asio::read_until(socket, asio::dynamic_buffer(line), '\n');
            socket.set_option(asio::socket_base::linger(true, 0));
            socket.close();
        }
        for (int i = 0; i < 50 && counts().second == resetBefore; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        CHECK_MSG(counts().second == resetBefore + 1,
            statusOfOrigin() + " before " + std::to_string(resetBefore) + " eof "
                + std::to_string(eofBefore));
        // The origin's reset, a rejecting rule and a refused dial reach the application as resets.
        const struct
        {
            int port;
            const char *what;
        } resets[] = {{originPort + 1, "origin resets"}, {originPort + 9, "route rejects"},
            {originPort + 50, "origin refuses"}};
        for (const auto &row : resets) {
            auto socket = openTo(row.port);
            std::error_code error;
            asio::write(*socket, asio::buffer("line\n", 5), error);
            char byte;
            socket->read_some(asio::buffer(&byte, 1), error);
            CHECK_MSG(error == asio::error::connection_reset,
                std::string(row.what) + ": " + error.message());
        }
    }
    {
        const auto ask = [](std::uint16_t type, bool overTcp) -> std::string {
            const std::vector<std::uint8_t> query = dns::buildQuery(0x0101, "origin.test", type);
            asio::io_context io;
            std::error_code error;
            std::vector<std::uint8_t> answer(4096);
            const asio::ip::address resolver = asio::ip::make_address("198.18.1.53");
            if (overTcp) {
                tcp::socket socket(io);
                socket.connect({resolver, 53}, error);
                const std::uint8_t length[2] = {0, static_cast<std::uint8_t>(query.size())};
                asio::write(socket,
                    std::array<asio::const_buffer, 2> {asio::buffer(length), asio::buffer(query)},
                    error);
                std::uint8_t size[2];
                asio::read(socket, asio::buffer(size), error);
                answer.resize(static_cast<std::size_t>((size[0] << 8) | size[1]));
                asio::read(socket, asio::buffer(answer), error);
            } else {
                udp::socket socket(io, udp::v4());
                socket.send_to(asio::buffer(query), {resolver, 53}, 0, error);
                pollfd entry {socket.native_handle(), POLLIN, 0};
                if (::poll(&entry, 1, 3000) <= 0)
                    return "no answer";
                answer.resize(socket.receive(asio::buffer(answer), 0, error));
            }
            dns::Reply reply;
            if (error || !dns::parseReply(answer.data(), answer.size(), reply)
                || reply.addresses.empty())
                return "no address";
            return reply.addresses.front().to_string();
        };
        const std::string fake4 = ask(dns::typeA, false);
        CHECK_MSG(fake4.rfind("198.19.", 0) == 0, fake4);
        CHECK_EQ(ask(dns::typeA, true), fake4);
        const std::string fake6 = ask(dns::typeAaaa, false);
        CHECK_MSG(fake6.rfind("fc00:", 0) == 0, fake6);
        for (const std::string &address : {fake4, fake6})
            CHECK_MSG(echoed(address, "through " + address) == "through " + address, address);
    }
    {
        const struct
        {
            const char *host;
            int family;
            int protocol;
            std::uint8_t request;
            std::uint8_t reply;
        } rows[] = {{"198.18.1.99", AF_INET, IPPROTO_ICMP, 8, 0},
            {"fc00::99", AF_INET6, IPPROTO_ICMPV6, 128, 129}};
        // Datagram ICMP sockets (the kernel fills in the checksum and matches the reply), allowed
        // in this namespace only.
        std::ofstream("/proc/sys/net/ipv4/ping_group_range") << "0 2147483647";
        for (const auto &row : rows) {
            const int fd = ::socket(row.family, SOCK_DGRAM, row.protocol);
            CHECK(fd >= 0);
            const udp::endpoint to(asio::ip::make_address(row.host), 0);
            const std::uint8_t request[12] = {row.request, 0, 0, 0, 0, 0, 0, 7, 'p', 'i', 'n', 'g'};
            ::sendto(fd, request, sizeof request, 0, to.data(), static_cast<socklen_t>(to.size()));
            pollfd entry {fd, POLLIN, 0};
            std::uint8_t reply[64] = {};
            const bool answered
                = ::poll(&entry, 1, 3000) > 0 && ::recv(fd, reply, sizeof reply, 0) == 12;
            CHECK_MSG(answered && reply[0] == row.reply && std::memcmp(reply + 8, "ping", 4) == 0,
                row.host);
            ::close(fd);
        }
    }
}

// auto_route's rules and table while the engine runs; none after a stop; after a kill -9 the
// next start clears what the dead one left and adds one set; strict_route closes off a family
// without an address.
TEST_CASE(rulesComeAndGoEvenAfterACrash)
{
    World world;
    if (!world.ready)
        return;
    json inbound = tunInbound(1500, true, false);
    inbound["route_exclude_address"] = {"198.18.1.77/32"};
    const json config = tunConfig(inbound, {{"type", "direct"}, {"tag", "out"}});
    std::string running;
    {
        RunningEngine engine(config);
        running = ourRules();
        CHECK(running.find("fwmark 0x71760000 goto 9010") != std::string::npos);
        CHECK(running.find("from 0.0.0.0 iif lo lookup 2022") != std::string::npos);
        CHECK(lines({"ip", "-6", "rule"}, "unreachable").find("9003") != std::string::npos);
        const std::string table = support::run({"ip", "route", "show", "table", "2022"}).output;
        CHECK(table.find("default dev tun0") != std::string::npos);
        CHECK(table.find("throw 198.18.1.77") != std::string::npos);
        CHECK_EQ(echoed(origin, "routed"), "routed");
    }
    CHECK_EQ(ourRules(), "");
    CHECK_EQ(support::run({"ip", "route", "show", "table", "2022"}).output, "");

    const std::string path = support::writeTempFile("tun-crash.json", config.dump());
    // Up once its device exists and its rules are in place.
    const auto waitForRules = [&] {
        const auto up = [&] {
            return support::run({"ip", "link", "show", "tun0"}).exitCode == 0
                && ourRules() == running;
        };
        for (int i = 0; i < 250 && !up(); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        return up();
    };
    {
        support::Process first({g_engineBinary, "run", "-c", path});
        CHECK(waitForRules());
        ::kill(first.pid(), SIGKILL);
    }
    CHECK(ourRules() == running); // left behind by the dead process
    {
        support::Process second({g_engineBinary, "run", "-c", path});
        CHECK(waitForRules());
        CHECK_EQ(echoed(origin, "after a crash"), "after a crash");
    } // SIGTERM: a clean stop
    CHECK_EQ(ourRules(), "");
}

int main(int argc, char **argv)
{
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s <qivro-engine> <qivro-tunpeer> [case]\n", argv[0]);
        return 2;
    }
    g_engineBinary = argv[1];
    g_peerBinary = argv[2];
    std::string why;
    g_namespace = support::PeerNamespace::isolate(why);
    if (!g_namespace)
        std::fprintf(stderr, "cases on a real TUN device skipped: %s\n", why.c_str());
    rlimit limit {};
    if (getrlimit(RLIMIT_NOFILE, &limit) == 0) {
        limit.rlim_cur = limit.rlim_max;
        setrlimit(RLIMIT_NOFILE, &limit);
    }
    return qtest::runAll(argc - 2, argv + 2);
}
