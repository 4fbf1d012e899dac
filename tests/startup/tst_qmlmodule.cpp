#include "main/startup.h"
#include "panel/authhandler.h"

#include <QFile>
#include <QGuiApplication>
#include <QQmlApplicationEngine>
#include <QQmlComponent>
#include <QQuickItem>
#include <QQuickWindow>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QtQml/qqmlextensionplugin.h>
#include <QtTest>

#include <algorithm>

Q_IMPORT_QML_PLUGIN(appclientPlugin)

namespace {

// Warnings that reach the message handler without passing through an engine: console output of
// the views and the controls' own complaints.
QStringList g_qmlMessages;
QtMessageHandler g_previousHandler = nullptr;

void collectQmlMessages(QtMsgType type, const QMessageLogContext &context, const QString &text)
{
    const QString category = QString::fromLatin1(context.category ? context.category : "");
    const bool fromQml = category == QLatin1String("qml") || category == QLatin1String("js")
        || category.startsWith(QLatin1String("qt.qml"))
        || category.startsWith(QLatin1String("qt.quick"))
        || text.contains(QLatin1String("qrc:/qt/qml/appclient"));
    if (type != QtDebugMsg && type != QtInfoMsg && fromQml)
        g_qmlMessages.append(text);
    if (g_previousHandler)
        g_previousHandler(type, context, text);
}

bool onlyMissingRequiredProperties(const QList<QQmlError> &errors)
{
    static const QRegularExpression missing(
        QStringLiteral("^Required property \\w+ was not initialized$"));
    return !errors.isEmpty() && std::all_of(errors.cbegin(), errors.cend(), [](const QQmlError &e) {
        return missing.match(e.description()).hasMatch();
    });
}

QStringList errorTexts(const QList<QQmlError> &errors)
{
    QStringList texts;
    for (const QQmlError &error : errors)
        texts.append(error.toString());
    return texts;
}

} // namespace

// Loads the real UI module the way the program does, so broken QML fails here first.
class TestQmlModule : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void cleanup();
    void loadsMainWindow();
    void loadsEveryView();
    void backendEnumsByName();

private:
    // The program's own wiring: its context objects, its database and its window.
    std::unique_ptr<QQmlApplicationEngine> m_engine;
    QList<QQmlError> m_warnings;
};

void TestQmlModule::initTestCase()
{
    qputenv("QT_QUICK_CONTROLS_STYLE", "Basic");
    // The window starts the version check and the session restore: they must meet closed
    // loopback ports, never a real server.
    qputenv("QIVRO_API_HOST", "127.0.0.1:9");
    qputenv("QIVRO_VERSION_FILE_URL", "https://127.0.0.1:9/version.json");
    QStandardPaths::setTestModeEnabled(true);
    QCoreApplication::setOrganizationName(QStringLiteral("qivro"));
    QCoreApplication::setApplicationName(QStringLiteral("qivro"));
    g_previousHandler = qInstallMessageHandler(collectQmlMessages);

    m_engine = std::make_unique<QQmlApplicationEngine>();
    connect(m_engine.get(), &QQmlApplicationEngine::warnings, this,
        [this](const QList<QQmlError> &list) { m_warnings += list; });
    QVERIFY(Startup::loadClient(*m_engine, m_engine.get(), false));
}

void TestQmlModule::cleanupTestCase()
{
    m_engine.reset();
    qInstallMessageHandler(g_previousHandler);
}

// Each test answers for the warnings since the previous one, the first also for loading.
void TestQmlModule::cleanup()
{
    m_warnings.clear();
    g_qmlMessages.clear();
}

