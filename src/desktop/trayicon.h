#pragma once

#include <QObject>
#include <QPointer>

#include <memory>

class QMenu;
class QSystemTrayIcon;
class QWindow;
class TrayMenu;
class service;

// The tray icon over the menu's model, and the window's close while connected: the window hides
// and the program stays in the tray (a notice says so, once). Needs a QApplication.
class TrayIcon : public QObject
{
    Q_OBJECT

public:
    TrayIcon(TrayMenu &menu, service &tunnel, QWindow *window, QObject *parent = nullptr);
    ~TrayIcon() override;

    // Whether the desktop shows tray icons at all.
    static bool available();

    void showWindow();
    // Disconnects first, so the engine and the system proxy are let go cleanly.
    void quit();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void rebuild();

    TrayMenu &m_model;
    service &m_tunnel;
    QPointer<QWindow> m_window;
    std::unique_ptr<QMenu> m_menu;
    std::unique_ptr<QSystemTrayIcon> m_icon;
};
