// A QUIC v1 client connection (ngtcp2 + GnuTLS) over a UDP socket the caller opened and
// connected. Bidirectional streams are handed out as engine Streams; streams nobody claimed (the
// server's unidirectional ones, requests of an HTTP/3 layer) go to an optional application hook.
#pragma once

#include "common/stream.h"

#include <asio/ip/udp.hpp>
#include <asio/steady_timer.hpp>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <ngtcp2/ngtcp2.h>
#include <ngtcp2/ngtcp2_crypto.h>
#include <string>
#include <vector>

typedef struct gnutls_session_int *gnutls_session_t;
typedef struct gnutls_certificate_credentials_st *gnutls_certificate_credentials_t;

namespace qivro::engine::quic {

// Rewrites every UDP datagram of the connection (an obfuscation layer). seal gets the packet with
// overhead() free bytes in front of it; open may move the start of the payload forward.
class PacketObfuscator
{
public:
    virtual ~PacketObfuscator() = default;
    virtual std::size_t overhead() const = 0;
    virtual void seal(std::uint8_t *packet, std::size_t size) = 0;
    virtual bool open(std::uint8_t *&packet, std::size_t &size) = 0;
};

struct QuicOptions
{
    std::string serverName; // sent as SNI unless it is an IP literal
    std::string verifyName; // checked against the certificate; defaults to serverName
    bool insecure = false;
    std::vector<std::string> alpn;
    std::vector<std::string> certificatePem; // trusted instead of the system store when given
    std::string certificatePath;
    std::int64_t idleTimeoutMs = 30000;
    std::int64_t keepAliveMs = 10000;
    std::int64_t handshakeTimeoutMs = 10000;
    std::uint64_t streamWindow = 8 << 20;
    std::uint64_t connectionWindow = 20 << 20;
    std::uint64_t maxIncomingUniStreams = 16;
    bool datagrams = false;
    bool bbr = true;
    std::shared_ptr<PacketObfuscator> obfuscator;
};

// Streams not exposed as QuicStream: the caller consumes their data (connection().consume) and
// supplies what to send on them, in the shape nghttp3 produces it.
class QuicApplication
{
public:
    virtual ~QuicApplication() = default;
    // False closes the connection.
    virtual bool receiveStreamData(
        std::int64_t id, const std::uint8_t *data, std::size_t size, bool fin)
        = 0;
    virtual void streamClosed(std::int64_t id, std::uint64_t errorCode) = 0;
    virtual void streamReset(std::int64_t id, std::uint64_t errorCode) = 0;
    virtual void streamAcked(std::int64_t id, std::uint64_t size) = 0;
    virtual void streamUnblocked(std::int64_t id) = 0;
    // Fills vec with the next data to send; returns the count of entries (< 0: fatal) and sets id
    // (-1 when there is nothing).
    virtual long pendingData(std::int64_t &id, bool &fin, ngtcp2_vec *vec, std::size_t capacity)
        = 0;
    virtual void dataWritten(std::int64_t id, std::size_t size) = 0;
    virtual void streamBlocked(std::int64_t id) = 0;
    virtual void streamWriteShut(std::int64_t id) = 0;
};

class QuicConnection;

class QuicStream
    : public Stream
    , public std::enable_shared_from_this<QuicStream>
{
public:
    struct State;
    QuicStream(std::shared_ptr<QuicConnection> connection, std::shared_ptr<State> state);
    ~QuicStream() override;
    void asyncReadSome(asio::mutable_buffer buffer, IoHandler handler) override;
    void asyncWrite(asio::const_buffer buffer, IoHandler handler) override;
    void shutdownSend() override;
    void close() override;
    std::int64_t id() const;

private:
    std::shared_ptr<QuicConnection> m_connection;
    std::shared_ptr<State> m_state;
};

class QuicConnection : public std::enable_shared_from_this<QuicConnection>
{
public:
    using DoneHandler = std::function<void(const std::string &error)>;
    using DatagramHandler = std::function<void(const std::uint8_t *data, std::size_t size)>;

    QuicConnection(asio::ip::udp::socket socket, QuicOptions options);
    ~QuicConnection();
    QuicConnection(const QuicConnection &) = delete;
    QuicConnection &operator=(const QuicConnection &) = delete;

    // Starts the handshake; done runs once it completes or fails.
    void connect(DoneHandler done);
    // Runs once when the connection ends after a successful handshake, with the reason.
    void setClosedHandler(DoneHandler handler) { m_closedHandler = std::move(handler); }
    void setDatagramHandler(DatagramHandler handler) { m_datagramHandler = std::move(handler); }
    void setApplication(QuicApplication *application) { m_application = application; }

