// Packets from the TUN device are whatever applications send: parsing stays in bounds, a
// rewrite keeps right checksums right (so a packet the kernel accepted stays acceptable), echo
// replies are well formed, and the stack survives any packet with and without offload headers.
#include "fuzzcheck.h"
#include "inbound/tun/systemstack.h"

#include <cstring>
#include <vector>

using namespace qivro::engine::tun;

namespace {

struct Sink : PacketDevice
{
    std::size_t header = 0;
    std::size_t headerSize() const override { return header; }
    void asyncWait(WaitHandler) override { }
    std::size_t read(std::uint8_t *, std::size_t, std::error_code &) override { return 0; }
    void write(const std::uint8_t *packet, std::size_t size) override
    {
        std::vector<std::uint8_t> copy(packet + header, packet + size);
        Packet parsed;
        // the stack only writes packets it can read back
        require(size >= header && parsePacket(copy.data(), copy.size(), parsed));
    }
    void close() override { }
};

struct Handler : StackHandler
{
    struct Session : UdpSession
    {
        void send(const std::uint8_t *, std::size_t) override { }
    };
    std::shared_ptr<UdpSession> openUdp(const Flow &, const std::uint8_t *, std::size_t) override
    {
        return std::make_shared<Session>();
    }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    std::vector<std::uint8_t> bytes(data, data + size);
    Packet packet;
    if (parsePacket(bytes.data(), bytes.size(), packet)) {
        require(packet.size <= size && packet.l4 <= packet.size
            && (packet.fragment || packet.payload <= packet.size));
        if (!packet.fragment && (packet.protocol == protoTcp || packet.protocol == protoUdp)) {
            const bool valid = checksumsValid(packet);
            Flow moved = packet.flow;
            std::swap(moved.src, moved.dst);
            moved.sport = static_cast<std::uint16_t>(moved.sport ^ 0x5A5A);
            rewrite(packet, moved);
            require(!valid || checksumsValid(packet));
        }
        std::vector<std::uint8_t> echo(data, data + size);
        Packet request;
        require(!parsePacket(echo.data(), echo.size(), request) || !makeEchoReply(request)
            || checksumsValid(request));
    }
    for (const std::size_t header : {std::size_t(0), std::size_t(10)}) {
        Sink sink;
        sink.header = header;
        Handler handler;
        SystemStack stack(sink, handler, std::chrono::seconds(1));
        stack.setAddresses({asio::ip::make_address_v4("198.18.0.1"),
            asio::ip::make_address_v6("fdfe:dcba:9876::1"), 40000, 40006});
        std::vector<std::uint8_t> input(data, data + size);
        stack.input(input.data(), input.size());
        stack.expire(SystemStack::Clock::now() + std::chrono::hours(1));
    }
    return 0;
}
