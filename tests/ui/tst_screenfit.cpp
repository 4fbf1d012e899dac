// The window fits a 1366 x 768 screen at 100, 150 and 200 % and every key control stays within
// reach: on screen, or inside a list the user can scroll to it. The scale factor is fixed when a
// program starts, so each row runs this program again as a child at that factor; the child drives
// the real window over the stand-in backend of the Qt Quick tests.
#include "servicestandin.h"
#include "windowdriver.h"

#include <QGuiApplication>
#include <QJsonDocument>
#include <QProcess>
#include <QQmlApplicationEngine>
#include <QQuickItem>
#include <QQuickWindow>
#include <QScreen>
#include <QTest>
#include <QtQml/qqmlextensionplugin.h>

#include <cstdio>

Q_IMPORT_QML_PLUGIN(appclientPlugin)

namespace {

constexpr char childVariable[] = "QIVRO_SCREENFIT_CHILD";

// Where the item lies, in window coordinates, once the nearest scrolling ancestor (if any) has
// been scrolled as far as it goes towards it. Empty when the item cannot be brought into view.
QRectF reachableRect(QQuickItem *item)
{
    QQuickItem *flickable = item->parentItem();
    while (flickable && !flickable->inherits("QQuickFlickable"))
        flickable = flickable->parentItem();
    const QRectF inWindow = item->mapRectToScene(item->boundingRect());
    if (!flickable)
        return inWindow;
    auto *content = flickable->property("contentItem").value<QQuickItem *>();
    const QRectF inContent = item->mapRectToItem(content, item->boundingRect());
    const qreal contentHeight = flickable->property("contentHeight").toReal();
    if (inContent.top() < 0 || inContent.bottom() > contentHeight + 0.5)
        return {};
    // Scrolled so that the item's bottom meets the view's bottom, or the top stays at 0.
    const QRectF view = flickable->mapRectToScene(flickable->boundingRect());
    const qreal scrolled = std::max<qreal>(0, inContent.bottom() - flickable->height());
    return QRectF(inWindow.left(), view.top() + inContent.top() - scrolled, inWindow.width(),
        inWindow.height());
}

class Child : protected WindowDriver
{
public:
    int run()
    {
        m_engine = std::make_unique<QQmlApplicationEngine>();
        m_engine->addImportPath(QStringLiteral("qrc:/qt/qml"));
        ServiceStandIn::installAll(m_engine.get(), QStringLiteral(QIVRO_STANDIN_DIR));
        m_engine->load(QUrl(QStringLiteral("qrc:/qt/qml/appclient/Main.qml")));
        m_window = m_engine->rootObjects().isEmpty()
            ? nullptr
            : qobject_cast<QQuickWindow *>(m_engine->rootObjects().constFirst());
        if (!m_window || !QTest::qWaitForWindowExposed(m_window))
            return fail(QStringLiteral("no window"));
        QObject *gate = contextObject("versionChecker");
        if (!QTest::qWaitFor([gate] { return gate->property("isChecking").toBool(); }, 2000))
            return fail(QStringLiteral("the version check never started"));
        gate->setProperty("isChecking", false);
        gate->setProperty("checked", true);
        gate->setProperty("canUseApp", true);
        QTest::qWait(900);

        const QRect available = m_window->screen()->availableGeometry();
        if (!available.contains(m_window->frameGeometry()))
            fail(QStringLiteral("window %1 outside the screen's free area %2")
                     .arg(toText(m_window->frameGeometry()), toText(available)));

        auto *view = m_window->findChild<QQuickItem *>(QStringLiteral("mainView"));
        QMetaObject::invokeMethod(view, "showLoginPage");
        QTest::qWait(400);
        expectReachable(QStringLiteral("loginSubmitButton"));
        expectReachable(QStringLiteral("loginRegisterLink"));

        QObject *auth = contextObject("auth");
        auth->setProperty("userEmail", QStringLiteral("alex.morgan@example.com"));
        auth->setProperty("isLoggedIn", true);
        QTest::qWait(300); // the home page asks for the plans
        QObject *plans = contextObject("subscribeHandler");
        plans->setProperty("items",
            QJsonDocument::fromJson(
                "[{\"url\": \"https://panel/sub/1\", \"name\": \"Premium\", \"nodes\": "
                "[{\"name\": \"Japan\", \"tags\": [\"Japan-01\"]}]}]")
                .toVariant());
        QMetaObject::invokeMethod(plans, "nodesFetched");
        QTest::qWait(400);
        expectReachable(QStringLiteral("subscriptionPowerButton0"));
        QMetaObject::invokeMethod(view, "showMenuPage");
        QTest::qWait(500);
        expectReachable(QStringLiteral("menuLogoutItem"));
        expectReachable(QStringLiteral("menuVersionLabel"));
        return m_failures;
    }

private:
    static QString toText(const QRectF &rect)
    {
        return QStringLiteral("%1,%2 %3x%4")
            .arg(rect.x())
            .arg(rect.y())
            .arg(rect.width())
            .arg(rect.height());
    }

    int fail(const QString &why)
    {
        std::printf("%s\n", qPrintable(why));
        return ++m_failures;
    }

    void expectReachable(const QString &name)
    {
        QQuickItem *item = find(name);
        if (!item) {
            fail(name + QStringLiteral(" not shown"));
            return;
        }
        const QRectF rect = reachableRect(item);
        const QRectF window(0, 0, m_window->width(), m_window->height());
        if (rect.isEmpty() || !window.adjusted(-0.5, -0.5, 0.5, 0.5).contains(rect))
            fail(QStringLiteral("%1 at %2 is out of reach in a %3 window")
                     .arg(name, toText(rect), toText(window)));
    }

    int m_failures = 0;
};

} // namespace

class TestScreenFit : public QObject
{
    Q_OBJECT

private slots:
    void fits_data()
    {
        QTest::addColumn<QString>("scale");
        QTest::newRow("100 %") << QStringLiteral("1");
        QTest::newRow("150 %") << QStringLiteral("1.5");
        QTest::newRow("200 %") << QStringLiteral("2");
    }

    void fits()
    {
        QFETCH(QString, scale);
        QProcess child;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QString::fromLatin1(childVariable), QStringLiteral("1"));
        environment.insert(QStringLiteral("QT_SCALE_FACTOR"), scale);
        child.setProcessEnvironment(environment);
        child.setProcessChannelMode(QProcess::SeparateChannels);
        child.start(QCoreApplication::applicationFilePath(), {});
        QVERIFY(child.waitForFinished(60000));
        const QByteArray report = child.readAllStandardOutput().trimmed();
        QVERIFY2(child.exitStatus() == QProcess::NormalExit && child.exitCode() == 0,
            report.isEmpty() ? child.readAllStandardError().constData() : report.constData());
    }
};

int main(int argc, char *argv[])
{
    if (qEnvironmentVariableIsSet(childVariable)) {
        qputenv("QT_QUICK_CONTROLS_STYLE", "Basic");
        QGuiApplication app(argc, argv);
        QCoreApplication::setOrganizationName(QStringLiteral("qivro"));
        QCoreApplication::setApplicationName(QStringLiteral("qivro-screenfit"));
        Child child;
        return child.run();
    }
    QCoreApplication app(argc, argv);
    TestScreenFit test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_screenfit.moc"
