// One application's datagrams to one destination through the TUN: routed once, then carried by
// the outbound's packet connection (or answered as DNS), replies sent back from the address the
// application wrote to.
#pragma once

#include "config/config.h"
#include "inbound/tun/systemstack.h"
#include "runtime/services.h"

#include <deque>
#include <functional>
#include <memory>
#include <vector>

namespace qivro::engine {

class TunUdpSession
    : public tun::UdpSession
    , public std::enable_shared_from_this<TunUdpSession>
{
public:
    using Reply = std::function<void(const tun::Flow &, const std::uint8_t *, std::size_t)>;
    using Remove = std::function<void(const tun::Flow &)>;

    // reply writes a datagram back into the TUN; remove drops the session from the stack's table
    // (from the control API's close, on any thread).
    TunUdpSession(const asio::any_io_executor &executor, const InboundConfig &config,
        Services &services, const tun::Flow &flow, Reply reply, Remove remove);
    ~TunUdpSession() override;
    // Routes by the first datagram and sends it; false when the route rejects the flow.
    bool begin(const std::uint8_t *payload, std::size_t size);
    void send(const std::uint8_t *payload, std::size_t size) override;

private:
    void answerDns(const std::uint8_t *payload, std::size_t size);
    void opened(const std::string &error, std::shared_ptr<PacketConn> conn);

    asio::any_io_executor m_executor;
    const InboundConfig &m_config;
    Services &m_services;
    tun::Flow m_flow;
    Destination m_destination;
    Reply m_reply;
    Remove m_remove;
    bool m_hijacked = false;
    std::shared_ptr<PacketConn> m_conn;
    std::shared_ptr<ConnectionInfo> m_info;
    std::deque<std::vector<std::uint8_t>> m_queue; // while the outbound opens
    bool m_failed = false;
};

} // namespace qivro::engine
