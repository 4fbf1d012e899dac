// qivro-delayrelay: a TCP relay on loopback that holds every chunk for a fixed time in each
// direction, so a node behind it answers as slowly as a distant one.
//
//     qivro-delayrelay TARGET_PORT LISTEN_PORT:DELAY_MS [LISTEN_PORT:DELAY_MS ...]
//
// Each listening port forwards to 127.0.0.1:TARGET_PORT with its own delay. Prints "ready" once
// every port listens; runs until killed.
#include <QCoreApplication>
#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTextStream>
#include <QTimer>

#include <cstdio>

namespace {

// Moves bytes from one socket to the other, each read delivered `delayMs` later, in order.
void forward(QTcpSocket *from, QTcpSocket *to, int delayMs)
{
    QObject::connect(from, &QTcpSocket::readyRead, to, [from, to, delayMs] {
        const QByteArray chunk = from->readAll();
        QTimer::singleShot(delayMs, to, [to, chunk] { to->write(chunk); });
    });
    // The close follows the last chunk, with the same delay.
    QObject::connect(from, &QTcpSocket::disconnected, to,
        [to, delayMs] { QTimer::singleShot(delayMs + 1, to, [to] { to->disconnectFromHost(); }); });
}

void relay(QTcpSocket *client, quint16 target, int delayMs)
{
    auto *upstream = new QTcpSocket(client);
    forward(client, upstream, delayMs);
    forward(upstream, client, delayMs);
    QObject::connect(client, &QTcpSocket::disconnected, client, &QObject::deleteLater);
    // A refused or failed upstream closes the client at once; an orderly close travels with the
    // data, through forward().
    QObject::connect(
        upstream, &QTcpSocket::errorOccurred, client, [client](QAbstractSocket::SocketError error) {
            if (error != QAbstractSocket::RemoteHostClosedError)
                client->disconnectFromHost();
        });
    upstream->connectToHost(QHostAddress::LocalHost, target);
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList arguments = QCoreApplication::arguments().mid(1);
    QTextStream err(stderr);
    bool ok = arguments.size() >= 2;
    const quint16 target = ok ? arguments.first().toUShort(&ok) : 0;
    if (!ok) {
        err << "usage: qivro-delayrelay TARGET_PORT LISTEN_PORT:DELAY_MS...\n";
        return 2;
    }
    for (const QString &pair : arguments.mid(1)) {
        bool portOk = false;
        bool delayOk = false;
        const quint16 port = pair.section(QLatin1Char(':'), 0, 0).toUShort(&portOk);
        const int delayMs = pair.section(QLatin1Char(':'), 1).toInt(&delayOk);
        auto *server = new QTcpServer(&app);
        if (!portOk || !delayOk || !server->listen(QHostAddress::LocalHost, port)) {
            err << "qivro-delayrelay: cannot listen as " << pair << '\n';
            return 1;
        }
        QObject::connect(server, &QTcpServer::newConnection, server, [server, target, delayMs] {
            while (QTcpSocket *client = server->nextPendingConnection())
                relay(client, target, delayMs);
        });
    }
    std::printf("ready\n");
    std::fflush(stdout);
    return QCoreApplication::exec();
}
