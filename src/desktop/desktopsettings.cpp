#include "desktop/desktopsettings.h"

#include "config/configbuilder.h"
#include "service/service.h"

#include <QCoreApplication>
#include <QDebug>
#include <QSettings>

namespace {

const QString kSystemProxyKey = QStringLiteral("Desktop/systemProxy");
const QString kConnectOnStartKey = QStringLiteral("Desktop/connectOnStart");

} // namespace

#ifdef Q_OS_WIN
const bool DesktopSettings::kSystemProxyDefault = true;
#else
const bool DesktopSettings::kSystemProxyDefault = false;
#endif

QSettings DesktopSettings::stored()
{
    return QSettings(QSettings::IniFormat, QSettings::UserScope, QStringLiteral("qivro"),
        QStringLiteral("qivro"));
}

DesktopSettings::DesktopSettings(service &tunnel, SystemProxy *proxy, QObject *parent)
    : QObject(parent)
    , m_tunnel(tunnel)
    , m_ownProxy(proxy ? nullptr : std::make_unique<SystemProxy>())
    , m_proxy(proxy ? proxy : m_ownProxy.get())
{
    const QSettings settings = stored();
    m_systemProxy = settings.value(kSystemProxyKey, kSystemProxyDefault).toBool();
    m_connectOnStart = settings.value(kConnectOnStartKey, false).toBool();
    // The entry itself is the setting: the user may have removed it by other means.
    m_startAtLogin = m_autostart.isEnabled();

    if (m_proxy->isSet()) {
        qDebug() << "[Desktop] Proxy settings left set by an earlier run; putting them back";
        m_proxy->restore();
    }
    connect(&m_tunnel, &service::isConnectedChanged, this, &DesktopSettings::followConnection);
    connect(&m_tunnel, &service::tunEnabledChanged, this, &DesktopSettings::followConnection);
    if (QCoreApplication *app = QCoreApplication::instance())
        connect(app, &QCoreApplication::aboutToQuit, this, [this]() { m_proxy->restore(); });
}

void DesktopSettings::setSystemProxy(bool enabled)
{
    if (m_systemProxy == enabled)
        return;
    m_systemProxy = enabled;
    stored().setValue(kSystemProxyKey, enabled);
    followConnection();
    emit systemProxyChanged();
}

void DesktopSettings::setStartAtLogin(bool enabled)
{
    if (m_startAtLogin == enabled)
        return;
    if (!m_autostart.setEnabled(enabled)) {
        qWarning() << "[Desktop] Could not change starting at login";
        return;
    }
    m_startAtLogin = enabled;
    emit startAtLoginChanged();
}

void DesktopSettings::setConnectOnStart(bool enabled)
{
    if (m_connectOnStart == enabled)
        return;
    m_connectOnStart = enabled;
    stored().setValue(kConnectOnStartKey, enabled);
    emit connectOnStartChanged();
}

void DesktopSettings::followConnection()
{
    const bool wanted = m_systemProxy && m_tunnel.isConnected() && !m_tunnel.tunEnabled();
    if (wanted == m_proxy->isSet())
        return;
    // Always the loopback address: with LAN sharing on, the listener on every interface asks for
    // a login that browsers would prompt for, so the desktop is given the login-free local one.
    if (wanted)
        m_proxy->set(QStringLiteral("127.0.0.1"), localProxyPort(m_tunnel.lanSharing()->access()));
    else
        m_proxy->restore();
}
