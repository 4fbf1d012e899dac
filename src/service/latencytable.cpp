#include "service/latencytable.h"

#include <algorithm>

void LatencyTable::store(const QString &subscription, const QString &tag, int delayMs)
{
    m_delays[subscription].insert(tag, delayMs < 0 ? Timeout : delayMs);
}

void LatencyTable::clear(const QString &subscription)
{
    m_delays.remove(subscription);
}

bool LatencyTable::hasResults(const QString &subscription) const
{
    return !m_delays.value(subscription).isEmpty();
}

int LatencyTable::delay(const QString &subscription, const QString &tag) const
{
    const auto found = m_delays.constFind(subscription);
    return found == m_delays.constEnd() ? Unknown : found->value(tag, Unknown);
}

int LatencyTable::best(const QString &subscription, const QList<QString> &tags) const
{
    int best = Unknown;
    for (const QString &tag : tags) {
        const int value = delay(subscription, tag);
        if (value >= 0 && (best < 0 || value < best))
            best = value;
        else if (value == Timeout && best == Unknown)
            best = Timeout;
    }
    return best;
}

QList<QString> LatencyTable::ordered(const QString &subscription, const QList<QString> &tags) const
{
    // Untested between the measured and the failed.
    const auto rank = [&](const QString &tag) {
        const int value = delay(subscription, tag);
        if (value >= 0)
            return qint64(value);
        return value == Unknown ? qint64(1) << 32 : qint64(1) << 33;
    };
    QList<QString> result = tags;
    std::stable_sort(result.begin(), result.end(),
        [&](const QString &a, const QString &b) { return rank(a) < rank(b); });
    return result;
}

QList<QString> LatencyTable::failed(const QString &subscription, const QList<QString> &tags) const
{
    QList<QString> result;
    for (const QString &tag : tags) {
        if (delay(subscription, tag) == Timeout)
            result.append(tag);
    }
    return result;
}
