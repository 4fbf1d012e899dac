#include "desktop/windowsproxy.h"

#include "desktop/wininetproxy.h"

namespace {

ProxyBackend::Values toValues(const WinInetProxy::Settings &settings)
{
    return {
        {QStringLiteral("flags"), QString::number(settings.flags)},
        {QStringLiteral("server"), QString::fromStdWString(settings.server)},
        {QStringLiteral("bypass"), QString::fromStdWString(settings.bypass)},
        {QStringLiteral("autoConfigUrl"), QString::fromStdWString(settings.autoConfigUrl)},
    };
}

} // namespace

bool WindowsProxy::read(Values *values) const
{
    WinInetProxy::Settings settings;
    if (!WinInetProxy::read(&settings))
        return false;
    *values = toValues(settings);
    return true;
}

bool WindowsProxy::write(const Values &values)
{
    WinInetProxy::Settings settings;
    settings.flags = values.value(QStringLiteral("flags")).toULong();
    settings.server = values.value(QStringLiteral("server")).toStdWString();
    settings.bypass = values.value(QStringLiteral("bypass")).toStdWString();
    settings.autoConfigUrl = values.value(QStringLiteral("autoConfigUrl")).toStdWString();
    return WinInetProxy::write(settings);
}

ProxyBackend::Values WindowsProxy::proxyValues(const QString &host, int port) const
{
    return toValues(WinInetProxy::through(host.toStdWString(), port));
}
