#pragma once

#include <QHostAddress>
#include <QList>
#include <QString>

// Facts about this client and machine that some requests carry in their headers.
namespace Platform {

// "qivro/<version> (windows)".
QString userAgent();

// The first IPv4 address of the first interface that is up, running and not loop-back, in the
// order the system lists them; "127.0.0.1" when there is none. Nothing outside is asked.
QString publicIpAddress();

// The IPv4 addresses of the interfaces that are up, running and not loop-back, in the order the
// system lists them.
QList<QHostAddress> localIPv4Addresses();

} // namespace Platform
