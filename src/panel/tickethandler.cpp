#include "panel/tickethandler.h"

#include "network/apiendpoints.h"
#include "network/authfailure.h"
#include "network/authorizedrequest.h"
#include "network/networkerror.h"
#include "panel/authhandler.h"

#include <QDateTime>
#include <QDebug>
#include <QJsonArray>
#include <QJsonDocument>
#include <QUrlQuery>

#include <utility>

namespace {

const QString kAuthExpired = QStringLiteral("Authentication expired, please log in again");
// What the panel sends as "from" for the user's own replies; anything else is staff.
const QString kUserSender = QStringLiteral("User");
constexpr int kClosedStatus = 4;

QVariantMap ticketToMap(const API::Ticket &ticket)
{
    return {{QStringLiteral("id"), ticket.id}, {QStringLiteral("subject"), ticket.title},
        {QStringLiteral("content"), ticket.description}, {QStringLiteral("status"), ticket.status},
        {QStringLiteral("created_at"), double(ticket.created_at)},
        {QStringLiteral("updated_at"), double(ticket.updated_at)}};
}

QUrl withQuery(const QString &endpoint, const QList<QPair<QString, QString>> &items)
{
    QUrl url(endpoint);
    QUrlQuery query;
    query.setQueryItems(items);
    url.setQuery(query);
    return url;
}

QString replyMsg(const QJsonObject &reply)
{
    return reply.value(QStringLiteral("msg")).toString();
}

QJsonObject replyData(const QJsonObject &reply)
{
    return reply.value(QStringLiteral("data")).toObject();
}

} // namespace

TicketHandler::TicketHandler(AuthHandler *auth, QObject *parent)
    : QObject(parent)
    , m_auth(auth)
{
    connect(m_auth, &AuthHandler::isLoggedInChanged, this, &TicketHandler::invalidateCache);
}

TicketHandler *TicketHandler::getInstance()
{
    // Never destroyed: the UI holds it until the process ends.
    static TicketHandler *const instance = new TicketHandler(AuthHandler::getInstance());
    return instance;
}

// --- Plumbing ---

void TicketHandler::setLoading(bool loading)
{
    if (m_isLoading == loading)
        return;
    m_isLoading = loading;
    emit isLoadingChanged();
}

bool TicketHandler::signedIn()
{
    if (m_auth->isLoggedIn())
        return true;
    emit operationFailed(QStringLiteral("Not logged in"));
    return false;
}

bool TicketHandler::failWith(const QString &error)
{
    setLoading(false);
    emit operationFailed(error);
    return false;
}

bool TicketHandler::failWithMsg(const QString &msg, const QString &fallback)
{
    return failWith(msg.isEmpty() ? fallback : msg);
}

bool TicketHandler::handleNetworkError(const NetworkError &error)
{
    qWarning() << "[TicketHandler] Request failed:" << error.message()
               << "httpStatus:" << error.httpStatusCode();
    return failWith(error.isAuthError() ? kAuthExpired : error.userMessage());
}

TicketHandler::ListReply TicketHandler::requestList(const QUrl &url, const QString &token)
{
    const QJsonObject reply = authorizedRequest(url, token).get().object();
    const QJsonObject data = replyData(reply);
    return {replyMsg(reply), data.value(QStringLiteral("page")).toInt(),
        data.value(QStringLiteral("size")).toInt(),
        int(data.value(QStringLiteral("total")).toInteger()),
        API::arrayFromJson<API::Ticket>(data.value(QStringLiteral("list")).toArray())};
}

std::optional<QJsonObject> TicketHandler::exchange(
    const std::function<QJsonObject()> &send, const QString &failureText)
{
    if (!signedIn())
        return std::nullopt;
    setLoading(true);
    QJsonObject reply;
    try {
        reply = send();
    } catch (const NetworkError &error) {
        handleNetworkError(error);
        return std::nullopt;
    }
    if (replyMsg(reply) != API::SuccessMsg) {
        failWithMsg(replyMsg(reply), failureText);
        return std::nullopt;
    }
    return replyData(reply);
}

QJsonObject TicketHandler::post(const QString &endpoint, const QJsonObject &body) const
{
    return authorizedRequest(QUrl(endpoint), m_auth->authToken())
        .body(QJsonDocument(body).toJson(QJsonDocument::Compact))
        .post()
        .object();
}

// --- Operations ---

