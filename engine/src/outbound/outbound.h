// Outbounds: how a routed connection leaves the engine.
#pragma once

#include "common/stream.h"
#include "config/config.h"
#include "outbound/dialer.h"

#include <asio/any_io_executor.hpp>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace qivro::engine {

using DialHandler = std::function<void(const std::string &error, std::shared_ptr<Stream> stream)>;
using PacketHandler
    = std::function<void(const std::string &error, std::shared_ptr<PacketConn> conn)>;

class Outbound
{
public:
    Outbound(std::string type, std::string tag)
        : m_type(std::move(type))
        , m_tag(std::move(tag))
    { }
    virtual ~Outbound() = default;

    const std::string &type() const { return m_type; }
    const std::string &tag() const { return m_tag; }
    // The name the control API shows: Shadowsocks, Direct, Selector ...
    virtual std::string clashType() const = 0;
    virtual bool supportsUdp() const { return true; }
    virtual bool isGroup() const { return false; }

    // Dials on the given executor; the handler runs there too. Safe to call from any thread.
    virtual void dialTcp(
        const asio::any_io_executor &executor, const Destination &destination, DialHandler handler)
        = 0;
    virtual void listenUdp(const asio::any_io_executor &executor, PacketHandler handler) = 0;
    // The same on behalf of a client: outbounds that connect to the destination themselves
    // (direct) hold every address they reach to the policy; the rest need not look at it.
    virtual void dialTcpForClient(const asio::any_io_executor &executor,
        const Destination &destination, const DialPolicy &, DialHandler handler)
    {
        dialTcp(executor, destination, std::move(handler));
    }
    virtual void listenUdpForClient(
        const asio::any_io_executor &executor, const DialPolicy &, PacketHandler handler)
    {
        listenUdp(executor, std::move(handler));
    }

    // The member that would carry a new connection, itself for plain outbounds.
    virtual Outbound *current() { return this; }
    // Tags from this outbound down to the real node: [group, ..., node].
    void chain(std::vector<std::string> &tags);
    // Called when a connection or packet is routed here; lazy groups start testing on it.
    virtual void touch() { }

    // "outbound/shadowsocks[tag]"
    std::string logPrefix() const { return "outbound/" + m_type + "[" + m_tag + "]"; }

private:
    std::string m_type;
    std::string m_tag;
};

class DirectOutbound : public Outbound
{
public:
    explicit DirectOutbound(const OutboundConfig &config);
    std::string clashType() const override { return "Direct"; }
    void dialTcp(const asio::any_io_executor &executor, const Destination &destination,
        DialHandler handler) override;
    void listenUdp(const asio::any_io_executor &executor, PacketHandler handler) override;
    void dialTcpForClient(const asio::any_io_executor &executor, const Destination &destination,
        const DialPolicy &policy, DialHandler handler) override;
    void listenUdpForClient(const asio::any_io_executor &executor, const DialPolicy &policy,
        PacketHandler handler) override;

private:
    std::string m_overrideAddress;
    std::uint16_t m_overridePort = 0;
    int m_connectTimeoutMs;
};

class BlockOutbound : public Outbound
{
public:
    explicit BlockOutbound(const OutboundConfig &config)
        : Outbound(config.type, config.tag)
    { }
    std::string clashType() const override { return type() == "dns" ? "Dns" : "Reject"; }
    void dialTcp(const asio::any_io_executor &executor, const Destination &destination,
        DialHandler handler) override;
    void listenUdp(const asio::any_io_executor &executor, PacketHandler handler) override;
};

// Outbounds the configuration accepts but this build cannot dial yet.
class UnsupportedOutbound : public Outbound
{
public:
    UnsupportedOutbound(const OutboundConfig &config, std::string clashType, std::string reason);
    std::string clashType() const override { return m_clashType; }
    void dialTcp(const asio::any_io_executor &executor, const Destination &destination,
        DialHandler handler) override;
    void listenUdp(const asio::any_io_executor &executor, PacketHandler handler) override;

private:
    std::string m_clashType;
    std::string m_reason;
};

} // namespace qivro::engine
