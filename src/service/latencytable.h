#pragma once

#include <QHash>
#include <QList>
#include <QString>

// The delay test results of this session, per subscription and node tag. They are not stored:
// latency changes with the network the machine is on.
class LatencyTable
{
public:
    // What delay() gives for a node whose last test failed, and for one never tested.
    static constexpr int Timeout = -1;
    static constexpr int Unknown = -2;

    // A negative delay records a failed test.
    void store(const QString &subscription, const QString &tag, int delayMs);
    void clear(const QString &subscription);
    bool hasResults(const QString &subscription) const;

    int delay(const QString &subscription, const QString &tag) const;
    // The fastest of the tags; Timeout when every tested one failed; Unknown when none is tested.
    int best(const QString &subscription, const QList<QString> &tags) const;
    // Fastest first, then the untested in their order, then the failed: the order a latency
    // test group should try them in before its own first test.
    QList<QString> ordered(const QString &subscription, const QList<QString> &tags) const;
    // The tags whose last test failed.
    QList<QString> failed(const QString &subscription, const QList<QString> &tags) const;

private:
    QHash<QString, QHash<QString, int>> m_delays;
};
