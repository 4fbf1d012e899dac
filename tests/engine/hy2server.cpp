#include "hy2server.h"

#include <asio/connect.hpp>
#include <asio/io_context.hpp>
#include <asio/ip/tcp.hpp>
#include <asio/ip/udp.hpp>
#include <asio/post.hpp>
#include <asio/steady_timer.hpp>
#include <asio/write.hpp>
#include <chrono>
#include <cstring>
#include <deque>
#include <gnutls/crypto.h>
#include <gnutls/gnutls.h>
#include <map>
#include <nghttp3/nghttp3.h>
#include <ngtcp2/ngtcp2.h>
#include <ngtcp2/ngtcp2_crypto.h>
#include <ngtcp2/ngtcp2_crypto_gnutls.h>
#include <set>
#include <sodium.h>
#include <thread>
#include <vector>

namespace support {

namespace {

using Bytes = std::vector<std::uint8_t>;

std::uint64_t nowNs()
{
    return static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::nanoseconds>(
        std::chrono::steady_clock::now().time_since_epoch())
                                          .count());
}

// QUIC variable-length integer; false when incomplete.
bool takeVarint(const Bytes &in, std::size_t &at, std::uint64_t &value)
{
    if (at >= in.size())
        return false;
    const std::size_t length = 1u << (in[at] >> 6);
    if (in.size() - at < length)
        return false;
    value = in[at] & 0x3Fu;
    for (std::size_t i = 1; i < length; ++i)
        value = value << 8 | in[at + i];
    at += length;
    return true;
}

// Big-endian, `size` bytes.
void putNumber(Bytes &out, std::uint64_t value, int size)
{
    for (int shift = 8 * (size - 1); shift >= 0; shift -= 8)
        out.push_back(static_cast<std::uint8_t>(value >> shift));
}

void putVarint(Bytes &out, std::uint64_t value)
{
    const int size = value < 0x40 ? 1 : value < 0x4000 ? 2 : 4;
    putNumber(out, value, size);
    out[out.size() - static_cast<std::size_t>(size)] |= size == 1 ? 0 : size == 2 ? 0x40 : 0x80;
}

void salamanderXor(
    const std::string &psk, const std::uint8_t *salt, std::uint8_t *data, std::size_t size)
{
    Bytes input(psk.begin(), psk.end());
    input.insert(input.end(), salt, salt + 8);
    std::uint8_t key[32];
    crypto_generichash(key, sizeof key, input.data(), input.size(), nullptr, 0);
    for (std::size_t i = 0; i < size; ++i)
        data[i] ^= key[i % 32];
}

// "host:port" or "[v6]:port"; a name rather than an address goes to 127.0.0.1.
template <typename Endpoint>
bool endpointOf(const std::string &text, Endpoint &out)
{
    const auto colon = text.rfind(':');
    if (colon == std::string::npos)
        return false;
    std::string host = text.substr(0, colon);
    if (host.size() > 2 && host.front() == '[')
        host = host.substr(1, host.size() - 2);
    std::error_code error;
    const auto ip = asio::ip::make_address(host, error);
    out = {error ? asio::ip::make_address("127.0.0.1") : ip,
        static_cast<std::uint16_t>(std::stoi(text.substr(colon + 1)))};
    return true;
}

} // namespace

struct Hy2Server::Impl
{
    struct Session;

    // Data a stream sends: blocks stay until the peer acknowledges them.
    struct Outbox
    {
        std::deque<Bytes> blocks;
        std::uint64_t firstOffset = 0; // stream offset of blocks.front()[0]
        std::uint64_t sent = 0;
        std::uint64_t total = 0;
        bool fin = false;
        bool finSent = false;
        bool pendingData() const { return sent < total || (fin && !finSent); }
    };

    struct ProxyStream
    {
        std::int64_t id = -1;
        bool decided = false;
        Bytes head;
        std::shared_ptr<asio::ip::tcp::socket> tcp;
        std::deque<Bytes> toTcp;
        bool writing = false;
        bool clientFin = false;
        bool reading = false;
        bool tcpEof = false;
        Outbox out;
        Bytes readBuffer;
    };

    struct UdpSession
    {
        std::uint32_t id = 0;
        std::unique_ptr<asio::ip::udp::socket> socket;
        std::uint16_t packet = 0;
        std::vector<Bytes> parts;
        std::size_t have = 0;
        Bytes buffer;
        asio::ip::udp::endpoint from;
    };

