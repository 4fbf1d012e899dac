#include "service/delaybatch.h"

#include "service/controlapi.h"

#include <QJsonObject>

DelayBatch::DelayBatch(ControlApi &api, QObject *parent)
    : QObject(parent)
    , m_api(api)
{ }

void DelayBatch::start(const QStringList &tags)
{
    cancel();
    m_queue = tags;
    m_next = 0;
    m_running = true;
    launch();
}

void DelayBatch::cancel()
{
    // Answers of an older batch still arrive; the generation tells them apart.
    ++m_generation;
    m_inFlight = 0;
    m_running = false;
}

void DelayBatch::launch()
{
    while (m_inFlight < m_concurrency && m_next < m_queue.size()) {
        const QString tag = m_queue.at(m_next++);
        ++m_inFlight;
        const int generation = m_generation;
        // The engine's own limit stops the test; ours only guards against a silent engine.
        m_api.get(ControlApi::delayPath(QStringLiteral("proxies"), tag, m_timeoutMs),
            m_timeoutMs + 2000, [this, tag, generation](const ControlApi::Reply &reply) {
                if (generation != m_generation)
                    return;
                --m_inFlight;
                const int delay = reply.ok()
                    ? reply.json().object().value(QLatin1String("delay")).toInt(-1)
                    : -1;
                emit measured(tag, delay);
                if (generation == m_generation)
                    launch();
            });
    }
    if (m_running && m_inFlight == 0 && m_next >= m_queue.size()) {
        m_running = false;
        emit finished();
    }
}
