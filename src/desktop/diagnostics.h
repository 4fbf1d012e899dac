#pragma once

#include <QJsonValue>
#include <QObject>
#include <QSet>
#include <QString>
#include <QStringList>

class AuthHandler;
class service;

// The text a user hands to support: versions, platform, connection state, the latest warnings,
// the engine configuration and the latest log lines, with every credential masked. Credentials
// are masked by the configuration's keys, and every value masked there, every UUID and every
// secret the client holds is also cut out of the log lines.
class Diagnostics : public QObject
{
    Q_OBJECT

public:
    // A new ticket's message holds at most this many characters on the panel.
    static constexpr int kTicketLimit = 10000;

    // The session's token comes from `auth`, by default the program's.
    explicit Diagnostics(
        const service &tunnel, const AuthHandler *auth = nullptr, QObject *parent = nullptr);

    // Everything: for the clipboard.
    Q_INVOKABLE QString text() const;
    Q_INVOKABLE void copyToClipboard() const;
    // The message followed by as much of the report as the ticket can hold: the summary and the
    // warnings first, then the newest log lines; the configuration is left out.
    Q_INVOKABLE QString appendToMessage(const QString &message) const;

    // The document with the value of every credential key replaced by "***"; each replaced
    // string is added to `found`.
    static QJsonValue maskConfig(const QJsonValue &value, QSet<QString> *found = nullptr);
    // The text with the given secrets, every UUID and every "token=" value masked.
    static QString maskText(QString text, const QSet<QString> &secrets);

private:
    QString summary() const;
    QSet<QString> knownSecrets() const;
    QString configText(QSet<QString> *found) const;

    const service &m_tunnel;
    const AuthHandler *m_auth = nullptr;
};
