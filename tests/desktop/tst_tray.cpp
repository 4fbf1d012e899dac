// The tray menu's model on the real controller (engine stand-in): what it lists for each state and
// what each entry does. No tray host runs here, so the icon itself is not shown. The stand-in has
// no control API, so a chosen route reaches the selection memory but never the engine.
#include "config/nodeclusters.h"
#include "desktop/quickconnect.h"
#include "desktop/trayicon.h"
#include "desktop/traymenu.h"
#include "tunneltest.h"

#include <QCloseEvent>
#include <QRegularExpression>
#include <QSettings>
#include <QSignalSpy>
#include <QTest>
#include <QWindow>

namespace {

const QString kSubscription = QStringLiteral("https://panel.test/api/subscribe?token=desktop");

// "action text [checked]" per entry, separators as "-".
QStringList describe(const TrayMenu &menu)
{
    QStringList lines;
    for (const TrayMenu::Entry &entry : menu.entries()) {
        if (entry.action.isEmpty()) {
            lines.append(QStringLiteral("-"));
            continue;
        }
        lines.append(entry.action + QLatin1Char(' ') + entry.text
            + (entry.checked ? QStringLiteral(" [x]") : QString())
            + (entry.enabled ? QString() : QStringLiteral(" (disabled)")));
    }
    return lines;
}

} // namespace

class TrayTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void actions_data();
    void actions();
    void closeWindow_data();
    void closeWindow();

private:
    TestProfile m_world;
    RecordingSelection m_selection;
};

void TrayTest::initTestCase()
{
    qputenv("QIVRO_ENGINE_LIBRARY", QIVRO_STANDIN_ENGINE);
    QVERIFY(m_world.open(QStringLiteral("tray")));
    QVERIFY(m_world.add(kSubscription, {"HK-01", "JP-01", "JP-02"}));
    m_world.tunnel = std::make_unique<service>(*m_world.store, nullptr);
}

void TrayTest::init()
{
    service &tunnel = *m_world.tunnel;
    if (tunnel.isConnected())
        tunnel.ToggleConnection();
    QVERIFY(!tunnel.isConnected());
}

void TrayTest::actions_data()
{
    QTest::addColumn<bool>("selected"); // a subscription chosen before
    QTest::addColumn<bool>("connected"); // connected before the action
    QTest::addColumn<QString>("action");
    QTest::addColumn<bool>("connectedAfter");
    QTest::addColumn<QString>("remembered"); // the choice handed to the selection memory
    QTest::addColumn<QString>("emitted"); // "show", "quit" or ""

    QTest::newRow("connect") << true << false << "toggle" << true << ""
                             << "";
    QTest::newRow("disconnect") << true << true << "toggle" << false << ""
                                << "";
    QTest::newRow("connect, nothing to connect") << false << false << "toggle" << false << ""
                                                 << "show";
    QTest::newRow("country, connected") << true << true << "country:JP" << true << "tag JP-01"
                                        << "";
    QTest::newRow("country connects") << true << false << "country:HK" << true << "tag HK-01"
                                      << "";
    QTest::newRow("auto") << true << true << "auto" << true << "auto"
                          << "";
    QTest::newRow("unknown country") << true << true << "country:FR" << true << ""
                                     << "";
    QTest::newRow("show") << true << true << "show" << true << ""
                          << "show";
    QTest::newRow("quit") << true << false << "quit" << false << ""
                          << "quit";
}

