#pragma once

#include <QJsonObject>
#include <QString>

// The engine's "route" section: DNS is hijacked, private addresses and everything the GeoSite and
// GeoIP rule sets match go out directly, the rest to `finalOutbound` (the selector).
QJsonObject createRoute(const QString &finalOutbound);
