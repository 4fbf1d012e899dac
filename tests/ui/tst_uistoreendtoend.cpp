// The account side of the real window, against the development panel's demo account: buying a
// plan with a coupon by test card, redeeming points, a support conversation and the
// announcements. Every step is a click or key press on the window; the test itself is the
// "system browser" that the payment page opens in.
#include "clientprofile.h"
#include "testpanel.h"
#include "windowdriver.h"

#include <QDateTime>
#include <QDesktopServices>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkRequest>
#include <QQmlNetworkAccessManagerFactory>
#include <QQuickItem>
#include <QQuickWindow>
#include <QTest>
#include <QtQml/qqmlextensionplugin.h>

Q_IMPORT_QML_PLUGIN(appclientPlugin)

namespace {

constexpr const char *kEmail = "demo@qivro.example";
constexpr const char *kPassword = "demo1234";

// Pictures the views fetch (payment method icons) may name the admin asset host, "admin." and the
// API host, which no resolver knows for a loopback panel: the run maps it to the panel itself and
// sends anything else to a closed loopback port, so nothing leaves the machine.
class LoopbackOnlyNetwork : public QNetworkAccessManager
{
public:
    using QNetworkAccessManager::QNetworkAccessManager;

protected:
    QNetworkReply *createRequest(
        Operation operation, const QNetworkRequest &request, QIODevice *data) override
    {
        QNetworkRequest kept(request);
        QUrl url = request.url();
        if (url.host() == QLatin1String("admin.127.0.0.1"))
            url.setHost(QStringLiteral("127.0.0.1"));
        if (url.scheme() != QLatin1String("qrc") && url.host() != QLatin1String("127.0.0.1"))
            url = QUrl(QStringLiteral("https://127.0.0.1:1/"));
        kept.setUrl(url);
        return QNetworkAccessManager::createRequest(operation, kept, data);
    }
};

class LoopbackOnlyFactory : public QQmlNetworkAccessManagerFactory
{
public:
    QNetworkAccessManager *create(QObject *parent) override
    {
        return new LoopbackOnlyNetwork(parent);
    }
};

// The menu's way of writing an expiry: the instant in UTC+8.
QString expiryText(qint64 seconds)
{
    return QDateTime::fromSecsSinceEpoch(seconds + 8 * 3600, Qt::UTC)
               .toString(QStringLiteral("yyyy-MM-dd HH:mm"))
        + QStringLiteral(" UTC+8");
}

} // namespace

class UiStoreEndToEndTest
    : public QObject
    , protected WindowDriver
{
    Q_OBJECT

public slots:
    // The "system browser": remembers the address instead of opening it.
    void openInBrowser(const QUrl &url) { m_openedUrls.append(url); }

private slots:
    void initTestCase();
    void cleanupTestCase();
    void signIn();
    void buyPlanWithCouponByCard();
    void redeemPoints();
    void supportConversation();
    void pinnedAnnouncementFirst();

private:
    bool openSection(int index);
    QJsonObject panelData(const QString &pathAndQuery);
    QJsonObject firstListed(const QString &pathAndQuery)
    {
        return panelData(pathAndQuery).value("list").toArray().at(0).toObject();
    }

    TestPanel m_panel;
    QByteArray m_token;
    LoopbackOnlyFactory m_networkFactory;
    QList<QUrl> m_openedUrls;
};

void UiStoreEndToEndTest::initTestCase()
{
    prepareFirstStart();
    QVERIFY2(m_panel.start({QStringLiteral("--seed"), QStringLiteral("demo")}),
        qPrintable(m_panel.lastError()));
    // Staff answers come from the test, so the conversation has to pick them up by itself.
    QVERIFY(m_panel.configure({{QStringLiteral("ticket_auto_reply"), false}}));
    // The panel spends gift credit before the balance; without any, a redemption shows in points.
    QVERIFY(!m_panel
                 .admin("POST", QStringLiteral("/admin/users/funds"),
                     {{QStringLiteral("email"), QString::fromLatin1(kEmail)},
                         {QStringLiteral("gift_amount"), 0}})
                 .isEmpty());
    QVERIFY(pointClientAt(m_panel));
    m_token = m_panel.login(QString::fromLatin1(kEmail), QString::fromLatin1(kPassword));
    QVERIFY(!m_token.isEmpty());
    QDesktopServices::setUrlHandler(QStringLiteral("https"), this, "openInBrowser");
    QDesktopServices::setUrlHandler(QStringLiteral("http"), this, "openInBrowser");
    QVERIFY(openWindow(this, &m_networkFactory));
}

