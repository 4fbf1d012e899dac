#include "desktop/trayicon.h"

#include "desktop/desktopsettings.h"
#include "desktop/traymenu.h"
#include "service/service.h"

#include <QAction>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QGuiApplication>
#include <QIcon>
#include <QMenu>
#include <QSettings>
#include <QSystemTrayIcon>
#include <QWindow>

namespace {

const QString kNoticeShownKey = QStringLiteral("Desktop/trayNoticeShown");

// The program's icon; greyed while disconnected, so the state shows at a glance.
QIcon stateIcon(bool connected)
{
    const QIcon icon = QGuiApplication::windowIcon();
    if (connected)
        return icon;
    QIcon greyed;
    for (int size : {16, 22, 24, 32, 48, 64})
        greyed.addPixmap(icon.pixmap(size, size, QIcon::Disabled));
    return greyed;
}

} // namespace

TrayIcon::TrayIcon(TrayMenu &menu, service &tunnel, QWindow *window, QObject *parent)
    : QObject(parent)
    , m_model(menu)
    , m_tunnel(tunnel)
    , m_window(window)
    , m_menu(std::make_unique<QMenu>())
    , m_icon(std::make_unique<QSystemTrayIcon>())
{
    m_icon->setContextMenu(m_menu.get());
    connect(&m_model, &TrayMenu::changed, this, &TrayIcon::rebuild);
    connect(&m_model, &TrayMenu::showRequested, this, &TrayIcon::showWindow);
    connect(&m_model, &TrayMenu::quitRequested, this, &TrayIcon::quit);
    connect(m_icon.get(), &QSystemTrayIcon::activated, this,
        [this](QSystemTrayIcon::ActivationReason reason) {
            if (reason == QSystemTrayIcon::Trigger || reason == QSystemTrayIcon::DoubleClick)
                showWindow();
        });
    if (m_window)
        m_window->installEventFilter(this);
    // Hiding the window must not end the program; a close that is not kept quits below instead.
    QGuiApplication::setQuitOnLastWindowClosed(false);
    rebuild();
    m_icon->show();
}

TrayIcon::~TrayIcon()
{
    if (m_window)
        m_window->removeEventFilter(this);
}

bool TrayIcon::available()
{
    return QSystemTrayIcon::isSystemTrayAvailable();
}

void TrayIcon::rebuild()
{
    m_icon->setIcon(stateIcon(m_tunnel.isConnected()));
    m_icon->setToolTip(m_model.toolTip());
    m_menu->clear();
    for (const TrayMenu::Entry &entry : m_model.entries()) {
        if (entry.action.isEmpty()) {
            m_menu->addSeparator();
            continue;
        }
        QAction *action = m_menu->addAction(entry.text);
        action->setEnabled(entry.enabled);
        action->setCheckable(entry.checkable);
        action->setChecked(entry.checked);
        const QString name = entry.action;
        // Queued: the action may rebuild this menu while it is still being handled.
        connect(
            action, &QAction::triggered, &m_model, [this, name]() { m_model.trigger(name); },
            Qt::QueuedConnection);
    }
}

void TrayIcon::showWindow()
{
    if (!m_window)
        return;
    m_window->show();
    m_window->raise();
    m_window->requestActivate();
}

void TrayIcon::quit()
{
    if (m_tunnel.isConnected())
        m_tunnel.toggleConnectionDesktop();
    QCoreApplication::quit();
}

bool TrayIcon::eventFilter(QObject *watched, QEvent *event)
{
    if (watched != m_window || event->type() != QEvent::Close)
        return QObject::eventFilter(watched, event);
    if (!m_tunnel.isConnected() || !m_icon->isVisible()) {
        QMetaObject::invokeMethod(
            QCoreApplication::instance(), &QCoreApplication::quit, Qt::QueuedConnection);
        return QObject::eventFilter(watched, event);
    }
    event->ignore();
    m_window->hide();
    QSettings settings = DesktopSettings::stored();
    if (!settings.value(kNoticeShownKey, false).toBool()) {
        settings.setValue(kNoticeShownKey, true);
        m_icon->showMessage(QStringLiteral("qivro"),
            m_model.texts().value(QStringLiteral("trayNotice")).toString(), stateIcon(true));
    }
    return true;
}
