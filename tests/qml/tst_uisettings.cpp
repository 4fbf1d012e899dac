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
    void storedValues_data();
    void storedValues();

private:
    // One run of the program's UI: a fresh engine with its own singletons.
    struct Ui
    {
        std::unique_ptr<QQmlEngine> engine;
        std::unique_ptr<QObject> root;
        QObject *theme = nullptr;
        QObject *translations = nullptr;

        QString t(const QString &key) const
        {
            QVariant text;
            QMetaObject::invokeMethod(
                translations, "t", Q_RETURN_ARG(QVariant, text), Q_ARG(QVariant, key));
            return text.toString();
        }
    };
    static Ui startUi();
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
    if (ui.root) {
        ui.theme = ui.root->property("theme").value<QObject *>();
        ui.translations = ui.root->property("translations").value<QObject *>();
    }
    return ui;
}

void TestUiSettings::storedValues_data()
{
    QTest::addColumn<QVariant>("storedDarkMode"); // invalid: chosen in a first run instead
    QTest::addColumn<QVariant>("storedLanguage");
    QTest::addColumn<bool>("darkMode");
    QTest::addColumn<QString>("login");

    QTest::newRow("chosen in a run") << QVariant() << QVariant() << true << QStringLiteral("登入");
    // A settings file read from disk gives texts, not typed values.
    QTest::newRow("texts from a file")
        << QVariant(QStringLiteral("true")) << QVariant(QStringLiteral("zh")) << true
        << QStringLiteral("登录");
    QTest::newRow("garbage") << QVariant(QStringLiteral("yes please"))
                             << QVariant(QStringLiteral("fr")) << false
                             << QStringLiteral("Sign In");
}

void TestUiSettings::storedValues()
{
    QFETCH(QVariant, storedDarkMode);
    QFETCH(QVariant, storedLanguage);
    QFETCH(bool, darkMode);
    QFETCH(QString, login);

    QSettings().clear();
    if (storedDarkMode.isValid()) {
        QSettings settings;
        settings.setValue(QStringLiteral("Theme/darkMode"), storedDarkMode);
        settings.setValue(QStringLiteral("Language/language"), storedLanguage);
    } else {
        Ui ui = startUi();
        QVERIFY(ui.theme && ui.translations);
        QCOMPARE(ui.theme->property("darkMode").toBool(), false);
        QCOMPARE(ui.t(QStringLiteral("login")), QStringLiteral("Sign In"));
        QVERIFY(ui.theme->setProperty("darkMode", true));
        QVERIFY(ui.translations->setProperty("currentLanguage", QStringLiteral("zh-Hant")));
        // Visible to the backend at once, not only when the UI goes away.
        QCOMPARE(QSettings().value(QStringLiteral("Language/language")).toString(),
            QStringLiteral("zh-Hant"));
    }
    Ui ui = startUi();
    QVERIFY(ui.theme && ui.translations);
    QCOMPARE(ui.theme->property("darkMode").toBool(), darkMode);
    QCOMPARE(ui.t(QStringLiteral("login")), login);
}

QTEST_MAIN(TestUiSettings)
#include "tst_uisettings.moc"
