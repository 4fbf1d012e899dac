#include "desktop/quickconnect.h"

#include "desktop/desktopsettings.h"
#include "panel/authhandler.h"
#include "panel/subscribehandler.h"
#include "panel/versionchecker.h"
#include "service/service.h"

#include <QDebug>
#include <QSettings>

namespace {

const QString kLastSubscriptionKey = QStringLiteral("Desktop/lastSubscription");

} // namespace

QuickConnect::QuickConnect(service &tunnel, SubscribeHandler *subscriptions, QObject *parent)
    : QObject(parent)
    , m_tunnel(tunnel)
    , m_subscriptions(subscriptions)
{
    connect(&m_tunnel, &service::isConnectedChanged, this, [this]() {
        if (m_tunnel.isConnected() && !m_tunnel.selectedSubscription().isEmpty())
            DesktopSettings::stored().setValue(
                kLastSubscriptionKey, m_tunnel.selectedSubscription());
    });
}

QString QuickConnect::chooseSubscription() const
{
    if (!m_tunnel.proxyTags().isEmpty())
        return m_tunnel.selectedSubscription();
    if (!m_subscriptions)
        return {};
    const QString last = DesktopSettings::stored().value(kLastSubscriptionKey).toString();
    QString first;
    for (int i = 0; i < m_subscriptions->subscriptionCount(); ++i) {
        const QString url = m_subscriptions->getSubscriptionUrl(i);
        if (!last.isEmpty() && url == last)
            return url;
        if (first.isEmpty())
            first = url;
    }
    return first;
}

bool QuickConnect::connectNow()
{
    if (m_tunnel.isConnected())
        return true;
    if (m_tunnel.tunEnabled() && !m_tunnel.hasPrivileges()) {
        qDebug() << "[Desktop] TUN mode needs rights first; left to the window";
        return false;
    }
    const QString url = chooseSubscription();
    if (url.isEmpty())
        return false;
    if (url != m_tunnel.selectedSubscription() || m_tunnel.proxyTags().isEmpty())
        m_tunnel.selectSubscription(url);
    if (m_tunnel.proxyTags().isEmpty())
        return false;
    m_tunnel.toggleConnectionDesktop();
    return m_tunnel.isConnected();
}

void QuickConnect::connectWhenReady()
{
    if (m_pending || !m_subscriptions)
        return;
    m_pending = true;
    auto *gate = VersionChecker::getInstance();
    auto *auth = AuthHandler::getInstance();
    connect(gate, &VersionChecker::canUseAppChanged, this, &QuickConnect::tryPendingConnect);
    connect(auth, &AuthHandler::isInitializingChanged, this, &QuickConnect::tryPendingConnect);
    connect(m_subscriptions, &SubscribeHandler::subscriptionsChanged, this,
        &QuickConnect::tryPendingConnect);
    tryPendingConnect();
}

void QuickConnect::tryPendingConnect()
{
    const AuthHandler *auth = AuthHandler::getInstance();
    if (!m_pending || !VersionChecker::getInstance()->canUseApp() || !auth->isLoggedIn()
        || auth->isInitializing() || m_subscriptions->subscriptionCount() == 0)
        return;
    m_pending = false;
    disconnect(VersionChecker::getInstance(), nullptr, this, nullptr);
    disconnect(AuthHandler::getInstance(), nullptr, this, nullptr);
    disconnect(m_subscriptions, nullptr, this, nullptr);
    qDebug() << "[Desktop] Connecting on start:" << (connectNow() ? "connected" : "not connected");
}
