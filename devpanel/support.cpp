#include "support.h"

#include "bodyreader.h"
#include "panelclock.h"
#include "panelconfig.h"
#include "panelrequest.h"
#include "panelstorage.h"

#include <QJsonArray>

namespace {

constexpr int kMaxTitle = 200;
constexpr int kMaxContent = 10000;
constexpr int kMaxPageSize = 100;

// A positive decimal query item, or -1 when it is present but not one.
qint64 pageNumber(const PanelRequest &request, const QString &key, qint64 fallback)
{
    if (!request.hasQueryItem(key))
        return fallback;
    bool ok = false;
    const qint64 value = request.queryItem(key).toLongLong(&ok);
    return ok && value >= 1 ? value : -1;
}

} // namespace

Support::Support(PanelStorage &storage, PanelConfig &config, PanelClock &clock)
    : m_storage(storage)
    , m_config(config)
    , m_clock(clock)
{ }

QJsonObject Support::followJson(const QVariantMap &row) const
{
    return QJsonObject {{QStringLiteral("id"), row.value("id").toLongLong()},
        {QStringLiteral("ticket_id"), row.value("ticket_id").toLongLong()},
        {QStringLiteral("from"), row.value("sender").toString()},
        {QStringLiteral("type"), row.value("type").toInt()},
        {QStringLiteral("content"), row.value("content").toString()},
        {QStringLiteral("created_at"), row.value("created_at").toLongLong()}};
}

QJsonObject Support::ticketJson(const QVariantMap &row, bool withFollows)
{
    QJsonArray follows;
    if (withFollows) {
        for (const QVariantMap &follow : m_storage.rows(
                 QStringLiteral("SELECT * FROM ticket_follows WHERE ticket_id = ? ORDER BY id"),
                 {row.value("id")}))
            follows.append(followJson(follow));
    }
    return QJsonObject {{QStringLiteral("id"), row.value("id").toLongLong()},
        {QStringLiteral("user_id"), row.value("user_id").toLongLong()},
        {QStringLiteral("title"), row.value("title").toString()},
        {QStringLiteral("description"), row.value("description").toString()},
        {QStringLiteral("status"), row.value("status").toInt()},
        {QStringLiteral("follow"), follows},
        {QStringLiteral("created_at"), row.value("created_at").toLongLong()},
        {QStringLiteral("updated_at"), row.value("updated_at").toLongLong()}};
}

PanelReply Support::list(qint64 userId, const PanelRequest &request)
{
    const qint64 page = pageNumber(request, QStringLiteral("page"), 1);
    const qint64 size = pageNumber(request, QStringLiteral("size"), 10);
    if (page < 1 || size < 1 || size > kMaxPageSize || page > 1000000)
        return PanelReply::refusal(QStringLiteral("Invalid page or size"));

    QString filter = QStringLiteral("user_id = ? AND status != 4");
    QVariantList values {userId};
    if (request.hasQueryItem(QStringLiteral("status"))) {
        bool ok = false;
        const int status = request.queryItem(QStringLiteral("status")).toInt(&ok);
        if (!ok)
            return PanelReply::refusal(QStringLiteral("Invalid ticket status"));
        filter = QStringLiteral("user_id = ? AND status = ?");
        values.append(status);
    }
    const qint64 total
        = m_storage.value(QStringLiteral("SELECT count(*) FROM tickets WHERE ") + filter, values)
              .toLongLong();
    QVariantList pageValues = values;
    pageValues << size << (page - 1) * size;
    QJsonArray list;
    for (const QVariantMap &row :
        m_storage.rows(QStringLiteral("SELECT * FROM tickets WHERE ") + filter
                + QStringLiteral(" ORDER BY updated_at DESC, "
                                 "id DESC LIMIT ? OFFSET ?"),
            pageValues))
        list.append(ticketJson(row, false));
    return PanelReply::success(
        QJsonObject {{QStringLiteral("page"), page}, {QStringLiteral("size"), size},
            {QStringLiteral("total"), total}, {QStringLiteral("list"), list}});
}

PanelReply Support::detail(qint64 userId, const PanelRequest &request)
{
    bool ok = false;
    const qint64 id = request.queryItem(QStringLiteral("id")).toLongLong(&ok);
    if (!ok)
        return PanelReply::refusal(QStringLiteral("Missing query item: id"));
    const auto row = m_storage.row(
        QStringLiteral("SELECT * FROM tickets WHERE id = ? AND user_id = ?"), {id, userId});
    if (!row)
        return PanelReply::refusal(QStringLiteral("Ticket does not exist"));
    return PanelReply::success(ticketJson(*row, true));
}

