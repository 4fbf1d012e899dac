#include "accounts.h"

#include "bodyreader.h"
#include "mailbox.h"
#include "panelclock.h"
#include "panelconfig.h"
#include "panelstorage.h"

#include <QCryptographicHash>
#include <QDebug>
#include <QJsonArray>
#include <QJsonObject>
#include <QRandomGenerator>
#include <QRegularExpression>

namespace {

constexpr int kMinPasswordLength = 6;
constexpr int kMaxPasswordLength = 128;

QString randomText(const char *alphabet, int length)
{
    const QByteArray letters(alphabet);
    QString result;
    for (int i = 0; i < length; ++i)
        result.append(QChar::fromLatin1(
            letters.at(QRandomGenerator::system()->bounded(int(letters.size())))));
    return result;
}

QString passwordProblem(const QString &password)
{
    if (password.size() < kMinPasswordLength)
        return QStringLiteral("Password must be at least %1 characters").arg(kMinPasswordLength);
    if (password.size() > kMaxPasswordLength)
        return QStringLiteral("Password is too long");
    return {};
}

} // namespace

Accounts::Accounts(PanelStorage &storage, PanelConfig &config, PanelClock &clock, Mailbox &mailbox)
    : m_storage(storage)
    , m_config(config)
    , m_clock(clock)
    , m_mailbox(mailbox)
{ }

bool Accounts::isValidEmail(const QString &email)
{
    static const QRegularExpression pattern(QStringLiteral("^[^@\\s]+@[^@\\s]+\\.[^@\\s]+$"));
    return email.size() <= 254 && pattern.match(email).hasMatch();
}

QByteArray Accounts::signerSecret()
{
    if (m_secret.isEmpty())
        m_secret = m_config.jwtSecret();
    return m_secret;
}

QString Accounts::passwordHash(const QString &password, const QString &salt) const
{
    return QString::fromLatin1(QCryptographicHash::hash(
        (salt + QLatin1Char(':') + password).toUtf8(), QCryptographicHash::Sha256)
                                   .toHex());
}

QString Accounts::uniqueReferCode()
{
    for (;;) {
        const QString code = randomText("ABCDEFGHJKLMNPQRSTUVWXYZ23456789", 8);
        if (!m_storage.value(QStringLiteral("SELECT 1 FROM users WHERE refer_code = ?"), {code})
                 .isValid())
            return code;
    }
}

PanelReply Accounts::sendCode(const QByteArray &body)
{
    BodyReader in(body);
    const QString email = in.text(QStringLiteral("email"));
    const qint64 type = in.integer(QStringLiteral("type"), Registration, PasswordReset);
    if (!in.ok())
        return PanelReply::refusal(in.error());
    if (!isValidEmail(email))
        return PanelReply::refusal(QStringLiteral("Invalid email address"));
    const bool exists = userIdByEmail(email) != 0;
    if (type == Registration && exists)
        return PanelReply::refusal(QStringLiteral("This email is already registered"));
    if (type == PasswordReset && !exists)
        return PanelReply::refusal(QStringLiteral("User does not exist"));

    const QString code = randomText("0123456789", 6);
    m_storage.exec(QStringLiteral("INSERT INTO codes (email, type, code, created_at, verified) "
                                  "VALUES (?, ?, ?, ?, 0) ON CONFLICT(email, type) DO UPDATE SET "
                                  "code = excluded.code, created_at = excluded.created_at, "
                                  "verified = 0"),
        {email.toLower(), type, code, m_clock.now()});
    m_mailbox.deliverCode(email, int(type), code);

    QJsonObject data {{QStringLiteral("status"), true}};
    if (m_config.revealCodes())
        data.insert(QStringLiteral("code"), code);
    return PanelReply::success(data);
}

QString Accounts::codeProblem(const QString &email, int type, const QString &code)
{
    const auto stored = m_storage.row(
        QStringLiteral("SELECT code, created_at FROM codes WHERE email = ? AND type = ?"),
        {email.toLower(), type});
    if (!stored || code.isEmpty() || stored->value("code").toString() != code)
        return QStringLiteral("Verification code error");
    if (m_clock.now() - stored->value("created_at").toLongLong() > m_config.codeLifetime())
        return QStringLiteral("Verification code has expired");
    return {};
}

PanelReply Accounts::checkCode(const QByteArray &body)
{
    BodyReader in(body);
    const QString method = in.text(QStringLiteral("method"));
    const QString account = in.text(QStringLiteral("account"));
    const QString code = in.text(QStringLiteral("code"), true);
    const qint64 type = in.integer(QStringLiteral("type"), Registration, PasswordReset);
    if (!in.ok())
        return PanelReply::refusal(in.error());
    if (method != QLatin1String("email"))
        return PanelReply::refusal(QStringLiteral("Unsupported verification method"));
    // A wrong code is an answer, not an error: the check itself succeeded.
    const bool good = codeProblem(account, int(type), code).isEmpty();
    if (good)
        m_storage.exec(QStringLiteral("UPDATE codes SET verified = 1 WHERE email = ? AND type = ?"),
            {account.toLower(), type});
    return PanelReply::success(QJsonObject {{QStringLiteral("status"), good}});
}

