#include "config/dnsconfig.h"
#include "config/routeconfig.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonObject>
#include <QStandardPaths>
#include <QtTest>

namespace {

const QStringList builtIn {"geoip-cn.srs", "geoip-ir.srs", "geoip-ru.srs", "geosite-cn.srs"};

QString ruleDirectory()
{
    return QStandardPaths::writableLocation(QStandardPaths::AppDataLocation) + QDir::separator()
        + "rules";
}

QString rulePath(const QString &name)
{
    return ruleDirectory() + QDir::separator() + name;
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

QStringList strings(const QJsonValue &value)
{
    QStringList list;
    for (const QJsonValue &item : value.toArray())
        list.append(item.toString());
    return list;
}

QStringList sorted(QStringList list)
{
    list.sort();
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
    QCOMPARE(sorted(QDir(":/rules").entryList(QDir::Files)), builtIn);
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
    QTest::newRow("built-in only") << QStringList() << QStringList {"geosite-cn"} << geoip;
    QTest::newRow("geosite-ads.srs joins both sections")
        << QStringList {"geosite-ads.srs"} << QStringList {"geosite-ads", "geosite-cn"} << geoip;
    QTest::newRow("geoip-private.srs and two extensions")
        << QStringList {"geoip-private.srs", "geosite-a.b.srs", "notes.txt"}
        << QStringList {"geosite-a.b", "geosite-cn"}
        << QStringList {"geoip-cn", "geoip-ir", "geoip-private", "geoip-ru"};
}

void TestRuleDirectory::sections()
{
    QFETCH(QStringList, added);
    QFETCH(QStringList, domainTags);
    QFETCH(QStringList, addressTags);

    QVERIFY(QDir().mkpath(ruleDirectory()));
    for (const QString &name : added)
        QVERIFY(writeFile(rulePath(name), "user data"));

    const QJsonObject route = createRoute("proxy");

    // One definition per *.srs file; its order is the directory's, so the rules must follow it.
    QStringList listed;
    QStringList definedNames;
    for (const QJsonValue &value : route[QLatin1String("rule_set")].toArray()) {
        const QJsonObject definition = value.toObject();
        const QString tag = definition[QLatin1String("tag")].toString();
        const QString name = tag + ".srs";
        QCOMPARE(definition,
            (QJsonObject {{"tag", tag}, {"type", "local"}, {"format", "binary"},
                {"path", ruleDirectory() + QLatin1Char('/') + name}}));
        listed.append(tag);
        definedNames.append(name);
    }
    QStringList expectedNames = builtIn + added.filter(".srs");
    QCOMPARE(sorted(definedNames), sorted(expectedNames));
    const auto inListingOrder = [&listed](const QStringList &tags) {
        QStringList ordered;
        for (const QString &tag : listed) {
            if (tags.contains(tag))
                ordered.append(tag);
        }
        return ordered;
    };

    // The rest of both sections is fixed and checked by the golden configuration test.
    const QJsonArray routeRules = route[QLatin1String("rules")].toArray();
    QCOMPARE(routeRules.size(), 4);
    QCOMPARE(strings(routeRules.at(2)[QLatin1String("rule_set")]), inListingOrder(domainTags));
    QCOMPARE(strings(routeRules.at(3)[QLatin1String("rule_set")]), inListingOrder(addressTags));
    QCOMPARE(routeRules.at(3)[QLatin1String("outbound")].toString(), "direct");
    const QJsonArray dnsRules = createDNS()[QLatin1String("rules")].toArray();
    QCOMPARE(dnsRules.size(), 3);
    QCOMPARE(strings(dnsRules.at(1)[QLatin1String("rule_set")]), inListingOrder(domainTags));

    for (const QString &name : added)
        QCOMPARE(readFile(rulePath(name)), QByteArray("user data"));
}

void TestRuleDirectory::freshProfile()
{
    QVERIFY(!QDir(ruleDirectory()).exists());
    QCOMPARE(createRoute("proxy")[QLatin1String("rule_set")].toArray().size(), 4);
    for (const QString &name : builtIn) {
        QCOMPARE(readFile(rulePath(name)), readFile(":/rules/" + name));
        const auto permissions = QFile::permissions(rulePath(name))
            & ~(QFileDevice::ReadUser | QFileDevice::WriteUser | QFileDevice::ExeUser);
        QCOMPARE(permissions, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
        QVERIFY(QFile::remove(rulePath(name)));
    }
    // Deleted ones come back.
    QCOMPARE(createRoute(QString())[QLatin1String("rule_set")].toArray().size(), 4);
    for (const QString &name : builtIn)
        QCOMPARE(readFile(rulePath(name)), readFile(":/rules/" + name));
}

void TestRuleDirectory::changedFileLeftAlone()
{
    QVERIFY(QDir().mkpath(ruleDirectory()));
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
    QVERIFY(writeFile(ruleDirectory(), "not a folder"));

    const QJsonObject route = createRoute("proxy");
    QVERIFY(!route.contains(QLatin1String("rule_set")));
    QCOMPARE(route[QLatin1String("rules")].toArray().size(), 2);
    const QJsonArray dnsRules = createDNS()[QLatin1String("rules")].toArray();
    QCOMPARE(dnsRules.size(), 2);
    QCOMPARE(dnsRules.at(1)[QLatin1String("server")].toString(), "dns_fakeip");
}

QTEST_GUILESS_MAIN(TestRuleDirectory)
#include "tst_ruledirectory.moc"
