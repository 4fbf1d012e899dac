#pragma once

#include <QObject>
#include <QVariantList>
#include <QVariantMap>

class QQmlEngine;

// Stand-in for the tunnel controller in the Qt Quick tests. It lives in C++ because the
// controller's operation names start with a capital letter, which QML cannot declare.
// Tests set the state directly and read back the recorded calls.
class ServiceStandIn : public QObject
{
    Q_OBJECT
    Q_PROPERTY(bool isConnected MEMBER m_isConnected NOTIFY changed)
    Q_PROPERTY(QString selectedSubscription MEMBER m_selectedSubscription NOTIFY changed)
    Q_PROPERTY(QString selectedProxy MEMBER m_selectedProxy NOTIFY changed)
    Q_PROPERTY(bool autoRoute MEMBER m_autoRoute NOTIFY changed)
    Q_PROPERTY(bool tunEnabled MEMBER m_tunEnabled NOTIFY changed)
    Q_PROPERTY(bool hasPrivileges MEMBER m_hasPrivileges NOTIFY changed)
    Q_PROPERTY(bool requiresPasswordInput MEMBER m_requiresPasswordInput NOTIFY changed)
    Q_PROPERTY(bool nodeResponding MEMBER m_nodeResponding NOTIFY changed)
    Q_PROPERTY(bool checkingConnection MEMBER m_checkingConnection NOTIFY changed)
    // What the next privilege request answers, and whether rights are held afterwards.
    Q_PROPERTY(bool privilegeRequestResult MEMBER m_privilegeRequestResult NOTIFY changed)
    Q_PROPERTY(bool grantsPrivileges MEMBER m_grantsPrivileges NOTIFY changed)
    Q_PROPERTY(bool selectResult MEMBER m_selectResult NOTIFY changed)
    // The node a cluster's group is taken to choose, by cluster name; reset() keeps it.
    Q_PROPERTY(QVariantMap clusterNodes MEMBER m_clusterNodes NOTIFY changed)
    Q_PROPERTY(QVariantList calls MEMBER m_calls NOTIFY changed)
    Q_PROPERTY(QObject *lanSharing MEMBER m_lanSharing NOTIFY changed)

public:
    using QObject::QObject;

    // Makes a stand-in of every handler the views read by name the engine's context objects: one
    // of these as "service", and each <name>.qml of qmlDir that starts in lower case as <name>.
    static void installAll(QQmlEngine *engine, const QString &qmlDir);

    Q_INVOKABLE void reset();
    Q_INVOKABLE void clearCalls();

    Q_INVOKABLE void ToggleConnection();
    Q_INVOKABLE void selectSubscription(const QString &url);
    Q_INVOKABLE bool selectProxy(const QString &tag);
    Q_INVOKABLE bool selectAutoRoute();
    Q_INVOKABLE bool selectCluster(const QString &cluster);
    Q_INVOKABLE void retryConnection() { record(QStringLiteral("retryConnection")); }
    Q_INVOKABLE bool requestPrivileges();
    Q_INVOKABLE bool requestPrivilegesWithPassword(const QString &password);
    Q_INVOKABLE void preparePendingConnection(const QString &url)
    {
        record(QStringLiteral("preparePendingConnection"), {url});
    }
    Q_INVOKABLE void clearPendingConnection() { record(QStringLiteral("clearPendingConnection")); }

signals:
    void changed();
    void pendingConnectionResumeStarted(const QString &subscriptionUrl);

private:
    void record(const QString &name, const QVariantList &args = {});
    bool select(const QString &name, const QString &argument, const QString &tag, bool autoRoute);
    bool grant(const QString &name, const QVariantList &args);

    bool m_isConnected = false;
    QString m_selectedSubscription;
    QString m_selectedProxy;
    bool m_autoRoute = false;
    bool m_tunEnabled = false;
    bool m_hasPrivileges = true;
    bool m_requiresPasswordInput = false;
    bool m_nodeResponding = true;
    bool m_checkingConnection = false;
    bool m_privilegeRequestResult = true;
    bool m_grantsPrivileges = true;
    bool m_selectResult = true;
    QVariantMap m_clusterNodes;
    QVariantList m_calls;
    QObject *m_lanSharing = nullptr;
};
