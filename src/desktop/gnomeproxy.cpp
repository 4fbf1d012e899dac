#include "desktop/gnomeproxy.h"

#include <QProcess>
#include <QStandardPaths>

namespace {

const QString kSchema = QStringLiteral("org.gnome.system.proxy");
constexpr int kTimeoutMs = 5000;

bool runGsettings(const QStringList &arguments, QByteArray *output = nullptr)
{
    const QString program = QStandardPaths::findExecutable(QStringLiteral("gsettings"));
    if (program.isEmpty())
        return false;
    QProcess process;
    process.start(program, arguments);
    if (!process.waitForFinished(kTimeoutMs) || process.exitStatus() != QProcess::NormalExit
        || process.exitCode() != 0) {
        process.kill();
        process.waitForFinished(kTimeoutMs);
        return false;
    }
    if (output)
        *output = process.readAllStandardOutput();
    return true;
}

// "org.gnome.system.proxy.http/host" names schema and key in one value key.
QStringList schemaAndKey(const QString &key)
{
    const qsizetype slash = key.indexOf(QLatin1Char('/'));
    return {key.left(slash), key.mid(slash + 1)};
}

} // namespace

bool GnomeProxy::read(Values *values) const
{
    QByteArray output;
    if (!runGsettings({QStringLiteral("list-recursively"), kSchema}, &output))
        return false;
    // Each line: "<schema> <key> <value as GVariant text>".
    Values all;
    for (const QByteArray &line : output.split('\n')) {
        const QString text = QString::fromUtf8(line);
        const qsizetype first = text.indexOf(QLatin1Char(' '));
        const qsizetype second = text.indexOf(QLatin1Char(' '), first + 1);
        if (first < 0 || second < 0)
            continue;
        all.insert(text.left(first) + QLatin1Char('/') + text.mid(first + 1, second - first - 1),
            text.mid(second + 1));
    }
    values->clear();
    const Values wanted = proxyValues(QString(), 0);
    for (auto it = wanted.begin(); it != wanted.end(); ++it) {
        if (!all.contains(it.key()))
            return false;
        values->insert(it.key(), all.value(it.key()));
    }
    return true;
}

bool GnomeProxy::write(const Values &values)
{
    bool written = true;
    // The mode last: clients see the addresses complete once the proxy is turned on.
    const QString modeKey = kSchema + QStringLiteral("/mode");
    for (auto it = values.begin(); it != values.end(); ++it) {
        if (it.key() != modeKey)
            written &= runGsettings(QStringList {QStringLiteral("set")} + schemaAndKey(it.key())
                + QStringList {it.value()});
    }
    if (values.contains(modeKey))
        written &= runGsettings(QStringList {QStringLiteral("set")} + schemaAndKey(modeKey)
            + QStringList {values.value(modeKey)});
    return written;
}

ProxyBackend::Values GnomeProxy::proxyValues(const QString &host, int port) const
{
    const QString quotedHost = QStringLiteral("'%1'").arg(host);
    const QString portText = QString::number(port);
    Values values {{kSchema + QStringLiteral("/mode"), QStringLiteral("'manual'")}};
    for (const char *protocol : {"http", "https", "socks"}) {
        const QString schema = kSchema + QLatin1Char('.') + QLatin1String(protocol);
        values.insert(schema + QStringLiteral("/host"), quotedHost);
        values.insert(schema + QStringLiteral("/port"), portText);
    }
    return values;
}
