// A TCP stream for connections that may carry bulk downloads. While bytes keep arriving it lets
// them gather in the kernel and wakes only for a batch: a peer that writes many small records
// would otherwise wake the engine, and so the engine's own reader, once for each of them.
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

    // Bytes a wake-up waits for once a transfer runs in bulk.
    static constexpr int batchBytes = 16 * 1024;

private:
    void readNow(asio::mutable_buffer buffer, IoHandler handler, bool waited);
    void setGathering(bool gathering);

    asio::steady_timer m_timer;
    std::uint64_t m_streak = 0; // bytes read since the stream last went quiet
    bool m_gathering = false;
};

} // namespace qivro::engine
