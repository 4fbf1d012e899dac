#include "mailbox.h"

#include "panelclock.h"
#include "panelstorage.h"

#include <QDebug>
#include <QJsonObject>

Mailbox::Mailbox(PanelStorage &storage, PanelClock &clock)
    : m_storage(storage)
    , m_clock(clock)
{ }

void Mailbox::deliverCode(const QString &email, int type, const QString &code)
{
    const QString subject = type == 1 ? QStringLiteral("Your registration code")
                                      : QStringLiteral("Your password reset code");
    const QString body
        = QStringLiteral("Your verification code is %1. It is valid for 10 minutes.").arg(code);
    m_storage.insert(
        QStringLiteral("INSERT INTO mail (email, type, code, subject, body, created_at)"
                       " VALUES (?, ?, ?, ?, ?, ?)"),
        {email.toLower(), type, code, subject, body, m_clock.now()});
    qInfo().noquote() << QStringLiteral("[Mailbox] To %1: %2: %3").arg(email, subject, code);
}

QString Mailbox::latestCode(const QString &email, int type)
{
    return m_storage
        .value(QStringLiteral("SELECT code FROM mail WHERE email = ? AND type = ? "
                              "ORDER BY id DESC LIMIT 1"),
            {email.trimmed().toLower(), type})
        .toString();
}

QJsonArray Mailbox::messages(const QString &email)
{
    const QString filter = email.trimmed().toLower();
    const auto rows = filter.isEmpty()
        ? m_storage.rows(QStringLiteral("SELECT * FROM mail ORDER BY id DESC"))
        : m_storage.rows(
            QStringLiteral("SELECT * FROM mail WHERE email = ? ORDER BY id DESC"), {filter});
    QJsonArray result;
    for (const QVariantMap &row : rows) {
        result.append(QJsonObject {{QStringLiteral("email"), row.value("email").toString()},
            {QStringLiteral("type"), row.value("type").toInt()},
            {QStringLiteral("code"), row.value("code").toString()},
            {QStringLiteral("subject"), row.value("subject").toString()},
            {QStringLiteral("body"), row.value("body").toString()},
            {QStringLiteral("created_at"), row.value("created_at").toLongLong()}});
    }
    return result;
}
