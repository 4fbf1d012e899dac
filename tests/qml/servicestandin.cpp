#include "servicestandin.h"

#include <QDir>
#include <QQmlComponent>
#include <QQmlContext>
#include <QQmlEngine>

void ServiceStandIn::installAll(QQmlEngine *engine, const QString &qmlDir)
{
    QQmlContext *context = engine->rootContext();
    context->setContextProperty(QStringLiteral("appInfo"),
        QVariantMap {{QStringLiteral("name"), QStringLiteral("qivro")},
            {QStringLiteral("version"), QStringLiteral("1.0.0")},
            {QStringLiteral("domain"), QStringLiteral("qivro.example")}});
    context->setContextProperty(QStringLiteral("service"), new ServiceStandIn(engine));
    for (const QFileInfo &file :
        QDir(qmlDir).entryInfoList({QStringLiteral("*.qml")}, QDir::Files)) {
        if (!file.baseName().at(0).isLower())
            continue;
        QQmlComponent component(engine, QUrl::fromLocalFile(file.absoluteFilePath()));
        QObject *object = component.create();
        if (!object) {
            qWarning() << component.errors();
            continue;
        }
        object->setParent(engine);
        context->setContextProperty(file.baseName(), object);
    }
}

void ServiceStandIn::reset()
{
    m_isConnected = m_autoRoute = m_tunEnabled = m_requiresPasswordInput = m_checkingConnection
        = false;
    m_hasPrivileges = m_nodeResponding = m_privilegeRequestResult = m_grantsPrivileges
        = m_selectResult = true;
    m_selectedSubscription.clear();
    m_selectedProxy.clear();
    clearCalls();
}

void ServiceStandIn::clearCalls()
{
    m_calls.clear();
    emit changed();
}

void ServiceStandIn::record(const QString &name, const QVariantList &args)
{
    m_calls.append(QVariantMap {{QStringLiteral("name"), name}, {QStringLiteral("args"), args}});
    emit changed();
}

void ServiceStandIn::ToggleConnection()
{
    m_isConnected = !m_isConnected;
    record(QStringLiteral("ToggleConnection"));
}

void ServiceStandIn::selectSubscription(const QString &url)
{
    m_selectedSubscription = url;
    record(QStringLiteral("selectSubscription"), {url});
}

bool ServiceStandIn::select(
    const QString &name, const QString &argument, const QString &tag, bool autoRoute)
{
    if (m_selectResult) {
        m_selectedProxy = tag.isNull() ? m_selectedProxy : tag;
        m_autoRoute = autoRoute;
    }
    record(name, argument.isNull() ? QVariantList() : QVariantList {argument});
    return m_selectResult;
}

bool ServiceStandIn::selectProxy(const QString &tag)
{
    return select(QStringLiteral("selectProxy"), tag, tag, false);
}

bool ServiceStandIn::selectAutoRoute()
{
    return select(QStringLiteral("selectAutoRoute"), QString(), QString(), true);
}

bool ServiceStandIn::selectCluster(const QString &cluster)
{
    return select(
        QStringLiteral("selectCluster"), cluster, m_clusterNodes.value(cluster).toString(), false);
}

bool ServiceStandIn::grant(const QString &name, const QVariantList &args)
{
    if (m_privilegeRequestResult && m_grantsPrivileges)
        m_hasPrivileges = true;
    record(name, args);
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
