// Support tickets against the development panel over HTTPS: the list request and its guard, a
// conversation from opening to closing, what failures report and leave in place, and the sign-out.
#include "panel/authhandler.h"
#include "panel/tickethandler.h"
#include "panelsuite.h"

#include <QTimer>

namespace {

const QString kList = QStringLiteral("/v1/public/ticket/list");
const QString kDetail = QStringLiteral("/v1/public/ticket/detail");
const QString kTicket = QStringLiteral("/v1/public/ticket/");
const QString kFollow = QStringLiteral("/v1/public/ticket/follow");
const QString kLogin = QStringLiteral("/v1/auth/login");
const QString kEmail = QStringLiteral("asker@example.test");

} // namespace

class TicketHandlerTest : public PanelSuite
{
    Q_OBJECT

private:
    int m_openTicket = 0;

private slots:
    void initTestCase();
    void listQuery_data();
    void listQuery();
    void conversation();
    void failures_data();
    void failures();
    void signOutForgetsTickets();
};

void TicketHandlerTest::initTestCase()
{
    PanelSuite::initTestCase();
    QVERIFY(m_panel.configure({{"ticket_auto_reply", false}}));
    QVERIFY(!m_panel.createUser(kEmail, kPassword).isEmpty());

    // One open and one closed ticket to list.
    const QByteArray token = m_panel.login(kEmail, kPassword);
    m_openTicket
        = m_panel.call("POST", kTicket, {{"title", "Open"}, {"description", "a"}}, token)["data"]
              .toObject()["id"]
              .toInt();
    const int closed
        = m_panel.call("POST", kTicket, {{"title", "Closed"}, {"description", "b"}}, token)["data"]
              .toObject()["id"]
              .toInt();
    QVERIFY(m_openTicket > 0 && closed > 0);
    m_panel.call("PUT", kTicket, {{"id", closed}, {"status", 4}}, token);
}

void TicketHandlerTest::listQuery_data()
{
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("titles");
    // The page's timers ask again while a slow list request waits: nothing more goes out.
    QTest::addColumn<bool>("askAgain");
    QTest::newRow("no status") << -1 << "Open" << false;
    QTest::newRow("status 4") << 4 << "Closed" << false;
    QTest::newRow("asked again while waiting") << -1 << "Open" << true;
}

void TicketHandlerTest::listQuery()
{
    QFETCH(int, status);
    QFETCH(QString, titles);
    QFETCH(bool, askAgain);
    AuthHandler auth;
    TicketHandler tickets(&auth);
    QVERIFY(auth.login(kEmail, kPassword));
    TestPanel::Fault slow;
    slow.delayMs = 300;
    QVERIFY(!askAgain || m_panel.setFault(kList, slow));
    QVERIFY(m_panel.resetCounters());
    QSignalSpy changed(&tickets, &TicketHandler::ticketsChanged);
    bool second = !askAgain;
    if (askAgain)
        QTimer::singleShot(50, &tickets, [&] { second = tickets.fetchTickets(1, 10, 4); });
    QVERIFY(tickets.fetchTickets(1, 50, status));
    QVERIFY(second);
    QCOMPARE(changed.size(), 1);
    QCOMPARE(m_panel.requestCount(kList), 1);

    QJsonObject query {{"page", "1"}, {"size", "50"}};
    if (status >= 0)
        query.insert("status", QString::number(status));
    QCOMPARE(m_panel.lastRequest(kList)["query"].toObject(), query);
    QStringList shown;
    for (int i = 0; i < tickets.ticketCount(); ++i)
        shown.append(tickets.getTicket(i)["subject"].toString());
    QCOMPARE(shown.join(','), titles);
    QCOMPARE(tickets.totalTickets(), int(shown.size()));
}

// Opening, answering and closing a ticket are the store road's; here what a follow-up carries
// and who counts as the user.
void TicketHandlerTest::conversation()
{
    AuthHandler auth;
    TicketHandler tickets(&auth);
    QVERIFY(auth.login(kEmail, kPassword));
    QSignalSpy created(&tickets, &TicketHandler::ticketCreated);
    QVERIFY(tickets.createTicket(QStringLiteral("Slow"), QStringLiteral("Nodes are slow")));
    const int id = created.value(0).value(0).toInt();
    QVERIFY(id > 0 && tickets.createFollow(id, QStringLiteral("Still slow")));
    QCOMPARE(sentBody(kFollow),
        QJsonObject({{"ticket_id", id}, {"from", "User"}, {"type", 1}, {"content", "Still slow"}}));
    const QJsonObject headers = m_panel.lastRequest(kFollow)["headers"].toObject();
    QCOMPARE(headers["content-type"].toString() + ' ' + headers["authorization"].toString(),
        "application/json " + auth.authToken());
    // Panels name the staff side differently; only "User" exactly is the user.
    QVERIFY(m_panel.replyToTicket(id, QStringLiteral("Looking"), QStringLiteral("Admin")));
    QVERIFY(m_panel.replyToTicket(id, QStringLiteral("Fixed"), QStringLiteral("user")));
    QVERIFY(tickets.fetchTicketDetail(id));
    QStringList conversation;
    for (const QVariant &follow : tickets.getFollows())
        conversation.append(follow.toMap()["content"].toString()
            + (follow.toMap()["is_admin"].toBool() ? "/staff" : "/me"));
    QCOMPARE(conversation, QStringList({"Still slow/me", "Looking/staff", "Fixed/staff"}));
}