void UiStoreEndToEndTest::cleanupTestCase()
{
    QDesktopServices::unsetUrlHandler(QStringLiteral("https"));
    QDesktopServices::unsetUrlHandler(QStringLiteral("http"));
    const QStringList warnings = qmlWarnings();
    closeWindow();
    QVERIFY2(warnings.isEmpty(), qPrintable(warnings.join(QLatin1Char('\n'))));
}

QJsonObject UiStoreEndToEndTest::panelData(const QString &pathAndQuery)
{
    return m_panel.call("GET", pathAndQuery, {}, m_token).value(QStringLiteral("data")).toObject();
}

bool UiStoreEndToEndTest::openSection(int index)
{
    return click(QStringLiteral("menuButton")) && click(QStringLiteral("menuItem%1").arg(index));
}

void UiStoreEndToEndTest::signIn()
{
    QVERIFY(WindowDriver::signIn(kEmail, kPassword));
}

void UiStoreEndToEndTest::buyPlanWithCouponByCard()
{
    const QJsonObject before = firstListed(QStringLiteral("/v1/public/user/subscribe"));
    QVERIFY(before.value("expire_time").toInteger() > 0);

    QVERIFY(openSection(1));
    QVERIFY(click(QStringLiteral("storePlanRow0_3")));
    QVERIFY(waitFor(QStringLiteral("checkoutPaymentMethod0")));
    QCOMPARE(find(QStringLiteral("checkoutPaymentMethod0"))->property("text").toString(),
        QStringLiteral("Test card"));
    QVERIFY(click(QStringLiteral("checkoutPaymentMethod0")));
    QVERIFY(type(QStringLiteral("checkoutCouponField"), QStringLiteral("WELCOME10")));
    QVERIFY(click(QStringLiteral("checkoutApplyCouponButton")));
    QVERIFY(waitFor(QStringLiteral("checkoutDiscount")));
    QVERIFY(textOf(QStringLiteral("checkoutDiscountValue")).startsWith(QStringLiteral("-¥")));
    m_panel.resetCounters();
    QVERIFY(click(QStringLiteral("checkoutSubmitButton")));

    // The payment page reaches the browser; paying there settles the order.
    QTRY_COMPARE_WITH_TIMEOUT(m_openedUrls.size(), 1, 15000);
    const QJsonObject order = m_panel.lastRequest(QStringLiteral("/v1/public/order/renewal"));
    const QJsonObject orderBody
        = QJsonDocument::fromJson(order.value("body").toString().toUtf8()).object();
    QCOMPARE(orderBody.value("coupon").toString(), QStringLiteral("WELCOME10"));
    QCOMPARE(orderBody.value("quantity").toInt(), 3);
    QVERIFY(waitFor(QStringLiteral("paymentOverlayReturnButton")));
    const QString payPath = m_openedUrls.constFirst().path();
    int status = 0;
    QByteArray page;
    m_panel.call("GET", payPath, {}, {}, &status, &page);
    QCOMPARE(status, 200);
    QVERIFY(page.contains("id=\"pay\""));
    m_panel.call("POST", payPath + QStringLiteral("/pay"), {}, {}, &status, &page);
    QCOMPARE(status, 200);

    QVERIFY(click(QStringLiteral("paymentOverlayOkButton")));
    QTRY_VERIFY(!find(QStringLiteral("paymentOverlay")));

    // Back on the connect page, the account shows the plan's new end.
    const qint64 expiry
        = firstListed(QStringLiteral("/v1/public/user/subscribe")).value("expire_time").toInteger();
    QVERIFY(expiry > before.value("expire_time").toInteger());
    QVERIFY(openSection(0));
    QVERIFY(click(QStringLiteral("menuButton")));
    QTRY_COMPARE_WITH_TIMEOUT(textOf(QStringLiteral("menuProfileDetail")),
        QStringLiteral("Valid until ") + expiryText(expiry), 10000);
    QVERIFY(click(QStringLiteral("menuCloseButton")));
}

