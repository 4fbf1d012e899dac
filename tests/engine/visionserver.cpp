#include "visionserver.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cstring>
#include <mutex>
#include <netinet/in.h>
#include <random>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace support {

namespace {

bool startsWith(const Octets &data, std::initializer_list<std::uint8_t> prefix)
{
    return data.size() >= prefix.size() && std::equal(prefix.begin(), prefix.end(), data.begin());
}

bool wholeApplicationRecords(const Octets &data)
{
    std::size_t at = 0;
    while (at + 5 <= data.size() && data[at] == 23 && data[at + 1] == 3 && data[at + 2] == 3)
        at += 5 + (data[at + 3] << 8 | data[at + 4]);
    return !data.empty() && at == data.size();
}

// What the server learns of the inner TLS from the first packets each way.
struct Sniffer
{
    std::mutex mutex;
    bool tls = false;
    bool tls12OrAbove = false;
    bool tls13 = false;
    std::uint16_t cipher = 0;
    int downlinkPackets = 8;

    void uplink(const Octets &content)
    {
        std::lock_guard lock(mutex);
        if (content.size() >= 6 && content[0] == 22 && content[1] == 3 && content[5] == 1)
            tls = true;
    }
    void downlink(const Octets &data)
    {
        std::lock_guard lock(mutex);
        if (downlinkPackets <= 0)
            return;
        --downlinkPackets;
        if (data.size() >= 79 && startsWith(data, {22, 3, 3}) && data[5] == 2) {
            tls = tls12OrAbove = true;
            const std::size_t suite = 44u + data[43];
            cipher = static_cast<std::uint16_t>(data[suite] << 8 | data[suite + 1]);
            const std::size_t helloEnd
                = std::min<std::size_t>(data.size(), 5u + (data[3] << 8 | data[4]));
            const std::uint8_t version[] = {0, 0x2b, 0, 2, 3, 4};
            tls13 = std::search(data.begin(), data.begin() + static_cast<long>(helloEnd),
                        std::begin(version), std::end(version))
                != data.begin() + static_cast<long>(helloEnd);
        }
    }
};

// Frames arrive whole or in parts; each is taken once all of it is there.
struct FrameReader
{
    explicit FrameReader(Octets id)
        : uuid(std::move(id))
    { }
    Octets uuid;
    Octets pending;
    bool first = true;
    bool done = false;
    std::uint8_t command = 0;

    bool take(const Octets &data, Octets &content)
    {
        pending.insert(pending.end(), data.begin(), data.end());
        while (!done) {
            const std::size_t header = (first ? 16 : 0) + 5;
            if (pending.size() < header)
                return true;
            if (first && !std::equal(uuid.begin(), uuid.end(), pending.begin()))
                return false;
            const std::uint8_t *h = pending.data() + header - 5;
            const std::size_t length = static_cast<std::size_t>(h[1] << 8 | h[2]);
            const std::size_t padding = static_cast<std::size_t>(h[3] << 8 | h[4]);
            if (pending.size() < header + length + padding)
                return true;
            command = h[0];
            content.insert(content.end(), pending.begin() + static_cast<long>(header),
                pending.begin() + static_cast<long>(header + length));
            pending.erase(
                pending.begin(), pending.begin() + static_cast<long>(header + length + padding));
            first = false;
            done = command != 0;
        }
        return true;
    }
};

Octets frame(const Octets *uuid, std::uint8_t command, const Octets &content, bool tls)
{
    static thread_local std::mt19937 random {std::random_device {}()};
    std::size_t padding
        = content.size() < 900 && tls ? random() % 500 + 900 - content.size() : random() % 256;
    padding = std::min(padding, 8171 - content.size());
    Octets out;
    if (uuid)
        out.insert(out.end(), uuid->begin(), uuid->end());
    out.insert(out.end(),
        {command, static_cast<std::uint8_t>(content.size() >> 8),
            static_cast<std::uint8_t>(content.size()), static_cast<std::uint8_t>(padding >> 8),
            static_cast<std::uint8_t>(padding)});
    out.insert(out.end(), content.begin(), content.end());
    out.resize(out.size() + padding, 0);
    return out;
}

// The server's half of a direction: pads until the inner traffic allows the end or the switch.
struct DownlinkWriter
{
    DownlinkWriter(TlsServerSession &tls, Sniffer &state, const Octets &id)
        : session(tls)
        , sniffer(state)
        , uuid(id)
    { }
    TlsServerSession &session;
    Sniffer &sniffer;
    const Octets &uuid;
    std::mutex mutex;
    bool header = true;
    bool padding = true;
    bool direct = false;

