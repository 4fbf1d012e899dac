#pragma once

#include <QObject>

class DesktopSettings;
class Diagnostics;
class QQmlContext;
class QQuickWindow;
class QuickConnect;
class TrayIcon;
class TrayMenu;
class service;

// The client's place on the desktop, wired once: the settings and the system proxy, connecting
// from outside the window, the support report, and the tray icon, made after the window's first
// frame so that it adds nothing to the start.
class DesktopIntegration : public QObject
{
    Q_OBJECT

public:
    DesktopIntegration(service &tunnel, QObject *parent = nullptr);

    // "desktop", "trayMenu" and "diagnostics" for the UI.
    void publish(QQmlContext *context);
    // The tray needs a QApplication and a desktop that shows tray icons; without them closing the
    // window quits. Connect on start is armed here too.
    void attachWindow(QQuickWindow *window, bool startedAtLogin);

    TrayMenu &trayMenu() { return *m_trayMenu; }

private:
    void createTray(QQuickWindow *window, bool startedAtLogin);

    service &m_tunnel;
    DesktopSettings *m_settings = nullptr;
    QuickConnect *m_quick = nullptr;
    TrayMenu *m_trayMenu = nullptr;
    Diagnostics *m_diagnostics = nullptr;
    TrayIcon *m_tray = nullptr;
};