    // A new bidirectional stream; waits for stream credit from the server if there is none.
    void openStream(std::function<void(const std::string &, std::shared_ptr<QuicStream>)> handler);
    // Streams for the application hook. False when the server allows no more.
    bool openRawBidiStream(std::int64_t &id);
    bool openRawUniStream(std::int64_t &id);
    // Returns flow-control credit for bytes the application consumed.
    void consume(std::int64_t id, std::size_t size);
    void shutdownRawStream(std::int64_t id, std::uint64_t errorCode);

    // Queued and sent unreliably; false when it cannot fit into one DATAGRAM frame.
    bool sendDatagram(const std::uint8_t *data, std::size_t size);
    // The largest datagram payload that fits into one packet now.
    std::size_t maxDatagramSize() const;
    bool peerAcceptsDatagrams() const;

    // Closes with an application error code (no-op once closed).
    void close(std::uint64_t applicationError = 0, const std::string &reason = {});
    bool isOpen() const { return m_state == Open; }
    const asio::any_io_executor &executor() const { return m_executor; }
    // Sends what is pending soon (coalesced).
    void scheduleFlush();

private:
    friend class QuicStream;
    enum StateValue
    {
        Idle,
        Handshaking,
        Open,
        Closed
    };

    bool setupTls(std::string &error);
    void receive();
    bool readPacket(std::uint8_t *data, std::size_t size);
    void flush();
    bool writeLoop();
    void sendPacket(std::uint8_t *packet, std::size_t size);
    void armTimer();
    void sendClose(const ngtcp2_connection_close_error &error);
    void fail(const std::string &reason, int libError = 0);
    void terminate(const std::string &reason);
    bool takeStreamData(
        std::shared_ptr<QuicStream::State> &stream, ngtcp2_vec *vec, std::size_t &count, bool &fin);
    void streamDataWritten(QuicStream::State &stream, std::size_t size);
    void completeWrites(QuicStream::State &stream);
    void markWritable(const std::shared_ptr<QuicStream::State> &stream);
    void openPendingStreams();
    std::string closeReason();

    static int onReceiveStreamData(ngtcp2_conn *, std::uint32_t flags, std::int64_t id,
        std::uint64_t offset, const std::uint8_t *data, std::size_t size, void *user, void *);
    static int onAckedStreamData(ngtcp2_conn *, std::int64_t id, std::uint64_t offset,
        std::uint64_t size, void *user, void *);
    static int onStreamClose(ngtcp2_conn *, std::uint32_t flags, std::int64_t id,
        std::uint64_t code, void *user, void *);
    static int onStreamReset(ngtcp2_conn *, std::int64_t id, std::uint64_t finalSize,
        std::uint64_t code, void *user, void *);
    static int onExtendMaxStreams(ngtcp2_conn *, std::uint64_t, void *user);
    static int onExtendMaxStreamData(
        ngtcp2_conn *, std::int64_t id, std::uint64_t, void *user, void *);
    static int onReceiveDatagram(
        ngtcp2_conn *, std::uint32_t, const std::uint8_t *data, std::size_t size, void *user);
    static int onHandshakeCompleted(ngtcp2_conn *, void *user);
    static int onNewConnectionId(
        ngtcp2_conn *, ngtcp2_cid *cid, std::uint8_t *token, std::size_t size, void *user);
    static void onRandom(std::uint8_t *dest, std::size_t size, const ngtcp2_rand_ctx *);
    static ngtcp2_conn *connectionOf(ngtcp2_crypto_conn_ref *ref);

    asio::any_io_executor m_executor;
    asio::ip::udp::socket m_socket;
    asio::steady_timer m_timer;
    QuicOptions m_options;
    StateValue m_state = Idle;
    ngtcp2_conn *m_conn = nullptr;
    gnutls_session_t m_tls = nullptr;
    gnutls_certificate_credentials_t m_credentials = nullptr;
    ngtcp2_crypto_conn_ref m_connRef {};
    std::uint8_t m_localAddress[128] {};
    std::uint8_t m_remoteAddress[128] {};
    ngtcp2_path m_path {};
    std::vector<std::uint8_t> m_receiveBuffer;
    std::vector<std::uint8_t> m_sendBuffer;
    std::size_t m_maxPacketSize = 0;
    bool m_flushScheduled = false;
    bool m_inFlush = false;
    std::string m_error;

    DoneHandler m_connectHandler;
    DoneHandler m_closedHandler;
    DatagramHandler m_datagramHandler;
    QuicApplication *m_application = nullptr;

    std::map<std::int64_t, std::shared_ptr<QuicStream::State>> m_streams;
    std::deque<std::shared_ptr<QuicStream::State>> m_writable;
    std::deque<std::function<void(const std::string &, std::shared_ptr<QuicStream>)>>
        m_pendingOpens;
    std::deque<std::vector<std::uint8_t>> m_datagrams;
};

} // namespace qivro::engine::quic
