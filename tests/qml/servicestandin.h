#pragma once

#include <QObject>
#include <QVariantList>

// Stand-in for the tunnel controller in the Qt Quick tests. It lives in C++ because the
// controller's operation names start with a capital letter, which QML cannot declare.
// Tests set the state directly and read back the recorded calls.
class ServiceStandIn : public QObject
{
    Q_OBJECT
    Q_PROPERTY(bool isConnected MEMBER m_isConnected NOTIFY isConnectedChanged)
    Q_PROPERTY(QString selectedSubscription MEMBER m_selectedSubscription NOTIFY
            selectedSubscriptionChanged)
    Q_PROPERTY(QString selectedProxy MEMBER m_selectedProxy NOTIFY selectedProxyChanged)
    Q_PROPERTY(bool autoRoute MEMBER m_autoRoute NOTIFY autoRouteChanged)
    Q_PROPERTY(bool tunEnabled MEMBER m_tunEnabled NOTIFY tunEnabledChanged)
    Q_PROPERTY(bool hasPrivileges MEMBER m_hasPrivileges NOTIFY hasPrivilegesChanged)
    Q_PROPERTY(bool requiresPasswordInput MEMBER m_requiresPasswordInput NOTIFY
            requiresPasswordInputChanged)
    Q_PROPERTY(
        bool canRequestPrivileges MEMBER m_canRequestPrivileges NOTIFY canRequestPrivilegesChanged)
    // What the next privilege request answers, and whether rights are held afterwards.
    Q_PROPERTY(bool privilegeRequestResult MEMBER m_privilegeRequestResult NOTIFY standInChanged)
    Q_PROPERTY(bool grantsPrivileges MEMBER m_grantsPrivileges NOTIFY standInChanged)
    Q_PROPERTY(bool selectResult MEMBER m_selectResult NOTIFY standInChanged)
    Q_PROPERTY(QVariantList calls MEMBER m_calls NOTIFY callsChanged)
    // The LAN sharing object; tests that need one put their own here.
    Q_PROPERTY(QObject *lanSharing MEMBER m_lanSharing NOTIFY standInChanged)

public:
    using QObject::QObject;

    Q_INVOKABLE void reset();
    Q_INVOKABLE QVariantList callsTo(const QString &name) const;
    Q_INVOKABLE void clearCalls();

    Q_INVOKABLE void ToggleConnection();
    Q_INVOKABLE void selectSubscription(const QString &url);
    Q_INVOKABLE bool selectProxy(const QString &tag);
    Q_INVOKABLE bool selectProxyAuto(const QString &tag);
    Q_INVOKABLE bool requestPrivileges();
    Q_INVOKABLE bool requestPrivilegesWithPassword(const QString &password);
    Q_INVOKABLE void preparePendingConnection(const QString &url);
    Q_INVOKABLE void clearPendingConnection();

signals:
    void isConnectedChanged();
    void selectedSubscriptionChanged();
    void selectedProxyChanged();
    void autoRouteChanged();
    void tunEnabledChanged();
    void hasPrivilegesChanged();
    void requiresPasswordInputChanged();
    void canRequestPrivilegesChanged();
    void standInChanged();
    void callsChanged();
    void pendingConnectionResumeStarted(const QString &subscriptionUrl);

private:
    void record(const QString &name, const QVariantList &args = {});
    bool select(const QString &name, const QString &tag, bool autoRoute);
    bool grant(const QString &name, const QVariantList &args);

    bool m_isConnected = false;
    QString m_selectedSubscription;
    QString m_selectedProxy;
    bool m_autoRoute = false;
    bool m_tunEnabled = false;
    bool m_hasPrivileges = true;
    bool m_requiresPasswordInput = false;
    bool m_canRequestPrivileges = true;
    bool m_privilegeRequestResult = true;
    bool m_grantsPrivileges = true;
    bool m_selectResult = true;
    QVariantList m_calls;
    QObject *m_lanSharing = nullptr;
};
