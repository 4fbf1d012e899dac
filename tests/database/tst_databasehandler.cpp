#include "database/databasehandler.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QSqlQuery>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

namespace {

// Each case gets its own application name, so its application data location is new.
void useFreshProfile(const char *name)
{
    QCoreApplication::setApplicationName(QString::fromLatin1(name));
    QDir(QStandardPaths::writableLocation(QStandardPaths::AppDataLocation)).removeRecursively();
}

int rowCount(QSqlQuery &query, const QString &table)
{
    if (!query.exec(QStringLiteral("SELECT COUNT(*) FROM ") + table) || !query.next())
        return -1;
    return query.value(0).toInt();
}

bool writeScript(const QString &dir, const QString &name, const QByteArray &text)
{
    QFile file(QDir(dir).filePath(name));
    return file.open(QIODevice::WriteOnly) && file.write(text) == text.size();
}

} // namespace

class TestDatabaseHandler : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void firstAndSecondStart();
    void scriptSplitting();
    void failingStatementRollsBack();
    void unopenableDatabase();
};

void TestDatabaseHandler::initTestCase()
{
    QStandardPaths::setTestModeEnabled(true);
    QCoreApplication::setOrganizationName(QStringLiteral("qivro-test"));
}

void TestDatabaseHandler::firstAndSecondStart()
{
    useFreshProfile("first-start");
    {
        DatabaseHandler db;
        QVERIFY(!QFile::exists(db.databasePath()));
        QVERIFY(db.initializeDatabase());
        QVERIFY(QFile::exists(db.databasePath()));
        QCOMPARE(db.getDatabaseVersion(), 1.0f);
        QCOMPARE(rowCount(db.getQuery(), QStringLiteral("subscriptions")), 0);
        QCOMPARE(rowCount(db.getQuery(), QStringLiteral("db_version")), 1);
        // The schema the local store relies on: id is the key, name is unique.
        QVERIFY(db.executeSql(
            QStringLiteral("INSERT INTO subscriptions VALUES ('1', 'a', '{}')"), true));
        QVERIFY(!db.executeSql(
            QStringLiteral("INSERT INTO subscriptions VALUES ('2', 'a', '{}')"), true));
    }
    {
        DatabaseHandler db;
        QVERIFY(db.initializeDatabase());
        QCOMPARE(rowCount(db.getQuery(), QStringLiteral("db_version")), 1);
        QCOMPARE(rowCount(db.getQuery(), QStringLiteral("subscriptions")), 1);
    }
}

void TestDatabaseHandler::scriptSplitting()
{
    useFreshProfile("splitting");
    QTemporaryDir scripts;
    QVERIFY(writeScript(scripts.path(), "2-second.sql",
        "\n\nINSERT INTO t VALUES (2);\n\n;;\n  \nINSERT INTO t VALUES (3)\n\n"));
    QVERIFY(writeScript(scripts.path(), "1-first.sql",
        "CREATE TABLE t (v INTEGER);\n"
        "CREATE TABLE db_version (version REAL);\n"
        "INSERT INTO db_version VALUES (1.0);\nINSERT INTO t VALUES (1);"));
    DatabaseHandler db(scripts.path(), QStringLiteral("splitting"));
    QVERIFY(db.initializeDatabase());

    QSqlQuery &query = db.getQuery();
    QVERIFY(
        query.exec(QStringLiteral("SELECT group_concat(v) FROM (SELECT v FROM t ORDER BY rowid)")));
    QVERIFY(query.next());
    // File-name order, each statement once.
    QCOMPARE(query.value(0).toString(), QStringLiteral("1,2,3"));
}

void TestDatabaseHandler::failingStatementRollsBack()
{
    useFreshProfile("rollback");
    QTemporaryDir scripts;
    QVERIFY(writeScript(scripts.path(), "init.sql",
        "CREATE TABLE db_version (version REAL);\n"
        "INSERT INTO no_such_table VALUES (1);\n"
        "INSERT INTO db_version VALUES (1.0);\n"));
    for (int attempt = 0; attempt < 2; ++attempt) {
        DatabaseHandler db(scripts.path(), QStringLiteral("rollback"));
        QVERIFY(!db.initializeDatabase());
        // The first statement went with the transaction, so the next start tries again from
        // scratch.
        QVERIFY(!db.getQuery().exec(QStringLiteral("SELECT * FROM db_version")));
        QCOMPARE(db.getDatabaseVersion(), 0.0f);
    }
}

void TestDatabaseHandler::unopenableDatabase()
{
    useFreshProfile("unopenable");
    DatabaseHandler db(QStringLiteral(":/sql/"), QStringLiteral("unopenable"));
    // A folder where the file should be.
    QVERIFY(QDir().mkpath(db.databasePath()));
    QVERIFY(!db.initializeDatabase());
    QCOMPARE(db.getDatabaseVersion(), 0.0f);
}

QTEST_GUILESS_MAIN(TestDatabaseHandler)
#include "tst_databasehandler.moc"