qint64 Accounts::createUser(
    const QString &email, const QString &password, QString *error, const QString &inviteCode)
{
    auto refuse = [error](const QString &text) {
        if (error)
            *error = text;
        return qint64(0);
    };
    if (!isValidEmail(email))
        return refuse(QStringLiteral("Invalid email address"));
    if (const QString problem = passwordProblem(password); !problem.isEmpty())
        return refuse(problem);
    if (userIdByEmail(email) != 0)
        return refuse(QStringLiteral("This email is already registered"));
    qint64 refererId = 0;
    if (!inviteCode.isEmpty()) {
        refererId = m_storage
                        .value(QStringLiteral("SELECT id FROM users WHERE refer_code = ?"),
                            {inviteCode.toUpper()})
                        .toLongLong();
        if (refererId == 0)
            return refuse(QStringLiteral("Invalid invite code"));
    }
    const QString salt = randomText("0123456789abcdef", 16);
    const qint64 now = m_clock.now();
    const qint64 id = m_storage.insert(
        QStringLiteral("INSERT INTO users (email, password_salt, password_hash, refer_code, "
                       "referer_id, created_at, updated_at) VALUES (?, ?, ?, ?, ?, ?, ?)"),
        {email, salt, passwordHash(password, salt), uniqueReferCode(), refererId, now, now});
    if (id <= 0)
        return refuse(QStringLiteral("Registration failed, please try again"));
    return id;
}

PanelReply Accounts::registerAccount(const QByteArray &body)
{
    BodyReader in(body);
    const QString email = in.text(QStringLiteral("email"));
    const QString password = in.text(QStringLiteral("password"));
    const QString code = in.text(QStringLiteral("code"), true);
    const QString invite = in.optionalText(QStringLiteral("invite"));
    in.optionalText(QStringLiteral("identifier"));
    in.optionalText(QStringLiteral("domain"));
    if (!in.ok())
        return PanelReply::refusal(in.error());
    if (!isValidEmail(email))
        return PanelReply::refusal(QStringLiteral("Invalid email address"));
    if (userIdByEmail(email) != 0)
        return PanelReply::refusal(QStringLiteral("This email is already registered"));
    if (const QString problem = codeProblem(email, Registration, code); !problem.isEmpty())
        return PanelReply::refusal(problem);

    QString error;
    const qint64 id = createUser(email, password, &error, invite);
    if (id == 0)
        return PanelReply::refusal(error);
    m_storage.exec(QStringLiteral("DELETE FROM codes WHERE email = ? AND type = ?"),
        {email.toLower(), int(Registration)});
    qInfo().noquote() << "[Accounts] Registered" << email;
    return PanelReply::success(
        QJsonObject {{QStringLiteral("token"), QString::fromLatin1(issueToken(id))}});
}

PanelReply Accounts::login(const QByteArray &body)
{
    BodyReader in(body);
    const QString email = in.text(QStringLiteral("email"));
    const QString password = in.text(QStringLiteral("password"), true);
    in.optionalText(QStringLiteral("identifier"));
    if (!in.ok())
        return PanelReply::refusal(in.error());
    const auto row = m_storage.row(QStringLiteral("SELECT * FROM users WHERE email = ?"), {email});
    if (!row
        || passwordHash(password, row->value("password_salt").toString())
            != row->value("password_hash").toString())
        return PanelReply::refusal(QStringLiteral("Incorrect email or password"));
    if (!row->value("enable").toBool())
        return PanelReply::refusal(QStringLiteral("This account has been disabled"));
    const qint64 id = row->value("id").toLongLong();
    return PanelReply::success(
        QJsonObject {{QStringLiteral("token"), QString::fromLatin1(issueToken(id))}});
}