    bool write(const Octets &data)
    {
        std::lock_guard lock(mutex);
        if (direct)
            return sendAll(session.fd(), data.data(), data.size());
        if (!padding)
            return session.write(data.data(), data.size());
        sniffer.downlink(data);
        std::uint8_t command = 0;
        {
            std::lock_guard sniffed(sniffer.mutex);
            if (sniffer.tls && wholeApplicationRecords(data))
                command
                    = sniffer.tls13 && sniffer.cipher >= 0x1301 && sniffer.cipher <= 0x1304 ? 2 : 1;
            else if (!sniffer.tls12OrAbove && sniffer.downlinkPackets <= 1)
                command = 1;
        }
        Octets out;
        if (header)
            out = {0, 0};
        const Octets framed = frame(header ? &uuid : nullptr, command, data, sniffer.tls);
        out.insert(out.end(), framed.begin(), framed.end());
        header = false;
        padding = command == 0;
        direct = command == 2;
        return session.write(out.data(), out.size());
    }
};

} // namespace

VisionServer::VisionServer(const std::string &uuid)
    : m_uuid(unhex(uuid))
{ }

void VisionServer::serve(TlsServerSession &session)
{
    Octets request;
    if (!session.read(request) || request.size() < 1 + 16 + 1 || request[0] != 0
        || !std::equal(m_uuid.begin(), m_uuid.end(), request.begin() + 1))
        return;
    const std::size_t addonsEnd = 18u + request[17];
    const std::string flow = "xtls-rprx-vision";
    const bool vision = addonsEnd <= request.size() && request[17] == flow.size() + 2
        && std::equal(flow.begin(), flow.end(), request.begin() + 20);
    if (!vision || request.size() < addonsEnd + 1)
        return;
    const std::uint8_t command = request[addonsEnd];
    if (command == 3) {
        serveXudp(
            session, Octets(request.begin() + static_cast<long>(addonsEnd) + 1, request.end()));
        return;
    }
    // TCP to a loopback address: port, then IPv4 1 or a domain 2.
    if (command != 1 || request.size() < addonsEnd + 4)
        return;
    const std::uint16_t port
        = static_cast<std::uint16_t>(request[addonsEnd + 1] << 8 | request[addonsEnd + 2]);
    const std::uint8_t type = request[addonsEnd + 3];
    const std::size_t addressSize = type == 1 ? 4 : type == 2 ? 1u + request[addonsEnd + 4] : 16;
    const std::size_t payload = addonsEnd + 4 + addressSize;
    const int target = connectLoopback(port, SOCK_STREAM);
    if (target < 0 || payload > request.size())
        return;
    serveTcp(session, target, Octets(request.begin() + static_cast<long>(payload), request.end()));
    ::close(target);
    ++m_finished;
}

void VisionServer::serveTcp(TlsServerSession &session, int target, const Octets &early)
{
    Sniffer sniffer;
    DownlinkWriter writer(session, sniffer, m_uuid);
    std::thread downlink([&] {
        std::uint8_t chunk[8171];
        ssize_t got;
        while ((got = ::recv(target, chunk, sizeof chunk, 0)) > 0) {
            if (!writer.write(Octets(chunk, chunk + got)))
                break;
        }
        ::shutdown(session.fd(), SHUT_WR);
    });
    FrameReader reader(m_uuid);
    Octets data = early;
    bool ok = true;
    while (ok && !reader.done) {
        Octets content;
        ok = reader.take(data, content);
        sniffer.uplink(content);
        ok = ok && sendAll(target, content.data(), content.size());
        if (ok && !reader.done && !session.read(data))
            ok = false;
    }
    if (ok) {
        Octets rest = reader.pending;
        if (reader.command == 2) {
            ++m_uplinkDirect;
            const Octets raw = session.takeBuffered();
            rest.insert(rest.end(), raw.begin(), raw.end());
        } else {
            ++m_uplinkEnds;
        }
        ok = sendAll(target, rest.data(), rest.size());
        std::uint8_t chunk[16384];
        while (ok) {
            Octets more;
            if (reader.command == 2) {
                const ssize_t got = ::recv(session.fd(), chunk, sizeof chunk, 0);
                if (got <= 0)
                    break;
                more.assign(chunk, chunk + got);
            } else if (!session.read(more)) {
                break;
            }
            ok = sendAll(target, more.data(), more.size());
        }
    }
    ::shutdown(target, SHUT_WR);
    downlink.join();
    if (writer.direct)
        ++m_downlinkDirect;
}