void UiStoreEndToEndTest::redeemPoints()
{
    const double balance
        = panelData(QStringLiteral("/v1/public/user/info")).value("balance").toDouble();
    const double cost = firstListed(QStringLiteral("/v1/public/subscribe/list?language=zh-CN"))
                            .value("unit_price")
                            .toDouble();
    QVERIFY(balance >= cost && cost > 0);

    QVERIFY(openSection(3));
    QTRY_COMPARE(textOf(QStringLiteral("rewardPoints")), QString::number(balance / 100, 'f', 2));
    QVERIFY(click(QStringLiteral("rewardRedeemButton")));
    QVERIFY(click(QStringLiteral("checkoutSubmitButton")));
    QTRY_COMPARE_WITH_TIMEOUT(textOf(QStringLiteral("rewardPoints")),
        QString::number((balance - cost) / 100, 'f', 2), 15000);
    QCOMPARE(panelData(QStringLiteral("/v1/public/user/info")).value("balance").toDouble(),
        balance - cost);
}

void UiStoreEndToEndTest::supportConversation()
{
    QObject *tickets = contextObject("ticket");
    QVERIFY(openSection(2));
    QVERIFY(click(QStringLiteral("ticketCreateButton")));
    QVERIFY(type(QStringLiteral("newTicketSubjectField"), QStringLiteral("Slow in the evening")));
    QVERIFY(
        type(QStringLiteral("newTicketContentField"), QStringLiteral("Every node after 20:00.")));
    QVERIFY(click(QStringLiteral("newTicketSubmitButton")));
    QTRY_VERIFY_WITH_TIMEOUT(tickets->property("ticketCount").toInt() > 0, 10000);
    QVariantMap first;
    QMetaObject::invokeMethod(
        tickets, "getTicket", Q_RETURN_ARG(QVariantMap, first), Q_ARG(int, 0));
    const int id = first.value("id").toInt();
    QVERIFY(id > 0);

    QVERIFY(click(QStringLiteral("ticketRow%1").arg(id)));
    QTRY_COMPARE(
        textOf(QStringLiteral("ticketDetailSubject")), QStringLiteral("Slow in the evening"));
    // The staff answer arrives while the conversation is open.
    QVERIFY(m_panel.replyToTicket(id, QStringLiteral("Which country do you use?")));
    QVERIFY(waitFor(QStringLiteral("ticketMessage1"), 12000));
    QCOMPARE(find(QStringLiteral("ticketMessage1"))->property("fromStaff").toBool(), true);

    QVERIFY(type(QStringLiteral("ticketReplyField"), QStringLiteral("Japan")));
    QTest::keyClick(m_window, Qt::Key_Return);
    QVERIFY(waitFor(QStringLiteral("ticketMessage2")));
    QCOMPARE(find(QStringLiteral("ticketMessage2"))->property("content").toString(),
        QStringLiteral("Japan"));

    QVERIFY(click(QStringLiteral("ticketCloseButton")));
    QVERIFY(click(QStringLiteral("ticketCloseConfirmConfirmButton")));
    QVERIFY(waitFor(QStringLiteral("ticketClosedText")));
    QCOMPARE(
        panelData(QStringLiteral("/v1/public/ticket/detail?id=%1").arg(id)).value("status").toInt(),
        4);
    QVERIFY(click(QStringLiteral("ticketDetailBack")));
    QTRY_VERIFY(!find(QStringLiteral("ticketRow%1").arg(id)));
}

void UiStoreEndToEndTest::pinnedAnnouncementFirst()
{
    QString pinned;
    int shown = 0;
    for (const QJsonValue &value :
        panelData(QStringLiteral("/v1/public/announcement/list?page=1&size=50"))
            .value("announcements")
            .toArray()) {
        const QJsonObject item = value.toObject();
        if (!item.value("show").toBool())
            continue;
        ++shown;
        if (item.value("pinned").toBool())
            pinned = item.value("title").toString();
    }
    QVERIFY(!pinned.isEmpty() && shown > 1);

    QVERIFY(openSection(5));
    QVERIFY(waitFor(QStringLiteral("announcementRow%1").arg(shown - 1)));
    QCOMPARE(find(QStringLiteral("announcementRow0"))->property("title").toString(), pinned);
    QVERIFY(!find(QStringLiteral("announcementRow%1").arg(shown)));
    QVERIFY(click(QStringLiteral("announcementRow0")));
    QTRY_COMPARE(textOf(QStringLiteral("announcementDialogTitle")), pinned);
    QVERIFY(click(QStringLiteral("announcementDialogCloseButton")));
}

QTEST_MAIN(UiStoreEndToEndTest)
#include "tst_uistoreendtoend.moc"