PanelReply Accounts::resetPassword(const QByteArray &body)
{
    BodyReader in(body);
    const QString email = in.text(QStringLiteral("email"));
    const QString password = in.text(QStringLiteral("password"));
    const QString code = in.text(QStringLiteral("code"), true);
    in.optionalText(QStringLiteral("identifier"));
    if (!in.ok())
        return PanelReply::refusal(in.error());
    const qint64 id = userIdByEmail(email);
    if (id == 0)
        return PanelReply::refusal(QStringLiteral("User does not exist"));
    if (const QString problem = codeProblem(email, PasswordReset, code); !problem.isEmpty())
        return PanelReply::refusal(problem);
    if (const QString problem = passwordProblem(password); !problem.isEmpty())
        return PanelReply::refusal(problem);
    const QString salt = randomText("0123456789abcdef", 16);
    m_storage.exec(QStringLiteral("UPDATE users SET password_salt = ?, password_hash = ?, "
                                  "updated_at = ? WHERE id = ?"),
        {salt, passwordHash(password, salt), m_clock.now(), id});
    m_storage.exec(QStringLiteral("DELETE FROM codes WHERE email = ? AND type = ?"),
        {email.toLower(), int(PasswordReset)});
    return PanelReply::success();
}

PanelReply Accounts::userInfo(qint64 userId)
{
    const auto row = user(userId);
    if (!row)
        return PanelReply::refusal(QStringLiteral("User does not exist"));
    const QString email = row->value("email").toString();
    const QJsonObject authMethod {{QStringLiteral("auth_type"), QStringLiteral("email")},
        {QStringLiteral("auth_identifier"), email}, {QStringLiteral("verified"), true}};
    QJsonObject data {
        {QStringLiteral("id"), userId},
        {QStringLiteral("avatar"), QString()},
        {QStringLiteral("balance"), row->value("balance").toLongLong()},
        {QStringLiteral("commission"), row->value("commission").toLongLong()},
        {QStringLiteral("referral_percentage"), 10},
        {QStringLiteral("only_first_purchase"), true},
        {QStringLiteral("gift_amount"), row->value("gift_amount").toLongLong()},
        {QStringLiteral("telegram"), 0},
        {QStringLiteral("refer_code"), row->value("refer_code").toString()},
        {QStringLiteral("referer_id"), row->value("referer_id").toLongLong()},
        {QStringLiteral("enable"), row->value("enable").toBool()},
        {QStringLiteral("is_admin"), false},
        {QStringLiteral("enable_balance_notify"), false},
        {QStringLiteral("enable_login_notify"), false},
        {QStringLiteral("enable_subscribe_notify"), false},
        {QStringLiteral("enable_trade_notify"), false},
        {QStringLiteral("auth_methods"), QJsonArray {authMethod}},
        {QStringLiteral("user_devices"), QJsonArray()},
        {QStringLiteral("rules"), QJsonArray()},
        {QStringLiteral("created_at"), row->value("created_at").toLongLong()},
        {QStringLiteral("updated_at"), row->value("updated_at").toLongLong()},
        {QStringLiteral("deleted_at"), QJsonValue::Null},
    };
    return PanelReply::success(data);
}

QByteArray Accounts::issueToken(qint64 userId)
{
    TokenSigner::Claims claims;
    claims.userId = userId;
    claims.version
        = m_storage.value(QStringLiteral("SELECT token_version FROM users WHERE id = ?"), {userId})
              .toLongLong();
    claims.issuedAt = m_clock.now();
    const qint64 lifetime = m_config.tokenLifetime();
    claims.expiresAt = lifetime > 0 ? claims.issuedAt + lifetime : 0;
    return TokenSigner(signerSecret()).sign(claims);
}

qint64 Accounts::authenticate(const QByteArray &authorization)
{
    const QByteArray token = authorization.trimmed();
    if (token.isEmpty())
        return 0;
    const auto claims = TokenSigner(signerSecret()).verify(token, m_clock.now());
    if (!claims)
        return 0;
    const auto row = user(claims->userId);
    if (!row || !row->value("enable").toBool()
        || row->value("token_version").toLongLong() != claims->version)
        return 0;
    return claims->userId;
}

qint64 Accounts::userIdByEmail(const QString &email)
{
    return m_storage
        .value(QStringLiteral("SELECT id FROM users WHERE email = ?"), {email.trimmed()})
        .toLongLong();
}

std::optional<QVariantMap> Accounts::user(qint64 userId)
{
    return m_storage.row(QStringLiteral("SELECT * FROM users WHERE id = ?"), {userId});
}

bool Accounts::setFunds(
    qint64 userId, std::optional<qint64> balance, std::optional<qint64> giftAmount)
{
    if (!user(userId))
        return false;
    if (balance)
        m_storage.exec(
            QStringLiteral("UPDATE users SET balance = ? WHERE id = ?"), {*balance, userId});
    if (giftAmount)
        m_storage.exec(
            QStringLiteral("UPDATE users SET gift_amount = ? WHERE id = ?"), {*giftAmount, userId});
    return true;
}

bool Accounts::revokeTokens(qint64 userId)
{
    return user(userId)
        && m_storage.exec(
            QStringLiteral("UPDATE users SET token_version = token_version + 1 WHERE id = ?"),
            {userId});
}