    struct Session : std::enable_shared_from_this<Session>
    {
        Impl &server;
        ngtcp2_conn *conn = nullptr;
        gnutls_session_t tls = nullptr;
        nghttp3_conn *h3 = nullptr;
        ngtcp2_crypto_conn_ref ref {};
        asio::ip::udp::endpoint peer;
        sockaddr_storage localAddress {};
        sockaddr_storage remoteAddress {};
        ngtcp2_path path {};
        asio::steady_timer timer;
        std::set<std::string> ids;
        std::map<std::int64_t, std::shared_ptr<ProxyStream>> streams;
        std::map<std::uint32_t, std::shared_ptr<UdpSession>> udp;
        std::deque<Bytes> datagrams;
        bool authenticated = false;
        std::map<std::int64_t, std::map<std::string, std::string>> requests;
        bool dead = false;
        bool writeQueued = false;

        explicit Session(Impl &owner)
            : server(owner)
            , timer(owner.io)
        { }
        ~Session()
        {
            if (h3)
                nghttp3_conn_del(h3);
            if (conn)
                ngtcp2_conn_del(conn);
            if (tls)
                gnutls_deinit(tls);
        }
    };

    Hy2ServerOptions options;
    Counters counters;
    asio::io_context io;
    asio::ip::udp::socket socket {io};
    gnutls_certificate_credentials_t credentials = nullptr;
    std::map<std::string, std::shared_ptr<Session>> byId;
    Bytes packetIn = Bytes(65536);
    Bytes packetOut = Bytes(2048);
    std::thread thread;

    static std::string key(const std::uint8_t *data, std::size_t size)
    {
        return std::string(reinterpret_cast<const char *>(data), size);
    }

    // Flow-control credit for bytes the server has taken in.
    static void consume(Session &s, std::int64_t id, std::uint64_t n)
    {
        ngtcp2_conn_extend_max_stream_offset(s.conn, id, n);
        ngtcp2_conn_extend_max_offset(s.conn, n);
    }

    // ---- UDP in and out (with Salamander)

    void sendRaw(Session &session, std::uint8_t *data, std::size_t size)
    {
        Bytes wire;
        if (!options.obfsPassword.empty()) {
            wire.resize(8 + size);
            randombytes_buf(wire.data(), 8);
            std::memcpy(wire.data() + 8, data, size);
            salamanderXor(options.obfsPassword, wire.data(), wire.data() + 8, size);
        }
        std::error_code ignored;
        socket.send_to(
            wire.empty() ? asio::buffer(data, size) : asio::buffer(wire), session.peer, 0, ignored);
    }

    void receive()
    {
        auto from = std::make_shared<asio::ip::udp::endpoint>();
        socket.async_receive_from(asio::buffer(packetIn), *from,
            [this, from](const std::error_code &error, std::size_t n) {
                if (error == asio::error::operation_aborted)
                    return;
                if (!error)
                    onPacket(*from, packetIn.data(), n);
                receive();
            });
    }

    void onPacket(const asio::ip::udp::endpoint &from, std::uint8_t *data, std::size_t size)
    {
        if (!options.obfsPassword.empty()) {
            if (size <= 8)
                return;
            salamanderXor(options.obfsPassword, data, data + 8, size - 8);
            data += 8;
            size -= 8;
        }
        ngtcp2_version_cid vc;
        if (ngtcp2_pkt_decode_version_cid(&vc, data, size, 16) != 0)
            return;
        std::shared_ptr<Session> session;
        if (auto found = byId.find(key(vc.dcid, vc.dcidlen)); found != byId.end())
            session = found->second;
        if (!session) {
            ngtcp2_pkt_hd header;
            if (ngtcp2_accept(&header, data, size) != 0)
                return;
            session = accept(from, header);
            if (!session)
                return;
        }
        ngtcp2_pkt_info info {};
        const int rv
            = ngtcp2_conn_read_pkt(session->conn, &session->path, &info, data, size, nowNs());
        if (rv != 0) {
            drop(session);
            return;
        }
        flush(session);
    }

    // ---- connections

