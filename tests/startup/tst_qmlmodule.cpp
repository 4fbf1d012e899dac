#include "authhandler.h"
#include "startup.h"

#include <QGuiApplication>
#include <QQmlApplicationEngine>
#include <QQmlComponent>
#include <QQmlContext>
#include <QQuickWindow>
#include <QtQml/qqmlextensionplugin.h>
#include <QtTest>

Q_IMPORT_QML_PLUGIN(appclientPlugin)

// Loads the real UI module the way the program does, so broken QML fails here first.
class TestQmlModule : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { qputenv("QT_QUICK_CONTROLS_STYLE", "Basic"); }
    void loadsMainWindow();
    void backendEnumsByName();
};

void TestQmlModule::loadsMainWindow()
{
    QQmlApplicationEngine engine;
    QList<QQmlError> warnings;
    connect(&engine, &QQmlApplicationEngine::warnings, this,
        [&warnings](const QList<QQmlError> &list) { warnings += list; });
    engine.rootContext()->setContextProperty(QStringLiteral("appInfo"), Startup::applicationInfo());
    engine.addImportPath(QStringLiteral("qrc:/qt/qml"));
    engine.load(QUrl(QStringLiteral("qrc:/qt/qml/appclient/Main.qml")));

    QCOMPARE(engine.rootObjects().size(), 1);
    auto *window = qobject_cast<QQuickWindow *>(engine.rootObjects().constFirst());
    QVERIFY(window);
    QCOMPARE(window->title(), QStringLiteral("qivro"));
    QCOMPARE(window->size(), QSize(400, 760));
    QCOMPARE(window->minimumSize(), QSize(400, 760));
    QCOMPARE(window->maximumSize(), QSize(400, 760));
    QVERIFY(QTest::qWaitForWindowExposed(window));
    QCoreApplication::processEvents();
    for (const QQmlError &error : std::as_const(warnings))
        qWarning() << error.toString();
    QVERIFY(warnings.isEmpty());
}

void TestQmlModule::backendEnumsByName()
{
    Startup::registerBackendTypes();
    QQmlEngine engine;
    QQmlComponent component(&engine);
    component.setData("import QtQml\nimport qivro.backend\nQtObject {\n"
                      "property int sent: AuthHandler.RegistrationState.CodeSent\n"
                      "property int resetting: AuthHandler.PasswordResetState.Resetting\n}",
        QUrl());
    std::unique_ptr<QObject> object(component.create());
    QVERIFY2(object, qPrintable(component.errorString()));
    QCOMPARE(object->property("sent").toInt(), int(AuthHandler::RegistrationState::CodeSent));
    QCOMPARE(
        object->property("resetting").toInt(), int(AuthHandler::PasswordResetState::Resetting));
}

QTEST_MAIN(TestQmlModule)
#include "tst_qmlmodule.moc"
