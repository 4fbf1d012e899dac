// VLESS UDP: with XUDP one connection carries packets to every destination as mux frames; the
// plain form (command 2) opens one connection per destination. Each connection is opened on the
// first packet, with the request header in front of it.
#pragma once

#include "common/inputbuffer.h"
#include "common/writequeue.h"
#include "outbound/vlessprotocol.h"
#include "transport/transport.h"

#include <functional>
#include <map>
#include <memory>
#include <string>

namespace qivro::engine {

class VlessPacketConn
    : public PacketConn
    , public std::enable_shared_from_this<VlessPacketConn>
{
public:
    using Opener = std::function<void(const asio::any_io_executor &, StreamHandler)>;

    // headerInStream: the opened stream writes the request header and reads the response itself
    // (the vision flow, whose padding starts right after them).
    VlessPacketConn(const asio::any_io_executor &executor, Opener open, const vless::Uuid &uuid,
        bool xudp, std::string logPrefix, bool headerInStream = false);
    void send(const Destination &to, const std::uint8_t *data, std::size_t size) override;
    void startReceive(ReceiveHandler handler) override;
    void close() override;

private:
    struct Channel
    {
        explicit Channel(const asio::any_io_executor &executor)
            : out(executor)
        { }
        Destination destination; // the only one (command 2) or the first one (XUDP)
        std::shared_ptr<Stream> stream;
        WriteQueue out;
        InputBuffer in {16 * 1024, 128 * 1024};
        vless::ResponseParser response;
        bool opening = false;
        bool firstFrameSent = false;
    };

    void open(const std::shared_ptr<Channel> &channel);
    void read(const std::shared_ptr<Channel> &channel);
    // False when the channel had to be dropped.
    bool deliver(const std::shared_ptr<Channel> &channel);
    void drop(const std::shared_ptr<Channel> &channel, const std::string &why);

    asio::any_io_executor m_executor;
    Opener m_open;
    vless::Uuid m_uuid;
    bool m_xudp;
    std::string m_logPrefix;
    bool m_headerInStream;
    std::shared_ptr<Channel> m_mux;
    std::map<Destination, std::shared_ptr<Channel>> m_channels;
    ReceiveHandler m_handler;
    bool m_closed = false;
};

} // namespace qivro::engine
