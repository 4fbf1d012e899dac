// Announcements against the development panel over HTTPS: which ones each list keeps and in
// what order, the automatic pop-up fetch after a sign-in, and the lists on sign-out.
#include "announcementhandler.h"
#include "apiendpoints.h"
#include "authhandler.h"
#include "deployment.h"
#include "testpanel.h"

#include <QCoreApplication>
#include <QSettings>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

namespace {

const QString kList = QStringLiteral("/v1/public/announcement/list");
const QString kPassword = QStringLiteral("news-reader-1");

// The titles of this suite's announcements, in list order; the panel brings some of its own.
QStringList titles(const AnnouncementHandler &news, bool popup)
{
    static const QStringList ours {"A", "B", "C", "D", "H", "P"};
    QStringList out;
    const int count = popup ? news.popupAnnouncementCount() : news.pageAnnouncementCount();
    for (int i = 0; i < count; ++i) {
        const QVariantMap entry
            = popup ? news.getPopupAnnouncement(i) : news.getPageAnnouncement(i);
        if (ours.contains(entry.value("title").toString()))
            out.append(entry.value("title").toString());
    }
    return out;
}

} // namespace

class AnnouncementHandlerTest : public QObject
{
    Q_OBJECT

private:
    TestPanel m_panel;
    QTemporaryDir m_settingsDir;
    QString m_email = QStringLiteral("reader@example.test");

private slots:
    void initTestCase();
    void init();
    void filteringAndOrder();
    void failures_data();
    void failures();
    void oneRequestAtATime();
    void signOutEmptiesLists();
    void popupFetchAfterSignIn_data();
    void popupFetchAfterSignIn();
};

void AnnouncementHandlerTest::initTestCase()
{
    QStandardPaths::setTestModeEnabled(true);
    QCoreApplication::setOrganizationName(QStringLiteral("qivro"));
    QCoreApplication::setApplicationName(QStringLiteral("qivro"));
    QVERIFY(m_settingsDir.isValid());
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, m_settingsDir.path());
    QVERIFY2(m_panel.start(), qPrintable(m_panel.lastError()));
    m_panel.exportClientEnvironment();
    ApiEndpoints::reload();
    QVERIFY(Deployment::trustExtraCaCertificate());
    QVERIFY(!m_panel.createUser(m_email, kPassword).isEmpty());

    // Added oldest first; the panel lists the newest first: A, P, B, H, C, D.
    const QList<QJsonObject> news {
        {{"title", "D"}, {"pinned", true}, {"popup", true}},
        {{"title", "C"}},
        {{"title", "H"}, {"show", false}, {"pinned", true}, {"popup", true}},
        {{"title", "B"}, {"pinned", true}},
        {{"title", "P"}, {"popup", true}},
        {{"title", "A"}},
    };
    for (const QJsonObject &announcement : news)
        QVERIFY2(m_panel.addAnnouncement(announcement) > 0, qPrintable(m_panel.lastError()));
}

void AnnouncementHandlerTest::init()
{
    QVERIFY2(m_panel.reset(), qPrintable(m_panel.lastError()));
}

void AnnouncementHandlerTest::filteringAndOrder()
{
    AuthHandler auth;
    AnnouncementHandler news(&auth);
    QVERIFY(auth.login(m_email, kPassword));
    QSignalSpy popups(&news, &AnnouncementHandler::popupAnnouncementsChanged);
    QSignalSpy page(&news, &AnnouncementHandler::pageAnnouncementsChanged);

    QVERIFY(news.fetchPageAnnouncements());
    QCOMPARE(titles(news, false), QStringList({"B", "D", "A", "P", "C"}));
    QCOMPARE(page.size(), 1);
    QVERIFY(news.fetchPopupAnnouncements(1, 5));
    // Not sorted: server order, hidden ones left out.
    QCOMPARE(titles(news, true), QStringList({"P", "D"}));
    QVariantMap p;
    for (int i = 0; i < news.popupAnnouncementCount() && p.isEmpty(); ++i) {
        if (news.getPopupAnnouncement(i).value("title") == QLatin1String("P"))
            p = news.getPopupAnnouncement(i);
    }
    QCOMPARE(p.value("show"), QVariant(true));
    QCOMPARE(p.value("popup"), QVariant(true));
    QCOMPARE(p.value("pinned"), QVariant(false));
    QCOMPARE(p.value("created_at").typeId(), QMetaType::Double);
    QVERIFY(p.value("created_at").toDouble() > 1.6e9);
    QVERIFY(news.getPopupAnnouncement(news.popupAnnouncementCount()).isEmpty());
    QVERIFY(news.getPageAnnouncement(-1).isEmpty());

    const QJsonObject query = m_panel.lastRequest(kList).value("query").toObject();
    QCOMPARE(query, QJsonObject({{"page", "1"}, {"size", "5"}, {"popup", "true"}}));
    QCOMPARE(m_panel.lastRequest(kList).value("headers").toObject().value("authorization"),
        QJsonValue(auth.authToken()));
}

void AnnouncementHandlerTest::failures_data()
{
    QTest::addColumn<QString>("kind"); // "signed out", an HTTP status, or a replacement msg
    QTest::addColumn<QString>("error");
    QTest::newRow("signed out") << "signed out"
                                << "Not logged in";
    QTest::newRow("refused") << "msg:Announcements are resting"
                             << "Announcements are resting";
    QTest::newRow("refused without msg") << "msg:"
                                         << "Failed to fetch announcements";
    QTest::newRow("server error") << "502"
                                  << "Server error, please try again later";
}

