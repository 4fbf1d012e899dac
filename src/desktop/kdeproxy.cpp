#include "desktop/kdeproxy.h"

#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QSaveFile>
#include <QStandardPaths>

namespace {

const QString kGroup = QStringLiteral("[Proxy Settings]");

bool isGroupLine(const QString &line)
{
    return line.trimmed().startsWith(QLatin1Char('['));
}

// The key of a "key=value" line, or empty.
QString keyOf(const QString &line)
{
    const qsizetype equals = line.indexOf(QLatin1Char('='));
    return equals < 0 ? QString() : line.left(equals).trimmed();
}

bool kdeSession()
{
    return qEnvironmentVariable("XDG_CURRENT_DESKTOP").contains(QLatin1String("KDE"));
}

} // namespace

KdeProxy::KdeProxy(QString file)
    : m_file(file.isEmpty()
            ? QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation)
                + QStringLiteral("/kioslaverc")
            : std::move(file))
{ }

bool KdeProxy::read(Values *values) const
{
    QFile file(m_file);
    if (!file.exists()) {
        values->clear();
        return kdeSession();
    }
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return false;
    const Values wanted = proxyValues(QString(), 0);
    values->clear();
    bool inGroup = false;
    for (const QByteArray &raw : file.readAll().split('\n')) {
        const QString line = QString::fromUtf8(raw);
        if (isGroupLine(line)) {
            inGroup = line.trimmed() == kGroup;
            continue;
        }
        const QString key = keyOf(line);
        if (inGroup && wanted.contains(key))
            values->insert(key, line.mid(line.indexOf(QLatin1Char('=')) + 1));
    }
    return true;
}

bool KdeProxy::write(const Values &values)
{
    QStringList lines;
    QFile existing(m_file);
    if (existing.open(QIODevice::ReadOnly | QIODevice::Text))
        lines = QString::fromUtf8(existing.readAll()).split(QLatin1Char('\n'));
    existing.close();
    while (!lines.isEmpty() && lines.constLast().isEmpty())
        lines.removeLast();

    // Every key of `values` is taken out of the group and written again at its start; a key
    // without a value stays out, as it was before we wrote it.
    const Values wanted = proxyValues(QString(), 0);
    QStringList kept;
    bool inGroup = false;
    qsizetype groupStart = -1;
    for (const QString &line : lines) {
        if (isGroupLine(line)) {
            inGroup = line.trimmed() == kGroup;
            if (inGroup && groupStart < 0) {
                kept.append(line);
                groupStart = kept.size();
                continue;
            }
        }
        if (inGroup && wanted.contains(keyOf(line)))
            continue;
        kept.append(line);
    }
    if (groupStart < 0) {
        if (!kept.isEmpty())
            kept.append(QString());
        kept.append(kGroup);
        groupStart = kept.size();
    }
    QStringList entries;
    for (auto it = values.begin(); it != values.end(); ++it) {
        if (!it.value().isEmpty())
            entries.append(it.key() + QLatin1Char('=') + it.value());
    }
    for (qsizetype i = 0; i < entries.size(); ++i)
        kept.insert(groupStart + i, entries.at(i));

    QSaveFile file(m_file);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Text))
        return false;
    file.write((kept.join(QLatin1Char('\n')) + QLatin1Char('\n')).toUtf8());
    if (!file.commit())
        return false;
    if (kdeSession()) {
        // Running KDE programs read the settings again on this signal.
        QProcess::startDetached(QStringLiteral("dbus-send"),
            {QStringLiteral("--type=signal"), QStringLiteral("/KIO/Scheduler"),
                QStringLiteral("org.kde.KIO.Scheduler.reparseSlaveConfiguration"),
                QStringLiteral("string:")});
    }
    return true;
}

ProxyBackend::Values KdeProxy::proxyValues(const QString &host, int port) const
{
    const QString address = QStringLiteral("http://%1 %2").arg(host).arg(port);
    return {
        {QStringLiteral("ProxyType"), QStringLiteral("1")},
        {QStringLiteral("httpProxy"), address},
        {QStringLiteral("httpsProxy"), address},
    };
}
