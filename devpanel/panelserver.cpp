#include "panelserver.h"

#include "adminapi.h"
#include "faults.h"
#include "panelapi.h"
#include "panelreply.h"
#include "panelrequest.h"
#include "requestlog.h"

#include <QDebug>
#include <QHttpServerRequest>
#include <QPointer>
#include <QTcpSocket>
#include <QTimer>

namespace {

QByteArray methodName(QHttpServerRequest::Method method)
{
    switch (method) {
    case QHttpServerRequest::Method::Get:
        return "GET";
    case QHttpServerRequest::Method::Put:
        return "PUT";
    case QHttpServerRequest::Method::Delete:
        return "DELETE";
    case QHttpServerRequest::Method::Post:
        return "POST";
    case QHttpServerRequest::Method::Head:
        return "HEAD";
    case QHttpServerRequest::Method::Options:
        return "OPTIONS";
    case QHttpServerRequest::Method::Patch:
        return "PATCH";
    default:
        return "UNKNOWN";
    }
}

PanelRequest toPanelRequest(const QHttpServerRequest &request)
{
    const QUrl url = request.url();
    QString target = url.path(QUrl::FullyEncoded);
    if (url.hasQuery())
        target += QLatin1Char('?') + url.query(QUrl::FullyEncoded);
    PanelRequest result(methodName(request.method()), target, request.body());
    for (const auto &header : request.headers())
        result.setHeader(header.first, header.second);
    return result;
}

} // namespace

PanelServer::PanelServer(
    PanelApi &api, AdminApi &admin, Faults &faults, RequestLog &log, QObject *parent)
    : QAbstractHttpServer(parent)
    , m_api(api)
    , m_admin(admin)
    , m_faults(faults)
    , m_log(log)
{ }

void PanelServer::writeReply(QTcpSocket *socket, const PanelReply &reply, bool closeAfter)
{
    if (!socket || socket->state() != QAbstractSocket::ConnectedState)
        return;
    QByteArray out = "HTTP/1.1 " + QByteArray::number(reply.status) + ' '
        + PanelReply::reasonPhrase(reply.status) + "\r\n";
    out += "Content-Type: " + reply.contentType + "\r\n";
    out += "Content-Length: " + QByteArray::number(reply.body.size()) + "\r\n";
    for (const auto &header : reply.headers)
        out += header.first + ": " + header.second + "\r\n";
    out += closeAfter ? "Connection: close\r\n" : "Connection: keep-alive\r\n";
    out += "\r\n";
    out += reply.body;
    socket->write(out);
    if (closeAfter)
        socket->disconnectFromHost();
}

bool PanelServer::handleRequest(const QHttpServerRequest &request, QTcpSocket *socket)
{
    const PanelRequest panelRequest = toPanelRequest(request);
    const bool closeAfter = panelRequest.header("Connection").toLower() == "close";

    if (AdminApi::isAdminPath(panelRequest.path())) {
        const bool loopback = request.remoteAddress().isLoopback();
        writeReply(socket, m_admin.handle(panelRequest, loopback), closeAfter);
        return true;
    }

    m_faults.count(panelRequest.method(), panelRequest.path());
    m_log.record(panelRequest);
    const auto fault = m_faults.take(panelRequest.method(), panelRequest.path());
    if (!fault) {
        writeReply(socket, m_api.handle(panelRequest), closeAfter);
        return true;
    }

    qInfo().noquote() << "[Faults]" << panelRequest.method() << panelRequest.path()
                      << fault->toJson();
    QPointer<QTcpSocket> guard(socket);
    auto answer = [this, guard, panelRequest, closeAfter, fault = *fault]() {
        if (!guard)
            return;
        if (fault.dropConnection) {
            guard->abort();
            return;
        }
        if (fault.neverAnswer)
            return; // The connection stays open and silent until the client gives up.
        const PanelReply real = fault.runsEndpoint() ? m_api.handle(panelRequest) : PanelReply();
        writeReply(guard, Faults::reply(fault, real), closeAfter);
    };
    if (fault->delayMs > 0)
        QTimer::singleShot(fault->delayMs, socket, answer);
    else
        answer();
    return true;
}

void PanelServer::missingHandler(const QHttpServerRequest &request, QTcpSocket *socket)
{
    Q_UNUSED(request);
    writeReply(socket, PanelReply::httpError(404, QStringLiteral("Not Found")), false);
}
