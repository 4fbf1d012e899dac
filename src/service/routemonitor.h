#pragma once

#include "controlapi.h"

#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QTimer>
#include <QWebSocket>

#include <memory>

// Watches the route the tunnel's selector points at while the engine runs: which node carries the
// traffic (a latency test group's "now"), and whether that node answers a delay test. When it
// does not and the route is a group, the group is made to test all its members again, so it
// leaves a dead node at once instead of at its next interval. Checks run periodically, on demand,
// and when the engine reports a failed outbound connection.
class RouteMonitor : public QObject
{
    Q_OBJECT

public:
    explicit RouteMonitor(QObject *parent = nullptr);

    void start(const QString &controller, const QString &secret, const QString &selectorTag);
    void stop();
    bool active() const { return m_active; }

    // What the selector now points at: a group tag or a node tag.
    void setRoute(const QString &route, bool group);
    QString route() const { return m_route; }

    // Runs a check now, or right after the one under way.
    void checkNow();
    void setInterval(int milliseconds);

    bool responding() const { return m_responding; }
    bool checking() const { return m_checking; }
    QString node() const { return m_node; }

signals:
    void nodeChanged(const QString &node);
    void respondingChanged(bool responding);
    void checkingChanged(bool checking);

private:
    void testSelector(bool retested);
    void retestGroup();
    void readNode();
    void finishCheck(bool responding);
    void onLogLine(const QString &message);

    ControlApi m_api;
    // Made on the first start: a web socket reads the TLS defaults, which loads the TLS library.
    std::unique_ptr<QWebSocket> m_logs;
    QTimer m_timer;
    QTimer m_nodeTimer;
    QElapsedTimer m_sinceTriggered;
    QString m_selectorTag;
    QString m_route;
    QString m_node;
    bool m_group = false;
    bool m_active = false;
    bool m_checking = false;
    bool m_again = false;
    bool m_responding = true;
    int m_generation = 0;
};
