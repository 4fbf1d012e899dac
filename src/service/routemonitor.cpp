#include "routemonitor.h"

#include <QDebug>
#include <QJsonObject>

namespace {

constexpr int kDefaultIntervalMs = 60000;
// A latency test group may pick another node at its own interval; the node named as carrying the
// traffic follows within this time.
constexpr int kNodeReadIntervalMs = 10000;
constexpr int kDelayTimeoutMs = 5000;
// The engine caps each member's test at 15 s; a group test waits for all of them.
constexpr int kGroupTestLimitMs = 20000;
// A burst of failed connections asks for one check, not one each.
constexpr int kTriggerSpacingMs = 2000;

} // namespace

RouteMonitor::RouteMonitor(QObject *parent)
    : QObject(parent)
{
    m_timer.setInterval(kDefaultIntervalMs);
    connect(&m_timer, &QTimer::timeout, this, &RouteMonitor::checkNow);
    m_nodeTimer.setInterval(kNodeReadIntervalMs);
    connect(&m_nodeTimer, &QTimer::timeout, this, &RouteMonitor::readNode);
}

void RouteMonitor::setInterval(int milliseconds)
{
    m_timer.setInterval(milliseconds);
}

void RouteMonitor::start(
    const QString &controller, const QString &secret, const QString &selectorTag)
{
    stop();
    m_api.setEndpoint(controller, secret);
    m_selectorTag = selectorTag;
    m_active = true;
    m_sinceTriggered.invalidate();
    m_timer.start();
    m_nodeTimer.start();
    if (!m_logs) {
        m_logs = std::make_unique<QWebSocket>();
        connect(m_logs.get(), &QWebSocket::textMessageReceived, this, &RouteMonitor::onLogLine);
    }
    m_logs->open(m_api.webSocketUrl(QStringLiteral("/logs?level=error")));
}

void RouteMonitor::stop()
{
    ++m_generation;
    m_active = false;
    m_again = false;
    m_api.abortAll();
    m_timer.stop();
    m_nodeTimer.stop();
    if (m_logs)
        m_logs->abort();
    m_route.clear();
    m_node.clear();
    if (m_checking) {
        m_checking = false;
        emit checkingChanged(false);
    }
    if (!m_responding) {
        m_responding = true;
        emit respondingChanged(true);
    }
}

void RouteMonitor::setRoute(const QString &route, bool group)
{
    m_route = route;
    m_group = group;
    if (!group && m_node != route) {
        m_node = route;
        emit nodeChanged(m_node);
    }
    checkNow();
}

void RouteMonitor::checkNow()
{
    if (!m_active || m_route.isEmpty())
        return;
    if (m_checking) {
        m_again = true;
        return;
    }
    m_checking = true;
    emit checkingChanged(true);
    testSelector(false);
}

// Through the selector, so the test takes the path new connections take.
void RouteMonitor::testSelector(bool retested)
{
    const int generation = m_generation;
    m_api.get(ControlApi::delayPath(QStringLiteral("proxies"), m_selectorTag, kDelayTimeoutMs),
        kDelayTimeoutMs + 2000, [this, generation, retested](const ControlApi::Reply &reply) {
            if (generation != m_generation)
                return;
            if (reply.ok())
                finishCheck(true);
            else if (m_group && !retested)
                retestGroup();
            else
                finishCheck(false);
        });
}

void RouteMonitor::retestGroup()
{
    qDebug().noquote() << "[Service][Health]: no answer through" << m_node << "- testing" << m_route
                       << "again";
    const int generation = m_generation;
    m_api.get(ControlApi::delayPath(QStringLiteral("group"), m_route, kDelayTimeoutMs),
        kGroupTestLimitMs, [this, generation](const ControlApi::Reply &) {
            if (generation == m_generation)
                testSelector(true);
        });
}

void RouteMonitor::finishCheck(bool responding)
{
    if (m_responding != responding) {
        m_responding = responding;
        qDebug().noquote() << "[Service][Health]:"
                           << (responding ? "the node answers again" : "no response from the node");
        emit respondingChanged(responding);
    }
    readNode();
    m_checking = false;
    emit checkingChanged(false);
    if (m_again) {
        m_again = false;
        checkNow();
    }
}

void RouteMonitor::readNode()
{
    if (!m_active || !m_group || m_route.isEmpty())
        return;
    const int generation = m_generation;
    m_api.get(QStringLiteral("/proxies/") + ControlApi::segment(m_route), kDelayTimeoutMs,
        [this, generation](const ControlApi::Reply &reply) {
            if (generation != m_generation || !reply.ok())
                return;
            const QString now = reply.json().object().value(QLatin1String("now")).toString();
            if (!now.isEmpty() && now != m_node) {
                m_node = now;
                emit nodeChanged(m_node);
            }
        });
}

void RouteMonitor::onLogLine(const QString &message)
{
    // Once nothing answers, a group re-test per burst would only test dead nodes again; the
    // periodic check and the retry find them back.
    if (!m_responding || !message.contains(QLatin1String("open outbound connection")))
        return;
    if (m_sinceTriggered.isValid() && m_sinceTriggered.elapsed() < kTriggerSpacingMs)
        return;
    m_sinceTriggered.start();
    checkNow();
}
