// State files that are not what they should be: app.db that is no database (or a damaged one),
// and an INI file that cannot be parsed. Each is kept aside, started afresh and logged; the
// client then works as on a first start.
#include "base/secretstore.h"
#include "database/databasehandler.h"
#include "main/startup.h"
#include "panel/authhandler.h"
#include "panel/subscribehandler.h"
#include "panelsuite.h"
#include "subscription/subscriptionhandler.h"
#include "tunneltest.h" // LogCapture

#include <QDir>
#include <QFile>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QStandardPaths>

namespace {

// QFile reports the current user's rights beside the mode bits.
const QFile::Permissions kUserBits = QFile::ReadUser | QFile::WriteUser | QFile::ExeUser;

QByteArray readAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool writeFile(const QString &path, const QByteArray &content)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(content) == content.size();
}

// Leaves pages on the free list of a sound database.
bool freePages(const QString &path)
{
    bool ok = false;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), "scratch");
        db.setDatabaseName(path);
        QSqlQuery query(db);
        ok = db.open() && query.exec(QStringLiteral("CREATE TABLE scratch (x BLOB)"))
            && query.exec(QStringLiteral("INSERT INTO scratch VALUES (zeroblob(65536))"))
            && query.exec(QStringLiteral("DROP TABLE scratch"));
    }
    QSqlDatabase::removeDatabase(QStringLiteral("scratch"));
    return ok;
}

QStringList corruptCopies(const QString &path)
{
    const QFileInfo info(path);
    return info.dir().entryList({info.fileName() + QStringLiteral(".corrupt-*")}, QDir::Files);
}

} // namespace

class CorruptStateTest : public PanelSuite
{
    Q_OBJECT

private slots:
    void initTestCase();
    void database_data();
    void database();
    void settings();

private:
    QString m_email;
};

void CorruptStateTest::initTestCase()
{
    PanelSuite::initTestCase();
    m_email = newAccount();
    QVERIFY(!m_panel.grantSubscription(m_email, 1).isEmpty());
}

void CorruptStateTest::database_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<bool>("keptAside");

    QTest::newRow("text") << "text" << true;
    QTest::newRow("damaged pages") << "damaged" << true;
    // Opens, and the integrity check answers with the pages nothing refers to.
    QTest::newRow("lost free list") << "orphans" << true;
    QTest::newRow("sound database") << "sound" << false;
}

void CorruptStateTest::database()
{
    QFETCH(QString, kind);
    QFETCH(bool, keptAside);

    const QString data = QStandardPaths::writableLocation(QStandardPaths::AppDataLocation);
    QDir(data).removeRecursively();
    const QString path = data + QStringLiteral("/db/app.db");
    {
        // A database holding one subscription, as the previous start left it.
        DatabaseHandler earlier(QStringLiteral(":/sql/"), QStringLiteral("earlier"));
        QVERIFY(earlier.initializeDatabase());
        QVERIFY(SubscriptionHandler(earlier).addSubJson("kept",
            QJsonDocument::fromJson(R"({"outbounds":[{"type":"vless","tag":"JP"}]})").object()));
    }
    QVERIFY(kind != QLatin1String("orphans") || freePages(path));
    QByteArray content = readAll(path);
    if (kind == QLatin1String("damaged"))
        content.replace(100, content.size() - 100, QByteArray(content.size() - 100, 'Z'));
    else if (kind == QLatin1String("orphans")) // the free list's first page and its length
        content.replace(32, 8, QByteArray(8, '\0'));
    else if (kind != QLatin1String("sound"))
        content = QByteArray("not a database\n").repeated(300);
    QVERIFY(writeFile(path, content));
    if (kind == QLatin1String("text")) // with a stale journal beside it
        QVERIFY(writeFile(path + QStringLiteral("-journal"), "old journal"));

    LogCapture log;
    DatabaseHandler database(QStringLiteral(":/sql/"), QStringLiteral("corrupt"));
    QVERIFY(database.initializeDatabase());
    QCOMPARE(LogCapture::count(QStringLiteral("app.db is not a database")), keptAside ? 1 : 0);
    const QStringList copies = corruptCopies(path);
    QCOMPARE(copies.size(), keptAside ? 1 : 0);
    if (keptAside) {
        QCOMPARE(readAll(data + QStringLiteral("/db/") + copies.first()), content);
        QVERIFY(!QFile::exists(path + QStringLiteral("-journal")));
    }
    QCOMPARE(QFile::permissions(path) & ~kUserBits, QFile::ReadOwner | QFile::WriteOwner);

    // The next node fetch stores the subscription again, for good: a new start reads it back.
    SubscriptionHandler store(database);
    store.loadFromDatabase();
    QCOMPARE(store.subscriptionNames().contains(QStringLiteral("kept")), !keptAside);
    AuthHandler auth;
    QVERIFY(auth.login(m_email, kPassword));
    SubscribeHandler subscribe(&auth, &store);
    QVERIFY(subscribe.fetchNodes());
    SubscriptionHandler restarted(database);
    restarted.loadFromDatabase();
    QCOMPARE(restarted.subscriptionNames().size(), keptAside ? 1 : 2);
    auth.logout();
}

// An INI file that cannot be parsed: kept aside, replaced, and the user signed out, also when the
// credential store still holds a token for the lost session.
void CorruptStateTest::settings()
{
    QString file;
    {
        QSettings ini(QSettings::IniFormat, QSettings::UserScope, QStringLiteral("qivro"),
            QStringLiteral("qivro"));
        file = ini.fileName();
        SecretStore::instance().write(ini, QStringLiteral("Auth/token"), QStringLiteral("orphan"));
    }
    const QByteArray garbage = QByteArray("[Auth]\nemail=a@b\n[Serv") + QByteArray(64, '\x01');
    QVERIFY(writeFile(file, garbage));
    QVERIFY(m_panel.resetCounters());

    LogCapture log;
    Startup::prepareProfile();
    QCOMPARE(LogCapture::count(QStringLiteral("[Main] Settings file could not be read")), 1);
    const QStringList copies = corruptCopies(file);
    QCOMPARE(copies.size(), 1);
    QCOMPARE(readAll(QFileInfo(file).dir().filePath(copies.first())), garbage);

    AuthHandler auth;
    QSignalSpy expired(&auth, &AuthHandler::sessionExpired);
    auth.initializeSession();
    QCOMPARE(expired.count(), 1);
    QVERIFY(!auth.isLoggedIn());
    QCOMPARE(m_panel.requests().size(), 0);

    // A readable file is left alone.
    Startup::prepareProfile();
    QCOMPARE(corruptCopies(file).size(), 1);
}

QTEST_GUILESS_MAIN(CorruptStateTest)
#include "tst_corruptstate.moc"
