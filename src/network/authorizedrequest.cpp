#include "network/authorizedrequest.h"

#include "network/networkhandler.h"

NetworkRequest authorizedRequest(const QUrl &url, const QString &token)
{
    NetworkRequest request = NetworkHandler::getDirectInstance()->request();
    request.url(url).header("Authorization", token.toUtf8());
    return request;
}
