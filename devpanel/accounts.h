#pragma once

#include "panelreply.h"
#include "tokensigner.h"

#include <QString>
#include <QVariantMap>

#include <optional>

class Mailbox;
class PanelClock;
class PanelConfig;
class PanelStorage;

// Accounts: e-mail codes, registration, sign-in, password reset, the user record and tokens.
class Accounts
{
public:
    enum CodeType
    {
        Registration = 1,
        PasswordReset = 2
    };

    Accounts(PanelStorage &storage, PanelConfig &config, PanelClock &clock, Mailbox &mailbox);

    PanelReply sendCode(const QByteArray &body);
    PanelReply checkCode(const QByteArray &body);
    PanelReply registerAccount(const QByteArray &body);
    PanelReply login(const QByteArray &body);
    PanelReply resetPassword(const QByteArray &body);
    PanelReply userInfo(qint64 userId);

    // The user behind an Authorization header that holds a bare token, or 0.
    qint64 authenticate(const QByteArray &authorization);
    QByteArray issueToken(qint64 userId);

    // Administration and seeding.
    qint64 createUser(const QString &email, const QString &password, QString *error,
        const QString &inviteCode = {});
    qint64 userIdByEmail(const QString &email);
    std::optional<QVariantMap> user(qint64 userId);
    bool setFunds(qint64 userId, std::optional<qint64> balance, std::optional<qint64> giftAmount);
    bool revokeTokens(qint64 userId);

    static bool isValidEmail(const QString &email);

private:
    QString passwordHash(const QString &password, const QString &salt) const;
    // Checks a code without consuming it; an empty result means the code is good.
    QString codeProblem(const QString &email, int type, const QString &code);
    QString uniqueReferCode();
    QByteArray signerSecret();

    PanelStorage &m_storage;
    PanelConfig &m_config;
    PanelClock &m_clock;
    Mailbox &m_mailbox;
    QByteArray m_secret;
};
