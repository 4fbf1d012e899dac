#pragma once

#include <QMutex>
#include <QString>
#include <QStringList>
#include <QtGlobal>

#include <deque>

// The program's latest log lines, kept for a support report. The message handler that fills it
// hands every message on to the handler it replaced, so the log itself reads as before.
class LogBuffer
{
public:
    static constexpr int kCapacity = 500;

    static LogBuffer &instance();
    // Puts the handler in front of the current one; a second call changes nothing.
    static void install();

    void append(QtMsgType type, const QString &line);
    // Oldest first.
    QStringList lines() const;
    // The latest warnings and errors among the kept lines, oldest first.
    QStringList problems(int count) const;
    void clear();

private:
    struct Line
    {
        QtMsgType type = QtDebugMsg;
        QString text;
    };

    mutable QMutex m_mutex;
    std::deque<Line> m_lines;
};
