#include "group/urltest.h"

#include "common/httpparser.h"
#include "tls/systemroots.h"

#include <asio/steady_timer.hpp>
#include <cstdlib>
#include <openssl/err.h>
#include <openssl/ssl.h>

namespace qivro::engine {

void DelayHistory::store(const std::string &tag, std::uint16_t delay)
{
    std::lock_guard lock(m_mutex);
    m_records[tag] = {std::chrono::system_clock::now(), delay};
}

void DelayHistory::erase(const std::string &tag)
{
    std::lock_guard lock(m_mutex);
    m_records.erase(tag);
}

std::optional<DelayRecord> DelayHistory::load(const std::string &tag) const
{
    std::lock_guard lock(m_mutex);
    const auto it = m_records.find(tag);
    if (it == m_records.end())
        return std::nullopt;
    return it->second;
}

std::string effectiveTestUrl(const std::string &configured)
{
    if (const char *override = std::getenv("QIVRO_ENGINE_TEST_URL"); override && *override)
        return override;
    return configured.empty() ? "https://www.gstatic.com/generate_204" : configured;
}

namespace {

SSL_CTX *clientContext()
{
    static const std::unique_ptr<SSL_CTX, decltype(&SSL_CTX_free)> context = [] {
        SSL_CTX *ctx = SSL_CTX_new(TLS_client_method());
        if (ctx) {
            addSystemRoots(SSL_CTX_get_cert_store(ctx));
            SSL_CTX_set_verify(ctx, SSL_VERIFY_PEER, nullptr);
            SSL_CTX_set_min_proto_version(ctx, TLS1_2_VERSION);
        }
        return std::unique_ptr<SSL_CTX, decltype(&SSL_CTX_free)>(ctx, SSL_CTX_free);
    }();
    return context.get();
}

class UrlTester : public std::enable_shared_from_this<UrlTester>
{
public:
    UrlTester(const asio::any_io_executor &executor, UrlTestHandler handler)
        : m_timer(executor)
        , m_handler(std::move(handler))
        , m_start(std::chrono::steady_clock::now())
    { }

    ~UrlTester()
    {
        if (m_ssl)
            SSL_free(m_ssl); // frees the internal BIO too
        if (m_network)
            BIO_free(m_network);
    }

    void run(const asio::any_io_executor &executor, Outbound &outbound, const std::string &url,
        int timeoutMs)
    {
        std::string rest;
        if (url.rfind("http://", 0) == 0) {
            rest = url.substr(7);
        } else if (url.rfind("https://", 0) == 0) {
            rest = url.substr(8);
            m_https = true;
        } else {
            finish("unsupported URL: " + url);
            return;
        }
        const std::size_t slash = rest.find_first_of("/?");
        std::string authority = rest.substr(0, slash);
        std::string path = slash == std::string::npos ? "/" : rest.substr(slash);
        if (path[0] == '?')
            path = "/" + path;
        std::uint16_t port = m_https ? 443 : 80;
        if (!splitHostPort(authority, m_host, port)) {
            m_host = authority;
            if (m_host.size() > 2 && m_host.front() == '[')
                m_host = m_host.substr(1, m_host.size() - 2);
        }
        m_request = "HEAD " + path + " HTTP/1.1\r\nHost: " + authority
            + "\r\nUser-Agent: qivro-engine\r\nConnection: close\r\n\r\n";
        auto self = shared_from_this();
        m_timer.expires_after(std::chrono::milliseconds(timeoutMs));
        m_timer.async_wait([self](const std::error_code &error) {
            if (!error)
                self->finish("timeout");
        });
        outbound.dialTcp(executor, makeDestination(m_host, port),
            [self](const std::string &error, std::shared_ptr<Stream> stream) {
                if (self->m_done) {
                    if (stream)
                        stream->close();
                    return;
                }
                if (!error.empty()) {
                    self->finish(error);
                    return;
                }
                self->m_stream = std::move(stream);
                self->m_https ? self->startTls() : self->sendPlain();
            });
    }

private:
    void sendPlain()
    {
        auto self = shared_from_this();
        m_stream->asyncWrite(
            asio::buffer(m_request), [self](const std::error_code &error, std::size_t) {
                if (error) {
                    self->finish(errorText(error));
                    return;
                }
                self->readPlain();
            });
    }