    std::shared_ptr<Session> accept(const asio::ip::udp::endpoint &from, const ngtcp2_pkt_hd &hd)
    {
        auto session = std::make_shared<Session>(*this);
        session->peer = from;
        const auto local = socket.local_endpoint();
        std::memcpy(&session->localAddress, local.data(), local.size());
        std::memcpy(&session->remoteAddress, from.data(), from.size());
        session->path.local = {reinterpret_cast<ngtcp2_sockaddr *>(&session->localAddress),
            static_cast<ngtcp2_socklen>(local.size())};
        session->path.remote = {reinterpret_cast<ngtcp2_sockaddr *>(&session->remoteAddress),
            static_cast<ngtcp2_socklen>(from.size())};

        gnutls_init(&session->tls, GNUTLS_SERVER | GNUTLS_NO_END_OF_EARLY_DATA);
        gnutls_priority_set_direct(
            session->tls, "NORMAL:-VERS-ALL:+VERS-TLS1.3:%DISABLE_TLS13_COMPAT_MODE", nullptr);
        ngtcp2_crypto_gnutls_configure_server_session(session->tls);
        gnutls_credentials_set(session->tls, GNUTLS_CRD_CERTIFICATE, credentials);
        gnutls_datum_t h3 {reinterpret_cast<unsigned char *>(const_cast<char *>("h3")), 2};
        gnutls_alpn_set_protocols(session->tls, &h3, 1, GNUTLS_ALPN_MANDATORY);
        session->ref.get_conn = [](ngtcp2_crypto_conn_ref *ref) {
            return static_cast<Session *>(ref->user_data)->conn;
        };
        session->ref.user_data = session.get();
        gnutls_session_set_ptr(session->tls, &session->ref);

        ngtcp2_callbacks cb {};
        cb.recv_client_initial = ngtcp2_crypto_recv_client_initial_cb;
        cb.recv_crypto_data = ngtcp2_crypto_recv_crypto_data_cb;
        cb.encrypt = ngtcp2_crypto_encrypt_cb;
        cb.decrypt = ngtcp2_crypto_decrypt_cb;
        cb.hp_mask = ngtcp2_crypto_hp_mask_cb;
        cb.update_key = ngtcp2_crypto_update_key_cb;
        cb.delete_crypto_aead_ctx = ngtcp2_crypto_delete_crypto_aead_ctx_cb;
        cb.delete_crypto_cipher_ctx = ngtcp2_crypto_delete_crypto_cipher_ctx_cb;
        cb.get_path_challenge_data = ngtcp2_crypto_get_path_challenge_data_cb;
        cb.version_negotiation = ngtcp2_crypto_version_negotiation_cb;
        cb.rand = [](std::uint8_t *dest, std::size_t n, const ngtcp2_rand_ctx *) {
            gnutls_rnd(GNUTLS_RND_RANDOM, dest, n);
        };
        cb.get_new_connection_id
            = [](ngtcp2_conn *, ngtcp2_cid *cid, std::uint8_t *token, std::size_t n, void *user) {
                  auto *s = static_cast<Session *>(user);
                  cid->datalen = n;
                  gnutls_rnd(GNUTLS_RND_RANDOM, cid->data, n);
                  gnutls_rnd(GNUTLS_RND_RANDOM, token, NGTCP2_STATELESS_RESET_TOKENLEN);
                  s->ids.insert(key(cid->data, n));
                  s->server.byId[key(cid->data, n)] = s->shared_from_this();
                  return 0;
              };
        cb.remove_connection_id = [](ngtcp2_conn *, const ngtcp2_cid *cid, void *user) {
            auto *s = static_cast<Session *>(user);
            s->ids.erase(key(cid->data, cid->datalen));
            s->server.byId.erase(key(cid->data, cid->datalen));
            return 0;
        };
        cb.handshake_completed = [](ngtcp2_conn *, void *user) {
            return static_cast<Session *>(user)->server.startHttp3(*static_cast<Session *>(user))
                ? 0
                : NGTCP2_ERR_CALLBACK_FAILURE;
        };
        cb.recv_stream_data = [](ngtcp2_conn *, std::uint32_t flags, std::int64_t id, std::uint64_t,
                                  const std::uint8_t *data, std::size_t n, void *user, void *) {
            auto *s = static_cast<Session *>(user);
            return s->server.onStreamData(
                       *s, id, data, n, (flags & NGTCP2_STREAM_DATA_FLAG_FIN) != 0)
                ? 0
                : NGTCP2_ERR_CALLBACK_FAILURE;
        };
        cb.acked_stream_data_offset = [](ngtcp2_conn *, std::int64_t id, std::uint64_t offset,
                                          std::uint64_t n, void *user, void *) {
            auto *s = static_cast<Session *>(user);
            s->server.onAcked(*s, id, offset + n, n);
            return 0;
        };
        cb.stream_close = [](ngtcp2_conn *, std::uint32_t flags, std::int64_t id,
                              std::uint64_t code, void *user, void *) {
            auto *s = static_cast<Session *>(user);
            s->server.onStreamClose(
                *s, id, (flags & NGTCP2_STREAM_CLOSE_FLAG_APP_ERROR_CODE_SET) ? code : 0x100);
            return 0;
        };
        cb.extend_max_remote_streams_bidi = [](ngtcp2_conn *, std::uint64_t max, void *user) {
            auto *s = static_cast<Session *>(user);
            if (s->h3)
                nghttp3_conn_set_max_client_streams_bidi(s->h3, max);
            return 0;
        };
        cb.extend_max_stream_data
            = [](ngtcp2_conn *, std::int64_t id, std::uint64_t, void *user, void *) {
                  auto *s = static_cast<Session *>(user);
                  if (s->h3 && !s->streams.count(id))
                      nghttp3_conn_unblock_stream(s->h3, id);
                  return 0;
              };
        cb.recv_datagram = [](ngtcp2_conn *, std::uint32_t, const std::uint8_t *data, std::size_t n,
                               void *user) {
            auto *s = static_cast<Session *>(user);
            s->server.onDatagram(*s, data, n);
            return 0;
        };

        ngtcp2_settings settings;
        ngtcp2_settings_default(&settings);
        settings.initial_ts = nowNs();
        settings.cc_algo = NGTCP2_CC_ALGO_BBR;
        settings.max_window = 20 << 20;
        settings.max_stream_window = 8 << 20;
        if (!options.obfsPassword.empty())
            settings.max_tx_udp_payload_size -= 8;
        ngtcp2_transport_params params;
        ngtcp2_transport_params_default(&params);
        params.initial_max_stream_data_bidi_local = 8 << 20;
        params.initial_max_stream_data_bidi_remote = 8 << 20;
        params.initial_max_stream_data_uni = 8 << 20;
        params.initial_max_data = 20 << 20;
        params.initial_max_streams_bidi = 1024;
        params.initial_max_streams_uni = 16;
        params.max_idle_timeout = 30 * NGTCP2_SECONDS;
        params.max_datagram_frame_size = 1200;
        params.original_dcid = hd.dcid;
        ngtcp2_cid scid;
        scid.datalen = 16;
        gnutls_rnd(GNUTLS_RND_RANDOM, scid.data, scid.datalen);
        if (ngtcp2_conn_server_new(&session->conn, &hd.scid, &scid, &session->path, hd.version, &cb,
                &settings, &params, nullptr, session.get())
            != 0) {
            session->conn = nullptr;
            return nullptr;
        }
        ngtcp2_conn_set_tls_native_handle(session->conn, session->tls);
        for (const std::string &id :
            {key(scid.data, scid.datalen), key(hd.dcid.data, hd.dcid.datalen)}) {
            session->ids.insert(id);
            byId[id] = session;
        }
        return session;
    }

