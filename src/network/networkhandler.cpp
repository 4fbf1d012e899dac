#include "network/networkhandler.h"

#include <QNetworkAccessManager>
#include <QNetworkProxy>

NetworkHandler::NetworkHandler(QObject *parent)
    : QObject(parent)
    , m_manager(new QNetworkAccessManager(this))
{ }

NetworkHandler *NetworkHandler::getDirectInstance()
{
    // Never destroyed: requests may run until the very end of the process.
    static NetworkHandler *const instance = [] {
        auto *handler = new NetworkHandler();
        handler->m_manager->setProxy(QNetworkProxy::NoProxy);
        return handler;
    }();
    return instance;
}

NetworkRequest NetworkHandler::request()
{
    return NetworkRequest(m_manager);
}
