#pragma once

#include <QMap>
#include <QString>

// One place where the desktop keeps its proxy settings. Values are the backend's own text, read
// and written unchanged, so that what was read can be written back exactly.
class ProxyBackend
{
public:
    using Values = QMap<QString, QString>;

    virtual ~ProxyBackend() = default;

    // Names the backend in the record of what was written.
    virtual QString name() const = 0;
    // The current values of every key `proxyValues` sets; false when this desktop has no such
    // settings.
    virtual bool read(Values *values) const = 0;
    virtual bool write(const Values &values) = 0;
    // The values that send this user's traffic through the proxy.
    virtual Values proxyValues(const QString &host, int port) const = 0;
};
