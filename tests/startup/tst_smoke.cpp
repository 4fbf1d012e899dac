#include <QDir>
#include <QElapsedTimer>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

// Runs the real executable on the offscreen platform in a private profile.
class TestSmoke : public QObject
{
    Q_OBJECT

private slots:
    void startsAndEntersEventLoop_data();
    void startsAndEntersEventLoop();

private:
    static QString run(const QString &home, const QStringList &arguments);
};

QString TestSmoke::run(const QString &home, const QStringList &arguments)
{
    QProcess process;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("HOME"), home);
    env.insert(QStringLiteral("XDG_DATA_HOME"), home + QStringLiteral("/data"));
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), home + QStringLiteral("/config"));
    env.insert(QStringLiteral("XDG_CACHE_HOME"), home + QStringLiteral("/cache"));
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    process.setProcessEnvironment(env);
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(QStringLiteral(QIVRO_CLIENT_PATH), arguments);
    if (!process.waitForStarted())
        return {};

    QString output;
    QElapsedTimer timer;
    timer.start();
    while (!output.contains(QLatin1String("[Main] Entering event loop")) && timer.elapsed() < 60000
        && process.state() == QProcess::Running) {
        process.waitForReadyRead(200);
        output += QString::fromUtf8(process.readAll());
    }
    process.kill();
    process.waitForFinished();
    return output + QString::fromUtf8(process.readAll());
}

void TestSmoke::startsAndEntersEventLoop_data()
{
    QTest::addColumn<bool>("blockDatabase");
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("databaseLine");

    QTest::newRow("fresh profile") << false << QStringList {} << "Database initialized.";
    QTest::newRow("database cannot be opened")
        << true << QStringList {} << "Error opening database: ";
    QTest::newRow("tun requested")
        << false << QStringList {"--tun-enabled"} << "Database initialized.";
}

void TestSmoke::startsAndEntersEventLoop()
{
    QFETCH(bool, blockDatabase);
    QFETCH(QStringList, arguments);
    QFETCH(QString, databaseLine);

    QTemporaryDir home;
    QVERIFY(home.isValid());
    const QString database = home.filePath(QStringLiteral("data/qivro/qivro/db/app.db"));
    if (blockDatabase)
        QVERIFY(QDir().mkpath(database));

    const QString output = run(home.path(), arguments);

    // The start-up milestones, in order.
    const QStringList steps {
        QStringLiteral(
            "[Main] Bundled font stack: QList(\"Inter\", \"Noto Sans TC\", \"Noto Sans SC\")"),
        databaseLine,
        QStringLiteral("[Main] QML module loaded, root objects: 1"),
        QStringLiteral("[Main] Entering event loop"),
    };
    qsizetype from = 0;
    for (const QString &step : steps) {
        const qsizetype at = output.indexOf(step, from);
        if (at < 0)
            QFAIL(qPrintable(QStringLiteral("missing or out of order: %1\n--- output ---\n%2")
                                 .arg(step, output)));
        from = at + step.size();
    }
    QVERIFY2(!output.contains(QLatin1String("[QML Warning]")), qPrintable(output));
    QCOMPARE(QFileInfo(database).isFile(), !blockDatabase);
}

QTEST_GUILESS_MAIN(TestSmoke)
#include "tst_smoke.moc"