    void drop(const std::shared_ptr<Session> &session)
    {
        if (session->dead)
            return;
        session->dead = true;
        session->timer.cancel();
        for (const std::string &id : session->ids)
            byId.erase(id);
        for (auto &entry : session->streams) {
            std::error_code ignored;
            if (entry.second->tcp)
                entry.second->tcp->close(ignored);
        }
        for (auto &entry : session->udp) {
            std::error_code ignored;
            entry.second->socket->close(ignored);
        }
    }

    // ---- HTTP/3: the login

    bool startHttp3(Session &s)
    {
        nghttp3_callbacks cb {};
        cb.recv_header = [](nghttp3_conn *, std::int64_t id, std::int32_t, nghttp3_rcbuf *name,
                             nghttp3_rcbuf *value, std::uint8_t, void *user, void *) {
            auto *session = static_cast<Session *>(user);
            const nghttp3_vec n = nghttp3_rcbuf_get_buf(name);
            const nghttp3_vec v = nghttp3_rcbuf_get_buf(value);
            session->requests[id][std::string(reinterpret_cast<char *>(n.base), n.len)]
                = std::string(reinterpret_cast<char *>(v.base), v.len);
            return 0;
        };
        cb.end_stream = [](nghttp3_conn *, std::int64_t id, void *user, void *) {
            auto *session = static_cast<Session *>(user);
            return session->server.answerLogin(*session, id) ? 0 : NGHTTP3_ERR_CALLBACK_FAILURE;
        };
        cb.deferred_consume
            = [](nghttp3_conn *, std::int64_t id, std::size_t n, void *user, void *) {
                  consume(*static_cast<Session *>(user), id, n);
                  return 0;
              };
        cb.recv_data = [](nghttp3_conn *, std::int64_t id, const std::uint8_t *, std::size_t n,
                           void *user, void *) {
            consume(*static_cast<Session *>(user), id, n);
            return 0;
        };
        nghttp3_settings settings;
        nghttp3_settings_default(&settings);
        if (nghttp3_conn_server_new(&s.h3, &cb, &settings, nullptr, &s) != 0)
            return false;
        nghttp3_conn_set_max_client_streams_bidi(s.h3, 1024);
        std::int64_t control, encoder, decoder;
        return ngtcp2_conn_open_uni_stream(s.conn, &control, nullptr) == 0
            && ngtcp2_conn_open_uni_stream(s.conn, &encoder, nullptr) == 0
            && ngtcp2_conn_open_uni_stream(s.conn, &decoder, nullptr) == 0
            && nghttp3_conn_bind_control_stream(s.h3, control) == 0
            && nghttp3_conn_bind_qpack_streams(s.h3, encoder, decoder) == 0;
    }