bool TicketHandler::fetchTickets(int page, int size, int status)
{
    if (!signedIn())
        return false;
    // The page's timers poll the list; one request at a time is enough.
    if (m_isLoading)
        return true;
    setLoading(true);

    QList<QPair<QString, QString>> items {{QStringLiteral("page"), QString::number(page)},
        {QStringLiteral("size"), QString::number(size)}};
    if (status >= 0)
        items.append({QStringLiteral("status"), QString::number(status)});
    const QUrl url = withQuery(ApiEndpoints::Ticket::List, items);

    const QString token = m_auth->authToken();
    ListReply reply;
    try {
        reply = requestList(url, token);
        if (reply.msg != API::SuccessMsg && looksLikeAuthFailureMessage(reply.msg)
            && m_auth->recoverFromAuthFailure(token) && !m_auth->authToken().isEmpty())
            reply = requestList(url, m_auth->authToken());
    } catch (const NetworkError &error) {
        return handleNetworkError(error);
    }
    if (reply.msg != API::SuccessMsg) {
        if (looksLikeAuthFailureMessage(reply.msg))
            return failWith(kAuthExpired);
        return failWithMsg(reply.msg, QStringLiteral("Failed to fetch tickets"));
    }

    m_tickets = std::move(reply.list);
    m_currentPage = reply.page;
    m_pageSize = reply.size;
    m_totalTickets = reply.total;
    m_lastFetchedAt = QDateTime::currentMSecsSinceEpoch();
    setLoading(false);
    emit ticketsChanged();
    return true;
}

bool TicketHandler::fetchTicketDetail(int ticketId)
{
    const QUrl url = withQuery(
        ApiEndpoints::Ticket::Detail, {{QStringLiteral("id"), QString::number(ticketId)}});
    const auto data
        = exchange([&] { return authorizedRequest(url, m_auth->authToken()).get().object(); },
            QStringLiteral("Failed to fetch ticket detail"));
    if (!data)
        return false;
    m_detailTicket = API::fromJson<API::Ticket>(*data);
    setLoading(false);
    emit ticketDetailFetched();
    return true;
}

bool TicketHandler::createTicket(const QString &title, const QString &description)
{
    const auto data = exchange(
        [&] {
            return post(ApiEndpoints::Ticket::Create,
                {{QStringLiteral("title"), title}, {QStringLiteral("description"), description}});
        },
        QStringLiteral("Failed to create ticket"));
    if (!data)
        return false;
    m_lastFetchedAt = 0;
    setLoading(false);
    emit ticketCreated(API::fromJson<API::Ticket>(*data).id);
    return true;
}

bool TicketHandler::createFollow(int ticketId, const QString &content)
{
    const auto data = exchange(
        [&] {
            return post(ApiEndpoints::Ticket::Follow,
                {{QStringLiteral("ticket_id"), ticketId}, {QStringLiteral("from"), kUserSender},
                    {QStringLiteral("type"), 1}, {QStringLiteral("content"), content}});
        },
        QStringLiteral("Failed to create reply"));
    if (!data)
        return false;
    setLoading(false);
    emit followCreated();
    return true;
}

bool TicketHandler::closeTicket(int ticketId)
{
    if (!signedIn())
        return false;
    setLoading(true);
    try {
        // Whatever the body says: only the request layer's verdict counts for closing.
        authorizedRequest(QUrl(ApiEndpoints::Ticket::Update), m_auth->authToken())
            .body(QJsonDocument(QJsonObject {{QStringLiteral("id"), ticketId},
                                    {QStringLiteral("status"), kClosedStatus}})
                      .toJson(QJsonDocument::Compact))
            .put();
    } catch (const NetworkError &error) {
        return handleNetworkError(error);
    }
    m_lastFetchedAt = 0;
    setLoading(false);
    emit ticketClosed();
    return true;
}

void TicketHandler::invalidateCache()
{
    // The opened ticket counts too: the next account must not find the last one's conversation.
    if (m_tickets.empty() && m_lastFetchedAt == 0 && m_detailTicket.id == 0)
        return;
    m_tickets.clear();
    m_detailTicket = API::Ticket();
    m_currentPage = 1;
    m_totalTickets = 0;
    m_lastFetchedAt = 0;
    emit ticketsChanged();
}

// --- Maps for the UI ---

QVariantMap TicketHandler::getTicket(int index) const
{
    if (index < 0 || std::size_t(index) >= m_tickets.size())
        return {};
    return ticketToMap(m_tickets[std::size_t(index)]);
}

QVariantMap TicketHandler::getDetailTicket() const
{
    QVariantMap map = ticketToMap(m_detailTicket);
    map.insert(QStringLiteral("follow_count"), int(m_detailTicket.follow.size()));
    return map;
}

QVariantList TicketHandler::getFollows() const
{
    QVariantList follows;
    for (const API::TicketFollow &follow : m_detailTicket.follow)
        follows.append(QVariantMap {{QStringLiteral("id"), follow.id},
            {QStringLiteral("ticket_id"), follow.ticket_id}, {QStringLiteral("from"), follow.from},
            {QStringLiteral("type"), follow.type}, {QStringLiteral("content"), follow.content},
            {QStringLiteral("created_at"), double(follow.created_at)},
            {QStringLiteral("is_admin"), follow.from != kUserSender}});
    return follows;
}
