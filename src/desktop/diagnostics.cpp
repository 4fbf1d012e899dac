#include "desktop/diagnostics.h"

#include "base/logmask.h"
#include "desktop/logbuffer.h"
#include "panel/authhandler.h"
#include "service/service.h"

#include <QClipboard>
#include <QFile>
#include <QGuiApplication>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QSysInfo>

#include <algorithm>

namespace {

const QString kMask = QStringLiteral("***");
constexpr int kProblemLines = 20;

// Keys whose values open an account, a node or the client's own listeners. Matched as parts of
// the key, so "private_key", "pre_shared_key", "obfs_password" and "auth_str" are caught too.
bool isCredentialKey(const QString &key)
{
    static const QRegularExpression credential(
        QStringLiteral("password|passwd|secret|token|uuid|key|short_id|auth|psk|username|user_id"),
        QRegularExpression::CaseInsensitiveOption);
    return credential.match(key).hasMatch();
}

QJsonValue maskAll(const QJsonValue &value, QSet<QString> *found)
{
    if (value.isArray()) {
        QJsonArray masked;
        for (const QJsonValue &item : value.toArray())
            masked.append(maskAll(item, found));
        return masked;
    }
    if (value.isObject()) {
        QJsonObject masked;
        const QJsonObject object = value.toObject();
        for (auto it = object.begin(); it != object.end(); ++it)
            masked.insert(it.key(), maskAll(it.value(), found));
        return masked;
    }
    if (value.isString() && found && !value.toString().isEmpty())
        found->insert(value.toString());
    return (value.isNull() || value.isUndefined()) ? value : QJsonValue(kMask);
}

QString section(const QString &title, const QString &body)
{
    return QStringLiteral("== %1 ==\n%2\n").arg(title, body);
}

} // namespace

Diagnostics::Diagnostics(const service &tunnel, const AuthHandler *auth, QObject *parent)
    : QObject(parent)
    , m_tunnel(tunnel)
    , m_auth(auth ? auth : AuthHandler::getInstance())
{ }

QJsonValue Diagnostics::maskConfig(const QJsonValue &value, QSet<QString> *found)
{
    if (value.isArray()) {
        QJsonArray masked;
        for (const QJsonValue &item : value.toArray())
            masked.append(maskConfig(item, found));
        return masked;
    }
    if (!value.isObject())
        return value;
    QJsonObject masked;
    const QJsonObject object = value.toObject();
    for (auto it = object.begin(); it != object.end(); ++it) {
        masked.insert(it.key(),
            isCredentialKey(it.key()) ? maskAll(it.value(), found) : maskConfig(it.value(), found));
    }
    return masked;
}

QString Diagnostics::maskText(QString text, const QSet<QString> &secrets)
{
    // Longest first, so a secret that contains another is not left half masked.
    QStringList ordered(secrets.begin(), secrets.end());
    std::sort(ordered.begin(), ordered.end(),
        [](const QString &a, const QString &b) { return a.size() > b.size(); });
    for (const QString &secret : ordered) {
        // A value of a few characters (a method name, "1") would mask ordinary words.
        if (secret.size() >= 6)
            text.replace(secret, kMask);
    }
    static const QRegularExpression uuid(QStringLiteral(
        "[0-9a-fA-F]{8}-[0-9a-fA-F]{4}-[0-9a-fA-F]{4}-[0-9a-fA-F]{4}-[0-9a-fA-F]{12}"));
    text.replace(uuid, kMask);
    return LogMask::tokens(text);
}

QSet<QString> Diagnostics::knownSecrets() const
{
    QSet<QString> secrets {m_auth->authToken(), m_tunnel.secret()};
    if (const LanSharing *lan = m_tunnel.lanSharing()) {
        secrets.insert(lan->username());
        secrets.insert(lan->password());
    }
    secrets.remove(QString());
    return secrets;
}

