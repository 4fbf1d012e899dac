#include "outbound/vlesspacketconn.h"

#include "common/log.h"

namespace qivro::engine {

namespace {

// Packets waiting for a slow connection are dropped beyond this, as a full socket would.
constexpr std::size_t maxQueued = 1 << 20;

} // namespace

VlessPacketConn::VlessPacketConn(const asio::any_io_executor &executor, Opener open,
    const vless::Uuid &uuid, bool xudp, std::string logPrefix, bool headerInStream)
    : m_executor(executor)
    , m_open(std::move(open))
    , m_uuid(uuid)
    , m_xudp(xudp)
    , m_logPrefix(std::move(logPrefix))
    , m_headerInStream(headerInStream)
{ }

void VlessPacketConn::send(const Destination &to, const std::uint8_t *data, std::size_t size)
{
    if (m_closed || size > 0xFFFF)
        return;
    std::shared_ptr<Channel> &slot = m_xudp ? m_mux : m_channels[to];
    const bool fresh = !slot;
    if (fresh) {
        slot = std::make_shared<Channel>(m_executor);
        slot->destination = to;
    }
    std::shared_ptr<Channel> channel = slot;
    if (channel->out.queued() > maxQueued)
        return;
    std::vector<std::uint8_t> &out = channel->out.pending();
    const std::size_t before = out.size();
    bool encoded = true;
    if (fresh && !m_headerInStream)
        encoded = vless::appendRequest(
            out, m_uuid, m_xudp ? vless::CommandMux : vless::CommandUdp, channel->destination);
    if (encoded && m_xudp) {
        encoded = vless::xudp::appendFrame(out, !channel->firstFrameSent, to, data, size);
        channel->firstFrameSent = true;
    } else if (encoded) {
        vless::appendLengthPacket(out, data, size);
    }
    if (!encoded) {
        out.resize(before);
        if (fresh && m_xudp)
            m_mux.reset();
        else if (fresh)
            m_channels.erase(to);
        return;
    }
    if (channel->stream)
        channel->out.flush(channel->stream, shared_from_this());
    else if (!channel->opening)
        open(channel);
}

void VlessPacketConn::open(const std::shared_ptr<Channel> &channel)
{
    channel->opening = true;
    auto self = shared_from_this();
    m_open(m_executor, [self, channel](const std::string &error, std::shared_ptr<Stream> stream) {
        channel->opening = false;
        if (self->m_closed) {
            if (stream)
                stream->close();
            return;
        }
        if (!error.empty())
            return self->drop(channel, "open packet connection: " + error);
        channel->stream = std::move(stream);
        channel->out.flush(channel->stream, self);
        self->read(channel);
    });
}

void VlessPacketConn::read(const std::shared_ptr<Channel> &channel)
{
    auto self = shared_from_this();
    channel->stream->asyncReadSome(
        channel->in.prepare(), [self, channel](const std::error_code &error, std::size_t size) {
            if (self->m_closed)
                return;
            if (error) {
                const std::string detail = channel->stream->errorDetail();
                return self->drop(channel,
                    channel->response.done() || self->m_headerInStream
                            || error == asio::error::operation_aborted
                        ? std::string()
                        : "read VLESS response: " + (detail.empty() ? errorText(error) : detail));
            }
            channel->in.commit(size);
            if (self->deliver(channel))
                self->read(channel);
        });
}

bool VlessPacketConn::deliver(const std::shared_ptr<Channel> &channel)
{
    InputBuffer &in = channel->in;
    if (!m_headerInStream && !channel->response.done()) {
        in.consume(channel->response.feed(in.data(), in.size()));
        if (channel->response.failed()) {
            drop(channel, "read VLESS response: " + channel->response.error());
            return false;
        }
    }
    while (!in.empty()) {
        std::size_t consumed = 0;
        ParseStatus status;
        if (m_xudp) {
            vless::xudp::Frame frame;
            status = vless::xudp::parseFrame(in.data(), in.size(), frame, consumed);
            if (status == ParseStatus::Done) {
                if (frame.status == vless::xudp::End || (frame.option & vless::xudp::optionError)) {
                    drop(channel, {});
                    return false;
                }
                if (frame.status == vless::xudp::New) {
                    drop(channel, "XUDP: unexpected frame new");
                    return false;
                }
                if ((frame.option & vless::xudp::optionData) && m_handler)
                    m_handler(frame.hasAddress ? frame.address : channel->destination,
                        in.data() + frame.dataAt, frame.dataSize);
            }
        } else {
            std::size_t at = 0;
            std::size_t length = 0;
            status = vless::parseLengthPacket(in.data(), in.size(), at, length, consumed);
            if (status == ParseStatus::Done && m_handler)
                m_handler(channel->destination, in.data() + at, length);
        }
        if (m_closed)
            return false;
        if (status == ParseStatus::NeedMore)
            break;
        if (status == ParseStatus::Invalid) {
            drop(channel, "XUDP: malformed frame");
            return false;
        }
        in.consume(consumed);
    }
    return true;
}

// The next packet to that destination opens a fresh connection.
void VlessPacketConn::drop(const std::shared_ptr<Channel> &channel, const std::string &why)
{
    if (!why.empty())
        logError(m_logPrefix, ": ", why);
    if (channel->stream)
        channel->stream->close();
    if (m_mux == channel)
        m_mux.reset();
    const auto it = m_channels.find(channel->destination);
    if (it != m_channels.end() && it->second == channel)
        m_channels.erase(it);
}

void VlessPacketConn::startReceive(ReceiveHandler handler)
{
    m_handler = std::move(handler);
}

void VlessPacketConn::close()
{
    if (m_closed)
        return;
    m_closed = true;
    m_handler = nullptr;
    if (m_mux && m_mux->stream)
        m_mux->stream->close();
    for (auto &[destination, channel] : m_channels) {
        if (channel->stream)
            channel->stream->close();
    }
    m_mux.reset();
    m_channels.clear();
}

} // namespace qivro::engine
