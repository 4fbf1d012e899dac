#pragma once

#include <QByteArray>
#include <QJsonValue>
#include <QList>
#include <QPair>
#include <QString>

// What the panel answers: an HTTP status, a content type and a body. Panel endpoints answer with
// the envelope {"code", "msg", "data"}; the factories below build it.
class PanelReply
{
public:
    int status = 200;
    QByteArray contentType = "application/json";
    QByteArray body;
    QList<QPair<QByteArray, QByteArray>> headers;

    static PanelReply success(const QJsonValue &data = QJsonValue::Null);
    // A refusal the client shows to the user: HTTP 200, a panel code and a readable msg.
    static PanelReply refusal(const QString &msg, int code = 400);
    // A refusal at the HTTP level, still carrying the envelope so clients can read the msg.
    static PanelReply httpError(int status, const QString &msg);
    static PanelReply text(const QByteArray &body, int status = 200);
    static PanelReply html(const QString &body, int status = 200);
    static PanelReply json(const QJsonValue &document, int status = 200);

    // The envelope's msg, or an empty string when the body is not an envelope.
    QString msg() const;
    // Replaces the envelope's msg, keeping code and data; used by fault injection.
    void replaceMsg(const QString &msg);
    // Sets these members of the envelope's data object (made when absent); fault injection too.
    void patchData(const QJsonObject &members);
    bool isSuccess() const { return msg() == QLatin1String("success"); }
    QJsonValue data() const;

    static QByteArray reasonPhrase(int status);
};
