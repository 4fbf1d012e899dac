#pragma once

#include <QObject>
#include <QString>
#include <QStringList>

class ControlApi;

// Delay tests of many outbounds through the engine's control API, a fixed number at a time so a
// long list neither floods the nodes nor waits on one slow answer.
class DelayBatch : public QObject
{
    Q_OBJECT

public:
    explicit DelayBatch(ControlApi &api, QObject *parent = nullptr);

    void setConcurrency(int concurrency) { m_concurrency = qMax(1, concurrency); }
    void setTimeout(int milliseconds) { m_timeoutMs = milliseconds; }

    // Replaces any batch still running.
    void start(const QStringList &tags);
    void cancel();
    bool running() const { return m_running; }

signals:
    // delayMs is negative when the test failed or ran out of time.
    void measured(const QString &tag, int delayMs);
    void finished();

private:
    void launch();

    ControlApi &m_api;
    QStringList m_queue;
    int m_next = 0;
    int m_inFlight = 0;
    int m_generation = 0;
    int m_concurrency = 10;
    int m_timeoutMs = 5000;
    bool m_running = false;
};
