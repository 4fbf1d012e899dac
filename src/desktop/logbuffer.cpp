#include "desktop/logbuffer.h"

#include <QMutexLocker>

#include <atomic>

namespace {

std::atomic<QtMessageHandler> g_previous {nullptr};

void keepAndPass(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    LogBuffer::instance().append(type, qFormatLogMessage(type, context, message));
    if (const QtMessageHandler previous = g_previous.load())
        previous(type, context, message);
}

} // namespace

LogBuffer &LogBuffer::instance()
{
    static LogBuffer buffer;
    return buffer;
}

void LogBuffer::install()
{
    static std::atomic<bool> installed {false};
    if (installed.exchange(true))
        return;
    g_previous = qInstallMessageHandler(keepAndPass);
}

void LogBuffer::append(QtMsgType type, const QString &line)
{
    const QMutexLocker lock(&m_mutex);
    m_lines.push_back({type, line});
    if (m_lines.size() > size_t(kCapacity))
        m_lines.pop_front();
}

QStringList LogBuffer::lines() const
{
    const QMutexLocker lock(&m_mutex);
    QStringList texts;
    texts.reserve(int(m_lines.size()));
    for (const Line &line : m_lines)
        texts.append(line.text);
    return texts;
}

QStringList LogBuffer::problems(int count) const
{
    const QMutexLocker lock(&m_mutex);
    QStringList texts;
    for (auto it = m_lines.rbegin(); it != m_lines.rend() && texts.size() < count; ++it) {
        if (it->type == QtWarningMsg || it->type == QtCriticalMsg || it->type == QtFatalMsg)
            texts.prepend(it->text);
    }
    return texts;
}

void LogBuffer::clear()
{
    const QMutexLocker lock(&m_mutex);
    m_lines.clear();
}