    bool answerLogin(Session &s, std::int64_t id)
    {
        auto &request = s.requests[id];
        const bool ok = request[":method"] == "POST" && request[":path"] == "/auth"
            && request[":authority"] == "hysteria" && request["hysteria-auth"] == options.password
            && request.count("hysteria-padding") && request["hysteria-padding"].size() >= 256;
        std::vector<std::pair<std::string, std::string>> fields;
        if (ok) {
            s.authenticated = true;
            ++counters.logins;
            fields = {{":status", "233"}, {"hysteria-udp", options.udp ? "true" : "false"},
                {"hysteria-cc-rx", "0"}, {"hysteria-padding", "padpadpad"}};
        } else {
            ++counters.refusedLogins;
            fields = {{":status", "404"}};
        }
        std::vector<nghttp3_nv> nva;
        for (auto &[name, value] : fields)
            nva.push_back({reinterpret_cast<std::uint8_t *>(name.data()),
                reinterpret_cast<std::uint8_t *>(value.data()), name.size(), value.size(),
                NGHTTP3_NV_FLAG_NONE});
        return nghttp3_conn_submit_response(s.h3, id, nva.data(), nva.size(), nullptr) == 0;
    }

    // ---- streams

    bool readHttp3(Session &s, std::int64_t id, const std::uint8_t *data, std::size_t n, bool fin)
    {
        const nghttp3_ssize used = nghttp3_conn_read_stream(s.h3, id, data, n, fin);
        if (used >= 0)
            consume(s, id, static_cast<std::uint64_t>(used));
        return used >= 0;
    }

    bool onStreamData(
        Session &s, std::int64_t id, const std::uint8_t *data, std::size_t n, bool fin)
    {
        if ((id & 0x3) != 0) // not a client-opened bidirectional stream
            return readHttp3(s, id, data, n, fin);
        auto &slot = s.streams[id];
        if (!slot) {
            slot = std::make_shared<ProxyStream>();
            slot->id = id;
        }
        ProxyStream &stream = *slot;
        if (!stream.decided) {
            stream.head.insert(stream.head.end(), data, data + n);
            std::size_t at = 0;
            std::uint64_t type = 0;
            if (!takeVarint(stream.head, at, type))
                return true;
            stream.decided = true;
            if (type != 0x401) {
                // An HTTP/3 request: nghttp3 takes the stream from its first byte.
                Bytes all;
                all.swap(stream.head);
                s.streams.erase(id);
                return readHttp3(s, id, all.data(), all.size(), fin);
            }
            if (!s.authenticated) {
                ngtcp2_conn_shutdown_stream(s.conn, id, 0x101);
                return true;
            }
            ++counters.tcpStreams;
            data = nullptr;
            n = 0;
        }
        if (!stream.tcp) {
            stream.head.insert(stream.head.end(), data, data + n);
            std::size_t at = 0;
            std::uint64_t type, addressLength, paddingLength;
            if (!takeVarint(stream.head, at, type) || !takeVarint(stream.head, at, addressLength)
                || stream.head.size() - at < addressLength)
                return true;
            const std::string address(stream.head.begin() + static_cast<long>(at),
                stream.head.begin() + static_cast<long>(at + addressLength));
            at += addressLength;
            if (!takeVarint(stream.head, at, paddingLength)
                || stream.head.size() - at < paddingLength)
                return true;
            at += paddingLength;
            consume(s, id, at);
            Bytes rest(stream.head.begin() + static_cast<long>(at), stream.head.end());
            stream.head.clear();
            if (!rest.empty())
                stream.toTcp.push_back(std::move(rest));
            stream.clientFin = fin;
            connectTcp(s, slot, address);
            return true;
        }
        if (n > 0)
            stream.toTcp.emplace_back(data, data + n);
        stream.clientFin = stream.clientFin || fin;
        if (stream.tcp)
            pumpToTcp(s, slot);
        return true;
    }

    void connectTcp(Session &s, std::shared_ptr<ProxyStream> stream, const std::string &address)
    {
        asio::ip::tcp::endpoint to;
        stream->tcp = std::make_shared<asio::ip::tcp::socket>(io);
        if (!endpointOf(address, to)) {
            reply(s, *stream, 1, "bad address");
            return;
        }
        auto session = s.shared_from_this();
        stream->tcp->async_connect(to, [this, session, stream](const std::error_code &error) {
            if (session->dead)
                return;
            if (error) {
                reply(*session, *stream, 1, "connect failed: " + error.message());
                return;
            }
            reply(*session, *stream, 0, "");
            pumpToTcp(*session, stream);
            readTcp(session, stream);
        });
    }