void AnnouncementHandlerTest::failures()
{
    QFETCH(QString, kind);
    QFETCH(QString, error);
    AuthHandler auth;
    AnnouncementHandler news(&auth);
    QVERIFY(auth.login(m_email, kPassword));
    QVERIFY(news.fetchPageAnnouncements());
    const QStringList before = titles(news, false);

    if (kind == QLatin1String("signed out")) {
        AuthHandler stranger;
        AnnouncementHandler signedOut(&stranger);
        QSignalSpy failed(&signedOut, &AnnouncementHandler::operationFailed);
        QVERIFY(!signedOut.fetchPopupAnnouncements());
        QCOMPARE(failed.value(0).value(0).toString(), error);
        return;
    }
    TestPanel::Fault fault;
    if (kind.startsWith(QLatin1String("msg:")))
        fault.msg = kind.mid(4);
    else
        fault.status = kind.toInt();
    QVERIFY(m_panel.setFault(kList, fault));

    QSignalSpy failed(&news, &AnnouncementHandler::operationFailed);
    QSignalSpy page(&news, &AnnouncementHandler::pageAnnouncementsChanged);
    QVERIFY(!news.fetchPageAnnouncements());
    QCOMPARE(failed.size(), 1);
    QCOMPARE(failed.at(0).at(0).toString(), error);
    QCOMPARE(page.size(), 0);
    QCOMPARE(titles(news, false), before);
    QVERIFY(!news.isLoading());
}

// The page asks while the automatic pop-up fetch still waits: it is turned away quietly.
void AnnouncementHandlerTest::oneRequestAtATime()
{
    AuthHandler auth;
    AnnouncementHandler news(&auth);
    QVERIFY(auth.login(m_email, kPassword));
    TestPanel::Fault slow;
    slow.delayMs = 400;
    QVERIFY(m_panel.setFault(kList, slow));
    QVERIFY(m_panel.resetCounters());

    QSignalSpy failed(&news, &AnnouncementHandler::operationFailed);
    bool pageResult = true;
    QTimer::singleShot(50, &news, [&] {
        QVERIFY(news.isLoading());
        pageResult = news.fetchPageAnnouncements();
    });
    QVERIFY(news.fetchPopupAnnouncements());
    QVERIFY(!pageResult);
    QCOMPARE(failed.size(), 0);
    QCOMPARE(news.pageAnnouncementCount(), 0);
    QCOMPARE(m_panel.requestCount(kList), 1);
}

void AnnouncementHandlerTest::signOutEmptiesLists()
{
    AuthHandler auth;
    AnnouncementHandler news(&auth);
    QVERIFY(auth.login(m_email, kPassword));
    QVERIFY(news.fetchPageAnnouncements());
    QVERIFY(news.fetchPopupAnnouncements());

    QSignalSpy popups(&news, &AnnouncementHandler::popupAnnouncementsChanged);
    QSignalSpy page(&news, &AnnouncementHandler::pageAnnouncementsChanged);
    auth.logout();
    QCOMPARE(news.popupAnnouncementCount(), 0);
    QCOMPARE(news.pageAnnouncementCount(), 0);
    QCOMPARE(popups.size(), 1);
    QCOMPARE(page.size(), 1);

    // Signed in again with the automatic pop-up fetch refused: only the page list holds entries,
    // so only its signal comes; a second sign-out has nothing to empty.
    TestPanel::Fault refused;
    refused.msg = QStringLiteral("Not now");
    refused.times = 1;
    QVERIFY(m_panel.setFault(kList, refused));
    QSignalSpy failed(&news, &AnnouncementHandler::operationFailed);
    QVERIFY(auth.login(m_email, kPassword));
    QVERIFY(failed.wait());
    QVERIFY(news.fetchPageAnnouncements());
    popups.clear();
    page.clear();
    auth.logout();
    QCOMPARE(popups.size(), 0);
    QCOMPARE(page.size(), 1);
    auth.logout();
    QCOMPARE(page.size(), 1);
}

void AnnouncementHandlerTest::popupFetchAfterSignIn_data()
{
    QTest::addColumn<bool>("restore"); // restore a stored session instead of signing in
    QTest::newRow("sign-in") << false;
    QTest::newRow("restored session") << true;
}

void AnnouncementHandlerTest::popupFetchAfterSignIn()
{
    QFETCH(bool, restore);
    AuthHandler auth;
    AnnouncementHandler news(&auth);
    QSignalSpy popups(&news, &AnnouncementHandler::popupAnnouncementsChanged);
    if (restore) {
        AuthHandler earlier;
        QVERIFY(earlier.login(m_email, kPassword));
        QVERIFY(m_panel.resetCounters());
        auth.initializeSession();
        QVERIFY(auth.isLoggedIn());
    } else {
        QVERIFY(m_panel.resetCounters());
        QVERIFY(auth.login(m_email, kPassword));
    }
    // Queued: nothing fetched before the event loop turns.
    QVERIFY(!news.isLoading());
    QCOMPARE(popups.size(), 0);
    QVERIFY(popups.wait());
    QCOMPARE(titles(news, true), QStringList({"P", "D"}));
    QTest::qWait(0);
    QCOMPARE(m_panel.requestCount(kList), 1);
    QCOMPARE(m_panel.lastRequest(kList).value("query").toObject(),
        QJsonObject({{"page", "1"}, {"size", "10"}, {"popup", "true"}}));
    QCOMPARE(popups.size(), 1);
}

QTEST_GUILESS_MAIN(AnnouncementHandlerTest)
#include "tst_announcementhandler.moc"
