#include <QCoreApplication>
#include <QQmlComponent>
#include <QQmlEngine>
#include <QSettings>
#include <QStandardPaths>
#include <QtQml/qqmlextensionplugin.h>
#include <QtTest>

#include <memory>

Q_IMPORT_QML_PLUGIN(appclientPlugin)

// The appearance and the language must survive a restart, and the store backend reads the
// language from the same place while the program runs.
class TestUiSettings : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init() { QSettings().clear(); }
    void choicesSurviveRestart();
    void readsStoredValues_data();
    void readsStoredValues();

private:
    // One run of the program's UI: a fresh engine with its own singletons.
    struct Ui
    {
        std::unique_ptr<QQmlEngine> engine;
        std::unique_ptr<QObject> root;
        QObject *theme = nullptr;
        QObject *translations = nullptr;
    };
    static Ui startUi();
    static QString t(QObject *translations, const QString &key);
};

void TestUiSettings::initTestCase()
{
    QStandardPaths::setTestModeEnabled(true);
    QCoreApplication::setOrganizationName(QStringLiteral("qivro"));
    QCoreApplication::setOrganizationDomain(QStringLiteral("qivro.example"));
    QCoreApplication::setApplicationName(QStringLiteral("qivro"));
}

TestUiSettings::Ui TestUiSettings::startUi()
{
    Ui ui;
    ui.engine = std::make_unique<QQmlEngine>();
    ui.engine->addImportPath(QStringLiteral("qrc:/qt/qml"));
    QQmlComponent component(ui.engine.get());
    component.setData("import QtQml\nimport appclient\n"
                      "QtObject { readonly property QtObject theme: Theme;"
                      " readonly property QtObject translations: Translations }",
        QUrl(QStringLiteral("qrc:/tst_uisettings.qml")));
    ui.root.reset(component.create());
    if (!ui.root) {
        qWarning() << component.errors();
        return ui;
    }
    ui.theme = ui.root->property("theme").value<QObject *>();
    ui.translations = ui.root->property("translations").value<QObject *>();
    return ui;
}

QString TestUiSettings::t(QObject *translations, const QString &key)
{
    QVariant text;
    QMetaObject::invokeMethod(
        translations, "t", Q_RETURN_ARG(QVariant, text), Q_ARG(QVariant, key));
    return text.toString();
}

void TestUiSettings::choicesSurviveRestart()
{
    {
        Ui ui = startUi();
        QVERIFY(ui.theme && ui.translations);
        QCOMPARE(ui.theme->property("darkMode").toBool(), false);
        QCOMPARE(ui.translations->property("currentLanguage").toString(), QStringLiteral("en"));

        QVERIFY(ui.theme->setProperty("darkMode", true));
        QVERIFY(ui.translations->setProperty("currentLanguage", QStringLiteral("zh-Hant")));
        // Visible to the backend at once, not only when the UI goes away.
        QSettings settings;
        QCOMPARE(settings.value(QStringLiteral("Theme/darkMode")).toBool(), true);
        QCOMPARE(settings.value(QStringLiteral("Language/language")).toString(),
            QStringLiteral("zh-Hant"));
    }
    {
        Ui ui = startUi();
        QVERIFY(ui.theme && ui.translations);
        QCOMPARE(ui.theme->property("darkMode").toBool(), true);
        QCOMPARE(
            ui.theme->property("textColor").value<QColor>(), QColor(QStringLiteral("#f3f7ff")));
        QCOMPARE(
            ui.translations->property("currentLanguage").toString(), QStringLiteral("zh-Hant"));
        QCOMPARE(t(ui.translations, QStringLiteral("login")), QStringLiteral("登入"));

        QVERIFY(ui.theme->setProperty("darkMode", false));
        QVERIFY(ui.translations->setProperty("currentLanguage", QStringLiteral("zh")));
    }
    Ui ui = startUi();
    QVERIFY(ui.theme && ui.translations);
    QCOMPARE(ui.theme->property("darkMode").toBool(), false);
    QCOMPARE(ui.translations->property("currentLanguage").toString(), QStringLiteral("zh"));
    QCOMPARE(t(ui.translations, QStringLiteral("login")), QStringLiteral("登录"));
}

void TestUiSettings::readsStoredValues_data()
{
    QTest::addColumn<QVariant>("storedDarkMode");
    QTest::addColumn<bool>("darkMode");
    QTest::addColumn<QVariant>("storedLanguage");
    QTest::addColumn<QString>("login");

    // A settings file read from disk gives texts, not typed values.
    QTest::newRow("texts from a file") << QVariant(QStringLiteral("true")) << true
                                       << QVariant(QStringLiteral("zh")) << QStringLiteral("登录");
    QTest::newRow("false as text") << QVariant(QStringLiteral("false")) << false
                                   << QVariant(QStringLiteral("zh-Hant")) << QStringLiteral("登入");
    QTest::newRow("garbage") << QVariant(QStringLiteral("yes please")) << false
                             << QVariant(QStringLiteral("fr")) << QStringLiteral("Sign In");
}

void TestUiSettings::readsStoredValues()
{
    QFETCH(QVariant, storedDarkMode);
    QFETCH(bool, darkMode);
    QFETCH(QVariant, storedLanguage);
    QFETCH(QString, login);

    {
        QSettings settings;
        settings.setValue(QStringLiteral("Theme/darkMode"), storedDarkMode);
        settings.setValue(QStringLiteral("Language/language"), storedLanguage);
    }
    Ui ui = startUi();
    QVERIFY(ui.theme && ui.translations);
    QCOMPARE(ui.theme->property("darkMode").toBool(), darkMode);
    QCOMPARE(t(ui.translations, QStringLiteral("login")), login);
}

QTEST_MAIN(TestUiSettings)
#include "tst_uisettings.moc"
