#pragma once

#include "network/api.h"

#include <QJsonObject>
#include <QObject>
#include <QUrl>
#include <QVariantList>
#include <QVariantMap>

#include <functional>
#include <optional>
#include <vector>

class AuthHandler;
class NetworkError;

// The user's support tickets: one page of the list (optionally by status), the ticket last
// opened with its conversation, and opening, answering and closing tickets. Only the last page
// and the last detail are kept; a sign-in state change forgets both.
class TicketHandler : public QObject
{
    Q_OBJECT
    Q_PROPERTY(bool isLoading READ isLoading NOTIFY isLoadingChanged)
    Q_PROPERTY(int ticketCount READ ticketCount NOTIFY ticketsChanged)
    Q_PROPERTY(int totalTickets READ totalTickets NOTIFY ticketsChanged)
    Q_PROPERTY(int currentPage READ currentPage NOTIFY ticketsChanged)
    Q_PROPERTY(int pageSize READ pageSize NOTIFY ticketsChanged)

public:
    // Tests build their own with their own session; the program uses getInstance().
    explicit TicketHandler(AuthHandler *auth, QObject *parent = nullptr);
    static TicketHandler *getInstance();

    bool isLoading() const { return m_isLoading; }
    int ticketCount() const { return int(m_tickets.size()); }
    int totalTickets() const { return m_totalTickets; }
    int currentPage() const { return m_currentPage; }
    int pageSize() const { return m_pageSize; }

    // A negative status asks without a status filter. True without a request while a list
    // request still waits (that one delivers).
    Q_INVOKABLE bool fetchTickets(int page = 1, int size = 10, int status = -1);
    Q_INVOKABLE bool fetchTicketDetail(int ticketId);
    Q_INVOKABLE bool createTicket(const QString &title, const QString &description);
    Q_INVOKABLE bool createFollow(int ticketId, const QString &content);
    Q_INVOKABLE bool closeTicket(int ticketId);
    // Empty map outside the list.
    Q_INVOKABLE QVariantMap getTicket(int index) const;
    Q_INVOKABLE QVariantMap getDetailTicket() const;
    Q_INVOKABLE QVariantList getFollows() const;
    Q_INVOKABLE void invalidateCache();

signals:
    void isLoadingChanged();
    void ticketsChanged();
    void ticketDetailFetched();
    void ticketCreated(int ticketId);
    void followCreated();
    void ticketClosed();
    void operationFailed(QString error);

private:
    struct ListReply
    {
        QString msg;
        int page = 0;
        int size = 0;
        int total = 0;
        std::vector<API::Ticket> list;
    };

    // The request routine of the auth-failure recovery; throws NetworkError.
    static ListReply requestList(const QUrl &url, const QString &token);
    // Signed in, loading set, send(): its reply's "data" when the msg is "success". Otherwise
    // the failure is reported (the msg, or failureText when it has none) and nothing returned.
    std::optional<QJsonObject> exchange(
        const std::function<QJsonObject()> &send, const QString &failureText);
    // Throws NetworkError.
    QJsonObject post(const QString &endpoint, const QJsonObject &body) const;
    // Not signed in: reported, false.
    bool signedIn();
    bool failWith(const QString &error);
    bool failWithMsg(const QString &msg, const QString &fallback);
    bool handleNetworkError(const NetworkError &error);
    void setLoading(bool loading);

    AuthHandler *m_auth = nullptr;
    bool m_isLoading = false;
    std::vector<API::Ticket> m_tickets;
    API::Ticket m_detailTicket;
    int m_currentPage = 1;
    int m_pageSize = 10;
    int m_totalTickets = 0;
    qint64 m_lastFetchedAt = 0;
};
