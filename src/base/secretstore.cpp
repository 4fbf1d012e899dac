#include "base/secretstore.h"

#include "base/privatefiles.h"

#include <QDebug>
#include <QEventLoop>
#include <QFileInfo>
#include <QSettings>
#include <QTimer>
#include <qt6keychain/keychain.h>

SecretStore &SecretStore::instance()
{
    static SecretStore store;
    return store;
}

SecretStore::SecretStore(int timeoutMs)
    : m_timeoutMs(timeoutMs)
{ }

QString SecretStore::serviceName(const QSettings &settings)
{
    return settings.organizationName() + QLatin1Char('/') + settings.applicationName();
}

QString SecretStore::read(QSettings &settings, const QString &key)
{
    const QString kept = settings.value(key).toString();
    if (!kept.isEmpty()) {
        // The settings file's copy is the newest: it is only written while no store answers.
        if (m_available && writeToStore(settings, key, kept) == Outcome::Done) {
            settings.remove(key);
            settings.sync();
            qDebug().noquote() << "[SecretStore] Moved" << key << "into the credential store";
        }
        return kept;
    }
    if (!m_available)
        return {};
    auto *job = new QKeychain::ReadPasswordJob(serviceName(settings));
    job->setKey(key);
    QString text;
    if (run(job, &text) == Outcome::Failed)
        giveUp(settings);
    return text;
}

void SecretStore::write(QSettings &settings, const QString &key, const QString &value)
{
    if (value.isEmpty()) {
        remove(settings, key);
        return;
    }
    if (m_available && writeToStore(settings, key, value) == Outcome::Done) {
        if (settings.contains(key)) {
            settings.remove(key);
            settings.sync();
        }
        return;
    }
    // The file is made private before the secret goes in.
    PrivateFiles::makeDirectory(QFileInfo(settings.fileName()).absolutePath());
    PrivateFiles::ensureFile(settings.fileName());
    settings.setValue(key, value);
    settings.sync();
}

void SecretStore::remove(QSettings &settings, const QString &key)
{
    if (settings.contains(key)) {
        settings.remove(key);
        settings.sync();
    }
    if (!m_available)
        return;
    auto *job = new QKeychain::DeletePasswordJob(serviceName(settings));
    job->setKey(key);
    if (run(job) == Outcome::Failed)
        giveUp(settings);
}

SecretStore::Outcome SecretStore::writeToStore(
    const QSettings &settings, const QString &key, const QString &value)
{
    auto *job = new QKeychain::WritePasswordJob(serviceName(settings));
    job->setKey(key);
    job->setTextData(value);
    const Outcome outcome = run(job);
    if (outcome == Outcome::Failed)
        giveUp(settings);
    return outcome;
}

SecretStore::Outcome SecretStore::run(QKeychain::Job *job, QString *text)
{
    // The job deletes itself once it has answered, also after a time-out here; the loop going
    // out of scope cuts the connection, so a late answer reaches nothing.
    Outcome outcome = Outcome::Failed;
    m_lastError = QStringLiteral("no answer within %1 ms").arg(m_timeoutMs);
    QEventLoop loop;
    QObject::connect(job, &QKeychain::Job::finished, &loop, [&](QKeychain::Job *done) {
        if (done->error() == QKeychain::NoError) {
            outcome = Outcome::Done;
            if (auto *reader = qobject_cast<QKeychain::ReadPasswordJob *>(done); reader && text)
                *text = reader->textData();
        } else if (done->error() == QKeychain::EntryNotFound) {
            outcome = Outcome::Missing;
        } else {
            m_lastError = done->errorString();
        }
        loop.quit();
    });
    QTimer::singleShot(m_timeoutMs, &loop, &QEventLoop::quit);
    job->start();
    loop.exec();
    return outcome;
}

void SecretStore::giveUp(const QSettings &settings)
{
    if (!m_available)
        return;
    m_available = false;
    qWarning().noquote() << "[SecretStore] No credential store available (" + m_lastError
            + QStringLiteral("); secrets are kept in")
                         << settings.fileName();
}
