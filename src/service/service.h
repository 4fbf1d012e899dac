#pragma once

#include "service/enginelibrary.h"
#include "service/lansharing.h"
#include "service/routemonitor.h"

#include <QJsonArray>
#include <QJsonObject>
#include <QList>
#include <QObject>
#include <QString>

#include <functional>

class LatencyTable;
class SelectionMemory;
class SubscriptionHandler;

// Writes config.json on disk.
bool writeConfig(const QString &path, const QJsonObject &config);

// A control API secret: 64 lower-case hexadecimal characters from 32 secure random bytes.
QString newControlSecret();

// The tunnel controller: the selected subscription's outbounds, the configuration file, the
// engine's start and stop, the connection state the UI shows, node switching on the running
// engine through its control API, TUN mode, and the connection to resume after an elevated
// restart.
class service : public QObject
{
    Q_OBJECT
    Q_PROPERTY(bool isConnected READ isConnected NOTIFY isConnectedChanged)
    Q_PROPERTY(QList<QString> proxyTags READ proxyTags NOTIFY proxyTagsChanged)
    Q_PROPERTY(
        QString selectedSubscription READ selectedSubscription NOTIFY selectedSubscriptionChanged)
    // The node carrying the traffic: while connected through a latency test group, the node the
    // group has chosen.
    Q_PROPERTY(QString selectedProxy READ selectedProxy NOTIFY selectedProxyChanged)
    Q_PROPERTY(bool autoRoute READ autoRoute NOTIFY autoRouteChanged)
    Q_PROPERTY(bool tunEnabled READ tunEnabled WRITE setTunEnabled NOTIFY tunEnabledChanged)
    Q_PROPERTY(bool hasPrivileges READ hasPrivileges NOTIFY hasPrivilegesChanged)
    Q_PROPERTY(bool canRequestPrivileges READ canRequestPrivileges CONSTANT)
    Q_PROPERTY(QString elevationExplanation READ elevationExplanation CONSTANT)
    Q_PROPERTY(bool usesNativeVpnApi READ usesNativeVpnApi CONSTANT)
    Q_PROPERTY(bool requiresPasswordInput READ requiresPasswordInput CONSTANT)
    // False while connected and the node in use does not answer a delay test.
    Q_PROPERTY(bool nodeResponding READ nodeResponding NOTIFY nodeRespondingChanged)
    Q_PROPERTY(bool checkingConnection READ checkingConnection NOTIFY checkingConnectionChanged)
    Q_PROPERTY(LanSharing *lanSharing READ lanSharing CONSTANT)

public:
    // On the program's subscription store. Without a selection memory, choices are not
    // remembered and nothing is pushed after connecting.
    explicit service(QObject *parent = nullptr);
    service(SubscriptionHandler &store, SelectionMemory *selection, QObject *parent = nullptr);

    void setSelectionMemory(SelectionMemory *selection) { m_selection = selection; }
    // Measured latencies order the members of the latency test groups, so that before their
    // first test they start on a node known to answer.
    void setLatencyTable(const LatencyTable *latency) { m_latency = latency; }
    RouteMonitor &routeMonitor() { return m_monitor; }

    bool isConnected() const { return m_isConnected; }
    QList<QString> proxyTags() const { return m_proxyTags; }
    QString selectedSubscription() const { return m_selectedSubscription; }
    QString selectedProxy() const { return m_selectedProxy; }
    bool autoRoute() const { return m_autoRoute; }
    bool tunEnabled() const { return m_tunEnabled; }
    bool hasPrivileges() const;
    bool canRequestPrivileges() const;
    QString elevationExplanation() const;
    bool usesNativeVpnApi() const;
    bool requiresPasswordInput() const;
    bool nodeResponding() const { return m_monitor.responding(); }
    bool checkingConnection() const { return m_monitor.checking(); }
    // What the selector points at: a latency test group or, when pinned, a node.
    QString route() const { return m_route; }
    // Whether other devices may use the local proxy; rewrites the configuration when changed.
    LanSharing *lanSharing() const { return m_lanSharing; }

    QJsonArray outbounds() const { return m_outbounds; }
    QString configFile() const { return m_configFile; }
    QString controller() const { return m_controller; }
    QString secret() const;
    QString selectorTag() const { return m_selectorTag; }
    // Why the engine last refused to start or stop; empty when it never did.
    QString lastEngineError() const { return m_lastEngineError; }

    void setTunEnabled(bool enabled);
    void toggleConnectionDesktop();

public slots:
    void ToggleConnection();
    bool selectProxy(const QString &tag);
    bool selectProxyAuto(const QString &tag);
    bool selectSubscription(const QString &name);
    // Auto: the latency test group over every node. False without nodes.
    bool selectAutoRoute();
    // A country: the latency test group over the cluster's nodes. False when it has none.
    bool selectCluster(const QString &cluster);
    // Checks the node in use again now; a group moves off a dead node.
    void retryConnection();
    bool requestPrivileges();
    bool requestPrivilegesWithPassword(const QString &password);
    void preparePendingConnection(const QString &subscriptionUrl);
    void clearPendingConnection();
    bool resumePendingConnection();

signals:
    void isConnectedChanged();
    void proxyTagsChanged();
    void selectedSubscriptionChanged();
    void selectedProxyChanged();
    void autoRouteChanged();
    void tunEnabledChanged();
    void hasPrivilegesChanged();
    void pendingConnectionResumeStarted(const QString &subscriptionUrl);
    void nodeRespondingChanged();
    void checkingConnectionChanged();
    // Right before the engine is started for the tunnel: whoever else holds it must let go.
    void engineStarting();

private:
    void applyConnectedState();
    void applyDisconnectedState();
    void chooseDefaultOutboundAfterConnect();
    bool pushProxySelection(const QString &tag);
    bool pushRoute(const QString &route);
    bool putSelector(const QString &member);
    bool applyRoute(const QString &route, const std::function<QString()> &fallback);
    bool selectNode(const QString &tag, bool automatic);
    bool writeCurrentConfig();

    void setIsConnected(bool connected);
    void setAutoRoute(bool autoRoute);
    void setProxyTags(const QList<QString> &tags);
    void setSelectedSubscription(const QString &name);
    void setSelectedProxy(const QString &tag);

    SubscriptionHandler &m_store;
    SelectionMemory *m_selection = nullptr;
    const LatencyTable *m_latency = nullptr;
    EngineLibrary m_engine;
    RouteMonitor m_monitor;
    LanSharing *m_lanSharing = nullptr;

    bool m_isConnected = false;
    bool m_tunEnabled = false;
    bool m_autoRoute = false;
    QString m_configFile;
    QString m_selectedSubscription;
    QJsonArray m_outbounds;
    QList<QString> m_proxyTags;
    QString m_controller = QStringLiteral("127.0.0.1:9090");
    // Read from the credential store on first use: it may answer slowly, or ask to be unlocked.
    mutable QString m_secret;
    QString m_selectorTag = QStringLiteral("proxy");
    QString m_selectedProxy;
    QString m_route;
    QString m_lastEngineError;
};
