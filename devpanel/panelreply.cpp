#include "panelreply.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace {

QByteArray envelope(int code, const QString &msg, const QJsonValue &data)
{
    QJsonObject object {{QStringLiteral("code"), code}, {QStringLiteral("msg"), msg}};
    if (!data.isUndefined())
        object.insert(QStringLiteral("data"), data);
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

QJsonObject envelopeObject(const QByteArray &body)
{
    const QJsonDocument document = QJsonDocument::fromJson(body);
    return document.isObject() ? document.object() : QJsonObject();
}

} // namespace

PanelReply PanelReply::success(const QJsonValue &data)
{
    PanelReply reply;
    reply.body = envelope(200, QStringLiteral("success"), data);
    return reply;
}

PanelReply PanelReply::refusal(const QString &msg, int code)
{
    PanelReply reply;
    reply.body = envelope(code, msg, QJsonValue::Null);
    return reply;
}

PanelReply PanelReply::httpError(int status, const QString &msg)
{
    PanelReply reply;
    reply.status = status;
    reply.body = envelope(status, msg, QJsonValue::Null);
    return reply;
}

PanelReply PanelReply::text(const QByteArray &body, int status)
{
    PanelReply reply;
    reply.status = status;
    reply.contentType = "text/plain; charset=utf-8";
    reply.body = body;
    return reply;
}

PanelReply PanelReply::html(const QString &body, int status)
{
    PanelReply reply;
    reply.status = status;
    reply.contentType = "text/html; charset=utf-8";
    reply.body = body.toUtf8();
    return reply;
}

PanelReply PanelReply::json(const QJsonValue &document, int status)
{
    PanelReply reply;
    reply.status = status;
    reply.body = document.isArray()
        ? QJsonDocument(document.toArray()).toJson(QJsonDocument::Compact)
        : QJsonDocument(document.toObject()).toJson(QJsonDocument::Compact);
    return reply;
}

QString PanelReply::msg() const
{
    return envelopeObject(body).value(QStringLiteral("msg")).toString();
}

void PanelReply::replaceMsg(const QString &msg)
{
    QJsonObject object = envelopeObject(body);
    if (object.isEmpty())
        object.insert(QStringLiteral("code"), status);
    object.insert(QStringLiteral("msg"), msg);
    body = QJsonDocument(object).toJson(QJsonDocument::Compact);
    contentType = "application/json";
}

void PanelReply::patchData(const QJsonObject &members)
{
    QJsonObject object = envelopeObject(body);
    QJsonObject data = object.value(QStringLiteral("data")).toObject();
    for (auto it = members.begin(); it != members.end(); ++it)
        data.insert(it.key(), it.value());
    object.insert(QStringLiteral("data"), data);
    body = QJsonDocument(object).toJson(QJsonDocument::Compact);
    contentType = "application/json";
}

QJsonValue PanelReply::data() const
{
    return envelopeObject(body).value(QStringLiteral("data"));
}

QByteArray PanelReply::reasonPhrase(int status)
{
    switch (status) {
    case 200:
        return "OK";
    case 201:
        return "Created";
    case 204:
        return "No Content";
    case 302:
        return "Found";
    case 400:
        return "Bad Request";
    case 401:
        return "Unauthorized";
    case 403:
        return "Forbidden";
    case 404:
        return "Not Found";
    case 405:
        return "Method Not Allowed";
    case 409:
        return "Conflict";
    case 413:
        return "Payload Too Large";
    case 429:
        return "Too Many Requests";
    case 500:
        return "Internal Server Error";
    case 502:
        return "Bad Gateway";
    case 503:
        return "Service Unavailable";
    case 504:
        return "Gateway Timeout";
    default:
        return "Status";
    }
}