PanelReply Support::create(qint64 userId, const QByteArray &body)
{
    BodyReader in(body);
    const QString title = in.text(QStringLiteral("title"));
    const QString description = in.text(QStringLiteral("description"));
    if (in.ok() && (title.size() > kMaxTitle || description.size() > kMaxContent))
        in.fail(QStringLiteral("Ticket text is too long"));
    if (!in.ok())
        return PanelReply::refusal(in.error());
    const qint64 now = m_clock.now();
    const qint64 id = m_storage.insert(
        QStringLiteral("INSERT INTO tickets (user_id, title, description, status, created_at, "
                       "updated_at) VALUES (?, ?, ?, ?, ?, ?)"),
        {userId, title, description, int(Waiting), now, now});
    if (id <= 0)
        return PanelReply::refusal(
            QStringLiteral("Failed to create ticket, please try again"), 500);
    if (m_config.ticketAutoReply())
        staffReply(id,
            QStringLiteral("Thanks for writing to us. This is the development panel: "
                           "a person would answer here within a day."));
    const auto row = m_storage.row(QStringLiteral("SELECT * FROM tickets WHERE id = ?"), {id});
    return PanelReply::success(row ? ticketJson(*row, true) : QJsonObject());
}

qint64 Support::addFollow(qint64 ticketId, const QString &sender, int type, const QString &content)
{
    const qint64 now = m_clock.now();
    const qint64 id = m_storage.insert(
        QStringLiteral("INSERT INTO ticket_follows (ticket_id, sender, type, content, created_at) "
                       "VALUES (?, ?, ?, ?, ?)"),
        {ticketId, sender, type, content, now});
    const int status = sender == QLatin1String("User") ? Waiting : Answered;
    m_storage.exec(QStringLiteral("UPDATE tickets SET status = ?, updated_at = ? WHERE id = ?"),
        {status, now, ticketId});
    return id;
}

PanelReply Support::follow(qint64 userId, const QByteArray &body)
{
    BodyReader in(body);
    const qint64 ticketId = in.integer(QStringLiteral("ticket_id"), 1, INT32_MAX);
    const QString content = in.text(QStringLiteral("content"));
    const QString from = in.optionalText(QStringLiteral("from"));
    const qint64 type = in.optionalInteger(QStringLiteral("type"), 1, 2).value_or(1);
    if (in.ok() && content.size() > kMaxContent)
        in.fail(QStringLiteral("Reply is too long"));
    if (!in.ok())
        return PanelReply::refusal(in.error());
    const auto ticket
        = m_storage.row(QStringLiteral("SELECT status FROM tickets WHERE id = ? AND user_id = ?"),
            {ticketId, userId});
    if (!ticket)
        return PanelReply::refusal(QStringLiteral("Ticket does not exist"));
    if (ticket->value("status").toInt() == Closed)
        return PanelReply::refusal(QStringLiteral("This ticket is closed"));
    // Whatever the body claims, a reply sent with a user's token comes from the user.
    Q_UNUSED(from);
    const qint64 id = addFollow(ticketId, QStringLiteral("User"), int(type), content);
    const auto row
        = m_storage.row(QStringLiteral("SELECT * FROM ticket_follows WHERE id = ?"), {id});
    return PanelReply::success(row ? followJson(*row) : QJsonObject());
}

PanelReply Support::update(qint64 userId, const QByteArray &body)
{
    BodyReader in(body);
    const qint64 id = in.integer(QStringLiteral("id"), 1, INT32_MAX);
    const qint64 status = in.integer(QStringLiteral("status"), 0, 100);
    if (!in.ok())
        return PanelReply::refusal(in.error());
    if (status != Closed)
        return PanelReply::refusal(QStringLiteral("A ticket can only be closed"));
    if (!m_storage
             .value(
                 QStringLiteral("SELECT 1 FROM tickets WHERE id = ? AND user_id = ?"), {id, userId})
             .isValid())
        return PanelReply::refusal(QStringLiteral("Ticket does not exist"));
    m_storage.exec(QStringLiteral("UPDATE tickets SET status = ?, updated_at = ? WHERE id = ?"),
        {int(Closed), m_clock.now(), id});
    return PanelReply::success();
}

QString Support::staffReply(qint64 ticketId, const QString &content, const QString &sender)
{
    const auto ticket
        = m_storage.row(QStringLiteral("SELECT status FROM tickets WHERE id = ?"), {ticketId});
    if (!ticket)
        return QStringLiteral("Ticket does not exist");
    if (content.trimmed().isEmpty())
        return QStringLiteral("A reply needs content");
    if (sender.isEmpty())
        return QStringLiteral("A reply needs a sender");
    addFollow(ticketId, sender, 1, content);
    return {};
}
