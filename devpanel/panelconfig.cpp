#include "panelconfig.h"

#include "panelstorage.h"

#include <QJsonDocument>
#include <QRandomGenerator>

namespace {

constexpr qint64 kDefaultTokenLifetime = 7 * 24 * 3600;
constexpr qint64 kDefaultFreeCooldown = 24 * 3600;
constexpr qint64 kDefaultFreeDuration = 24 * 3600;

const char *const kTestSwitches[]
    = {"auth_style", "token_lifetime", "reveal_codes", "free_cooldown", "free_cooldown_style"};

} // namespace

PanelConfig::PanelConfig(PanelStorage &storage)
    : m_storage(storage)
{ }

qint64 PanelConfig::number(const char *key, qint64 fallback) const
{
    bool ok = false;
    const qint64 value = m_storage.setting(QString::fromLatin1(key)).toLongLong(&ok);
    return ok ? value : fallback;
}

void PanelConfig::setNumber(const char *key, qint64 value)
{
    m_storage.setSetting(QString::fromLatin1(key), QString::number(value));
}

QJsonObject PanelConfig::object(const char *key) const
{
    return QJsonDocument::fromJson(m_storage.setting(QString::fromLatin1(key)).toUtf8()).object();
}

PanelConfig::AuthStyle PanelConfig::authStyle() const
{
    AuthStyle style = AuthStyle::InvalidAccess;
    parseAuthStyle(m_storage.setting(QStringLiteral("auth_style")), style);
    return style;
}

QString PanelConfig::authStyleName(AuthStyle style)
{
    switch (style) {
    case AuthStyle::InvalidAccess:
        return QStringLiteral("invalid-access");
    case AuthStyle::LoginFirst:
        return QStringLiteral("login-first");
    case AuthStyle::Http401:
        return QStringLiteral("http-401");
    }
    return {};
}

bool PanelConfig::parseAuthStyle(const QString &name, AuthStyle &style)
{
    for (AuthStyle candidate :
        {AuthStyle::InvalidAccess, AuthStyle::LoginFirst, AuthStyle::Http401}) {
        if (authStyleName(candidate) == name) {
            style = candidate;
            return true;
        }
    }
    return false;
}

void PanelConfig::setAuthStyle(AuthStyle style)
{
    m_storage.setSetting(QStringLiteral("auth_style"), authStyleName(style));
}

qint64 PanelConfig::tokenLifetime() const
{
    return number("token_lifetime", kDefaultTokenLifetime);
}

void PanelConfig::setTokenLifetime(qint64 seconds)
{
    setNumber("token_lifetime", seconds);
}

bool PanelConfig::revealCodes() const
{
    return number("reveal_codes", 0) != 0;
}

void PanelConfig::setRevealCodes(bool reveal)
{
    setNumber("reveal_codes", reveal ? 1 : 0);
}

bool PanelConfig::ticketAutoReply() const
{
    return number("ticket_auto_reply", 0) != 0;
}

void PanelConfig::setTicketAutoReply(bool enabled)
{
    setNumber("ticket_auto_reply", enabled ? 1 : 0);
}

qint64 PanelConfig::freePlanId() const
{
    return number("free_plan_id", 0);
}

void PanelConfig::setFreePlanId(qint64 id)
{
    setNumber("free_plan_id", id);
}

qint64 PanelConfig::freeCooldown() const
{
    return number("free_cooldown", kDefaultFreeCooldown);
}

void PanelConfig::setFreeCooldown(qint64 seconds)
{
    setNumber("free_cooldown", seconds);
}

qint64 PanelConfig::freeDuration() const
{
    return number("free_duration", kDefaultFreeDuration);
}

void PanelConfig::setFreeDuration(qint64 seconds)
{
    setNumber("free_duration", seconds);
}

QString PanelConfig::freeCooldownStyle() const
{
    const QString style = m_storage.setting(QStringLiteral("free_cooldown_style"));
    return isFreeCooldownStyle(style) ? style : QStringLiteral("data");
}

bool PanelConfig::isFreeCooldownStyle(const QString &style)
{
    return style == QLatin1String("data") || style == QLatin1String("refusal")
        || style == QLatin1String("message");
}

void PanelConfig::setFreeCooldownStyle(const QString &style)
{
    m_storage.setSetting(QStringLiteral("free_cooldown_style"), style);
}

QJsonObject PanelConfig::siteConfig() const
{
    return object("site_config");
}

void PanelConfig::setSiteConfig(const QJsonObject &config)
{
    m_storage.setSetting(QStringLiteral("site_config"),
        QString::fromUtf8(QJsonDocument(config).toJson(QJsonDocument::Compact)));
}

QJsonObject PanelConfig::versionFile() const
{
    return object("version_file");
}

void PanelConfig::setVersionFile(const QJsonObject &file)
{
    m_storage.setSetting(QStringLiteral("version_file"),
        QString::fromUtf8(QJsonDocument(file).toJson(QJsonDocument::Compact)));
}

QByteArray PanelConfig::jwtSecret()
{
    QString secret = m_storage.setting(QStringLiteral("jwt_secret"));
    if (secret.isEmpty()) {
        QByteArray bytes(32, Qt::Uninitialized);
        QRandomGenerator::system()->fillRange(
            reinterpret_cast<quint32 *>(bytes.data()), bytes.size() / int(sizeof(quint32)));
        secret = QString::fromLatin1(bytes.toHex());
        m_storage.setSetting(QStringLiteral("jwt_secret"), secret);
    }
    return secret.toLatin1();
}

void PanelConfig::resetTestSwitches()
{
    for (const char *key : kTestSwitches)
        m_storage.exec(
            QStringLiteral("DELETE FROM settings WHERE key = ?"), {QString::fromLatin1(key)});
}
