// The remembered node choice per subscription: keys in the settings file, what each stored form
// reads back as, and the node chosen after connecting.
#include "authhandler.h"
#include "databasehandler.h"
#include "subscribehandler.h"
#include "subscriptionhandler.h"

#include <QCoreApplication>
#include <QSet>
#include <QSettings>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

namespace {

// Its UTF-8 length is not a multiple of 3, so its Base64 form ends in "=".
const QString kUrl = QStringLiteral("https://panel.test/api/subscribe?token=abcd");
const QString kOtherUrl = QStringLiteral("https://panel.test/api/subscribe?token=efgh");

QSettings settings()
{
    return QSettings(QSettings::IniFormat, QSettings::UserScope, QStringLiteral("qivro"),
        QStringLiteral("qivro"));
}

QString paddedKey(const QString &url)
{
    return QStringLiteral("Service/LastSelection/")
        + QString::fromLatin1(url.toUtf8().toBase64(QByteArray::Base64UrlEncoding));
}

} // namespace

class RememberedSelectionTest : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_settingsDir;
    std::unique_ptr<DatabaseHandler> m_database;
    std::unique_ptr<SubscriptionHandler> m_store;
    std::unique_ptr<AuthHandler> m_auth;
    std::unique_ptr<SubscribeHandler> m_handler;

private slots:
    void initTestCase();
    void init();
    void settingsKey_data();
    void settingsKey();
    void recall_data();
    void recall();
    void storing();
};

void RememberedSelectionTest::initTestCase()
{
    QStandardPaths::setTestModeEnabled(true);
    QCoreApplication::setOrganizationName(QStringLiteral("qivro"));
    QCoreApplication::setApplicationName(QStringLiteral("qivro"));
    QVERIFY(m_settingsDir.isValid());
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, m_settingsDir.path());
    m_database = std::make_unique<DatabaseHandler>();
    m_store = std::make_unique<SubscriptionHandler>(*m_database);
    m_auth = std::make_unique<AuthHandler>();
    m_handler = std::make_unique<SubscribeHandler>(m_auth.get(), m_store.get());
    QVERIFY(paddedKey(kUrl).endsWith(QLatin1Char('=')));
}

void RememberedSelectionTest::init()
{
    QSettings store = settings();
    store.remove(QStringLiteral("Service"));
}

void RememberedSelectionTest::settingsKey_data()
{
    QTest::addColumn<QString>("url");
    QTest::addColumn<QString>("key");
    QTest::newRow("padding dropped")
        << kUrl
        << "Service/LastSelection/"
           "aHR0cHM6Ly9wYW5lbC50ZXN0L2FwaS9zdWJzY3JpYmU_dG9rZW49YWJjZA";
    // "?>" encodes to "Pz4" in the standard alphabet's "+/" positions: "-" and "_" here.
    QTest::newRow("URL-safe alphabet") << "a?>~"
                                       << "Service/LastSelection/YT8-fg";
    QTest::newRow("empty") << ""
                           << "";
}

void RememberedSelectionTest::settingsKey()
{
    QFETCH(QString, url);
    QFETCH(QString, key);
    QCOMPARE(selectionSettingsKey(url), key);
}

void RememberedSelectionTest::recall_data()
{
    QTest::addColumn<QString>("where"); // "key", "legacy", "both" (legacy holds "[[auto]]") or ""
    QTest::addColumn<QString>("stored");
    QTest::addColumn<QString>("cluster"); // rememberedClusterForSubscription
    QTest::addColumn<QStringList>("tags");
    QTest::addColumn<QStringList>("choices"); // every one must come up, nothing else
    QTest::addColumn<bool>("autoSelected");
    const auto u = [](const char *text) { return QString::fromUtf8(text); };
    const auto row
        = [&](const char *name, const char *where, const char *stored, const char *cluster,
              const QStringList &tags, const char *choices, bool autoSelected) {
              QTest::newRow(name) << where << u(stored) << u(cluster) << tags
                                  << u(choices).split('|') << autoSelected;
          };
    const QStringList tags {u("日本-01"), u("香港-01"), u("日本-03"), u("美国-02 vip")};
    row("nothing stored", "", "", "", tags, "美国-02 vip", true);
    row("automatic", "key", "[[auto]]", "", tags, "美国-02 vip", true);
    row("cluster", "key", "[[cluster]]日本", "日本", tags, "日本-01|日本-03", false);
    row("vanished, no VIP", "key", "[[cluster]]德国", "德国", tags.mid(0, 2), "日本-01|香港-01",
        true);
    row("plain tag", "key", "香港-01", "香港", tags, "香港-01", false);
    row("plain tag, other case", "key", "美国-02 VIP", "美国", tags, "美国-02 vip", true);
    row("legacy key", "legacy", "[[cluster]]香港", "香港", tags, "香港-01", false);
    row("key before legacy", "both", "[[cluster]]香港", "香港", tags, "香港-01", false);
    row("no tags", "key", "[[cluster]]日本", "日本", {}, "", false);
}

