#pragma once

#include "desktop/autostart.h"
#include "desktop/systemproxy.h"

#include <QObject>
#include <QSettings>

class service;

// The settings that make the client part of the desktop, and the system proxy that follows the
// connection: while connected as the local proxy with the setting on, the desktop's proxy
// settings point at it; they are put back on disconnect, on quit and, after a crash, here at the
// next start.
class DesktopSettings : public QObject
{
    Q_OBJECT
    Q_PROPERTY(bool systemProxy READ systemProxy WRITE setSystemProxy NOTIFY systemProxyChanged)
    Q_PROPERTY(bool startAtLogin READ startAtLogin WRITE setStartAtLogin NOTIFY startAtLoginChanged)
    Q_PROPERTY(bool connectOnStart READ connectOnStart WRITE setConnectOnStart NOTIFY
            connectOnStartChanged)

public:
    // On by default where browsers read the proxy from the system (Windows); elsewhere a desktop
    // may have no such settings, or settings other programs do not read.
    static const bool kSystemProxyDefault;

    DesktopSettings(service &tunnel, SystemProxy *proxy = nullptr, QObject *parent = nullptr);

    bool systemProxy() const { return m_systemProxy; }
    void setSystemProxy(bool enabled);
    bool startAtLogin() const { return m_startAtLogin; }
    void setStartAtLogin(bool enabled);
    bool connectOnStart() const { return m_connectOnStart; }
    void setConnectOnStart(bool enabled);

    // The program's INI settings, where every desktop choice is kept under "Desktop/".
    static QSettings stored();

    // Brings the proxy settings in line with the connection.
    void followConnection();

signals:
    void systemProxyChanged();
    void startAtLoginChanged();
    void connectOnStartChanged();

private:
    service &m_tunnel;
    std::unique_ptr<SystemProxy> m_ownProxy;
    SystemProxy *m_proxy = nullptr;
    Autostart m_autostart;
    bool m_systemProxy = kSystemProxyDefault;
    bool m_startAtLogin = false;
    bool m_connectOnStart = false;
};
