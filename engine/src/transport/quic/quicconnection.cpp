#include "transport/quic/quicconnection.h"

#include <algorithm>
#include <asio/post.hpp>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <gnutls/crypto.h>
#include <gnutls/gnutls.h>
#include <ngtcp2/ngtcp2_crypto_gnutls.h>

namespace qivro::engine::quic {

namespace {

// A write completes while at most this much of the stream is still waiting for the congestion
// window, so a relay keeps the pipe full without buffering without bound.
constexpr std::uint64_t kWriteLowWater = 256 * 1024;
constexpr std::size_t kMaxQueuedDatagrams = 512;
constexpr std::size_t kReceiveBatch = 64;
constexpr std::uint64_t kH3NoError = 0x100;

ngtcp2_tstamp now()
{
    return static_cast<ngtcp2_tstamp>(std::chrono::duration_cast<std::chrono::nanoseconds>(
        std::chrono::steady_clock::now().time_since_epoch())
                                          .count());
}

bool isIpLiteral(const std::string &host)
{
    std::error_code error;
    asio::ip::make_address(host, error);
    return !error;
}

std::string hex(std::uint64_t value)
{
    char text[24];
    std::snprintf(text, sizeof text, "0x%llx", static_cast<unsigned long long>(value));
    return text;
}

} // namespace

struct QuicStream::State
{
    std::int64_t id = -1;

    std::vector<std::uint8_t> received;
    std::size_t receivedOffset = 0;
    bool finReceived = false;
    std::error_code readError;
    asio::mutable_buffer readBuffer;
    IoHandler readHandler;

    // Sent data stays here until acknowledged: ngtcp2 retransmits from these buffers.
    std::deque<std::vector<std::uint8_t>> chunks;
    std::uint64_t ackedInFront = 0;
    std::size_t unsentChunk = 0;
    std::size_t unsentOffset = 0;
    std::uint64_t unsentBytes = 0;
    bool finPending = false;
    bool finSent = false;
    bool queued = false;
    std::error_code writeError;
    IoHandler writeHandler;
    std::size_t writeSize = 0;

    bool closed = false; // by ngtcp2
    bool localClosed = false;

