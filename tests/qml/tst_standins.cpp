// The UI tests run the views against the stand-ins of backend/; a stand-in that lacks a member of
// its handler, or has one the handler lacks, lets a view pass its tests and fail in the program.
#include "desktop/desktopsettings.h"
#include "desktop/diagnostics.h"
#include "desktop/traymenu.h"
#include "panel/announcementhandler.h"
#include "panel/storehandler.h"
#include "panel/subscribehandler.h"
#include "panel/tickethandler.h"
#include "service/latencytester.h"
#include "service/trafficmonitor.h"

#include <QQmlComponent>
#include <QQmlEngine>
#include <QSet>
#include <QTest>

#include <memory>

namespace {

// The class's own properties ("name"), signals ("signal name/arity") and invokables
// ("name/arity"); members with defaulted arguments count once, with all of them.
QSet<QString> members(const QMetaObject &meta, int propertyOffset, int methodOffset)
{
    QSet<QString> names;
    for (int i = propertyOffset; i < meta.propertyCount(); ++i)
        names.insert(QString::fromLatin1(meta.property(i).name()));
    for (int i = methodOffset; i < meta.methodCount(); ++i) {
        const QMetaMethod method = meta.method(i);
        if (method.attributes() & QMetaMethod::Cloned)
            continue;
        const QString member = QStringLiteral("%1/%2")
                                   .arg(QString::fromLatin1(method.name()))
                                   .arg(method.parameterCount());
        names.insert(method.methodType() == QMetaMethod::Signal ? QStringLiteral("signal ") + member
                                                                : member);
    }
    return names;
}

} // namespace

class StandInsTest : public QObject
{
    Q_OBJECT

private slots:
    void matchHandlers_data();
    void matchHandlers();
};

void StandInsTest::matchHandlers_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<const QMetaObject *>("handler");
    QTest::newRow("store") << "store.qml" << &StoreHandler::staticMetaObject;
    QTest::newRow("ticket") << "ticket.qml" << &TicketHandler::staticMetaObject;
    QTest::newRow("announcement") << "announcement.qml" << &AnnouncementHandler::staticMetaObject;
    QTest::newRow("subscribeHandler")
        << "subscribeHandler.qml" << &SubscribeHandler::staticMetaObject;
    QTest::newRow("latency") << "latency.qml" << &LatencyTester::staticMetaObject;
    QTest::newRow("traffic") << "traffic.qml" << &TrafficMonitor::staticMetaObject;
    QTest::newRow("desktop") << "desktop.qml" << &DesktopSettings::staticMetaObject;
    QTest::newRow("diagnostics") << "diagnostics.qml" << &Diagnostics::staticMetaObject;
    QTest::newRow("trayMenu") << "trayMenu.qml" << &TrayMenu::staticMetaObject;
}

void StandInsTest::matchHandlers()
{
    QFETCH(QString, file);
    QFETCH(const QMetaObject *, handler);
    QQmlEngine engine;
    QQmlComponent component(
        &engine, QUrl::fromLocalFile(QStringLiteral(QUICK_TEST_SOURCE_DIR "/backend/") + file));
    const std::unique_ptr<QObject> standIn(component.create());
    QVERIFY2(standIn, qPrintable(component.errorString()));

    const QSet<QString> real
        = members(*handler, handler->propertyOffset(), handler->methodOffset());
    const QMetaObject *meta = standIn->metaObject();
    const QSet<QString> offered = members(
        *meta, QObject::staticMetaObject.propertyCount(), QObject::staticMetaObject.methodCount());
    const QSet<QString> missing = real - offered;
    QVERIFY2(missing.isEmpty(), qPrintable(QStringList(missing.values()).join(", ")));
    // Views connect to signals: one the handler never sends would be tested in vain. The
    // stand-in's own property notifiers are the exception.
    for (const QString &extra : offered - real) {
        const QString name = extra.section(QLatin1Char(' '), 1).section(QLatin1Char('/'), 0, 0);
        QVERIFY2(!extra.startsWith(QLatin1String("signal "))
                || (name.endsWith(QLatin1String("Changed"))
                    && meta->indexOfProperty(name.chopped(7).toLatin1()) >= 0),
            qPrintable(extra));
    }
}

QTEST_GUILESS_MAIN(StandInsTest)
#include "tst_standins.moc"
