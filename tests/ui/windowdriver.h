#pragma once

#include <QStringList>

class QQuickItem;
class QQuickWindow;

// Drives the program's window as a user does: by the objectName of what is drawn, with clicks and
// key presses, waiting for what a user would wait for.
class WindowDriver
{
protected:
    // Warnings that name a QML file, gathered while on (a run must end with none).
    static void collectQmlWarnings(bool on);
    static QStringList &qmlWarnings();

    QQuickItem *find(const QString &name) const;
    QQuickItem *waitFor(const QString &name, int timeoutMs = 10000) const;
    bool click(const QString &name);
    bool type(const QString &name, const QString &text);

    QQuickWindow *m_window = nullptr;
};
