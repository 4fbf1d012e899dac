#include "service/probeengine.h"

#include "service/service.h"

#include <QDebug>
#include <QDir>
#include <QFile>
#include <QStandardPaths>
#include <QTcpServer>

namespace {

quint16 freeLoopbackPort()
{
    QTcpServer probe;
    return probe.listen(QHostAddress::LocalHost, 0) ? probe.serverPort() : 0;
}

} // namespace

ProbeEngine::ProbeEngine()
{
    const QString location = QStandardPaths::writableLocation(QStandardPaths::AppDataLocation);
    m_configFile
        = QDir(location.isEmpty() || !QDir().mkpath(location) ? QDir::tempPath() : location)
              .filePath(QStringLiteral("latency-probe.json"));
}

ProbeEngine::~ProbeEngine()
{
    stop();
}

QJsonObject ProbeEngine::probeConfig(
    const QJsonArray &outbounds, const QString &controller, const QString &secret)
{
    QJsonArray all = outbounds;
    all.append(QJsonObject {{QStringLiteral("type"), QStringLiteral("direct")},
        {QStringLiteral("tag"), QStringLiteral("direct")}});
    return {
        {QStringLiteral("log"), QJsonObject {{QStringLiteral("level"), QStringLiteral("warn")}}},
        {QStringLiteral("outbounds"), all},
        {QStringLiteral("experimental"),
            QJsonObject {{QStringLiteral("clash_api"),
                QJsonObject {{QStringLiteral("external_controller"), controller},
                    {QStringLiteral("secret"), secret}}}}},
    };
}

bool ProbeEngine::start(const QJsonArray &outbounds, QString *error)
{
    stop();
    QString reason;
    // The free port may be taken between looking and binding; one more try covers that.
    for (int attempt = 0; attempt < 2 && !m_running; ++attempt) {
        const quint16 port = freeLoopbackPort();
        m_controller = QStringLiteral("127.0.0.1:%1").arg(port);
        m_secret = newControlSecret();
        if (port == 0
            || !writeConfig(m_configFile, probeConfig(outbounds, m_controller, m_secret))) {
            reason = QStringLiteral("cannot prepare the probe configuration");
            continue;
        }
        reason = m_engine.start(QFile::encodeName(m_configFile));
        m_running = reason.isEmpty();
    }
    // Nothing of the probe needs to stay on disk, least of all its secret.
    QFile::remove(m_configFile);
    if (!m_running) {
        qDebug().noquote() << "[Latency] Probe engine did not start:" << reason;
        if (error)
            *error = reason;
    }
    return m_running;
}

void ProbeEngine::stop()
{
    if (!m_running)
        return;
    m_running = false;
    const QString result = m_engine.stop();
    if (!result.isEmpty())
        qWarning().noquote() << "[Latency] Probe engine did not stop:" << result;
}
