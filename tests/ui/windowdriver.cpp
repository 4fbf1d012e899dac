#include "windowdriver.h"

#include "main/startup.h"

#include <QCoreApplication>
#include <QDir>
#include <QQmlApplicationEngine>
#include <QQmlContext>
#include <QQuickItem>
#include <QQuickWindow>
#include <QStandardPaths>
#include <QTest>

#include <utility>

namespace {

QtMessageHandler previousHandler = nullptr;
QStringList warnings;

void keepQmlWarning(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    if (type != QtDebugMsg && type != QtInfoMsg && message.contains(QLatin1String(".qml")))
        warnings.append(message);
    previousHandler(type, context, message);
}

} // namespace

void WindowDriver::collectQmlWarnings(bool on)
{
    if (on && !previousHandler)
        previousHandler = qInstallMessageHandler(keepQmlWarning);
    else if (!on && previousHandler)
        qInstallMessageHandler(std::exchange(previousHandler, nullptr));
}

QStringList &WindowDriver::qmlWarnings()
{
    return warnings;
}

void WindowDriver::prepareFirstStart()
{
    collectQmlWarnings(true);
    qputenv("QT_QUICK_CONTROLS_STYLE", "Basic");
    QStandardPaths::setTestModeEnabled(true);
    QDir(QDir::home().filePath(QStringLiteral(".qttest"))).removeRecursively();
    QCoreApplication::setOrganizationName(QStringLiteral("qivro"));
    QCoreApplication::setApplicationName(QStringLiteral("qivro"));
}

bool WindowDriver::openWindow(QObject *owner, QQmlNetworkAccessManagerFactory *network)
{
    m_engine = std::make_unique<QQmlApplicationEngine>();
    if (network)
        m_engine->setNetworkAccessManagerFactory(network);
    if (!Startup::loadClient(*m_engine, owner, false))
        return false;
    m_window = qobject_cast<QQuickWindow *>(m_engine->rootObjects().constFirst());
    return m_window && QTest::qWaitForWindowExposed(m_window);
}

void WindowDriver::closeWindow()
{
    m_window = nullptr;
    m_engine.reset();
    collectQmlWarnings(false);
}

QObject *WindowDriver::contextObject(const char *name) const
{
    return m_engine->rootContext()->contextProperty(QString::fromLatin1(name)).value<QObject *>();
}

// The visible item of that name, wherever it sits in the drawn tree: pages, list delegates, the
// menu, pop-ups.
QQuickItem *WindowDriver::find(const QString &name) const
{
    QList<QQuickItem *> pending {m_window->contentItem()};
    while (!pending.isEmpty()) {
        QQuickItem *item = pending.takeLast();
        if (!item->isVisible())
            continue;
        if (item->objectName() == name && item->width() > 0 && item->height() > 0)
            return item;
        pending.append(item->childItems());
    }
    return nullptr;
}

QQuickItem *WindowDriver::waitFor(const QString &name, int timeoutMs) const
{
    QQuickItem *item = nullptr;
    if (!QTest::qWaitFor(
            [&]() { return (item = find(name)) != nullptr && item->isEnabled(); }, timeoutMs)) {
        qWarning() << "no visible, enabled item" << name;
        return nullptr;
    }
    return item;
}

QString WindowDriver::textOf(const QString &name) const
{
    const QQuickItem *item = find(name);
    return item ? item->property("text").toString() : QString();
}

bool WindowDriver::click(const QString &name)
{
    QQuickItem *item = waitFor(name);
    if (!item)
        return false;
    // A user waits for the spinner to go (it swallows presses), and for slides and fades to
    // settle so the press lands where the item is drawn.
    if (!QTest::qWaitFor([this]() { return !find(QStringLiteral("pageLoadingIndicator")); }, 15000))
        return false;
    QTest::qWait(350);
    const QPointF centre = item->mapToScene(QPointF(item->width() / 2, item->height() / 2));
    QTest::mouseClick(m_window, Qt::LeftButton, Qt::NoModifier, centre.toPoint());
    return true;
}

// ASCII text, key by key, into the field after a click on it.
bool WindowDriver::type(const QString &name, const QString &text)
{
    if (!click(name))
        return false;
    for (const QChar c : text)
        QTest::keyClick(m_window, c.toLatin1());
    return find(name)->property("text").toString() == text;
}

bool WindowDriver::signIn(const char *email, const char *password)
{
    QObject *auth = contextObject("auth");
    const QString greeting = QStringLiteral("announcementDialogCloseButton");
    return click(QStringLiteral("emptyStateButton"))
        && type(QStringLiteral("loginEmailField"), QString::fromLatin1(email))
        && type(QStringLiteral("loginPasswordField"), QString::fromLatin1(password))
        && click(QStringLiteral("loginSubmitButton"))
        && QTest::qWaitFor([auth] { return auth->property("isLoggedIn").toBool(); }, 15000)
        && waitFor(QStringLiteral("subscriptionCard0"), 15000)
        // The demo panel greets every account with a pop-up announcement.
        && click(greeting) && QTest::qWaitFor([&] { return !find(greeting); }, 5000);
}
