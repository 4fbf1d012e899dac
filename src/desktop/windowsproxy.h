#pragma once

#include "desktop/proxybackend.h"

// The current user's WinINet proxy settings.
class WindowsProxy : public ProxyBackend
{
public:
    QString name() const override { return QStringLiteral("windows"); }
    bool read(Values *values) const override;
    bool write(const Values &values) override;
    Values proxyValues(const QString &host, int port) const override;
};
