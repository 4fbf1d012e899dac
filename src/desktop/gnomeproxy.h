#pragma once

#include "desktop/proxybackend.h"

// GNOME's proxy settings (org.gnome.system.proxy), through the gsettings tool so that whatever
// backend GSettings is configured with (dconf, a key file) is honoured.
class GnomeProxy : public ProxyBackend
{
public:
    QString name() const override { return QStringLiteral("gnome"); }
    bool read(Values *values) const override;
    bool write(const Values &values) override;
    Values proxyValues(const QString &host, int port) const override;
};