void RememberedSelectionTest::recall()
{
    QFETCH(QString, where);
    QFETCH(QString, stored);
    QFETCH(QString, cluster);
    QFETCH(QStringList, tags);
    QFETCH(QStringList, choices);
    QFETCH(bool, autoSelected);
    {
        QSettings store = settings();
        if (where == QLatin1String("key") || where == QLatin1String("both"))
            store.setValue(selectionSettingsKey(kUrl), stored);
        if (where == QLatin1String("legacy"))
            store.setValue(paddedKey(kUrl), stored);
        if (where == QLatin1String("both"))
            store.setValue(paddedKey(kUrl), QStringLiteral("[[auto]]"));
    }

    QCOMPARE(m_handler->recallSelectionForSubscription(kUrl), stored);
    QCOMPARE(m_handler->rememberedAutoForSubscription(kUrl),
        stored.isEmpty() || stored == QLatin1String("[[auto]]"));
    QCOMPARE(m_handler->rememberedClusterForSubscription(kUrl), cluster);
    QSet<QString> seen;
    for (int draw = 0; draw < 200; ++draw) {
        bool wasAuto = !autoSelected;
        const QString tag = m_handler->chooseDefaultTagForSubscription(kUrl, tags, &wasAuto);
        QVERIFY2(choices.contains(tag), qPrintable(tag));
        QCOMPARE(wasAuto, autoSelected);
        seen.insert(tag);
    }
    QCOMPARE(seen.size(), choices.size());
    // Another subscription is not affected.
    QVERIFY(m_handler->rememberedAutoForSubscription(kOtherUrl));
}

void RememberedSelectionTest::storing()
{
    SubscribeHandler &handler = *m_handler;
    QSignalSpy changed(&handler, &SubscribeHandler::rememberedSelectionChanged);
    const int start = handler.rememberedSelectionRevision();

    handler.rememberTagSelection(kUrl, QString::fromUtf8(" 日本 -03"));
    QCOMPARE(settings().value(selectionSettingsKey(kUrl)).toString(),
        QString::fromUtf8("[[cluster]]日本"));
    QCOMPARE(handler.rememberedSelectionRevision(), start + 1);
    QCOMPARE(handler.rememberedClusterForSubscription(kUrl), QString::fromUtf8("日本"));
    QVERIFY(!handler.rememberedAutoForSubscription(kUrl));

    // The same value again still counts as a change.
    handler.rememberTagSelection(kUrl, QString::fromUtf8("日本-01"));
    QCOMPARE(handler.rememberedSelectionRevision(), start + 2);

    handler.rememberAutoSelection(kUrl);
    QCOMPARE(settings().value(selectionSettingsKey(kUrl)).toString(), QStringLiteral("[[auto]]"));
    QVERIFY(handler.rememberedAutoForSubscription(kUrl));
    QCOMPARE(handler.rememberedSelectionRevision(), start + 3);

    // Nothing to store: a tag with an empty cluster, or no subscription.
    handler.rememberTagSelection(kUrl, QStringLiteral("-01"));
    handler.rememberTagSelection(QString(), QStringLiteral("jp-01"));
    handler.rememberAutoSelection(QString());
    QCOMPARE(handler.rememberedSelectionRevision(), start + 3);
    QCOMPARE(changed.size(), 3);
    QVERIFY(handler.rememberedAutoForSubscription(QString()));
    QCOMPARE(handler.recallSelectionForSubscription(QString()), QString());
    QCOMPARE(settings().value(selectionSettingsKey(kUrl)).toString(), QStringLiteral("[[auto]]"));

    // The interface the tunnel controller calls through.
    SelectionMemory &memory = handler;
    memory.rememberTagSelection(kUrl, QStringLiteral("hk-2"));
    bool wasAuto = true;
    QCOMPARE(memory.chooseDefaultTagForSubscription(
                 kUrl, {QStringLiteral("jp-1"), QStringLiteral("hk-1")}, &wasAuto),
        QStringLiteral("hk-1"));
    QVERIFY(!wasAuto);
}

QTEST_GUILESS_MAIN(RememberedSelectionTest)
#include "tst_rememberedselection.moc"