    void reply(Session &s, ProxyStream &stream, std::uint8_t status, const std::string &message)
    {
        Bytes head {status};
        putVarint(head, message.size());
        head.insert(head.end(), message.begin(), message.end());
        const std::size_t padding = 128 + randombytes_uniform(896);
        putVarint(head, padding);
        head.resize(head.size() + padding, 'p');
        queueOut(stream, std::move(head));
        if (status != 0)
            stream.out.fin = true;
        scheduleFlush(s);
    }

    void queueOut(ProxyStream &stream, Bytes bytes)
    {
        stream.out.total += bytes.size();
        stream.out.blocks.push_back(std::move(bytes));
    }

    void pumpToTcp(Session &s, std::shared_ptr<ProxyStream> stream)
    {
        if (stream->writing || !stream->tcp || !stream->tcp->is_open())
            return;
        if (stream->toTcp.empty()) {
            if (stream->clientFin) {
                std::error_code ignored;
                stream->tcp->shutdown(asio::ip::tcp::socket::shutdown_send, ignored);
            }
            return;
        }
        stream->writing = true;
        auto session = s.shared_from_this();
        asio::async_write(*stream->tcp, asio::buffer(stream->toTcp.front()),
            [this, session, stream](const std::error_code &error, std::size_t n) {
                stream->writing = false;
                if (error || session->dead)
                    return;
                stream->toTcp.pop_front();
                consume(*session, stream->id, n); // only once the origin took the bytes
                pumpToTcp(*session, stream);
                scheduleFlush(*session);
            });
    }

    void readTcp(std::shared_ptr<Session> session, std::shared_ptr<ProxyStream> stream)
    {
        if (stream->reading || stream->tcpEof || session->dead)
            return;
        if (stream->out.total - stream->out.sent > (1u << 20))
            return; // resumed by acknowledgements
        stream->reading = true;
        stream->readBuffer.resize(65536);
        stream->tcp->async_read_some(asio::buffer(stream->readBuffer),
            [this, session, stream](const std::error_code &error, std::size_t n) {
                stream->reading = false;
                if (session->dead)
                    return;
                if (error) {
                    stream->tcpEof = true;
                    stream->out.fin = true;
                } else {
                    queueOut(*stream,
                        Bytes(stream->readBuffer.begin(),
                            stream->readBuffer.begin() + static_cast<long>(n)));
                    readTcp(session, stream);
                }
                scheduleFlush(*session);
            });
    }

    void onAcked(Session &s, std::int64_t id, std::uint64_t upTo, std::uint64_t n)
    {
        auto found = s.streams.find(id);
        if (found == s.streams.end()) {
            if (s.h3)
                nghttp3_conn_add_ack_offset(s.h3, id, n);
            return;
        }
        Outbox &out = found->second->out;
        while (!out.blocks.empty() && out.firstOffset + out.blocks.front().size() <= upTo) {
            out.firstOffset += out.blocks.front().size();
            out.blocks.pop_front();
        }
    }

    void onStreamClose(Session &s, std::int64_t id, std::uint64_t code)
    {
        auto found = s.streams.find(id);
        if (found == s.streams.end()) {
            if (s.h3)
                nghttp3_conn_close_stream(s.h3, id, code);
            return;
        }
        if (found->second->tcp) {
            std::error_code ignored;
            found->second->tcp->close(ignored);
        }
        s.streams.erase(found);
    }

    // ---- UDP

    void onDatagram(Session &s, const std::uint8_t *data, std::size_t n)
    {
        if (!s.authenticated || !options.udp || n < 9)
            return;
        Bytes in(data, data + n);
        const std::uint32_t id
            = static_cast<std::uint32_t>(in[0]) << 24 | in[1] << 16 | in[2] << 8 | in[3];
        const std::uint16_t packet = static_cast<std::uint16_t>(in[4] << 8 | in[5]);
        const std::uint8_t index = in[6];
        const std::uint8_t count = in[7];
        std::size_t at = 8;
        std::uint64_t length = 0;
        if (!takeVarint(in, at, length) || in.size() - at < length || count == 0 || index >= count)
            return;
        const std::string address(
            in.begin() + static_cast<long>(at), in.begin() + static_cast<long>(at + length));
        at += length;
        Bytes payload(in.begin() + static_cast<long>(at), in.end());

        auto &session = s.udp[id];
        if (!session)
            session = openUdp(s, id);
        if (count > 1) {
            if (session->packet != packet || session->parts.size() != count) {
                session->packet = packet;
                session->parts.assign(count, {});
                session->have = 0;
            }
            if (session->parts[index].empty() && !payload.empty()) {
                session->parts[index] = std::move(payload);
                ++session->have;
            }
            if (session->have < count)
                return;
            payload.clear();
            for (auto &part : session->parts)
                payload.insert(payload.end(), part.begin(), part.end());
            session->parts.clear();
            session->have = 0;
            ++counters.fragmentedPackets;
        }
        asio::ip::udp::endpoint to;
        std::error_code ignored;
        if (endpointOf(address, to))
            session->socket->send_to(asio::buffer(payload), to, 0, ignored);
    }

