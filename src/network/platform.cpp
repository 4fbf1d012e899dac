#include "network/platform.h"

#include <QNetworkInterface>

namespace Platform {

QString userAgent()
{
    // Product token, application version, platform word.
    return QStringLiteral("qivro/" QIVRO_VERSION " (windows)");
}

QString publicIpAddress()
{
    const QList<QHostAddress> addresses = localIPv4Addresses();
    return addresses.isEmpty() ? QStringLiteral("127.0.0.1") : addresses.first().toString();
}

QList<QHostAddress> localIPv4Addresses()
{
    QList<QHostAddress> addresses;
    const auto interfaces = QNetworkInterface::allInterfaces();
    for (const QNetworkInterface &candidate : interfaces) {
        const auto flags = candidate.flags();
        if (!flags.testFlag(QNetworkInterface::IsUp)
            || !flags.testFlag(QNetworkInterface::IsRunning)
            || flags.testFlag(QNetworkInterface::IsLoopBack))
            continue;
        const auto entries = candidate.addressEntries();
        for (const QNetworkAddressEntry &entry : entries) {
            if (entry.ip().protocol() == QAbstractSocket::IPv4Protocol)
                addresses.append(entry.ip());
        }
    }
    return addresses;
}

} // namespace Platform