void TestQmlModule::loadsMainWindow()
{
    QCOMPARE(m_engine->rootObjects().size(), 1);
    auto *window = qobject_cast<QQuickWindow *>(m_engine->rootObjects().constFirst());
    QVERIFY(window);
    QCOMPARE(window->maximumSize(), QSize(400, 760));
    QVERIFY(QTest::qWaitForWindowExposed(window));
    // The failed version check leaves the app usable: the gate opens and the start-up overlay
    // goes once its minimum time is over.
    auto *overlay = window->findChild<QQuickItem *>(QStringLiteral("startupOverlay"));
    QVERIFY(overlay);
    QTRY_VERIFY_WITH_TIMEOUT(!overlay->property("active").toBool(), 5000);
    QCOMPARE(errorTexts(m_warnings), QStringList());
    QCOMPARE(g_qmlMessages, QStringList());
}

// Every type of the module's directory file except the singletons, each inside a window of the
// program's size the way the main view hosts it; dialogs are opened so their content is built too.
// All stay up together long enough for the views' own short timers (deferred refreshes,
// animations) to run. Any QML warning or error fails; its text names the file.
void TestQmlModule::loadsEveryView()
{
    QFile qmldir(QStringLiteral(":/qt/qml/appclient/qmldir"));
    QVERIFY(qmldir.open(QIODevice::ReadOnly | QIODevice::Text));
    static const QRegularExpression typeLine(
        QStringLiteral("^([A-Z]\\w*) \\d+\\.\\d+ \\S+\\.qml$"));
    std::vector<std::unique_ptr<QObject>> hosts;
    int count = 0;
    for (const QString &line : QString::fromUtf8(qmldir.readAll()).split(QLatin1Char('\n'))) {
        const QRegularExpressionMatch match = typeLine.match(line.trimmed());
        if (!match.hasMatch())
            continue;
        const QString type = match.captured(1);
        ++count;
        QQmlComponent component(m_engine.get());
        component.setData(
            QStringLiteral("import QtQuick\nimport QtQuick.Controls\nimport appclient\n"
                           "ApplicationWindow { width: 400; height: 760; visible: true\n"
                           "    %1 { objectName: \"viewUnderTest\" }\n}\n")
                .arg(type)
                .toUtf8(),
            QUrl(QStringLiteral("qrc:/selftest/%1Host.qml").arg(type)));
        std::unique_ptr<QObject> host(component.create());
        // A part that its view builds with data (a card, a delegate) cannot stand alone: every
        // error of creating it bare names a required property. It compiled; its view runs it.
        if (!host && onlyMissingRequiredProperties(component.errors()))
            continue;
        QVERIFY2(host, qPrintable(type + QStringLiteral(": ") + component.errorString()));
        auto *window = qobject_cast<QQuickWindow *>(host.get());
        QObject *view
            = window ? window->findChild<QObject *>(QStringLiteral("viewUnderTest")) : nullptr;
        QVERIFY2(view, qPrintable(type));
        if (auto *item = qobject_cast<QQuickItem *>(view))
            item->setSize(window->contentItem()->size());
        else if (view->inherits("QQuickPopup"))
            QVERIFY(QMetaObject::invokeMethod(view, "open"));
        QVERIFY2(QTest::qWaitForWindowExposed(window), qPrintable(type));
        hosts.push_back(std::move(host));
    }
    QVERIFY2(count >= 10, "the module's directory file lists too few views");
    QTest::qWait(400);

    QCOMPARE(errorTexts(m_warnings), QStringList());
    QCOMPARE(g_qmlMessages, QStringList());
}

void TestQmlModule::backendEnumsByName()
{
    Startup::registerBackendTypes();
    QQmlEngine engine;
    QQmlComponent component(&engine);
    component.setData("import QtQml\nimport qivro.backend\nQtObject {\n"
                      "property int sent: AuthHandler.RegistrationState.CodeSent\n}",
        QUrl());
    std::unique_ptr<QObject> object(component.create());
    QVERIFY2(object, qPrintable(component.errorString()));
    QCOMPARE(object->property("sent").toInt(), int(AuthHandler::RegistrationState::CodeSent));
}

QTEST_MAIN(TestQmlModule)
#include "tst_qmlmodule.moc"