void TrayTest::actions()
{
    QFETCH(bool, selected);
    QFETCH(bool, connected);
    QFETCH(QString, action);
    QFETCH(bool, connectedAfter);
    QFETCH(QString, remembered);
    QFETCH(QString, emitted);

    // A fresh controller each time: "nothing selected" must really have nothing.
    m_selection = RecordingSelection();
    RecordingSelection &selection = m_selection;
    m_world.tunnel = std::make_unique<service>(*m_world.store, &selection);
    service &tunnel = *m_world.tunnel;
    QuickConnect quick(tunnel, nullptr);
    TrayMenu menu(tunnel, quick);
    menu.setTexts({{"connect", "Verbinden"}, {"disconnect", "Trennen"}, {"language", "zh"}});
    if (selected)
        QVERIFY(tunnel.selectSubscription(kSubscription));
    if (connected) {
        tunnel.ToggleConnection();
        QVERIFY(tunnel.isConnected());
    }
    const QStringList countries {QStringLiteral("country:JP ") + displayNameForCluster("JP", "zh"),
        QStringLiteral("country:HK ") + displayNameForCluster("HK", "zh")};
    const QStringList listed = describe(menu);
    QCOMPARE(listed.at(1),
        connected ? QStringLiteral("toggle Trennen") : QStringLiteral("toggle Verbinden"));
    QCOMPARE(
        listed.contains(countries.at(0)) || listed.contains(countries.at(0) + " [x]"), selected);
    QCOMPARE(listed.mid(listed.size() - 2).join('|'), QStringLiteral("show Show qivro|quit Quit"));

    QSignalSpy shown(&menu, &TrayMenu::showRequested);
    QSignalSpy quit(&menu, &TrayMenu::quitRequested);
    QSignalSpy changed(&menu, &TrayMenu::changed);
    selection.calls.clear();
    menu.trigger(action);
    QCOMPARE(tunnel.isConnected(), connectedAfter);
    const QStringList choices = selection.calls.filter(QRegularExpression("^(tag|auto) "));
    QCOMPARE(choices.join('|').remove(' ' + kSubscription),
        remembered.isEmpty() ? QString() : remembered);
    // A tick only for a route the engine runs.
    QCOMPARE(
        describe(menu).filter(QStringLiteral(" [x]")).size(), tunnel.route().isEmpty() ? 0 : 1);
    QCOMPARE(shown.size(), emitted == QLatin1String("show") ? 1 : 0);
    QCOMPARE(quit.size(), emitted == QLatin1String("quit") ? 1 : 0);
    if (connectedAfter != connected)
        QVERIFY(changed.size() > 0);
    QCOMPARE(describe(menu).at(0).startsWith(QStringLiteral("state ")
                 + (connectedAfter ? QStringLiteral("Connected") : QStringLiteral("Disconnected"))),
        true);
}

void TrayTest::closeWindow_data()
{
    QTest::addColumn<bool>("connected");
    QTest::addColumn<QString>("then"); // a menu action after the close
    QTest::newRow("connected: kept, shown again") << true << "show";
    QTest::newRow("connected: kept, quit disconnects") << true << "quit";
    QTest::newRow("disconnected: closes") << false << "";
}

// The icon over the model, without a tray host: the close of the window is what it decides.
void TrayTest::closeWindow()
{
    QFETCH(bool, connected);
    QFETCH(QString, then);
    m_world.tunnel = std::make_unique<service>(*m_world.store, nullptr);
    service &tunnel = *m_world.tunnel;
    QVERIFY(tunnel.selectSubscription(kSubscription));
    if (connected)
        tunnel.ToggleConnection();
    QuickConnect quick(tunnel, nullptr);
    TrayMenu menu(tunnel, quick);
    QWindow window;
    window.show();
    TrayIcon tray(menu, tunnel, &window);
    QSettings settings(QSettings::IniFormat, QSettings::UserScope, "qivro", "qivro");
    settings.remove("Desktop/trayNoticeShown");

    QCloseEvent close;
    QCoreApplication::sendEvent(&window, &close);
    QCOMPARE(close.isAccepted(), !connected);
    QVERIFY(!window.isVisible());
    settings.sync();
    // The notice that the program stays is given once, and only when it stays.
    QCOMPARE(settings.value("Desktop/trayNoticeShown", false).toBool(), connected);
    QCOMPARE(tunnel.isConnected(), connected);
    if (then.isEmpty())
        return;
    menu.trigger(then);
    QCOMPARE(window.isVisible(), then == QLatin1String("show"));
    QCOMPARE(tunnel.isConnected(), then != QLatin1String("quit"));
}

QTEST_MAIN(TrayTest)
#include "tst_tray.moc"
