#include "cjkfonts.h"
#include "deployment.h"
#include "startup.h"

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

// Stand-ins for the version gate and the tunnel controller, with the members the callback uses.
class FakeGate : public QObject
{
    Q_OBJECT
public:
    bool canUseApp() const { return m_canUse; }
    void report(bool canUse)
    {
        m_canUse = canUse;
        emit canUseAppChanged();
    }

signals:
    void canUseAppChanged();

private:
    bool m_canUse = false;
};

class FakeService : public QObject
{
    Q_OBJECT
public:
    void setTunEnabled(bool enabled) { calls.append(enabled ? "tun:on" : "tun:off"); }
    void resumePendingConnection() { calls.append("resume"); }
    QStringList calls;
};

class TestStartup : public QObject
{
    Q_OBJECT

private slots:
    // First: the other font cases register every bundled face for good.
    void cjkFaces_data();
    void cjkFaces();
    void fontStack_data();
    void fontStack();
    void bundledFonts();
    void tunFlag_data();
    void tunFlag();
    void tunResume_data();
    void tunResume();
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
    QTest::newRow("only broken") << QStringList {broken} << QStringList {};
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
}

void TestStartup::bundledFonts()
{
    QCOMPARE(Startup::registerBundledFonts(),
        (QStringList {QStringLiteral("Inter"), QStringLiteral("Noto Sans SC"),
            QStringLiteral("Noto Sans TC")}));
    QVERIFY(Startup::registerBundledFonts(QStringLiteral(":/no-such-folder")).isEmpty());
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
    QTest::newRow("English, then Traditional")
        << QStringList {QStringLiteral("en"), QStringLiteral("zh-Hant")} << traditional
        << QStringList {tc, sc} << tc;
    QTest::newRow("English") << QStringList {QStringLiteral("en")} << simplified << QStringList {sc}
                             << sc;
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

void TestStartup::tunFlag_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<bool>("requested");

    QTest::newRow("exact") << QStringList {"qivro", "--tun-enabled"} << true;
    QTest::newRow("among others") << QStringList {"qivro", "-v", "--tun-enabled", "x"} << true;
    QTest::newRow("absent") << QStringList {"qivro"} << false;
    QTest::newRow("letter case") << QStringList {"qivro", "--TUN-enabled"} << false;
    QTest::newRow("with value") << QStringList {"qivro", "--tun-enabled=1"} << false;
}

void TestStartup::tunFlag()
{
    QFETCH(QStringList, arguments);
    QFETCH(bool, requested);
    QCOMPARE(Startup::isTunRequested(arguments), requested);
}

void TestStartup::tunResume_data()
{
    QTest::addColumn<QList<bool>>("reports");
    QTest::addColumn<QStringList>("calls");

    const QStringList once {QStringLiteral("tun:on"), QStringLiteral("resume")};
    QTest::newRow("allowed") << QList<bool> {true} << once;
    QTest::newRow("refused") << QList<bool> {false} << QStringList {};
    QTest::newRow("allowed then refused then allowed") << QList<bool> {true, false, true} << once;
}

void TestStartup::tunResume()
{
    QFETCH(QList<bool>, reports);
    QFETCH(QStringList, calls);

    FakeGate gate;
    FakeService service;
    Startup::connectTunResume(&gate, &service);

    for (bool canUse : reports) {
        gate.report(canUse);
        // Queued: nothing happens before the event loop runs.
        QVERIFY(service.calls.size() <= calls.size());
        QCoreApplication::processEvents();
    }
    QCOMPARE(service.calls, calls);
}

void TestStartup::deploymentOverrides_data()
{
    QTest::addColumn<QByteArray>("value");
    QTest::addColumn<QString>("host");

    const QString fallback = QStringLiteral(QIVRO_API_HOST);
    QTest::newRow("unset") << QByteArray() << fallback;
    QTest::newRow("host and port") << QByteArray("127.0.0.1:8443") << "127.0.0.1:8443";
    QTest::newRow("scheme") << QByteArray("https://evil.example") << fallback;
    QTest::newRow("path") << QByteArray("evil.example/api") << fallback;
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