    // Copies what fits into buffer. The consumed front is dropped once it outweighs the rest, so
    // a reader that never quite catches up does not grow the buffer for ever.
    std::size_t take(asio::mutable_buffer buffer)
    {
        const std::size_t size = std::min(buffer.size(), received.size() - receivedOffset);
        std::memcpy(buffer.data(), received.data() + receivedOffset, size);
        receivedOffset += size;
        if (receivedOffset == received.size()) {
            received.clear();
            receivedOffset = 0;
        } else if (receivedOffset >= 65536 && receivedOffset * 2 >= received.size()) {
            received.erase(received.begin(), received.begin() + static_cast<long>(receivedOffset));
            receivedOffset = 0;
        }
        return size;
    }
};

// ---- QuicStream

QuicStream::QuicStream(std::shared_ptr<QuicConnection> connection, std::shared_ptr<State> state)
    : m_connection(std::move(connection))
    , m_state(std::move(state))
{ }

QuicStream::~QuicStream()
{
    close();
}

std::int64_t QuicStream::id() const
{
    return m_state->id;
}

void QuicStream::asyncReadSome(asio::mutable_buffer buffer, IoHandler handler)
{
    State &state = *m_state;
    const auto &executor = m_connection->executor();
    if (state.receivedOffset < state.received.size()) {
        const std::size_t size = state.take(buffer);
        m_connection->consume(state.id, size);
        asio::post(executor, [handler = std::move(handler), size] { handler({}, size); });
        return;
    }
    if (state.finReceived || state.readError || state.localClosed) {
        std::error_code error = state.readError;
        if (!error)
            error = state.localClosed ? make_error_code(asio::error::operation_aborted)
                                      : make_error_code(asio::error::eof);
        asio::post(executor, [handler = std::move(handler), error] { handler(error, 0); });
        return;
    }
    state.readBuffer = buffer;
    state.readHandler = std::move(handler);
}

void QuicStream::asyncWrite(asio::const_buffer buffer, IoHandler handler)
{
    State &state = *m_state;
    const auto &executor = m_connection->executor();
    std::error_code error = state.writeError;
    if (!error && (state.finPending || state.localClosed))
        error = asio::error::shut_down;
    if (error || buffer.size() == 0) {
        asio::post(executor, [handler = std::move(handler), error] { handler(error, 0); });
        return;
    }
    const auto *data = static_cast<const std::uint8_t *>(buffer.data());
    state.chunks.emplace_back(data, data + buffer.size());
    state.unsentBytes += buffer.size();
    state.writeHandler = std::move(handler);
    state.writeSize = buffer.size();
    m_connection->markWritable(m_state);
    m_connection->completeWrites(state);
    m_connection->scheduleFlush();
}

void QuicStream::shutdownSend()
{
    State &state = *m_state;
    if (state.finPending || state.localClosed || state.closed)
        return;
    state.finPending = true;
    m_connection->markWritable(m_state);
    m_connection->scheduleFlush();
}

void QuicStream::close()
{
    State &state = *m_state;
    if (state.localClosed)
        return;
    state.localClosed = true;
    const auto &executor = m_connection->executor();
    for (IoHandler *pending : {&state.readHandler, &state.writeHandler}) {
        if (*pending)
            asio::post(executor,
                [handler = std::move(*pending)] { handler(asio::error::operation_aborted, 0); });
        *pending = nullptr;
    }
    state.received.clear();
    state.receivedOffset = 0;
    if (state.closed || !m_connection->isOpen())
        return;
    // After our FIN the tail may still be in flight: only stop reading then.
    if (state.finPending) {
        if (!state.finReceived)
            ngtcp2_conn_shutdown_stream_read(m_connection->m_conn, state.id, 0);
    } else {
        ngtcp2_conn_shutdown_stream(m_connection->m_conn, state.id, 0);
    }
    m_connection->scheduleFlush();
}

// ---- QuicConnection

QuicConnection::QuicConnection(asio::ip::udp::socket socket, QuicOptions options)
    : m_executor(socket.get_executor())
    , m_socket(std::move(socket))
    , m_timer(m_executor)
    , m_options(std::move(options))
{
    if (m_options.verifyName.empty())
        m_options.verifyName = m_options.serverName;
}

QuicConnection::~QuicConnection()
{
    if (m_conn)
        ngtcp2_conn_del(m_conn);
    if (m_tls)
        gnutls_deinit(m_tls);
    if (m_credentials)
        gnutls_certificate_free_credentials(m_credentials);
}

ngtcp2_conn *QuicConnection::connectionOf(ngtcp2_crypto_conn_ref *ref)
{
    return static_cast<QuicConnection *>(ref->user_data)->m_conn;
}

void QuicConnection::onRandom(std::uint8_t *dest, std::size_t size, const ngtcp2_rand_ctx *)
{
    gnutls_rnd(GNUTLS_RND_RANDOM, dest, size);
}

bool QuicConnection::setupTls(std::string &error)
{
    if (gnutls_certificate_allocate_credentials(&m_credentials) != 0) {
        error = "tls: cannot allocate credentials";
        return false;
    }
    if (!m_options.certificatePem.empty() || !m_options.certificatePath.empty()) {
        if (!m_options.certificatePem.empty()) {
            std::string pem;
            for (const std::string &line : m_options.certificatePem)
                pem += line + "\n";
            gnutls_datum_t datum {reinterpret_cast<unsigned char *>(pem.data()),
                static_cast<unsigned int>(pem.size())};
            if (gnutls_certificate_set_x509_trust_mem(m_credentials, &datum, GNUTLS_X509_FMT_PEM)
                <= 0) {
                error = "tls: no certificate in tls.certificate";
                return false;
            }
        }
        if (!m_options.certificatePath.empty()
            && gnutls_certificate_set_x509_trust_file(
                   m_credentials, m_options.certificatePath.c_str(), GNUTLS_X509_FMT_PEM)
                <= 0) {
            error = "tls: cannot load certificate " + m_options.certificatePath;
            return false;
        }
    } else {
        gnutls_certificate_set_x509_system_trust(m_credentials);
        if (const char *extra = std::getenv("QIVRO_EXTRA_CA_FILE"); extra && *extra)
            gnutls_certificate_set_x509_trust_file(m_credentials, extra, GNUTLS_X509_FMT_PEM);
    }

    if (gnutls_init(&m_tls, GNUTLS_CLIENT | GNUTLS_NO_END_OF_EARLY_DATA) != 0) {
        error = "tls: cannot create a session";
        return false;
    }
    const char *priority = "NORMAL:-VERS-ALL:+VERS-TLS1.3:-CIPHER-ALL:+AES-128-GCM:+AES-256-GCM:"
                           "+CHACHA20-POLY1305:+AES-128-CCM:%DISABLE_TLS13_COMPAT_MODE";
    if (gnutls_priority_set_direct(m_tls, priority, nullptr) != 0
        || ngtcp2_crypto_gnutls_configure_client_session(m_tls) != 0
        || gnutls_credentials_set(m_tls, GNUTLS_CRD_CERTIFICATE, m_credentials) != 0) {
        error = "tls: cannot configure the session";
        return false;
    }
    m_connRef.get_conn = &QuicConnection::connectionOf;
    m_connRef.user_data = this;
    gnutls_session_set_ptr(m_tls, &m_connRef);
    if (!m_options.serverName.empty() && !isIpLiteral(m_options.serverName))
        gnutls_server_name_set(
            m_tls, GNUTLS_NAME_DNS, m_options.serverName.data(), m_options.serverName.size());
    std::vector<gnutls_datum_t> protocols;
    for (std::string &name : m_options.alpn)
        protocols.push_back({reinterpret_cast<unsigned char *>(name.data()),
            static_cast<unsigned int>(name.size())});
    if (!protocols.empty())
        gnutls_alpn_set_protocols(
            m_tls, protocols.data(), static_cast<unsigned int>(protocols.size()), 0);
    if (!m_options.insecure)
        gnutls_session_set_verify_cert(m_tls, m_options.verifyName.c_str(), 0);
    return true;
}

void QuicConnection::connect(DoneHandler done)
{
    m_connectHandler = std::move(done);
    m_state = Handshaking;
    std::string error;
    std::error_code socketError;
    const asio::ip::udp::endpoint local = m_socket.local_endpoint(socketError);
    const asio::ip::udp::endpoint remote = m_socket.remote_endpoint(socketError);
    if (socketError) {
        terminate("quic: socket not connected: " + socketError.message());
        return;
    }
    std::memcpy(m_localAddress, local.data(), local.size());
    std::memcpy(m_remoteAddress, remote.data(), remote.size());
    m_path.local = {reinterpret_cast<ngtcp2_sockaddr *>(m_localAddress),
        static_cast<ngtcp2_socklen>(local.size())};
    m_path.remote = {reinterpret_cast<ngtcp2_sockaddr *>(m_remoteAddress),
        static_cast<ngtcp2_socklen>(remote.size())};
    m_socket.non_blocking(true, socketError);

    if (!setupTls(error)) {
        terminate(error);
        return;
    }

    ngtcp2_callbacks callbacks {};
    callbacks.client_initial = ngtcp2_crypto_client_initial_cb;
    callbacks.recv_crypto_data = ngtcp2_crypto_recv_crypto_data_cb;
    callbacks.encrypt = ngtcp2_crypto_encrypt_cb;
    callbacks.decrypt = ngtcp2_crypto_decrypt_cb;
    callbacks.hp_mask = ngtcp2_crypto_hp_mask_cb;
    callbacks.recv_retry = ngtcp2_crypto_recv_retry_cb;
    callbacks.update_key = ngtcp2_crypto_update_key_cb;
    callbacks.delete_crypto_aead_ctx = ngtcp2_crypto_delete_crypto_aead_ctx_cb;
    callbacks.delete_crypto_cipher_ctx = ngtcp2_crypto_delete_crypto_cipher_ctx_cb;
    callbacks.get_path_challenge_data = ngtcp2_crypto_get_path_challenge_data_cb;
    callbacks.version_negotiation = ngtcp2_crypto_version_negotiation_cb;
    callbacks.rand = &QuicConnection::onRandom;
    callbacks.get_new_connection_id = &QuicConnection::onNewConnectionId;
    callbacks.handshake_completed = &QuicConnection::onHandshakeCompleted;
    callbacks.recv_stream_data = &QuicConnection::onReceiveStreamData;
    callbacks.acked_stream_data_offset = &QuicConnection::onAckedStreamData;
    callbacks.stream_close = &QuicConnection::onStreamClose;
    callbacks.stream_reset = &QuicConnection::onStreamReset;
    callbacks.extend_max_local_streams_bidi = &QuicConnection::onExtendMaxStreams;
    callbacks.extend_max_stream_data = &QuicConnection::onExtendMaxStreamData;
    callbacks.recv_datagram = &QuicConnection::onReceiveDatagram;

    ngtcp2_settings settings;
    ngtcp2_settings_default(&settings);
    settings.initial_ts = now();
    settings.cc_algo = m_options.bbr ? NGTCP2_CC_ALGO_BBR : NGTCP2_CC_ALGO_CUBIC;
    settings.max_window = m_options.connectionWindow;
    settings.max_stream_window = m_options.streamWindow;
    settings.handshake_timeout
        = static_cast<ngtcp2_duration>(m_options.handshakeTimeoutMs) * NGTCP2_MILLISECONDS;
    const std::size_t overhead = m_options.obfuscator ? m_options.obfuscator->overhead() : 0;
    settings.max_tx_udp_payload_size -= overhead;
    m_maxPacketSize = settings.max_tx_udp_payload_size;

    ngtcp2_transport_params params;
    ngtcp2_transport_params_default(&params);
    params.initial_max_stream_data_bidi_local = m_options.streamWindow;
    params.initial_max_stream_data_bidi_remote = m_options.streamWindow;
    params.initial_max_stream_data_uni = m_options.streamWindow;
    params.initial_max_data = m_options.connectionWindow;
    params.initial_max_streams_bidi = 0;
    params.initial_max_streams_uni = m_options.maxIncomingUniStreams;
    params.max_idle_timeout
        = static_cast<ngtcp2_duration>(m_options.idleTimeoutMs) * NGTCP2_MILLISECONDS;
    params.max_datagram_frame_size = m_options.datagrams ? 65535 : 0;

    ngtcp2_cid dcid;
    ngtcp2_cid scid;
    dcid.datalen = 18;
    scid.datalen = 16;
    gnutls_rnd(GNUTLS_RND_RANDOM, dcid.data, dcid.datalen);
    gnutls_rnd(GNUTLS_RND_RANDOM, scid.data, scid.datalen);
    const int rv = ngtcp2_conn_client_new(&m_conn, &dcid, &scid, &m_path, NGTCP2_PROTO_VER_V1,
        &callbacks, &settings, &params, nullptr, this);
    if (rv != 0) {
        m_conn = nullptr;
        terminate(std::string("quic: ") + ngtcp2_strerror(rv));
        return;
    }
    ngtcp2_conn_set_tls_native_handle(m_conn, m_tls);
    if (m_options.keepAliveMs > 0)
        ngtcp2_conn_set_keep_alive_timeout(
            m_conn, static_cast<ngtcp2_duration>(m_options.keepAliveMs) * NGTCP2_MILLISECONDS);

    m_receiveBuffer.resize(65536);
    m_sendBuffer.resize(
        std::max<std::size_t>(m_maxPacketSize, NGTCP2_MAX_PMTUD_UDP_PAYLOAD_SIZE) + overhead + 64);
    receive();
    flush();
}

// ---- ngtcp2 callbacks (no ngtcp2 write calls in here; handlers are posted)

int QuicConnection::onNewConnectionId(
    ngtcp2_conn *, ngtcp2_cid *cid, std::uint8_t *token, std::size_t size, void *)
{
    cid->datalen = size;
    gnutls_rnd(GNUTLS_RND_RANDOM, cid->data, size);
    gnutls_rnd(GNUTLS_RND_RANDOM, token, NGTCP2_STATELESS_RESET_TOKENLEN);
    return 0;
}

int QuicConnection::onHandshakeCompleted(ngtcp2_conn *, void *user)
{
    auto *self = static_cast<QuicConnection *>(user);
    self->m_state = Open;
    if (self->m_connectHandler)
        asio::post(self->m_executor,
            [handler = std::move(self->m_connectHandler)] { handler(std::string()); });
    self->m_connectHandler = nullptr;
    return 0;
}

int QuicConnection::onReceiveStreamData(ngtcp2_conn *conn, std::uint32_t flags, std::int64_t id,
    std::uint64_t, const std::uint8_t *data, std::size_t size, void *user, void *)
{
    auto *self = static_cast<QuicConnection *>(user);
    const bool fin = (flags & NGTCP2_STREAM_DATA_FLAG_FIN) != 0;
    const auto found = self->m_streams.find(id);
    if (found == self->m_streams.end()) {
        if (self->m_application)
            return self->m_application->receiveStreamData(id, data, size, fin)
                ? 0
                : NGTCP2_ERR_CALLBACK_FAILURE;
        ngtcp2_conn_extend_max_stream_offset(conn, id, size);
        ngtcp2_conn_extend_max_offset(conn, size);
        return 0;
    }
    QuicStream::State &state = *found->second;
    if (state.localClosed) {
        ngtcp2_conn_extend_max_stream_offset(conn, id, size);
        ngtcp2_conn_extend_max_offset(conn, size);
        return 0;
    }
    state.received.insert(state.received.end(), data, data + size);
    state.finReceived = state.finReceived || fin;
    if (state.readHandler && (size > 0 || state.finReceived)) {
        IoHandler handler = std::move(state.readHandler);
        state.readHandler = nullptr;
        if (state.receivedOffset == state.received.size()) {
            asio::post(
                self->m_executor, [handler = std::move(handler)] { handler(asio::error::eof, 0); });
            return 0;
        }
        const std::size_t copied = state.take(state.readBuffer);
        ngtcp2_conn_extend_max_stream_offset(conn, id, copied);
        ngtcp2_conn_extend_max_offset(conn, copied);
        asio::post(
            self->m_executor, [handler = std::move(handler), copied] { handler({}, copied); });
    }
    return 0;
}

int QuicConnection::onAckedStreamData(
    ngtcp2_conn *, std::int64_t id, std::uint64_t, std::uint64_t size, void *user, void *)
{
    auto *self = static_cast<QuicConnection *>(user);
    const auto found = self->m_streams.find(id);
    if (found == self->m_streams.end()) {
        if (self->m_application)
            self->m_application->streamAcked(id, size);
        return 0;
    }
    QuicStream::State &state = *found->second;
    state.ackedInFront += size;
    while (!state.chunks.empty() && state.ackedInFront >= state.chunks.front().size()
        && state.unsentChunk > 0) {
        state.ackedInFront -= state.chunks.front().size();
        state.chunks.pop_front();
        --state.unsentChunk;
    }
    return 0;
}

int QuicConnection::onStreamClose(
    ngtcp2_conn *, std::uint32_t flags, std::int64_t id, std::uint64_t code, void *user, void *)
{
    auto *self = static_cast<QuicConnection *>(user);
    if (!(flags & NGTCP2_STREAM_CLOSE_FLAG_APP_ERROR_CODE_SET))
        code = 0;
    const auto found = self->m_streams.find(id);
    if (found == self->m_streams.end()) {
        if (self->m_application)
            self->m_application->streamClosed(id, code);
        return 0;
    }
    std::shared_ptr<QuicStream::State> state = found->second;
    self->m_streams.erase(found);
    state->closed = true;
    state->chunks.clear();
    if (!state->finReceived && !state->readError)
        state->readError = asio::error::connection_reset;
    if (!state->writeError && (state->unsentBytes > 0 || !state->finSent))
        state->writeError = asio::error::connection_reset;
    state->unsentBytes = 0;
    if (state->readHandler && state->receivedOffset == state->received.size()) {
        asio::post(
            self->m_executor, [handler = std::move(state->readHandler), error = state->readError] {
                handler(error, 0);
            });
        state->readHandler = nullptr;
    }
    self->completeWrites(*state);
    return 0;
}

int QuicConnection::onStreamReset(
    ngtcp2_conn *, std::int64_t id, std::uint64_t, std::uint64_t code, void *user, void *)
{
    auto *self = static_cast<QuicConnection *>(user);
    const auto found = self->m_streams.find(id);
    if (found == self->m_streams.end()) {
        if (self->m_application)
            self->m_application->streamReset(id, code);
        return 0;
    }
    QuicStream::State &state = *found->second;
    state.readError = asio::error::connection_reset;
    state.received.clear();
    state.receivedOffset = 0;
    if (state.readHandler) {
        asio::post(self->m_executor, [handler = std::move(state.readHandler)] {
            handler(asio::error::connection_reset, 0);
        });
        state.readHandler = nullptr;
    }
    return 0;
}

int QuicConnection::onExtendMaxStreams(ngtcp2_conn *, std::uint64_t, void *user)
{
    auto *self = static_cast<QuicConnection *>(user);
    if (!self->m_pendingOpens.empty())
        asio::post(self->m_executor, [weak = self->weak_from_this()] {
            if (auto connection = weak.lock())
                connection->openPendingStreams();
        });
    return 0;
}

int QuicConnection::onExtendMaxStreamData(
    ngtcp2_conn *, std::int64_t id, std::uint64_t, void *user, void *)
{
    auto *self = static_cast<QuicConnection *>(user);
    const auto found = self->m_streams.find(id);
    if (found == self->m_streams.end()) {
        if (self->m_application)
            self->m_application->streamUnblocked(id);
        return 0;
    }
    self->markWritable(found->second);
    return 0;
}

int QuicConnection::onReceiveDatagram(
    ngtcp2_conn *, std::uint32_t, const std::uint8_t *data, std::size_t size, void *user)
{
    auto *self = static_cast<QuicConnection *>(user);
    if (self->m_datagramHandler)
        self->m_datagramHandler(data, size);
    return 0;
}

// ---- streams

void QuicConnection::openStream(
    std::function<void(const std::string &, std::shared_ptr<QuicStream>)> handler)
{
    if (m_state != Open) {
        asio::post(m_executor, [handler = std::move(handler), error = m_error] {
            handler(error.empty() ? "quic: connection closed" : error, nullptr);
        });
        return;
    }
    m_pendingOpens.push_back(std::move(handler));
    openPendingStreams();
}

void QuicConnection::openPendingStreams()
{
    while (m_state == Open && !m_pendingOpens.empty()) {
        std::int64_t id = -1;
        if (ngtcp2_conn_open_bidi_stream(m_conn, &id, nullptr) != 0)
            return; // no credit yet: extend_max_local_streams_bidi brings us back
        auto state = std::make_shared<QuicStream::State>();
        state->id = id;
        m_streams[id] = state;
        auto stream = std::make_shared<QuicStream>(shared_from_this(), state);
        asio::post(m_executor,
            [handler = std::move(m_pendingOpens.front()), stream] { handler({}, stream); });
        m_pendingOpens.pop_front();
    }
}

bool QuicConnection::openRawBidiStream(std::int64_t &id)
{
    return m_conn && m_state == Open && ngtcp2_conn_open_bidi_stream(m_conn, &id, nullptr) == 0;
}

bool QuicConnection::openRawUniStream(std::int64_t &id)
{
    return m_conn && m_state == Open && ngtcp2_conn_open_uni_stream(m_conn, &id, nullptr) == 0;
}

void QuicConnection::consume(std::int64_t id, std::size_t size)
{
    if (!m_conn || m_state == Closed || size == 0)
        return;
    ngtcp2_conn_extend_max_stream_offset(m_conn, id, size);
    ngtcp2_conn_extend_max_offset(m_conn, size);
    if (!m_inFlush)
        scheduleFlush();
}

void QuicConnection::shutdownRawStream(std::int64_t id, std::uint64_t errorCode)
{
    if (m_conn && m_state != Closed) {
        ngtcp2_conn_shutdown_stream(m_conn, id, errorCode);
        scheduleFlush();
    }
}

void QuicConnection::markWritable(const std::shared_ptr<QuicStream::State> &stream)
{
    if (stream->queued || stream->closed)
        return;
    if (stream->unsentBytes == 0 && !(stream->finPending && !stream->finSent))
        return;
    stream->queued = true;
    m_writable.push_back(stream);
}

void QuicConnection::completeWrites(QuicStream::State &stream)
{
    if (!stream.writeHandler)
        return;
    if (!stream.writeError && stream.unsentBytes > kWriteLowWater)
        return;
    const std::size_t size = stream.writeError ? 0 : stream.writeSize;
    asio::post(
        m_executor, [handler = std::move(stream.writeHandler), error = stream.writeError, size] {
            handler(error, size);
        });
    stream.writeHandler = nullptr;
}

bool QuicConnection::takeStreamData(
    std::shared_ptr<QuicStream::State> &stream, ngtcp2_vec *vec, std::size_t &count, bool &fin)
{
    count = 0;
    std::size_t chunk = stream->unsentChunk;
    std::size_t offset = stream->unsentOffset;
    while (chunk < stream->chunks.size() && count < 16) {
        auto &data = stream->chunks[chunk];
        vec[count].base = data.data() + offset;
        vec[count].len = data.size() - offset;
        ++count;
        ++chunk;
        offset = 0;
    }
    fin = stream->finPending && !stream->finSent && chunk == stream->chunks.size();
    return count > 0 || fin;
}

void QuicConnection::streamDataWritten(QuicStream::State &stream, std::size_t size)
{
    stream.unsentBytes -= size;
    while (size > 0 && stream.unsentChunk < stream.chunks.size()) {
        const std::size_t left = stream.chunks[stream.unsentChunk].size() - stream.unsentOffset;
        const std::size_t step = std::min(left, size);
        stream.unsentOffset += step;
        size -= step;
        if (stream.unsentOffset == stream.chunks[stream.unsentChunk].size()) {
            ++stream.unsentChunk;
            stream.unsentOffset = 0;
        }
    }
    completeWrites(stream);
}

bool QuicConnection::sendDatagram(const std::uint8_t *data, std::size_t size)
{
    if (m_state != Open || size > maxDatagramSize())
        return false;
    if (m_datagrams.size() >= kMaxQueuedDatagrams)
        m_datagrams.pop_front();
    m_datagrams.emplace_back(data, data + size);
    scheduleFlush();
    return true;
}

bool QuicConnection::peerAcceptsDatagrams() const
{
    if (!m_conn)
        return false;
    const ngtcp2_transport_params *params = ngtcp2_conn_get_remote_transport_params(m_conn);
    return params && params->max_datagram_frame_size > 0;
}

std::size_t QuicConnection::maxDatagramSize() const
{
    if (!m_conn)
        return 0;
    const ngtcp2_transport_params *params = ngtcp2_conn_get_remote_transport_params(m_conn);
    if (!params || params->max_datagram_frame_size == 0)
        return 0;
    // Short header: flags, connection ID, packet number (up to 4), AEAD tag; frame: type and a
    // length of up to 4 bytes.
    const std::size_t packetOverhead = 1 + ngtcp2_conn_get_dcid(m_conn)->datalen + 4 + 16;
    const std::size_t frameOverhead = 1 + 4;
    const std::size_t path = ngtcp2_conn_get_path_max_tx_udp_payload_size(m_conn);
    const std::size_t byPath
        = path > packetOverhead + frameOverhead ? path - packetOverhead - frameOverhead : 0;
    const std::size_t byPeer = params->max_datagram_frame_size > frameOverhead
        ? static_cast<std::size_t>(params->max_datagram_frame_size) - frameOverhead
        : 0;
    return std::min(byPath, byPeer);
}

// ---- I/O

void QuicConnection::scheduleFlush()
{
    if (m_flushScheduled || m_state == Closed)
        return;
    m_flushScheduled = true;
    asio::post(m_executor, [weak = weak_from_this()] {
        if (auto self = weak.lock()) {
            self->m_flushScheduled = false;
            self->flush();
        }
    });
}

void QuicConnection::receive()
{
    auto self = shared_from_this();
    m_socket.async_receive(
        asio::buffer(m_receiveBuffer), [self](const std::error_code &error, std::size_t size) {
            if (self->m_state == Closed)
                return;
            if (error) {
                if (error == asio::error::operation_aborted)
                    return;
                // An ICMP error on the connected socket: fatal only before the server answered.
                if (self->m_state == Handshaking) {
                    self->terminate("quic: " + error.message());
                    return;
                }
                self->receive();
                return;
            }
            if (!self->readPacket(self->m_receiveBuffer.data(), size))
                return;
            for (std::size_t i = 1; i < kReceiveBatch; ++i) {
                std::error_code more;
                const std::size_t next
                    = self->m_socket.receive(asio::buffer(self->m_receiveBuffer), 0, more);
                if (more)
                    break;
                if (!self->readPacket(self->m_receiveBuffer.data(), next))
                    return;
            }
            self->flush();
            self->receive();
        });
}

bool QuicConnection::readPacket(std::uint8_t *data, std::size_t size)
{
    if (m_options.obfuscator && !m_options.obfuscator->open(data, size))
        return true; // not ours: drop
    ngtcp2_pkt_info info {};
    const int rv = ngtcp2_conn_read_pkt(m_conn, &m_path, &info, data, size, now());
    if (rv == 0)
        return true;
    if (rv == NGTCP2_ERR_DRAINING) {
        terminate(closeReason());
        return false;
    }
    if (rv == NGTCP2_ERR_DROP_CONN) {
        terminate("quic: connection dropped");
        return false;
    }
    if (rv == NGTCP2_ERR_CRYPTO) {
        const std::uint8_t alert = ngtcp2_conn_get_tls_alert(m_conn);
        const char *name = gnutls_alert_get_strname(static_cast<gnutls_alert_description_t>(alert));
        fail(std::string("tls: handshake failed: ") + (name ? name : "alert " + hex(alert)), rv);
        return false;
    }
    fail(std::string("quic: ") + ngtcp2_strerror(rv), rv);
    return false;
}

std::string QuicConnection::closeReason()
{
    ngtcp2_connection_close_error error;
    ngtcp2_conn_get_connection_close_error(m_conn, &error);
    std::string text = "quic: closed by the server";
    if (error.type == NGTCP2_CONNECTION_CLOSE_ERROR_CODE_TYPE_APPLICATION)
        text += " (application error " + hex(error.error_code) + ")";
    else if (error.error_code != 0)
        text += " (error " + hex(error.error_code) + ")";
    if (error.reason && error.reasonlen > 0)
        text += ": " + std::string(reinterpret_cast<const char *>(error.reason), error.reasonlen);
    return text;
}

void QuicConnection::sendPacket(std::uint8_t *packet, std::size_t size)
{
    if (m_options.obfuscator) {
        const std::size_t overhead = m_options.obfuscator->overhead();
        packet -= overhead;
        size += overhead;
        m_options.obfuscator->seal(packet, size);
    }
    std::error_code ignored; // a full send buffer is loss, which QUIC recovers from
    m_socket.send(asio::buffer(packet, size), 0, ignored);
}

void QuicConnection::flush()
{
    if (m_state == Closed || !m_conn || m_inFlush)
        return;
    m_inFlush = true;
    const bool ok = writeLoop();
    m_inFlush = false;
    if (ok)
        armTimer();
}

bool QuicConnection::writeLoop()
{
    const ngtcp2_tstamp ts = now();
    const std::size_t overhead = m_options.obfuscator ? m_options.obfuscator->overhead() : 0;
    std::uint8_t *dest = m_sendBuffer.data() + overhead;
    const std::size_t capacity = m_sendBuffer.size() - overhead;
    const std::size_t quantum = ngtcp2_conn_get_send_quantum(m_conn);
    const std::size_t maxPackets
        = std::clamp<std::size_t>(quantum / std::max<std::size_t>(m_maxPacketSize, 1), 1, 64);
    std::size_t packets = 0;
    bool applicationDone = m_application == nullptr;
    int datagramMisses = 0;

    for (;;) {
        std::int64_t streamId = -1;
        bool fin = false;
        ngtcp2_vec vec[16];
        std::size_t count = 0;
        bool fromApplication = false;
        std::shared_ptr<QuicStream::State> stream;
        const bool dataAllowed = ngtcp2_conn_get_max_data_left(m_conn) > 0;

        if (!applicationDone && m_state == Open) {
            const long n = m_application->pendingData(streamId, fin, vec, 16);
            if (n < 0) {
                fail("http3: cannot write");
                return false;
            }
            count = static_cast<std::size_t>(n);
            if (streamId >= 0)
                fromApplication = true;
            else
                applicationDone = true;
        }
        while (streamId < 0 && !m_writable.empty()) {
            stream = m_writable.front();
            if (!stream->closed && (dataAllowed || stream->unsentBytes == 0)
                && takeStreamData(stream, vec, count, fin)) {
                streamId = stream->id;
                break;
            }
            if (!stream->closed && !dataAllowed && stream->unsentBytes > 0) {
                stream.reset();
                break; // connection flow control: MAX_DATA brings a flush
            }
            stream->queued = false;
            m_writable.pop_front();
            stream.reset();
        }

        ngtcp2_ssize written = -1;
        ngtcp2_ssize nwrite;
        ngtcp2_pkt_info info {};
        if (streamId >= 0 || m_datagrams.empty() || m_state != Open) {
            std::uint32_t flags = NGTCP2_WRITE_STREAM_FLAG_MORE;
            if (fin)
                flags |= NGTCP2_WRITE_STREAM_FLAG_FIN;
            nwrite = ngtcp2_conn_writev_stream(
                m_conn, nullptr, &info, dest, capacity, &written, flags, streamId, vec, count, ts);
            if (nwrite < 0) {
                if (nwrite == NGTCP2_ERR_STREAM_DATA_BLOCKED) {
                    if (fromApplication) {
                        m_application->streamBlocked(streamId);
                    } else {
                        stream->queued = false;
                        m_writable.pop_front();
                    }
                    continue;
                }
                if (nwrite == NGTCP2_ERR_STREAM_SHUT_WR || nwrite == NGTCP2_ERR_STREAM_NOT_FOUND) {
                    if (fromApplication) {
                        m_application->streamWriteShut(streamId);
                    } else {
                        stream->writeError = asio::error::broken_pipe;
                        stream->unsentBytes = 0;
                        stream->finPending = false;
                        completeWrites(*stream);
                        stream->queued = false;
                        m_writable.pop_front();
                    }
                    continue;
                }
                if (nwrite != NGTCP2_ERR_WRITE_MORE) {
                    fail(std::string("quic: ") + ngtcp2_strerror(static_cast<int>(nwrite)),
                        static_cast<int>(nwrite));
                    return false;
                }
            }
            if (written >= 0 && streamId >= 0) {
                if (fromApplication) {
                    m_application->dataWritten(streamId, static_cast<std::size_t>(written));
                } else {
                    std::size_t offered = 0;
                    for (std::size_t i = 0; i < count; ++i)
                        offered += vec[i].len;
                    streamDataWritten(*stream, static_cast<std::size_t>(written));
                    if (fin && static_cast<std::size_t>(written) == offered)
                        stream->finSent = true;
                    if (stream->unsentBytes == 0 && !(stream->finPending && !stream->finSent)) {
                        stream->queued = false;
                        m_writable.pop_front();
                    } else if (nwrite > 0) {
                        m_writable.pop_front(); // round robin between busy streams
                        m_writable.push_back(stream);
                    }
                }
            }
            if (nwrite == NGTCP2_ERR_WRITE_MORE)
                continue;
        } else {
            int accepted = 0;
            ngtcp2_vec datagram {m_datagrams.front().data(), m_datagrams.front().size()};
            nwrite = ngtcp2_conn_writev_datagram(m_conn, nullptr, &info, dest, capacity, &accepted,
                NGTCP2_WRITE_DATAGRAM_FLAG_MORE, 0, &datagram, 1, ts);
            if (accepted || nwrite == NGTCP2_ERR_INVALID_ARGUMENT
                || nwrite == NGTCP2_ERR_INVALID_STATE || (nwrite > 0 && ++datagramMisses > 1)) {
                m_datagrams.pop_front();
                datagramMisses = 0;
            }
            if (nwrite == NGTCP2_ERR_WRITE_MORE || nwrite == NGTCP2_ERR_INVALID_ARGUMENT
                || nwrite == NGTCP2_ERR_INVALID_STATE)
                continue;
            if (nwrite < 0) {
                fail(std::string("quic: ") + ngtcp2_strerror(static_cast<int>(nwrite)),
                    static_cast<int>(nwrite));
                return false;
            }
        }
        if (nwrite == 0)
            break; // congestion limited, or nothing to send
        sendPacket(dest, static_cast<std::size_t>(nwrite));
        if (++packets >= maxPackets)
            break;
    }
    ngtcp2_conn_update_pkt_tx_time(m_conn, ts);
    return true;
}

void QuicConnection::armTimer()
{
    const ngtcp2_tstamp expiry = ngtcp2_conn_get_expiry(m_conn);
    const ngtcp2_tstamp current = now();
    const auto wait = std::chrono::nanoseconds(expiry > current ? expiry - current : 0);
    m_timer.expires_after(wait);
    m_timer.async_wait([weak = weak_from_this()](const std::error_code &error) {
        auto self = weak.lock();
        if (error || !self || self->m_state == Closed)
            return;
        const int rv = ngtcp2_conn_handle_expiry(self->m_conn, now());
        if (rv == NGTCP2_ERR_IDLE_CLOSE) {
            self->terminate(
                self->m_state == Handshaking ? "quic: handshake timed out" : "quic: idle timeout");
            return;
        }
        if (rv == NGTCP2_ERR_HANDSHAKE_TIMEOUT) {
            self->terminate("quic: handshake timed out");
            return;
        }
        if (rv != 0) {
            self->fail(std::string("quic: ") + ngtcp2_strerror(rv), rv);
            return;
        }
        self->flush();
    });
}

void QuicConnection::sendClose(const ngtcp2_connection_close_error &error)
{
    if (!m_conn || m_sendBuffer.empty())
        return;
    const std::size_t overhead = m_options.obfuscator ? m_options.obfuscator->overhead() : 0;
    const ngtcp2_ssize size = ngtcp2_conn_write_connection_close(m_conn, nullptr, nullptr,
        m_sendBuffer.data() + overhead, m_sendBuffer.size() - overhead, &error, now());
    if (size > 0)
        sendPacket(m_sendBuffer.data() + overhead, static_cast<std::size_t>(size));
}

void QuicConnection::close(std::uint64_t applicationError, const std::string &reason)
{
    if (m_state == Closed)
        return;
    if (m_state == Open) {
        ngtcp2_connection_close_error error;
        ngtcp2_connection_close_error_set_application_error(&error,
            applicationError ? applicationError : kH3NoError,
            reinterpret_cast<const std::uint8_t *>(reason.data()), reason.size());
        sendClose(error);
    }
    terminate(reason.empty() ? "quic: connection closed" : reason);
}

void QuicConnection::fail(const std::string &reason, int libError)
{
    if (m_state == Closed)
        return;
    ngtcp2_connection_close_error error;
    if (libError != 0)
        ngtcp2_connection_close_error_set_transport_error_liberr(&error, libError, nullptr, 0);
    else
        ngtcp2_connection_close_error_set_application_error(&error, kH3NoError, nullptr, 0);
    sendClose(error);
    terminate(reason);
}

void QuicConnection::terminate(const std::string &reason)
{
    if (m_state == Closed)
        return;
    const bool wasOpen = m_state == Open;
    m_state = Closed;
    m_error = reason;
    m_timer.cancel();
    std::error_code ignored;
    m_socket.close(ignored);
    for (auto &entry : m_streams) {
        QuicStream::State &state = *entry.second;
        state.closed = true;
        state.chunks.clear();
        state.unsentBytes = 0;
        if (!state.readError)
            state.readError = asio::error::connection_aborted;
        state.writeError = asio::error::connection_aborted;
        if (state.readHandler)
            asio::post(m_executor, [handler = std::move(state.readHandler)] {
                handler(asio::error::connection_aborted, 0);
            });
        state.readHandler = nullptr;
        completeWrites(state);
    }
    m_streams.clear();
    m_writable.clear();
    m_datagrams.clear();
    for (auto &pending : m_pendingOpens)
        asio::post(
            m_executor, [handler = std::move(pending), reason] { handler(reason, nullptr); });
    m_pendingOpens.clear();
    m_application = nullptr;
    m_datagramHandler = nullptr;
    if (m_connectHandler)
        asio::post(
            m_executor, [handler = std::move(m_connectHandler), reason] { handler(reason); });
    else if (wasOpen && m_closedHandler)
        asio::post(m_executor, [handler = std::move(m_closedHandler), reason] { handler(reason); });
    m_connectHandler = nullptr;
    m_closedHandler = nullptr;
}

} // namespace qivro::engine::quic
