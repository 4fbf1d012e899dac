// Announcements against the development panel over HTTPS: which ones each list keeps and in
// what order, the automatic pop-up fetch after a sign-in, and the lists on sign-out.
#include "panel/announcementhandler.h"
#include "panel/authhandler.h"
#include "panelsuite.h"

#include <QTimer>

namespace {

const QString kList = QStringLiteral("/v1/public/announcement/list");
const QString kEmail = QStringLiteral("reader@example.test");

// The titles of this suite's announcements, in list order; the panel brings some of its own.
QString titles(const AnnouncementHandler &news, bool popup)
{
    QStringList out;
    const int count = popup ? news.popupAnnouncementCount() : news.pageAnnouncementCount();
    for (int i = 0; i < count; ++i) {
        const QString title = (popup ? news.getPopupAnnouncement(i) : news.getPageAnnouncement(i))
                                  .value("title")
                                  .toString();
        if (title.size() == 1)
            out.append(title);
    }
    return out.join(QString());
}

} // namespace

class AnnouncementHandlerTest : public PanelSuite
{
    Q_OBJECT

private slots:
    void initTestCase();
    void filteringAndOrder();
    void oneRequestAtATime();
    void signOutEmptiesLists();
    void popupFetchAfterSignIn_data();
    void popupFetchAfterSignIn();
};

void AnnouncementHandlerTest::initTestCase()
{
    PanelSuite::initTestCase();
    QVERIFY(!m_panel.createUser(kEmail, kPassword).isEmpty());

    // Added oldest first; the panel lists the newest first: A, P, B, H, C, D.
    for (const QJsonObject &announcement : {
             QJsonObject {{"title", "D"}, {"pinned", true}, {"popup", true}},
             QJsonObject {{"title", "C"}},
             QJsonObject {{"title", "H"}, {"show", false}, {"pinned", true}, {"popup", true}},
             QJsonObject {{"title", "B"}, {"pinned", true}},
             QJsonObject {{"title", "P"}, {"popup", true}},
             QJsonObject {{"title", "A"}},
         })
        QVERIFY2(m_panel.addAnnouncement(announcement) > 0, qPrintable(m_panel.lastError()));
}

void AnnouncementHandlerTest::filteringAndOrder()
{
    AuthHandler auth;
    AnnouncementHandler news(&auth);
    QVERIFY(auth.login(kEmail, kPassword));
    QSignalSpy page(&news, &AnnouncementHandler::pageAnnouncementsChanged);
    QSignalSpy failed(&news, &AnnouncementHandler::operationFailed);

    QVERIFY(news.fetchPageAnnouncements());
    QCOMPARE(titles(news, false), QStringLiteral("BDAPC"));
    QCOMPARE(page.size(), 1);
    QVERIFY(news.fetchPopupAnnouncements(1, 5));
    QCOMPARE(titles(news, true), QStringLiteral("PD")); // server order, hidden one left out
    const QJsonObject sent = m_panel.lastRequest(kList);
    QCOMPARE(sent.value("query").toObject(),
        QJsonObject({{"page", "1"}, {"size", "5"}, {"popup", "true"}}));
    QCOMPARE(sent.value("headers")["authorization"].toString(), auth.authToken());
    QCOMPARE(news.getPopupAnnouncement(0).value("created_at").typeId(), QMetaType::Double);

    // A refusal without msg leaves the list as it was.
    QVERIFY(m_panel.setFault(kList, QStringLiteral("msg:")));
    QVERIFY(!news.fetchPageAnnouncements());
    QCOMPARE(failed.value(0).value(0).toString(), QStringLiteral("Failed to fetch announcements"));
    QCOMPARE(page.size(), 1);
    QCOMPARE(titles(news, false), QStringLiteral("BDAPC"));
    QVERIFY(!news.isLoading());
    auth.logout();
    QVERIFY(!news.fetchPageAnnouncements());
    QCOMPARE(failed.value(1).value(0).toString(), QStringLiteral("Not logged in"));
}

// The page asks while the automatic pop-up fetch still waits: it is turned away quietly.
void AnnouncementHandlerTest::oneRequestAtATime()
{
    AuthHandler auth;
    AnnouncementHandler news(&auth);
    QVERIFY(auth.login(kEmail, kPassword));
    TestPanel::Fault slow;
    slow.delayMs = 400;
    QVERIFY(m_panel.setFault(kList, slow));
    QVERIFY(m_panel.resetCounters());

    bool pageResult = true;
    QTimer::singleShot(50, &news, [&] { pageResult = news.fetchPageAnnouncements(); });
    QVERIFY(news.fetchPopupAnnouncements());
    QVERIFY(!pageResult);
    QCOMPARE(news.pageAnnouncementCount(), 0);
    QCOMPARE(m_panel.requestCount(kList), 1);
}

void AnnouncementHandlerTest::signOutEmptiesLists()
{
    AuthHandler auth;
    AnnouncementHandler news(&auth);
    QVERIFY(auth.login(kEmail, kPassword));
    QVERIFY(news.fetchPageAnnouncements());
    QVERIFY(news.fetchPopupAnnouncements());
    QSignalSpy popups(&news, &AnnouncementHandler::popupAnnouncementsChanged);
    QSignalSpy page(&news, &AnnouncementHandler::pageAnnouncementsChanged);
    auth.logout();
    QCOMPARE(news.popupAnnouncementCount() + news.pageAnnouncementCount(), 0);
    QCOMPARE(popups.size(), 1);
    QCOMPARE(page.size(), 1);

    // Signed in again with the automatic pop-up fetch refused: only the page list holds entries,
    // so only its signal comes; a second sign-out has nothing to empty.
    QVERIFY(m_panel.setFault(kList, QStringLiteral("msg:Not now"), 1));
    QSignalSpy failed(&news, &AnnouncementHandler::operationFailed);
    QVERIFY(auth.login(kEmail, kPassword));
    QVERIFY(failed.wait());
    QVERIFY(news.fetchPageAnnouncements());
    popups.clear();
    page.clear();
    auth.logout();
    auth.logout();
    QCOMPARE(popups.size(), 0);
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
        QVERIFY(earlier.login(kEmail, kPassword));
        QVERIFY(m_panel.resetCounters());
        auth.initializeSession();
        QVERIFY(auth.isLoggedIn());
    } else {
        QVERIFY(m_panel.resetCounters());
        QVERIFY(auth.login(kEmail, kPassword));
    }
    // Queued: nothing fetched before the event loop turns.
    QVERIFY(!news.isLoading());
    QCOMPARE(popups.size(), 0);
    QVERIFY(popups.wait());
    QCOMPARE(titles(news, true), QStringLiteral("PD"));
    QTest::qWait(0);
    QCOMPARE(m_panel.requestCount(kList), 1);
}

QTEST_GUILESS_MAIN(AnnouncementHandlerTest)
#include "tst_announcementhandler.moc"
