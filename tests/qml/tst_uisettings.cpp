#include <QColor>
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
// language from the same place while the program runs. A switch of appearance restyles at once.
class TestUiSettings : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QStandardPaths::setTestModeEnabled(true);
        QCoreApplication::setOrganizationName(QStringLiteral("qivro"));
        QCoreApplication::setOrganizationDomain(QStringLiteral("qivro.example"));
        QCoreApplication::setApplicationName(QStringLiteral("qivro"));
    }

    void storedValues_data();
    void storedValues();
    void tokensFollowAppearance();

private:
    // One run of the program's UI: a fresh engine with its own singletons, read through a root
    // whose "dark" and "login" follow them.
    static std::unique_ptr<QObject> startUi(QQmlEngine &engine)
    {
        engine.addImportPath(QStringLiteral("qrc:/qt/qml"));
        QQmlComponent component(&engine);
        component.setData("import QtQml\nimport appclient\n"
                          "QtObject { property bool dark: Theme.darkMode;"
                          " property QtObject theme: Theme;"
                          " property string login: Translations.t('login');"
                          " function choose() { Theme.darkMode = true;"
                          " Translations.currentLanguage = 'zh-Hant' } }",
            QUrl(QStringLiteral("qrc:/tst_uisettings.qml")));
        return std::unique_ptr<QObject>(component.create());
    }
};

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
        QQmlEngine engine;
        const std::unique_ptr<QObject> ui = startUi(engine);
        QVERIFY(ui);
        QCOMPARE(ui->property("dark").toBool(), false);
        QCOMPARE(ui->property("login").toString(), QStringLiteral("Sign In"));
        QVERIFY(QMetaObject::invokeMethod(ui.get(), "choose"));
        // Visible to the backend at once, not only when the UI goes away.
        QCOMPARE(QSettings().value(QStringLiteral("Language/language")).toString(),
            QStringLiteral("zh-Hant"));
    }
    QQmlEngine engine;
    const std::unique_ptr<QObject> ui = startUi(engine);
    QVERIFY(ui);
    QCOMPARE(ui->property("dark").toBool(), darkMode);
    QCOMPARE(ui->property("login").toString(), login);
}

// Every colour token changes with the appearance, apart from the few the design keeps in both.
void TestUiSettings::tokensFollowAppearance()
{
    QSettings().clear();
    QQmlEngine engine;
    const std::unique_ptr<QObject> ui = startUi(engine);
    QVERIFY(ui);
    auto *theme = ui->property("theme").value<QObject *>();
    QStringList same;
    for (int i = 0; i < theme->metaObject()->propertyCount(); ++i) {
        const QMetaProperty token = theme->metaObject()->property(i);
        if (token.metaType().id() != QMetaType::QColor)
            continue;
        theme->setProperty("darkMode", false);
        const QVariant light = token.read(theme);
        theme->setProperty("darkMode", true);
        if (token.read(theme) == light)
            same.append(QString::fromLatin1(token.name()));
    }
    same.sort();
    QCOMPARE(same,
        QStringList({QStringLiteral("authAccentPressedColor"),
            QStringLiteral("authAccentStrongColor"), QStringLiteral("authButtonTextColor")}));
    // The transparent hover is the hover colour with no alpha, so a fade shows no other hue.
    QColor hover = theme->property("hoverBackgroundColor").value<QColor>();
    hover.setAlpha(0);
    QCOMPARE(theme->property("hoverBackgroundTransparentColor").value<QColor>(), hover);
}

QTEST_MAIN(TestUiSettings)
#include "tst_uisettings.moc"
