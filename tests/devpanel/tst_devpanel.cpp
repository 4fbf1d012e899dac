// End-to-end over HTTPS: the development panel as a client sees it. Its fault switches are proven
// by the client suites that rely on them.
#include "testpanel.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QSignalSpy>
#include <QSslConfiguration>
#include <QTest>
#include <QUrl>

namespace {

QJsonObject dataOf(const QJsonObject &reply)
{
    return reply.value("data").toObject();
}

QString msgOf(const QJsonObject &reply)
{
    return reply.value("msg").toString();
}

// A raw request, for bodies that TestPanel::call() does not produce.
QNetworkReply *send(
    QNetworkAccessManager &network, TestPanel &panel, const QString &path, const QByteArray &body)
{
    QNetworkRequest request(panel.url(path));
    QSslConfiguration ssl = QSslConfiguration::defaultConfiguration();
    ssl.addCaCertificate(panel.certificate());
    request.setSslConfiguration(ssl);
    request.setHeader(QNetworkRequest::ContentTypeHeader, QByteArrayLiteral("application/json"));
    return network.post(request, body);
}

} // namespace

class DevPanelTest : public QObject
{
    Q_OBJECT

private:
    TestPanel m_panel;
    int m_users = 0;

    // A new account with a token, for tests that need a clean user.
    QByteArray newUser(QString *email = nullptr, qint64 balance = 0)
    {
        const QString address = QStringLiteral("user%1@example.test").arg(++m_users);
        if (email)
            *email = address;
        return m_panel.createUser(address, "secret1", balance)["token"].toString().toUtf8();
    }
    QJsonObject post(const QString &path, const QJsonObject &body, const QByteArray &token = {})
    {
        return dataOf(m_panel.call("POST", path, body, token));
    }
    QJsonObject get(const QString &path, const QByteArray &token = {})
    {
        return dataOf(m_panel.call("GET", path, {}, token));
    }
    QString order(const QByteArray &token, int plan, int quantity, int payment)
    {
        return post("/v1/public/order/purchase",
            {{"subscribe_id", plan}, {"quantity", quantity}, {"payment", payment}}, token)
            .value("order_no")
            .toString();
    }
    int orderStatus(const QByteArray &token, const QString &orderNo)
    {
        return get("/v1/public/order/detail?order_no=" + orderNo, token).value("status").toInt(-1);
    }
    QJsonArray subscriptions(const QByteArray &token)
    {
        return get("/v1/public/user/subscribe", token).value("list").toArray();
    }
    // The node links served for a subscription token, decoded, and the HTTP status.
    QStringList links(const QString &subscribeToken, int *status = nullptr)
    {
        QByteArray body;
        m_panel.call("GET", "/api/subscribe?token=" + subscribeToken, {}, {}, status, &body);
        return QString::fromUtf8(QByteArray::fromBase64(body)).split(QLatin1Char('\n'));
    }

private slots:
    void initTestCase()
    {
        QVERIFY2(m_panel.start({"--seed", "demo"}), qPrintable(m_panel.lastError()));
    }

    void init() { QVERIFY2(m_panel.reset(), qPrintable(m_panel.lastError())); }

    void registerWithInvite()
    {
        const QString email = "new.person@example.test";
        const QString invite
            = m_panel.createUser("inviter@example.test", "secret1")["refer_code"].toString();
        QVERIFY(!invite.isEmpty());

        QVERIFY(!post("/v1/common/send_code", {{"email", email}, {"type", 1}}).contains("code"));
        const QString code = m_panel.latestCode(email, 1);
        QCOMPARE(code.size(), 6);

        QJsonObject registration {{"email", email}, {"identifier", email},
            {"password", "first-pass"}, {"domain", "qivro"}, {"code", code},
            {"invite", "NOSUCHCODE"}};
        QCOMPARE(
            msgOf(m_panel.call("POST", "/v1/auth/register", registration)), "Invalid invite code");
        registration["invite"] = invite;
        const QByteArray token
            = post("/v1/auth/register", registration)["token"].toString().toUtf8();
        // The code is spent, and the address is taken.
        QCOMPARE(msgOf(m_panel.call("POST", "/v1/auth/register", registration)),
            "This email is already registered");

        QVERIFY(get("/v1/public/user/info", token)["referer_id"].toInt() > 0);
        QVERIFY(!m_panel.login(email, "first-pass").isEmpty());
    }

