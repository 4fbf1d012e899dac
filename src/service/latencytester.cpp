#include "service/latencytester.h"

#include "config/nodeclusters.h"
#include "service/service.h"
#include "subscription/subscriptionhandler.h"

#include <QDebug>
#include <QVariantMap>

namespace {

constexpr int kNotifyDelayMs = 50;

} // namespace

LatencyTester::LatencyTester(service &tunnel, SubscriptionHandler &store, QObject *parent)
    : QObject(parent)
    , m_tunnel(tunnel)
    , m_store(store)
{
    m_notify.setSingleShot(true);
    m_notify.setInterval(kNotifyDelayMs);
    connect(&m_notify, &QTimer::timeout, this, [this] {
        ++m_revision;
        emit resultsChanged();
    });
    connect(&m_batch, &DelayBatch::measured, this, &LatencyTester::record);
    connect(&m_batch, &DelayBatch::finished, this, &LatencyTester::end);
    // The engine is the tunnel's the moment it wants it; a run through the tunnel ends with it.
    connect(&m_tunnel, &service::engineStarting, this, [this] {
        if (m_probe.running())
            cancel();
    });
    connect(&m_tunnel, &service::isConnectedChanged, this, [this] {
        if (testing() && !m_probe.running() && !m_tunnel.isConnected())
            cancel();
    });
    m_tunnel.setLatencyTable(&m_table);
}

LatencyTester::~LatencyTester()
{
    m_api.abortAll();
}

QStringList LatencyTester::tagsOf(const QString &subscriptionUrl) const
{
    return m_store.getSubscription(subscriptionUrl).tags;
}

bool LatencyTester::test(const QString &subscriptionUrl)
{
    const Subscription subscription = m_store.getSubscription(subscriptionUrl);
    if (subscription.tags.isEmpty())
        return false;
    cancel();
    if (m_tunnel.isConnected()) {
        if (m_tunnel.selectedSubscription() != subscriptionUrl)
            return false;
        m_api.setEndpoint(m_tunnel.controller(), m_tunnel.secret());
    } else {
        if (!m_probe.start(subscription.outbounds))
            return false;
        m_api.setEndpoint(m_probe.controller(), m_probe.secret());
    }
    qDebug().noquote() << "[Latency] Testing" << subscription.tags.size() << "nodes"
                       << (m_probe.running() ? "with the probe engine" : "through the tunnel");
    m_subscription = subscriptionUrl;
    emit testingChanged();
    m_batch.start(subscription.tags);
    return true;
}

bool LatencyTester::testIfNeeded(const QString &subscriptionUrl)
{
    if (m_table.hasResults(subscriptionUrl) || m_subscription == subscriptionUrl)
        return true;
    return test(subscriptionUrl);
}

void LatencyTester::cancel()
{
    m_batch.cancel();
    m_api.abortAll();
    m_probe.stop();
    if (m_subscription.isEmpty())
        return;
    m_subscription.clear();
    emit testingChanged();
}

void LatencyTester::record(const QString &tag, int delayMs)
{
    m_table.store(m_subscription, tag, delayMs);
    if (!m_notify.isActive())
        m_notify.start();
}

void LatencyTester::end()
{
    const QString subscription = m_subscription;
    m_probe.stop();
    m_notify.stop();
    ++m_revision;
    emit resultsChanged();
    m_subscription.clear();
    emit testingChanged();
    emit finished(subscription);
}

int LatencyTester::delay(const QString &subscriptionUrl, const QString &tag) const
{
    return m_table.delay(subscriptionUrl, tag);
}

int LatencyTester::clusterDelay(const QString &subscriptionUrl, const QString &cluster) const
{
    return m_table.best(subscriptionUrl, tagsInCluster(tagsOf(subscriptionUrl), cluster));
}

int LatencyTester::bestDelay(const QString &subscriptionUrl) const
{
    return m_table.best(subscriptionUrl, tagsOf(subscriptionUrl));
}

QVariantList LatencyTester::clusterNodes(
    const QString &subscriptionUrl, const QString &cluster) const
{
    QVariantList nodes;
    const QStringList tags
        = m_table.ordered(subscriptionUrl, tagsInCluster(tagsOf(subscriptionUrl), cluster));
    for (const QString &tag : tags) {
        nodes.append(QVariantMap {{QStringLiteral("tag"), tag},
            {QStringLiteral("delay"), m_table.delay(subscriptionUrl, tag)}});
    }
    return nodes;
}
