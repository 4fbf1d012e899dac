#pragma once

#include <QQmlApplicationEngine>
#include <QStringList>

#include <memory>

class QQmlNetworkAccessManagerFactory;
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
    // A first start: no saved session, database or settings from an earlier run; warnings kept.
    static void prepareFirstStart();

    // The program's own wiring and window, shown.
    bool openWindow(QObject *owner, QQmlNetworkAccessManagerFactory *network = nullptr);
    void closeWindow();
    QObject *contextObject(const char *name) const;

    QQuickItem *find(const QString &name) const;
    QQuickItem *waitFor(const QString &name, int timeoutMs = 10000) const;
    QString textOf(const QString &name) const;
    bool click(const QString &name);
    bool type(const QString &name, const QString &text);
    // From the signed-out home page to the account's first card, past the panel's greeting.
    bool signIn(const char *email, const char *password);

    std::unique_ptr<QQmlApplicationEngine> m_engine;
    QQuickWindow *m_window = nullptr;
};
