#pragma once

#include <QJsonObject>
#include <QString>

class PanelStorage;

// The panel's adjustable behaviour, kept in the settings table so that it survives restarts.
class PanelConfig
{
public:
    // How a missing or refused token is answered; clients must cope with all three.
    enum class AuthStyle
    {
        InvalidAccess,
        LoginFirst,
        Http401
    };

    explicit PanelConfig(PanelStorage &storage);

    AuthStyle authStyle() const;
    static QString authStyleName(AuthStyle style);
    static bool parseAuthStyle(const QString &name, AuthStyle &style);
    void setAuthStyle(AuthStyle style);

    qint64 tokenLifetime() const;
    void setTokenLifetime(qint64 seconds);

    // Whether send_code also returns the code in its reply (some panels do in test mode).
    bool revealCodes() const;
    void setRevealCodes(bool reveal);

    bool ticketAutoReply() const;
    void setTicketAutoReply(bool enabled);

    qint64 freePlanId() const;
    void setFreePlanId(qint64 id);
    qint64 freeCooldown() const;
    void setFreeCooldown(qint64 seconds);
    qint64 freeDuration() const;
    void setFreeDuration(qint64 seconds);
    // How a claim inside the cooldown is answered: "data" (msg success, data.success false and
    // remaining_time), "refusal" (a refusal msg with remaining_time) or "message" (a refusal
    // whose msg names the seconds, without remaining_time). Panels differ; clients cope.
    QString freeCooldownStyle() const;
    static bool isFreeCooldownStyle(const QString &style);
    void setFreeCooldownStyle(const QString &style);

    qint64 codeLifetime() const { return 600; }
    qint64 orderTimeout() const { return 900; }

    QJsonObject siteConfig() const;
    void setSiteConfig(const QJsonObject &config);
    QJsonObject versionFile() const;
    void setVersionFile(const QJsonObject &file);

    // The HS256 key, made once per data directory.
    QByteArray jwtSecret();

    // Back to the defaults for everything a test may switch; data and secrets stay.
    void resetTestSwitches();

private:
    qint64 number(const char *key, qint64 fallback) const;
    void setNumber(const char *key, qint64 value);
    QJsonObject object(const char *key) const;

    PanelStorage &m_storage;
};