void TicketHandlerTest::failures_data()
{
    // A fault on the operation's endpoint: an HTTP status, "msg:<text>", "malformed", or
    // "auth:<style>" (token refused in that style, saved password refused too).
    QTest::addColumn<QString>("operation");
    QTest::addColumn<QString>("fault");
    QTest::addColumn<QString>("error"); // empty: the operation succeeds all the same
    const auto row = [](const char *operation, const char *fault, const QString &error) {
        QTest::addRow("%s, %s", operation, fault) << operation << fault << error;
    };
    row("list", "malformed", "Failed to fetch tickets");
    row("list", "msg:unauthorized", kAuthExpired); // still refused after the renewal
    row("detail", "auth:login-first", QString::fromUtf8("请先登录")); // only the list renews
    row("reply", "msg:", "Failed to create reply");
    row("close", "502", "Server error, please try again later");
    row("close", "msg:No", ""); // the body of a close is not read
}

void TicketHandlerTest::failures()
{
    QFETCH(QString, operation);
    QFETCH(QString, fault);
    QFETCH(QString, error);
    AuthHandler auth;
    TicketHandler tickets(&auth);
    QVERIFY(auth.login(kEmail, kPassword));
    QVERIFY(tickets.fetchTickets(1, 5, -1));
    QVERIFY(tickets.fetchTicketDetail(m_openTicket));
    const QVariantMap listed = tickets.getTicket(0);
    const QVariantMap detail = tickets.getDetailTicket();
    const int total = tickets.totalTickets();

    if (fault.startsWith("auth:")) {
        QVERIFY(m_panel.setAuthStyle(fault.mid(5)));
        QVERIFY(m_panel.revokeTokens(kEmail));
        QVERIFY(m_panel.setFault(kLogin, QStringLiteral("msg:Wrong password")));
    } else {
        TestPanel::Fault injected;
        if (fault.startsWith("msg:"))
            injected.msg = fault.mid(4);
        injected.status = fault.toInt();
        injected.body = fault == "malformed" ? fault : QString();
        const QString path = operation == "list" ? kList
            : operation == "detail"              ? kDetail
            : operation == "reply"               ? kFollow
                                                 : kTicket;
        injected.method = operation == "close" ? "PUT" : "";
        QVERIFY(m_panel.setFault(path, injected));
    }

    QSignalSpy failed(&tickets, &TicketHandler::operationFailed);
    QSignalSpy changed(&tickets, &TicketHandler::ticketsChanged);
    const bool result = operation == "list" ? tickets.fetchTickets(1, 5, -1)
        : operation == "detail"             ? tickets.fetchTicketDetail(m_openTicket)
        : operation == "reply"              ? tickets.createFollow(m_openTicket, "R")
                                            : tickets.closeTicket(m_openTicket);
    QCOMPARE(result, error.isEmpty());
    QCOMPARE(failed.value(0).value(0).toString(), error);
    QCOMPARE(changed.size(), 0);
    QCOMPARE(tickets.getTicket(0), listed);
    QCOMPARE(tickets.totalTickets(), total);
    QCOMPARE(tickets.getDetailTicket(), detail);
    QVERIFY(!tickets.isLoading());
}

void TicketHandlerTest::signOutForgetsTickets()
{
    AuthHandler auth;
    TicketHandler tickets(&auth);
    QSignalSpy changed(&tickets, &TicketHandler::ticketsChanged);
    QVERIFY(auth.login(kEmail, kPassword));
    auth.logout();
    QCOMPARE(changed.size(), 0); // nothing was fetched, nothing to forget

    // An opened ticket alone is forgotten too.
    QVERIFY(auth.login(kEmail, kPassword));
    QVERIFY(tickets.fetchTicketDetail(m_openTicket));
    auth.logout();
    QCOMPARE(changed.size(), 1);
    QCOMPARE(tickets.getDetailTicket()["id"].toInt(), 0);

    QVERIFY(auth.login(kEmail, kPassword));
    QVERIFY(tickets.fetchTickets(1, 20));
    QVERIFY(tickets.fetchTicketDetail(m_openTicket));
    changed.clear();
    auth.logout();
    QCOMPARE(changed.size(), 1);
    QCOMPARE(tickets.ticketCount() + tickets.totalTickets(), 0);
    QCOMPARE(tickets.getDetailTicket()["id"].toInt(), 0);
    QVERIFY(!tickets.fetchTickets());
}

QTEST_GUILESS_MAIN(TicketHandlerTest)
#include "tst_tickethandler.moc"