    std::shared_ptr<UdpSession> openUdp(Session &s, std::uint32_t id)
    {
        auto session = std::make_shared<UdpSession>();
        session->id = id;
        session->socket = std::make_unique<asio::ip::udp::socket>(io);
        session->socket->open(socket.local_endpoint().protocol());
        session->buffer.resize(65536);
        readUdp(s.shared_from_this(), session);
        return session;
    }

    void readUdp(std::shared_ptr<Session> s, std::shared_ptr<UdpSession> session)
    {
        session->socket->async_receive_from(asio::buffer(session->buffer), session->from,
            [this, s, session](const std::error_code &error, std::size_t n) {
                if (error || s->dead)
                    return;
                std::string host = session->from.address().to_string();
                if (session->from.address().is_v6())
                    host = "[" + host + "]";
                const std::string address = host + ":" + std::to_string(session->from.port());
                const std::size_t limit = 1200 - 64;
                const std::size_t headerSize = 8 + 2 + address.size();
                const std::size_t room = limit - headerSize;
                const std::size_t count = (n + room - 1) / room;
                const std::uint16_t packet
                    = count > 1 ? static_cast<std::uint16_t>(1 + randombytes_uniform(65535)) : 0;
                for (std::size_t i = 0; i < count; ++i) {
                    Bytes message;
                    putNumber(message, session->id, 4);
                    putNumber(message, packet, 2);
                    message.insert(message.end(),
                        {static_cast<std::uint8_t>(i), static_cast<std::uint8_t>(count)});
                    putVarint(message, address.size());
                    message.insert(message.end(), address.begin(), address.end());
                    const std::size_t start = i * room;
                    message.insert(message.end(),
                        session->buffer.begin() + static_cast<long>(start),
                        session->buffer.begin() + static_cast<long>(std::min(n, start + room)));
                    s->datagrams.push_back(std::move(message));
                }
                scheduleFlush(*s);
                readUdp(s, session);
            });
    }

    // ---- sending

    void scheduleFlush(Session &s)
    {
        if (s.writeQueued || s.dead)
            return;
        s.writeQueued = true;
        asio::post(io, [this, session = s.shared_from_this()] {
            session->writeQueued = false;
            flush(session);
        });
    }

