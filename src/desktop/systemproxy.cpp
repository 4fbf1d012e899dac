#include "desktop/systemproxy.h"

#include "base/privatefiles.h"
#include "desktop/gnomeproxy.h"
#include "desktop/kdeproxy.h"
#ifdef Q_OS_WIN
#include "desktop/windowsproxy.h"
#endif

#include <QDebug>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>
#include <QStandardPaths>

namespace {

QJsonObject toJson(const ProxyBackend::Values &values)
{
    QJsonObject object;
    for (auto it = values.begin(); it != values.end(); ++it)
        object.insert(it.key(), it.value());
    return object;
}

ProxyBackend::Values fromJson(const QJsonObject &object)
{
    ProxyBackend::Values values;
    for (auto it = object.begin(); it != object.end(); ++it)
        values.insert(it.key(), it.value().toString());
    return values;
}

QJsonObject readRecord(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QJsonDocument::fromJson(file.readAll()).object();
}

bool writeRecord(const QString &path, const QJsonObject &record)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    file.write(QJsonDocument(record).toJson());
    if (!file.commit())
        return false;
    PrivateFiles::restrictFile(path);
    return true;
}

} // namespace

SystemProxy::SystemProxy()
    : SystemProxy(QStandardPaths::writableLocation(QStandardPaths::AppDataLocation)
            + QStringLiteral("/systemproxy.json"),
        platformBackends())
{ }

SystemProxy::SystemProxy(QString recordFile, Backends backends)
    : m_recordFile(std::move(recordFile))
    , m_backends(std::move(backends))
{ }

SystemProxy::Backends SystemProxy::platformBackends()
{
    Backends backends;
#ifdef Q_OS_WIN
    backends.push_back(std::make_unique<WindowsProxy>());
#elif defined(Q_OS_LINUX)
    backends.push_back(std::make_unique<GnomeProxy>());
    backends.push_back(std::make_unique<KdeProxy>());
#endif
    return backends;
}

bool SystemProxy::isSet() const
{
    return QFile::exists(m_recordFile);
}

ProxyBackend *SystemProxy::backend(const QString &name) const
{
    for (const auto &backend : m_backends) {
        if (backend->name() == name)
            return backend.get();
    }
    return nullptr;
}

bool SystemProxy::set(const QString &host, int port)
{
    if (isSet())
        return true;
    QJsonObject record;
    std::vector<std::pair<ProxyBackend *, ProxyBackend::Values>> planned;
    for (const auto &backend : m_backends) {
        ProxyBackend::Values found;
        if (!backend->read(&found))
            continue;
        const ProxyBackend::Values ours = backend->proxyValues(host, port);
        record.insert(backend->name(),
            QJsonObject {{QStringLiteral("found"), toJson(found)},
                {QStringLiteral("written"), toJson(ours)}});
        planned.emplace_back(backend.get(), ours);
    }
    if (planned.empty()) {
        qDebug() << "[SystemProxy] No proxy settings of a known desktop found";
        return false;
    }
    // Recorded first: a crash while writing still leaves what to put back.
    if (!writeRecord(m_recordFile, record)) {
        qWarning() << "[SystemProxy] Could not record the settings found; left unchanged";
        return false;
    }
    bool any = false;
    for (const auto &[backend, ours] : planned) {
        const bool written = backend->write(ours);
        any |= written;
        qDebug().noquote() << "[SystemProxy]" << backend->name()
                           << (written ? "now points at" : "could not be pointed at")
                           << QStringLiteral("%1:%2").arg(host).arg(port);
    }
    return any;
}

void SystemProxy::restore()
{
    if (!isSet())
        return;
    const QJsonObject record = readRecord(m_recordFile);
    for (auto it = record.begin(); it != record.end(); ++it) {
        ProxyBackend *target = backend(it.key());
        const QJsonObject entry = it.value().toObject();
        ProxyBackend::Values current;
        if (!target || !target->read(&current))
            continue;
        if (current != fromJson(entry.value(QStringLiteral("written")).toObject())) {
            qDebug().noquote() << "[SystemProxy]" << it.key()
                               << "settings changed since they were set; left as they are";
            continue;
        }
        const bool written
            = target->write(fromJson(entry.value(QStringLiteral("found")).toObject()));
        qDebug().noquote() << "[SystemProxy]" << it.key()
                           << (written ? "settings put back" : "settings could not be put back");
    }
    QFile::remove(m_recordFile);
}
