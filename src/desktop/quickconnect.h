#pragma once

#include <QObject>
#include <QString>

class service;
class SubscribeHandler;

// Connecting without the window (the tray, connect on start): the subscription selected, else the
// one connected last, else the account's first, on the route it remembers. TUN mode without the
// rights it needs is left to the window, which asks for them.
class QuickConnect : public QObject
{
    Q_OBJECT

public:
    QuickConnect(service &tunnel, SubscribeHandler *subscriptions, QObject *parent = nullptr);

    // True once connected; false when the window has to take over.
    bool connectNow();
    // Connects once, as soon as the session is in and the account's subscriptions are listed.
    void connectWhenReady();

private:
    QString chooseSubscription() const;
    void tryPendingConnect();

    service &m_tunnel;
    SubscribeHandler *m_subscriptions = nullptr;
    bool m_pending = false;
};
