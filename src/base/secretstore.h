#pragma once

#include <QString>

class QSettings;

namespace QKeychain {
class Job;
}

// Secrets (session token, saved password, control secret, LAN sharing login) in the operating
// system's credential store, keyed by their settings key ("Auth/password") under a service named
// after the settings file's organisation and application. Where no credential store answers, the
// settings file keeps them, with one warning in the log, as older builds did.
//
// The store's jobs are asynchronous; each call here waits for its job in a local event loop so
// that start-up and the session restore read their secrets in the order they always did.
class SecretStore
{
public:
    // The program's store. Tests build their own.
    static SecretStore &instance();

    // A job that has not answered after `timeoutMs` counts as no credential store.
    explicit SecretStore(int timeoutMs = 10000);

    // Keys are full settings keys; `settings` must not be inside a group. A value still in the
    // settings file (an older build's, or one kept there while no store answered) is moved into
    // the credential store as it is read.
    QString read(QSettings &settings, const QString &key);
    // An empty value removes the key.
    void write(QSettings &settings, const QString &key, const QString &value);
    void remove(QSettings &settings, const QString &key);

    // False once a job has failed for another reason than a missing entry: from then on only the
    // settings file is used.
    bool usesCredentialStore() const { return m_available; }

private:
    enum class Outcome
    {
        Done,
        Missing,
        Failed
    };

    Outcome run(QKeychain::Job *job, QString *text = nullptr);
    Outcome writeToStore(const QSettings &settings, const QString &key, const QString &value);
    // Logs once why the credential store is left, and uses the settings file from then on.
    void giveUp(const QSettings &settings);
    static QString serviceName(const QSettings &settings);

    int m_timeoutMs = 10000;
    bool m_available = true;
    QString m_lastError;
};