    void readPlain()
    {
        auto self = shared_from_this();
        m_readBuffer.resize(4096);
        m_stream->asyncReadSome(
            asio::buffer(m_readBuffer), [self](const std::error_code &error, std::size_t size) {
                if (self->m_done)
                    return;
                if (error) {
                    self->finish(errorText(error));
                    return;
                }
                self->m_response.append(
                    reinterpret_cast<const char *>(self->m_readBuffer.data()), size);
                if (!self->checkResponse())
                    self->readPlain();
            });
    }

    // True once the test has finished one way or the other.
    bool checkResponse()
    {
        http::ResponseHead head;
        std::size_t consumed = 0;
        switch (http::parseResponseHead(m_response.data(), m_response.size(), head, consumed)) {
        case ParseStatus::Done:
            finish({});
            return true;
        case ParseStatus::Invalid:
            finish("invalid HTTP response");
            return true;
        case ParseStatus::NeedMore:
            return false;
        }
        return false;
    }

    void startTls()
    {
        SSL_CTX *context = clientContext();
        BIO *internal = nullptr;
        if (!context || !(m_ssl = SSL_new(context))
            || !BIO_new_bio_pair(&internal, 0, &m_network, 0)) {
            finish("TLS setup failed");
            return;
        }
        SSL_set_bio(m_ssl, internal, internal);
        SSL_set_connect_state(m_ssl);
        std::error_code notIp;
        asio::ip::make_address(m_host, notIp);
        if (notIp)
            SSL_set_tlsext_host_name(m_ssl, m_host.c_str());
        SSL_set1_host(m_ssl, m_host.c_str());
        pumpTls();
    }

    void pumpTls()
    {
        if (m_done)
            return;
        if (!m_handshakeDone) {
            const int result = SSL_do_handshake(m_ssl);
            if (result == 1) {
                m_handshakeDone = true;
                SSL_write(m_ssl, m_request.data(), static_cast<int>(m_request.size()));
            } else if (SSL_get_error(m_ssl, result) != SSL_ERROR_WANT_READ) {
                const unsigned long code = ERR_get_error();
                ERR_clear_error();
                finish(std::string("TLS handshake: ")
                    + (code ? ERR_reason_error_string(code) : "failed"));
                return;
            }
        }
        if (m_handshakeDone) {
            char plain[4096];
            int read;
            while ((read = SSL_read(m_ssl, plain, sizeof plain)) > 0)
                m_response.append(plain, static_cast<std::size_t>(read));
            ERR_clear_error();
            if (checkResponse())
                return;
        }
        auto self = shared_from_this();
        const std::size_t pending = BIO_ctrl_pending(m_network);
        if (pending > 0) {
            m_writeBuffer.resize(pending);
            BIO_read(m_network, m_writeBuffer.data(), static_cast<int>(pending));
            m_stream->asyncWrite(
                asio::buffer(m_writeBuffer), [self](const std::error_code &error, std::size_t) {
                    if (error)
                        self->finish(errorText(error));
                    else
                        self->pumpTls();
                });
            return;
        }
        m_readBuffer.resize(16 * 1024);
        m_stream->asyncReadSome(
            asio::buffer(m_readBuffer), [self](const std::error_code &error, std::size_t size) {
                if (self->m_done)
                    return;
                if (error) {
                    self->finish(errorText(error));
                    return;
                }
                BIO_write(self->m_network, self->m_readBuffer.data(), static_cast<int>(size));
                self->pumpTls();
            });
    }

    void finish(const std::string &error)
    {
        if (m_done)
            return;
        m_done = true;
        m_timer.cancel();
        if (m_stream)
            m_stream->close();
        const auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(
            std::chrono::steady_clock::now() - m_start)
                                 .count();
        auto handler = std::move(m_handler);
        handler(error, static_cast<std::uint16_t>(std::min<long long>(elapsed, 65535)));
    }

    asio::steady_timer m_timer;
    UrlTestHandler m_handler;
    std::chrono::steady_clock::time_point m_start;
    std::shared_ptr<Stream> m_stream;
    std::string m_host;
    std::string m_request;
    std::string m_response;
    std::vector<std::uint8_t> m_readBuffer;
    std::vector<std::uint8_t> m_writeBuffer;
    bool m_https = false;
    bool m_done = false;
    bool m_handshakeDone = false;
    SSL *m_ssl = nullptr;
    BIO *m_network = nullptr;
};

} // namespace

void urlTest(const asio::any_io_executor &executor, Outbound &outbound, const std::string &url,
    int timeoutMs, UrlTestHandler handler)
{
    auto tester = std::make_shared<UrlTester>(executor, std::move(handler));
    tester->run(executor, outbound, url, timeoutMs);
}

} // namespace qivro::engine
