// A TCP stream for connections that may carry bulk downloads. While bytes keep arriving it waits a
// moment after the socket turns readable before reading: the sender's small writes then gather in
// the kernel, the engine wakes once per batch instead of once per record, and the receive side's
// acknowledgements (sent as reads free the window) stay few enough for the sender to coalesce its
// writes into large segments.
#pragma once

#include "common/stream.h"

#include <asio/steady_timer.hpp>
#include <cstdint>
#include <memory>

namespace qivro::engine {

class GatheringTcpStream
    : public TcpStream
    , public std::enable_shared_from_this<GatheringTcpStream>
{
public:
    explicit GatheringTcpStream(asio::ip::tcp::socket socket);
    void asyncReadSome(asio::mutable_buffer buffer, IoHandler handler) override;
    void close() override;
    void abort() override;

    // A read after a wait that brings less than this ends bulk mode: the sender has slowed down,
    // and waiting would only add latency.
    static constexpr std::size_t batchBytes = 16 * 1024;

private:
    enum class After
    {
        Call,
        Wait,
        Pause
    };
    void readNow(asio::mutable_buffer buffer, IoHandler handler, After after);

    asio::steady_timer m_timer;
    std::uint64_t m_streak = 0; // bytes read since the stream last went quiet
};

} // namespace qivro::engine
