#pragma once

#include <QAbstractHttpServer>
#include <QByteArray>

class AdminApi;
class Faults;
class PanelApi;
class PanelReply;
class RequestLog;
class QTcpSocket;

// The HTTP(S) front: turns each request into a PanelRequest, counts it, applies any injected
// fault (delay, silence, dropped connection, replaced status, msg or body) and writes the reply.
// Replies are written to the socket directly so that they can be held back or never sent.
class PanelServer : public QAbstractHttpServer
{
    Q_OBJECT

public:
    PanelServer(
        PanelApi &api, AdminApi &admin, Faults &faults, RequestLog &log, QObject *parent = nullptr);

protected:
    bool handleRequest(const QHttpServerRequest &request, QTcpSocket *socket) override;
    void missingHandler(const QHttpServerRequest &request, QTcpSocket *socket) override;

private:
    static void writeReply(QTcpSocket *socket, const PanelReply &reply, bool closeAfter);

    PanelApi &m_api;
    AdminApi &m_admin;
    Faults &m_faults;
    RequestLog &m_log;
};