void VisionServer::serveXudp(TlsServerSession &session, const Octets &early)
{
    Sniffer sniffer;
    DownlinkWriter writer(session, sniffer, m_uuid);
    const int udp = ::socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in local {};
    local.sin_family = AF_INET;
    local.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(udp, reinterpret_cast<sockaddr *>(&local), sizeof local);
    std::uint16_t sessionId = 0;
    std::thread replies([&] {
        std::uint8_t packet[65536];
        sockaddr_in from {};
        socklen_t length = sizeof from;
        ssize_t got;
        while ((got = ::recvfrom(
                    udp, packet, sizeof packet, 0, reinterpret_cast<sockaddr *>(&from), &length))
            > 0) {
            // Keep frame with the source address, then the datagram.
            Octets frame = {0, 12, static_cast<std::uint8_t>(sessionId >> 8),
                static_cast<std::uint8_t>(sessionId), 2, 1, 2};
            const std::uint16_t port = ntohs(from.sin_port);
            frame.insert(frame.end(),
                {static_cast<std::uint8_t>(port >> 8), static_cast<std::uint8_t>(port), 1});
            const auto *ip = reinterpret_cast<const std::uint8_t *>(&from.sin_addr.s_addr);
            frame.insert(frame.end(), ip, ip + 4);
            frame.insert(
                frame.end(), {static_cast<std::uint8_t>(got >> 8), static_cast<std::uint8_t>(got)});
            frame.insert(frame.end(), packet, packet + got);
            if (!writer.write(frame))
                break;
        }
    });
    FrameReader reader(m_uuid);
    Octets mux;
    Octets data = early;
    for (bool open = true; open;) {
        if (!reader.done) {
            if (!reader.take(data, mux))
                break;
            if (reader.done) {
                mux.insert(mux.end(), reader.pending.begin(), reader.pending.end());
                ++m_uplinkEnds;
            }
        } else {
            mux.insert(mux.end(), data.begin(), data.end());
        }
        // mux.cool frames: meta length, meta (id, status, option, [UDP address]), [length, data]
        while (mux.size() >= 2) {
            const std::size_t metaSize = static_cast<std::size_t>(mux[0] << 8 | mux[1]);
            if (mux.size() < 2 + metaSize || metaSize < 4)
                break;
            const std::uint8_t *meta = mux.data() + 2;
            const bool hasData = meta[3] & 1;
            std::size_t total = 2 + metaSize;
            std::size_t dataSize = 0;
            if (hasData) {
                if (mux.size() < total + 2)
                    break;
                dataSize = static_cast<std::size_t>(mux[total] << 8 | mux[total + 1]);
                total += 2 + dataSize;
                if (mux.size() < total)
                    break;
            }
            sessionId = static_cast<std::uint16_t>(meta[0] << 8 | meta[1]);
            if (meta[2] == 3) {
                open = false;
            } else if (hasData && metaSize >= 12 && meta[4] == 2 && meta[7] == 1) {
                sockaddr_in to {};
                to.sin_family = AF_INET;
                std::memcpy(&to.sin_port, meta + 5, 2);
                std::memcpy(&to.sin_addr.s_addr, meta + 8, 4);
                ++m_udpPackets; // before the answer can reach the test
                ::sendto(udp, mux.data() + total - dataSize, dataSize, 0,
                    reinterpret_cast<sockaddr *>(&to), sizeof to);
            }
            mux.erase(mux.begin(), mux.begin() + static_cast<long>(total));
        }
        data.clear();
        if (open && !session.read(data))
            break;
    }
    ::shutdown(udp, SHUT_RDWR);
    replies.join();
    ::close(udp);
}

} // namespace support