QString Diagnostics::configText(QSet<QString> *found) const
{
    QFile file(m_tunnel.configFile());
    if (m_tunnel.configFile().isEmpty() || !file.open(QIODevice::ReadOnly))
        return QStringLiteral("(none written)");
    const QJsonDocument document = QJsonDocument::fromJson(file.read(64 * 1024 * 1024));
    if (!document.isObject())
        return QStringLiteral("(not a JSON object)");
    const QJsonValue masked = maskConfig(document.object(), found);
    return QString::fromUtf8(QJsonDocument(masked.toObject()).toJson(QJsonDocument::Indented));
}

QString Diagnostics::summary() const
{
    QStringList lines {
        QStringLiteral("qivro %1 (Qt %2 at run time, %3 at build time)")
            .arg(QStringLiteral(QIVRO_VERSION), QString::fromLatin1(qVersion()),
                QStringLiteral(QT_VERSION_STR)),
        QStringLiteral("System: %1, kernel %2 %3, %4, display %5")
            .arg(QSysInfo::prettyProductName(), QSysInfo::kernelType(), QSysInfo::kernelVersion(),
                QSysInfo::currentCpuArchitecture(), QGuiApplication::platformName()),
        QStringLiteral("Engine library: %1").arg(EngineLibrary::defaultPath()),
        QStringLiteral("Mode: %1, %2, route %3")
            .arg(m_tunnel.tunEnabled() ? QStringLiteral("TUN") : QStringLiteral("local proxy"),
                m_tunnel.isConnected() ? QStringLiteral("connected")
                                       : QStringLiteral("disconnected"),
                m_tunnel.route().isEmpty() ? QStringLiteral("-") : m_tunnel.route()),
        QStringLiteral("Engine's last refusal: %1")
            .arg(m_tunnel.lastEngineError().isEmpty() ? QStringLiteral("-")
                                                      : m_tunnel.lastEngineError()),
        QStringLiteral("LAN sharing: %1")
            .arg(m_tunnel.lanSharing() && m_tunnel.lanSharing()->enabled() ? QStringLiteral("on")
                                                                           : QStringLiteral("off")),
    };
    return lines.join(QLatin1Char('\n'));
}

QString Diagnostics::text() const
{
    QSet<QString> secrets = knownSecrets();
    const QString config = configText(&secrets);
    const QString report = section(QStringLiteral("Client"), summary())
        + section(QStringLiteral("Latest warnings"),
            LogBuffer::instance().problems(kProblemLines).join(QLatin1Char('\n')))
        + section(QStringLiteral("Engine configuration"), config)
        + section(QStringLiteral("Log"), LogBuffer::instance().lines().join(QLatin1Char('\n')));
    return maskText(report, secrets);
}

void Diagnostics::copyToClipboard() const
{
    if (QClipboard *clipboard = QGuiApplication::clipboard())
        clipboard->setText(text());
}

QString Diagnostics::appendToMessage(const QString &message) const
{
    QSet<QString> secrets = knownSecrets();
    // Read for its credentials only: the log may quote them, the ticket leaves the document out.
    configText(&secrets);
    const QString head = message + QStringLiteral("\n\n")
        + maskText(section(QStringLiteral("Client"), summary())
                + section(QStringLiteral("Latest warnings"),
                    LogBuffer::instance().problems(kProblemLines).join(QLatin1Char('\n'))),
            secrets);
    const QString logTitle = QStringLiteral("== Log (newest) ==\n");
    int room = kTicketLimit - int(head.size()) - int(logTitle.size());
    if (room <= 0)
        return head.left(kTicketLimit);
    QStringList kept;
    const QStringList lines = LogBuffer::instance().lines();
    for (auto it = lines.crbegin(); it != lines.crend(); ++it) {
        const QString line = maskText(*it, secrets);
        if (line.size() + 1 > room)
            break;
        room -= int(line.size()) + 1;
        kept.prepend(line);
    }
    return head + logTitle + kept.join(QLatin1Char('\n'));
}
