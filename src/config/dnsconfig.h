#pragma once

#include <QJsonObject>

// The engine's "dns" section: the engine's own lookups and GeoSite domains go to a direct
// resolver, other A/AAAA queries get fake addresses, everything else goes to an encrypted
// resolver through the "proxy" outbound.
QJsonObject createDNS();
