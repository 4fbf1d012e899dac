#pragma once

#include "network/networkrequest.h"

#include <QObject>

class QNetworkAccessManager;

// Owns the access manager that every HTTP exchange of the program goes through.
class NetworkHandler : public QObject
{
    Q_OBJECT

public:
    explicit NetworkHandler(QObject *parent = nullptr);

    // The process-wide handler, created on first use on the calling (UI) thread. Its requests
    // never go through a proxy: the client's own tunnel must not carry its panel traffic.
    static NetworkHandler *getDirectInstance();

    // A request bound to this handler's access manager, with the default settings.
    NetworkRequest request();

private:
    QNetworkAccessManager *m_manager = nullptr;
};
