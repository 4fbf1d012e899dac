#include "service/lansharing.h"

#include "base/secretstore.h"
#include "network/platform.h"

#include <QRandomGenerator>
#include <QSettings>

namespace {

const QString kEnabledKey = QStringLiteral("Service/lanSharing");
const QString kUsernameKey = QStringLiteral("Service/lanUsername");
const QString kPasswordKey = QStringLiteral("Service/lanPassword");

QSettings serviceSettings()
{
    return QSettings(QSettings::IniFormat, QSettings::UserScope, QStringLiteral("qivro"),
        QStringLiteral("qivro"));
}

// Lower-case letters and digits without the look-alikes, so the login can be typed on a phone.
QString randomText(int length)
{
    static const QString alphabet = QStringLiteral("abcdefghjkmnpqrstuvwxyz23456789");
    QString text;
    text.reserve(length);
    for (int i = 0; i < length; ++i)
        text.append(
            alphabet.at(int(QRandomGenerator::system()->bounded(quint32(alphabet.size())))));
    return text;
}

} // namespace

LanSharing::LanSharing(QObject *parent)
    : QObject(parent)
{
    m_enabled = serviceSettings().value(kEnabledKey, false).toBool();
    if (m_enabled)
        loadLogin();
}

void LanSharing::setEnabled(bool enabled)
{
    if (enabled == m_enabled)
        return;
    if (enabled)
        loadLogin();
    m_enabled = enabled;
    QSettings settings = serviceSettings();
    settings.setValue(kEnabledKey, enabled);
    settings.sync();
    emit enabledChanged();
}

void LanSharing::loadLogin()
{
    if (!m_username.isEmpty() && !m_password.isEmpty())
        return;
    QSettings settings = serviceSettings();
    SecretStore &secrets = SecretStore::instance();
    QString username = secrets.read(settings, kUsernameKey);
    QString password = secrets.read(settings, kPasswordKey);
    if (username.isEmpty() || password.isEmpty()) {
        username = QStringLiteral("lan-") + randomText(6);
        password = randomText(20);
        secrets.write(settings, kUsernameKey, username);
        secrets.write(settings, kPasswordKey, password);
    }
    m_username = username;
    m_password = password;
    emit loginChanged();
}

void LanSharing::refreshAddresses()
{
    QStringList addresses;
    for (const QHostAddress &ip : Platform::localIPv4Addresses()) {
        // Self-assigned addresses rarely reach another device.
        if (!ip.isLinkLocal())
            addresses.append(ip.toString() + QLatin1Char(':') + QString::number(port()));
    }
    if (addresses == m_addresses)
        return;
    m_addresses = addresses;
    emit addressesChanged();
}
