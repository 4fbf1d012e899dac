#include "config/dnsconfig.h"
#include "config/routeconfig.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonObject>
#include <QSet>
#include <QStandardPaths>
#include <QtTest>

namespace {

QString rulePath(const QString &name = QString())
{
    return QStandardPaths::writableLocation(QStandardPaths::AppDataLocation) + QDir::separator()
        + "rules" + (name.isEmpty() ? QString() : QDir::separator() + name);
}

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

QStringList strings(const QJsonValue &value, const char *key = nullptr)
{
    QStringList list;
    for (const QJsonValue &item : value.toArray())
        list.append(key ? item[QLatin1String(key)].toString() : item.toString());
    return list;
}

} // namespace

class TestRuleDirectory : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void sections_data();
    void sections();
    void freshProfile();
    void changedFileLeftAlone();
    void noRuleFiles();
};

void TestRuleDirectory::initTestCase()
{
    QStandardPaths::setTestModeEnabled(true);
    QCoreApplication::setOrganizationName("qivro");
    QCoreApplication::setApplicationName("qivro");
}

void TestRuleDirectory::init()
{
    QDir(QStandardPaths::writableLocation(QStandardPaths::AppDataLocation)).removeRecursively();
}

// Files a user adds next to the built-in ones, and where their tags must show up.
void TestRuleDirectory::sections_data()
{
    QTest::addColumn<QStringList>("added");
    QTest::addColumn<QStringList>("domainTags");
    QTest::addColumn<QStringList>("addressTags");

    const QStringList geoip {"geoip-cn", "geoip-ir", "geoip-ru"};
    QTest::newRow("geosite-ads.srs joins both sections")
        << QStringList {"geosite-ads.srs"} << QStringList {"geosite-ads", "geosite-cn"} << geoip;
    QTest::newRow("geoip-private.srs and two extensions")
        << QStringList {"geoip-private.srs", "geosite-a.b.srs", "notes.txt"}
        << QStringList {"geosite-a.b", "geosite-cn"} << geoip + QStringList {"geoip-private"};
}

// The built-in files alone, and the form of each definition and rule, are the golden
// configuration's (tst_qivroconfig).
void TestRuleDirectory::sections()
{
    QFETCH(QStringList, added);
    QFETCH(QStringList, domainTags);
    QFETCH(QStringList, addressTags);

    QVERIFY(QDir().mkpath(rulePath()));
    for (const QString &name : added)
        QVERIFY(writeFile(rulePath(name), "user data"));

    // One definition per *.srs file; its order is the directory's, so the rules must follow it.
    const QJsonObject route = createRoute("proxy");
    const QStringList listed = strings(route["rule_set"], "tag");
    QCOMPARE(QSet<QString>(listed.begin(), listed.end()),
        QSet<QString>(domainTags.begin(), domainTags.end())
            + QSet<QString>(addressTags.begin(), addressTags.end()));
    const auto inListingOrder = [&listed](const QStringList &tags) {
        QStringList ordered;
        for (const QString &tag : listed) {
            if (tags.contains(tag))
                ordered.append(tag);
        }
        return ordered;
    };
    QCOMPARE(strings(route["rules"][2]["rule_set"]), inListingOrder(domainTags));
    QCOMPARE(strings(route["rules"][3]["rule_set"]), inListingOrder(addressTags));
    QCOMPARE(strings(createDNS()["rules"][1]["rule_set"]), inListingOrder(domainTags));
    for (const QString &name : added)
        QCOMPARE(readFile(rulePath(name)), QByteArray("user data"));
}

void TestRuleDirectory::freshProfile()
{
    const QStringList builtIn = QDir(":/rules").entryList(QDir::Files);
    QVERIFY(!QDir(rulePath()).exists());
    for (int round = 0; round < 2; ++round) {
        // Deleted ones come back.
        QCOMPARE(createRoute("proxy")["rule_set"].toArray().size(), builtIn.size());
        for (const QString &name : builtIn) {
            QCOMPARE(readFile(rulePath(name)), readFile(":/rules/" + name));
            const auto permissions = QFile::permissions(rulePath(name))
                & ~(QFileDevice::ReadUser | QFileDevice::WriteUser | QFileDevice::ExeUser);
            QCOMPARE(permissions, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
            QVERIFY(QFile::remove(rulePath(name)));
        }
    }
}

void TestRuleDirectory::changedFileLeftAlone()
{
    QVERIFY(QDir().mkpath(rulePath()));
    QVERIFY(writeFile(rulePath("geoip-cn.srs"), "older copy"));
    QFile::setPermissions(rulePath("geoip-cn.srs"), QFileDevice::ReadOwner);
    createDNS();
    createRoute("proxy");
    QCOMPARE(readFile(rulePath("geoip-cn.srs")), QByteArray("older copy"));
    QCOMPARE(QFile::permissions(rulePath("geoip-cn.srs")) & QFileDevice::WriteOwner,
        QFileDevice::Permissions());
    QCOMPARE(readFile(rulePath("geoip-ir.srs")), readFile(":/rules/geoip-ir.srs"));
}

// A folder that cannot be made leaves nothing to define or reference; neither section fails.
void TestRuleDirectory::noRuleFiles()
{
    QVERIFY(QDir().mkpath(QStandardPaths::writableLocation(QStandardPaths::AppDataLocation)));
    QVERIFY(writeFile(rulePath(), "not a folder"));

    const QJsonObject route = createRoute("proxy");
    QVERIFY(!route.contains(QLatin1String("rule_set")));
    QCOMPARE(route["rules"].toArray().size(), 2);
    const QJsonArray dnsRules = createDNS()["rules"].toArray();
    QCOMPARE(dnsRules.size(), 2);
    QCOMPARE(dnsRules.at(1)["server"].toString(), "dns_fakeip");
}

QTEST_GUILESS_MAIN(TestRuleDirectory)
#include "tst_ruledirectory.moc"
