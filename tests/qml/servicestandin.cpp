#include "servicestandin.h"

#include <QVariantMap>

void ServiceStandIn::reset()
{
    auto set
        = [](auto &member, auto value, void (ServiceStandIn::*notify)(), ServiceStandIn *self) {
              if (member != value) {
                  member = value;
                  emit(self->*notify)();
              }
          };
    set(m_isConnected, false, &ServiceStandIn::isConnectedChanged, this);
    set(m_selectedSubscription, QString(), &ServiceStandIn::selectedSubscriptionChanged, this);
    set(m_selectedProxy, QString(), &ServiceStandIn::selectedProxyChanged, this);
    set(m_autoRoute, false, &ServiceStandIn::autoRouteChanged, this);
    set(m_tunEnabled, false, &ServiceStandIn::tunEnabledChanged, this);
    set(m_hasPrivileges, true, &ServiceStandIn::hasPrivilegesChanged, this);
    set(m_requiresPasswordInput, false, &ServiceStandIn::requiresPasswordInputChanged, this);
    set(m_canRequestPrivileges, true, &ServiceStandIn::canRequestPrivilegesChanged, this);
    set(m_nodeResponding, true, &ServiceStandIn::nodeRespondingChanged, this);
    set(m_checkingConnection, false, &ServiceStandIn::checkingConnectionChanged, this);
    m_privilegeRequestResult = m_grantsPrivileges = m_selectResult = true;
    emit standInChanged();
    clearCalls();
}

QVariantList ServiceStandIn::callsTo(const QString &name) const
{
    QVariantList matching;
    for (const QVariant &call : m_calls) {
        if (call.toMap().value(QStringLiteral("name")).toString() == name)
            matching.append(call);
    }
    return matching;
}

void ServiceStandIn::clearCalls()
{
    m_calls.clear();
    emit callsChanged();
}

void ServiceStandIn::record(const QString &name, const QVariantList &args)
{
    m_calls.append(QVariantMap {{QStringLiteral("name"), name}, {QStringLiteral("args"), args}});
    emit callsChanged();
}

void ServiceStandIn::ToggleConnection()
{
    record(QStringLiteral("ToggleConnection"));
    m_isConnected = !m_isConnected;
    emit isConnectedChanged();
}

void ServiceStandIn::selectSubscription(const QString &url)
{
    record(QStringLiteral("selectSubscription"), {url});
    m_selectedSubscription = url;
    emit selectedSubscriptionChanged();
}

bool ServiceStandIn::select(
    const QString &name, const QString &tag, bool autoRoute, const QString &argument)
{
    record(name, {argument.isEmpty() ? tag : argument});
    if (!m_selectResult)
        return false;
    m_selectedProxy = tag;
    m_autoRoute = autoRoute;
    emit selectedProxyChanged();
    emit autoRouteChanged();
    return true;
}

bool ServiceStandIn::selectProxy(const QString &tag)
{
    return select(QStringLiteral("selectProxy"), tag, false);
}

bool ServiceStandIn::selectProxyAuto(const QString &tag)
{
    return select(QStringLiteral("selectProxyAuto"), tag, true);
}

bool ServiceStandIn::selectAutoRoute()
{
    record(QStringLiteral("selectAutoRoute"));
    if (!m_selectResult)
        return false;
    m_autoRoute = true;
    emit autoRouteChanged();
    return true;
}

bool ServiceStandIn::selectCluster(const QString &cluster)
{
    return select(
        QStringLiteral("selectCluster"), m_clusterNodes.value(cluster).toString(), false, cluster);
}

void ServiceStandIn::retryConnection()
{
    record(QStringLiteral("retryConnection"));
}

bool ServiceStandIn::grant(const QString &name, const QVariantList &args)
{
    record(name, args);
    if (m_privilegeRequestResult && m_grantsPrivileges && !m_hasPrivileges) {
        m_hasPrivileges = true;
        emit hasPrivilegesChanged();
    }
    return m_privilegeRequestResult;
}

bool ServiceStandIn::requestPrivileges()
{
    return grant(QStringLiteral("requestPrivileges"), {});
}

bool ServiceStandIn::requestPrivilegesWithPassword(const QString &password)
{
    return grant(QStringLiteral("requestPrivilegesWithPassword"), {password});
}

void ServiceStandIn::preparePendingConnection(const QString &url)
{
    record(QStringLiteral("preparePendingConnection"), {url});
}

void ServiceStandIn::clearPendingConnection()
{
    record(QStringLiteral("clearPendingConnection"));
}
