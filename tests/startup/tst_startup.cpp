#include "main/cjkfonts.h"
#include "main/startup.h"
#include "network/deployment.h"

#include <QDir>
#include <QFile>
#include <QFontDatabase>
#include <QGlyphRun>
#include <QGuiApplication>
#include <QRawFont>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTextLayout>
#include <QtTest>

class TestStartup : public QObject
{
    Q_OBJECT

private slots:
    // First: the other font cases register every bundled face for good.
    void cjkFaces_data();
    void cjkFaces();
    void fontStack_data();
    void fontStack();
    void tunFlag();
    void deploymentOverrides_data();
    void deploymentOverrides();
};

// Files are copied under new names, so the name order (which decides registration order) is the
// row's order; "broken" files hold no font.
void TestStartup::fontStack_data()
{
    QTest::addColumn<QStringList>("sources");
    QTest::addColumn<QStringList>("expected");

    const QString inter = QStringLiteral(":/fonts/Inter-Regular.ttf");
    const QString interBold = QStringLiteral(":/fonts/Inter-Bold.ttf");
    const QString noto = QStringLiteral(":/fonts/NotoSansSC-Regular.otf");
    const QString broken = QStringLiteral("broken");
    const QStringList interThenNoto {QStringLiteral("Inter"), QStringLiteral("Noto Sans SC")};
    const QStringList notoThenInter {QStringLiteral("Noto Sans SC"), QStringLiteral("Inter")};

    QTest::newRow("same family twice") << QStringList {inter, noto, interBold} << interThenNoto;
    QTest::newRow("first seen wins") << QStringList {noto, inter, interBold} << notoThenInter;
    QTest::newRow("broken file skipped")
        << QStringList {broken, inter, broken, noto} << interThenNoto;
}

void TestStartup::fontStack()
{
    QFETCH(QStringList, sources);
    QFETCH(QStringList, expected);

    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    for (int i = 0; i < sources.size(); ++i) {
        const QString target = dir.filePath(
            QStringLiteral("%1-font%2")
                .arg(i)
                .arg(sources[i].endsWith(QLatin1String(".otf")) ? QStringLiteral(".otf")
                                                                : QStringLiteral(".ttf")));
        if (sources[i] == QLatin1String("broken")) {
            QFile file(target);
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write("not a font");
            QTest::ignoreMessage(QtWarningMsg,
                qPrintable(QStringLiteral("[Main] Failed to register bundled font \"%1\"")
                               .arg(QFileInfo(target).fileName())));
        } else {
            QVERIFY(QFile::copy(sources[i], target));
        }
    }
    // Files that are neither .ttf nor .otf are not fonts of the stack.
    QVERIFY(QFile::copy(QStringLiteral(":/fonts/Inter-Regular.ttf"), dir.filePath("0-extra.bin")));

    QCOMPARE(Startup::registerBundledFonts(dir.path()), expected);
    // The program's own stack, from its resources, is the smoke test's first milestone.
    QVERIFY(Startup::registerBundledFonts(QStringLiteral(":/no-such-folder")).isEmpty());
    QVERIFY(Startup::registerBundledFonts().contains(QStringLiteral("Noto Sans TC")));
}

// Languages chosen one after another; the faces registered after the last, and the face that
// Chinese text of that language is drawn with through the program's stack.
void TestStartup::cjkFaces_data()
{
    QTest::addColumn<QStringList>("languages");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QStringList>("registered");
    QTest::addColumn<QString>("drawnWith");

    const QString tc = QStringLiteral("Noto Sans TC");
    const QString sc = QStringLiteral("Noto Sans SC");
    const QString traditional = QStringLiteral("設定說明");
    const QString simplified = QStringLiteral("设置说明");
    QTest::newRow("Traditional") << QStringList {QStringLiteral("zh-Hant")} << traditional
                                 << QStringList {tc, sc} << tc;
    QTest::newRow("Simplified") << QStringList {QStringLiteral("zh")} << simplified
                                << QStringList {sc} << sc;
    QTest::newRow("Traditional, then Simplified")
        << QStringList {QStringLiteral("zh-Hant"), QStringLiteral("zh")} << simplified
        << QStringList {sc} << sc;
}

void TestStartup::cjkFaces()
{
    QFETCH(QStringList, languages);
    QFETCH(QString, text);
    QFETCH(QStringList, registered);
    QFETCH(QString, drawnWith);

    CjkFonts fonts;
    for (const QString &language : std::as_const(languages))
        fonts.useLanguage(language);
    const QStringList all = QFontDatabase::families();
    for (const QString &family : CjkFonts::families())
        QCOMPARE(all.contains(family), registered.contains(family));

    QFont font;
    font.setFamilies(QStringList {QStringLiteral("Inter")} + CjkFonts::families());
    QTextLayout layout(text, font);
    layout.beginLayout();
    layout.createLine();
    layout.endLayout();
    const QList<QGlyphRun> runs = layout.glyphRuns();
    QVERIFY(!runs.isEmpty());
    for (const QGlyphRun &run : runs)
        QCOMPARE(run.rawFont().familyName(), drawnWith);
}

void TestStartup::tunFlag()
{
    QVERIFY(Startup::isTunRequested({"qivro", "-v", "--tun-enabled", "x"}));
    QVERIFY(!Startup::isTunRequested({"qivro", "--TUN-enabled"}));
    QVERIFY(!Startup::isTunRequested({"qivro", "--tun-enabled=1"}));
}

void TestStartup::deploymentOverrides_data()
{
    QTest::addColumn<QByteArray>("value");
    QTest::addColumn<QString>("host");

    const QString fallback = QStringLiteral(QIVRO_API_HOST);
    QTest::newRow("unset") << QByteArray() << fallback;
    QTest::newRow("host and port") << QByteArray("127.0.0.1:8443") << "127.0.0.1:8443";
    QTest::newRow("scheme") << QByteArray("https://evil.example") << fallback;
    QTest::newRow("credentials") << QByteArray("user@evil.example") << fallback;
}

void TestStartup::deploymentOverrides()
{
    QFETCH(QByteArray, value);
    QFETCH(QString, host);

    if (value.isEmpty())
        qunsetenv("QIVRO_API_HOST");
    else
        qputenv("QIVRO_API_HOST", value);
    if (!value.isEmpty() && host != QString::fromUtf8(value))
        QTest::ignoreMessage(
            QtWarningMsg, QRegularExpression(QStringLiteral("Ignoring QIVRO_API_HOST")));
    QCOMPARE(Deployment::apiHost(), host);
    qunsetenv("QIVRO_API_HOST");
}

QTEST_MAIN(TestStartup)
#include "tst_startup.moc"
