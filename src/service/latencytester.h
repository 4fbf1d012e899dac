#pragma once

#include "service/controlapi.h"
#include "service/delaybatch.h"
#include "service/latencytable.h"
#include "service/probeengine.h"

#include <QObject>
#include <QString>
#include <QTimer>
#include <QVariantList>

class SubscriptionHandler;
class service;

// The latency of every node of a subscription, measured through the engine's delay API with the
// configured test URL. While the tunnel runs on that subscription it measures through the
// running engine; while nothing runs it starts the probe engine for the run and stops it
// afterwards, and a connect stops it at once. Results last for the session, so the picker shows
// them immediately when it opens again.
class LatencyTester : public QObject
{
    Q_OBJECT
    Q_PROPERTY(bool testing READ testing NOTIFY testingChanged)
    Q_PROPERTY(QString testingSubscription READ testingSubscription NOTIFY testingChanged)
    // Grows with every batch of new results; bindings pass it to re-read.
    Q_PROPERTY(int revision READ revision NOTIFY resultsChanged)

public:
    LatencyTester(service &tunnel, SubscriptionHandler &store, QObject *parent = nullptr);
    ~LatencyTester() override;

    bool testing() const { return !m_subscription.isEmpty(); }
    QString testingSubscription() const { return m_subscription; }
    int revision() const { return m_revision; }
    const LatencyTable &table() const { return m_table; }

    void setConcurrency(int concurrency) { m_batch.setConcurrency(concurrency); }
    void setTimeout(int milliseconds) { m_batch.setTimeout(milliseconds); }

    // Measures every node of the stored subscription again. False when it cannot: no such
    // subscription, or the tunnel runs on another one.
    Q_INVOKABLE bool test(const QString &subscriptionUrl);
    // Measures only when the session has no results for the subscription yet.
    Q_INVOKABLE bool testIfNeeded(const QString &subscriptionUrl);
    Q_INVOKABLE void cancel();

    // Milliseconds; LatencyTable::Timeout (-1) for a failed test, Unknown (-2) for none.
    Q_INVOKABLE int delay(const QString &subscriptionUrl, const QString &tag) const;
    Q_INVOKABLE int clusterDelay(const QString &subscriptionUrl, const QString &cluster) const;
    Q_INVOKABLE int bestDelay(const QString &subscriptionUrl) const;
    // {"tag", "delay"} of each node of the cluster, fastest first, failed last.
    Q_INVOKABLE QVariantList clusterNodes(
        const QString &subscriptionUrl, const QString &cluster) const;

signals:
    void testingChanged();
    void resultsChanged();
    void finished(const QString &subscriptionUrl);

private:
    void record(const QString &tag, int delayMs);
    void end();
    QStringList tagsOf(const QString &subscriptionUrl) const;

    service &m_tunnel;
    SubscriptionHandler &m_store;
    ControlApi m_api;
    DelayBatch m_batch {m_api};
    ProbeEngine m_probe;
    LatencyTable m_table;
    QString m_subscription;
    int m_revision = 0;
    // Many answers arrive together; the views re-read once per burst.
    QTimer m_notify;
};
