#include "desktop/desktopintegration.h"

#include "desktop/desktopsettings.h"
#include "desktop/diagnostics.h"
#include "desktop/quickconnect.h"
#include "desktop/trayicon.h"
#include "desktop/traymenu.h"
#include "panel/subscribehandler.h"
#include "service/service.h"

#include <QApplication>
#include <QDebug>
#include <QQmlContext>
#include <QQuickWindow>

DesktopIntegration::DesktopIntegration(service &tunnel, QObject *parent)
    : QObject(parent)
    , m_tunnel(tunnel)
    , m_settings(new DesktopSettings(tunnel, nullptr, this))
    , m_quick(new QuickConnect(tunnel, SubscribeHandler::getInstance(), this))
    , m_trayMenu(new TrayMenu(tunnel, *m_quick, this))
    , m_diagnostics(new Diagnostics(tunnel, nullptr, this))
{
    // However the program ends, the engine is stopped before the system proxy is put back.
    if (QCoreApplication *app = QCoreApplication::instance()) {
        connect(app, &QCoreApplication::aboutToQuit, this, [this]() {
            if (m_tunnel.isConnected())
                m_tunnel.toggleConnectionDesktop();
        });
    }
}

void DesktopIntegration::publish(QQmlContext *context)
{
    context->setContextProperty(QStringLiteral("desktop"), m_settings);
    context->setContextProperty(QStringLiteral("trayMenu"), m_trayMenu);
    context->setContextProperty(QStringLiteral("diagnostics"), m_diagnostics);
}

void DesktopIntegration::attachWindow(QQuickWindow *window, bool startedAtLogin)
{
    if (m_settings->connectOnStart())
        m_quick->connectWhenReady();
    if (!window || !qobject_cast<QApplication *>(QCoreApplication::instance()))
        return;
    // After the first frame: the tray's menu and the bus lookups behind it wait until the window
    // is on screen.
    connect(
        window, &QQuickWindow::frameSwapped, this,
        [this, window, startedAtLogin]() { createTray(window, startedAtLogin); },
        Qt::ConnectionType(Qt::SingleShotConnection | Qt::QueuedConnection));
}

void DesktopIntegration::createTray(QQuickWindow *window, bool startedAtLogin)
{
    if (m_tray)
        return;
    if (!TrayIcon::available()) {
        qDebug() << "[Desktop] No tray on this desktop; closing the window quits";
        return;
    }
    m_tray = new TrayIcon(*m_trayMenu, m_tunnel, window, this);
    qDebug() << "[Desktop] Tray icon shown";
    // Started at login, the program waits in the tray rather than in front of the user.
    if (startedAtLogin)
        window->hide();
}