    void flush(const std::shared_ptr<Session> &session)
    {
        Session &s = *session;
        if (s.dead)
            return;
        const std::uint64_t ts = nowNs();
        auto next = s.streams.begin();
        for (int packets = 0; packets < 64;) {
            std::int64_t id = -1;
            int fin = 0;
            nghttp3_vec vec[16];
            nghttp3_ssize count = 0;
            ProxyStream *proxy = nullptr;
            if (s.h3 && ngtcp2_conn_get_max_data_left(s.conn)) {
                count = nghttp3_conn_writev_stream(s.h3, &id, &fin, vec, 16);
                if (count < 0) {
                    drop(session);
                    return;
                }
            }
            if (id < 0) {
                for (; next != s.streams.end(); ++next) {
                    Outbox &out = next->second->out;
                    if (!out.pendingData())
                        continue;
                    proxy = next->second.get();
                    id = next->first;
                    // Unsent bytes, from the block holding offset `sent`.
                    std::uint64_t offset = out.firstOffset;
                    count = 0;
                    for (auto &block : out.blocks) {
                        if (offset + block.size() > out.sent && count < 16) {
                            const std::size_t skip = out.sent > offset
                                ? static_cast<std::size_t>(out.sent - offset)
                                : 0;
                            vec[count++] = {block.data() + skip, block.size() - skip};
                        }
                        offset += block.size();
                    }
                    fin = out.fin && !out.finSent ? 1 : 0;
                    break;
                }
            }
            ngtcp2_ssize accepted = -1;
            ngtcp2_ssize written;
            ngtcp2_pkt_info info {};
            if (id < 0 && !s.datagrams.empty()) {
                int taken = 0;
                ngtcp2_vec v {s.datagrams.front().data(), s.datagrams.front().size()};
                written = ngtcp2_conn_writev_datagram(s.conn, nullptr, &info, packetOut.data(),
                    packetOut.size(), &taken, NGTCP2_WRITE_DATAGRAM_FLAG_MORE, 0, &v, 1, ts);
                if (taken || written == NGTCP2_ERR_INVALID_ARGUMENT)
                    s.datagrams.pop_front();
                if (written == NGTCP2_ERR_WRITE_MORE || written == NGTCP2_ERR_INVALID_ARGUMENT)
                    continue;
            } else {
                std::uint32_t flags = NGTCP2_WRITE_STREAM_FLAG_MORE;
                if (fin)
                    flags |= NGTCP2_WRITE_STREAM_FLAG_FIN;
                written = ngtcp2_conn_writev_stream(s.conn, nullptr, &info, packetOut.data(),
                    packetOut.size(), &accepted, flags, id,
                    reinterpret_cast<const ngtcp2_vec *>(vec), static_cast<std::size_t>(count), ts);
                if (accepted >= 0 && id >= 0) {
                    if (proxy) {
                        std::uint64_t offered = 0;
                        for (nghttp3_ssize i = 0; i < count; ++i)
                            offered += vec[i].len;
                        proxy->out.sent += static_cast<std::uint64_t>(accepted);
                        if (fin && static_cast<std::uint64_t>(accepted) == offered)
                            proxy->out.finSent = true;
                        if (proxy->tcp && proxy->tcp->is_open())
                            readTcp(session, s.streams[id]);
                    } else {
                        nghttp3_conn_add_write_offset(s.h3, id, static_cast<std::size_t>(accepted));
                    }
                }
                if (written == NGTCP2_ERR_STREAM_DATA_BLOCKED
                    || written == NGTCP2_ERR_STREAM_SHUT_WR) {
                    if (proxy) {
                        ++next;
                    } else if (written == NGTCP2_ERR_STREAM_DATA_BLOCKED) {
                        nghttp3_conn_block_stream(s.h3, id);
                    } else {
                        nghttp3_conn_shutdown_stream_write(s.h3, id);
                    }
                    continue;
                }
                if (written == NGTCP2_ERR_WRITE_MORE) {
                    if (proxy && !proxy->out.pendingData())
                        ++next;
                    continue;
                }
            }
            if (written < 0) {
                drop(session);
                return;
            }
            if (written == 0)
                break;
            sendRaw(s, packetOut.data(), static_cast<std::size_t>(written));
            ++packets;
        }
        ngtcp2_conn_update_pkt_tx_time(s.conn, ts);
        const std::uint64_t expiry = ngtcp2_conn_get_expiry(s.conn);
        const std::uint64_t current = nowNs();
        s.timer.expires_after(std::chrono::nanoseconds(expiry > current ? expiry - current : 0));
        s.timer.async_wait(
            [this, weak = std::weak_ptr<Session>(session)](const std::error_code &e) {
                auto live = weak.lock();
                if (e || !live || live->dead)
                    return;
                if (ngtcp2_conn_handle_expiry(live->conn, nowNs()) != 0) {
                    drop(live);
                    return;
                }
                flush(live);
            });
    }
};

Hy2Server::Hy2Server(Hy2ServerOptions options, const CertificateSet &certificates)
    : m_impl(std::make_unique<Impl>())
{
    if (sodium_init() < 0)
        return;
    m_impl->options = std::move(options);
    gnutls_certificate_allocate_credentials(&m_impl->credentials);
    gnutls_certificate_set_x509_key_file(m_impl->credentials, certificates.certificatePath.c_str(),
        certificates.keyPath.c_str(), GNUTLS_X509_FMT_PEM);
    const asio::ip::udp::endpoint local(asio::ip::make_address(m_impl->options.address), 0);
    m_impl->socket.open(local.protocol());
    m_impl->socket.bind(local);
    m_impl->receive();
    m_impl->thread = std::thread([impl = m_impl.get()] { impl->io.run(); });
}

Hy2Server::~Hy2Server()
{
    asio::post(m_impl->io, [impl = m_impl.get()] {
        std::vector<std::shared_ptr<Impl::Session>> sessions;
        for (auto &entry : impl->byId)
            sessions.push_back(entry.second);
        for (auto &session : sessions)
            impl->drop(session); // drop() edits byId
        std::error_code ignored;
        impl->socket.close(ignored);
        impl->io.stop();
    });
    if (m_impl->thread.joinable())
        m_impl->thread.join();
    m_impl->byId.clear();
    if (m_impl->credentials)
        gnutls_certificate_free_credentials(m_impl->credentials);
}

std::uint16_t Hy2Server::port() const
{
    std::error_code ignored;
    return m_impl->socket.local_endpoint(ignored).port();
}

const Hy2Server::Counters &Hy2Server::counters() const
{
    return m_impl->counters;
}

} // namespace support