    // What the payment takes from the balance is the store road's.
    void payFromBalance()
    {
        const QByteArray token = newUser(nullptr, 1500);
        const QString checkout = "/v1/public/portal/order/checkout";
        QCOMPARE(msgOf(m_panel.call("POST", checkout, {{"orderNo", order(token, 2, 1, 1)}}, token)),
            "Insufficient balance");
        const QString orderNo = order(token, 1, 1, 1);
        QCOMPARE(post(checkout, {{"orderNo", orderNo}}, token)["type"].toString(), "balance");
        QCOMPARE(orderStatus(token, orderNo), 5);
    }

    void claimFreePlanWithCooldown()
    {
        const QByteArray token = newUser();
        const QString claim = "/v1/public/subscribe/claim_free";
        QCOMPARE(post(claim, {}, token)["success"].toBool(), true);
        QCOMPARE(subscriptions(token)[0].toObject()["is_try_out"].toBool(), true);
        QVERIFY(m_panel.setClockOffset(3600));
        QJsonObject data = post(claim, {}, token);
        QCOMPARE(data["success"].toBool(), false);
        // A second may pass between the claim and the check.
        const int remaining = data["remaining_time"].toInt();
        QVERIFY2(remaining <= 82800 && remaining >= 82795, qPrintable(QString::number(remaining)));
        QVERIFY(m_panel.setClockOffset(86400));
        QCOMPARE(post(claim, {}, token)["success"].toBool(), true);
        QCOMPARE(subscriptions(token).size(), 1);
    }

    void premiumCarriesEveryLinkKind()
    {
        QString email;
        newUser(&email);
        QSet<QString> schemes;
        for (const QString &line : links(m_panel.grantSubscription(email, 2)["token"].toString()))
            schemes.insert(line.section("://", 0, 0));
        QCOMPARE(schemes, (QSet<QString> {"ss", "vless", "hysteria2", "hysteria", "hy2"}));

        int status = 0;
        links("unknown", &status);
        QCOMPARE(status, 404);
        links(m_panel.grantSubscription(email, 1, 1000)["token"].toString(), &status);
        QCOMPARE(status, 403);
    }

    void badInputIsRefused_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<QString>("msg");
        const char *const send = "/v1/common/send_code";
        QTest::newRow("malformed")
            << "/v1/auth/login" << QByteArray("{\"email\":") << "Invalid JSON: unterminated object";
        QTest::newRow("missing") << send << QByteArray(R"({"email":"a@b.cd"})")
                                 << "Missing field: type";
        QTest::newRow("oversized")
            << "/v1/auth/login" << QByteArray(70000, ' ') << "Request body too large";
    }

    void badInputIsRefused()
    {
        QFETCH(QString, path);
        QFETCH(QByteArray, body);
        QFETCH(QString, msg);
        QNetworkAccessManager network;
        std::unique_ptr<QNetworkReply> reply(send(network, m_panel, path, body));
        QSignalSpy finished(reply.get(), &QNetworkReply::finished);
        QVERIFY(finished.wait(5000));
        QCOMPARE(msgOf(QJsonDocument::fromJson(reply->readAll()).object()), msg);
        QCOMPARE(msgOf(m_panel.call("GET", "/v1/common/site/config")), "success");
        // The admin API wants its key.
        int status = 0;
        m_panel.call("POST", "/admin/reset", {}, {}, &status);
        QCOMPARE(status, 403);
    }
};

QTEST_GUILESS_MAIN(DevPanelTest)
#include "tst_devpanel.moc"
