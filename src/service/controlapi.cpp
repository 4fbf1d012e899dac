#include "service/controlapi.h"

#include "config/configbuilder.h"

#include <QTcpSocket>
#include <QTimer>
#include <QUrlQuery>

#include <algorithm>

namespace {

// One request on its own connection; deletes itself once it has answered.
class Exchange : public QObject
{
public:
    Exchange(ControlApi *api, const QString &controller, const QByteArray &request, int timeoutMs,
        ControlApi::Callback done)
        : QObject(api)
        , m_request(request)
        , m_done(std::move(done))
    {
        const QUrl address(QStringLiteral("http://") + controller);
        connect(&m_socket, &QTcpSocket::connected, this, [this] { m_socket.write(m_request); });
        connect(&m_socket, &QTcpSocket::readyRead, this, [this] {
            m_received += m_socket.readAll();
            if (complete())
                finish({});
        });
        connect(&m_socket, &QTcpSocket::disconnected, this, [this] { finish({}); });
        connect(&m_socket, &QTcpSocket::errorOccurred, this, [this](QAbstractSocket::SocketError) {
            if (m_socket.error() != QAbstractSocket::RemoteHostClosedError)
                finish(m_socket.errorString());
        });
        m_timer.setSingleShot(true);
        connect(&m_timer, &QTimer::timeout, this, [this] { finish(QStringLiteral("timeout")); });
        m_timer.start(timeoutMs);
        m_socket.connectToHost(address.host(), quint16(address.port(80)));
    }

    bool active() const { return bool(m_done); }

    // Ends the request without calling back.
    void cancel()
    {
        m_done = nullptr;
        m_timer.stop();
        m_socket.abort();
        deleteLater();
    }

private:
    // Whether the whole body has arrived, for answers that name their length.
    bool complete()
    {
        const qsizetype end = m_received.indexOf("\r\n\r\n");
        if (end < 0)
            return false;
        for (const QByteArray &line : m_received.left(end).split('\n')) {
            const qsizetype colon = line.indexOf(':');
            if (colon > 0 && line.left(colon).trimmed().toLower() == "content-length")
                return m_received.size() - end - 4 >= line.mid(colon + 1).trimmed().toLongLong();
        }
        return false;
    }

    void finish(const QString &error)
    {
        if (!m_done)
            return;
        ControlApi::Reply reply;
        const qsizetype end = m_received.indexOf("\r\n\r\n");
        if (end >= 0) {
            const QList<QByteArray> status = m_received.left(m_received.indexOf('\r')).split(' ');
            reply.status = status.size() > 1 ? status.at(1).toInt() : 0;
            reply.body = m_received.mid(end + 4);
        }
        if (reply.status == 0)
            reply.error = error.isEmpty() ? QStringLiteral("no answer") : error;
        const ControlApi::Callback done = std::move(m_done);
        cancel();
        done(reply);
    }

    QTcpSocket m_socket {this};
    QTimer m_timer {this};
    QByteArray m_request;
    QByteArray m_received;
    ControlApi::Callback m_done;
};

} // namespace

ControlApi::ControlApi(QObject *parent)
    : QObject(parent)
{ }

void ControlApi::setEndpoint(const QString &controller, const QString &secret)
{
    m_controller = controller;
    m_secret = secret;
}

void ControlApi::get(const QString &pathAndQuery, int timeoutMs, Callback done)
{
    QByteArray request = "GET " + pathAndQuery.toUtf8()
        + " HTTP/1.1\r\nHost: " + m_controller.toUtf8() + "\r\nConnection: close\r\n";
    if (!m_secret.isEmpty())
        request += "Authorization: Bearer " + m_secret.toUtf8() + "\r\n";
    request += "\r\n";
    new Exchange(this, m_controller, request, timeoutMs, std::move(done));
}

void ControlApi::abortAll()
{
    const QList<Exchange *> exchanges = findChildren<Exchange *>(Qt::FindDirectChildrenOnly);
    for (Exchange *exchange : exchanges) {
        if (exchange->active())
            exchange->cancel();
    }
}

int ControlApi::running() const
{
    const QList<Exchange *> exchanges = findChildren<Exchange *>(Qt::FindDirectChildrenOnly);
    return int(std::count_if(exchanges.begin(), exchanges.end(),
        [](const Exchange *exchange) { return exchange->active(); }));
}

QUrl ControlApi::webSocketUrl(const QString &path) const
{
    QUrl url(QStringLiteral("ws://") + m_controller + path);
    if (!m_secret.isEmpty())
        url.setQuery(QUrlQuery {{QStringLiteral("token"), m_secret}});
    return url;
}

QString ControlApi::segment(const QString &tag)
{
    return QString::fromLatin1(QUrl::toPercentEncoding(tag));
}

QString ControlApi::delayPath(const QString &resource, const QString &tag, int timeoutMs)
{
    return QLatin1Char('/') + resource + QLatin1Char('/') + segment(tag)
        + QStringLiteral("/delay?timeout=") + QString::number(timeoutMs) + QStringLiteral("&url=")
        + QString::fromLatin1(QUrl::toPercentEncoding(latencyTestUrl()));
}
