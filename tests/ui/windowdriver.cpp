#include "windowdriver.h"

#include <QQuickItem>
#include <QQuickWindow>
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
