#pragma once

#include "panelreply.h"

#include <QByteArray>
#include <QHash>

#include <functional>

class Faults;
class PanelApi;
class PanelRequest;
class RequestLog;

// The development admin API under "/admin/": fault injection, counters, the mailbox, the clock
// and shortcuts for arranging test data. Only loopback clients that present the development key
// in the "X-Dev-Key" header get in.
class AdminApi
{
public:
    AdminApi(PanelApi &api, Faults &faults, RequestLog &log, const QByteArray &key);

    static bool isAdminPath(const QString &path);
    PanelReply handle(const PanelRequest &request, bool fromLoopback);

private:
    using Handler = std::function<PanelReply(const PanelRequest &)>;
    void addRoutes();

    PanelReply setFault(const QByteArray &body);
    PanelReply configure(const QByteArray &body);
    PanelReply createUser(const QByteArray &body);
    PanelReply setFunds(const QByteArray &body);
    PanelReply revoke(const QByteArray &body);
    PanelReply grantSubscription(const QByteArray &body);
    PanelReply addPlan(const QByteArray &body);
    PanelReply addNode(const QByteArray &body);
    PanelReply addPaymentMethod(const QByteArray &body);
    PanelReply enablePaymentMethod(const QByteArray &body);
    PanelReply addCoupon(const QByteArray &body);
    PanelReply addAnnouncement(const QByteArray &body);
    PanelReply replyToTicket(const QByteArray &body);
    PanelReply setOrderStatus(const QByteArray &body);
    PanelReply settleOrder(const QByteArray &body);
    PanelReply setClock(const QByteArray &body);
    PanelReply state();

    PanelApi &m_api;
    Faults &m_faults;
    RequestLog &m_log;
    QByteArray m_key;
    QHash<QString, Handler> m_routes; // "METHOD /admin/path"
};
