#include "trafficmonitor.h"

#include "service.h"

#include <QDateTime>
#include <QJsonDocument>
#include <QJsonObject>

namespace {

constexpr int kTotalsTimeoutMs = 3000;

} // namespace

TrafficMonitor::TrafficMonitor(service &tunnel, QObject *parent)
    : QObject(parent)
    , m_tunnel(tunnel)
{
    connect(&m_tunnel, &service::isConnectedChanged, this, &TrafficMonitor::update);
}

void TrafficMonitor::setWatching(bool watching)
{
    if (m_watching == watching)
        return;
    m_watching = watching;
    emit watchingChanged();
    update();
}

void TrafficMonitor::update()
{
    if (!m_tunnel.isConnected()) {
        closeStream();
        reset();
        return;
    }
    if (m_connectedSince == 0) {
        m_connectedSince = double(QDateTime::currentMSecsSinceEpoch());
        emit connectedSinceChanged();
    }
    if (!m_watching) {
        closeStream();
        return;
    }
    if ((!m_stream || m_stream->state() == QAbstractSocket::UnconnectedState)
        && m_api.running() == 0)
        readTotals();
}

void TrafficMonitor::readTotals()
{
    m_api.setEndpoint(m_tunnel.controller(), m_tunnel.secret());
    const int generation = m_generation;
    m_api.get(QStringLiteral("/connections"), kTotalsTimeoutMs,
        [this, generation](const ControlApi::Reply &reply) {
            if (generation != m_generation)
                return;
            const QJsonObject totals = reply.json().object();
            if (reply.ok()) {
                m_sessionUpload = totals.value(QLatin1String("uploadTotal")).toDouble();
                m_sessionDownload = totals.value(QLatin1String("downloadTotal")).toDouble();
                emit trafficChanged();
            }
            openStream();
        });
}

void TrafficMonitor::openStream()
{
    if (!m_watching || !m_tunnel.isConnected())
        return;
    if (!m_stream) {
        m_stream = std::make_unique<QWebSocket>();
        connect(m_stream.get(), &QWebSocket::connected, this, [this] { setStreaming(true); });
        connect(m_stream.get(), &QWebSocket::disconnected, this, [this] { setStreaming(false); });
        connect(m_stream.get(), &QWebSocket::textMessageReceived, this, &TrafficMonitor::onMessage);
    }
    m_stream->open(m_api.webSocketUrl(QStringLiteral("/traffic")));
}

void TrafficMonitor::closeStream()
{
    ++m_generation;
    m_api.abortAll();
    if (m_stream && m_stream->state() != QAbstractSocket::UnconnectedState)
        m_stream->abort();
    setStreaming(false);
    if (m_uploadSpeed != 0 || m_downloadSpeed != 0) {
        m_uploadSpeed = 0;
        m_downloadSpeed = 0;
        emit trafficChanged();
    }
}

void TrafficMonitor::onMessage(const QString &message)
{
    const QJsonObject sample = QJsonDocument::fromJson(message.toUtf8()).object();
    m_uploadSpeed = sample.value(QLatin1String("up")).toDouble();
    m_downloadSpeed = sample.value(QLatin1String("down")).toDouble();
    m_sessionUpload += m_uploadSpeed;
    m_sessionDownload += m_downloadSpeed;
    emit trafficChanged();
}

void TrafficMonitor::reset()
{
    m_sessionUpload = 0;
    m_sessionDownload = 0;
    emit trafficChanged();
    if (m_connectedSince != 0) {
        m_connectedSince = 0;
        emit connectedSinceChanged();
    }
}

void TrafficMonitor::setStreaming(bool streaming)
{
    if (m_streaming == streaming)
        return;
    m_streaming = streaming;
    emit streamingChanged();
}
