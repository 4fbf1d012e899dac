#pragma once

#include <QString>

// At most one order-status request in flight, and only the latest uncancelled one may report.
// Requests wait in a nested event loop, so a poll timer or a cancel can run while one waits;
// the latch tells the waiting request afterwards whether its reply still matters.
class OrderStatusLatch
{
public:
    bool isActive() const { return m_active; }
    QString orderNo() const { return m_orderNo; }

    // False (and nothing changes) while another request waits.
    bool begin(const QString &orderNo);
    // True when this reply is the one still awaited; the latch is then free again.
    bool release(const QString &orderNo);
    // The waiting reply, if any, will be ignored.
    void cancel();

private:
    bool m_active = false;
    QString m_orderNo;
};
