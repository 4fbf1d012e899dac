// Takes one picture per scene, appearance and language of the real views, with the stand-in
// backend of the Qt Quick tests driven into each state. Usage: qivro-screenshots <folder> [filter]
#include "main/cjkfonts.h"
#include "main/startup.h"
#include "servicestandin.h"

#include <QDateTime>
#include <QDir>
#include <QGuiApplication>
#include <QImage>
#include <QJSValue>
#include <QQmlApplicationEngine>
#include <QQmlComponent>
#include <QQmlContext>
#include <QQuickItem>
#include <QQuickWindow>
#include <QSettings>
#include <QStandardPaths>
#include <QTest>
#include <QVariant>
#include <QtQml/qqmlextensionplugin.h>

#include <functional>
#include <memory>

Q_IMPORT_QML_PLUGIN(appclientPlugin)

namespace {

// One program window with fresh stand-ins, in the appearance and language stored beforehand.
class Session
{
public:
    Session()
    {
        engine.addImportPath(QStringLiteral("qrc:/qt/qml"));
        QQmlContext *context = engine.rootContext();
        context->setContextProperty(QStringLiteral("appInfo"),
            QVariantMap {{QStringLiteral("name"), QStringLiteral("qivro")},
                {QStringLiteral("version"), QStringLiteral(QIVRO_VERSION)},
                {QStringLiteral("domain"), QStringLiteral("qivro.example")}});
        context->setContextProperty(QStringLiteral("service"), &service);
        const QDir dir(QStringLiteral(QIVRO_STANDIN_DIR));
        for (const QString &name : {QStringLiteral("auth"), QStringLiteral("subscribeHandler"),
                 QStringLiteral("versionChecker"), QStringLiteral("announcement"),
                 QStringLiteral("store"), QStringLiteral("ticket"), QStringLiteral("latency"),
                 QStringLiteral("traffic"), QStringLiteral("desktop"),
                 QStringLiteral("diagnostics"), QStringLiteral("trayMenu")}) {
            QQmlComponent component(&engine, QUrl::fromLocalFile(dir.filePath(name + ".qml")));
            QObject *object = component.create();
            if (!object)
                qWarning() << component.errors();
            else
                object->setParent(&engine);
            context->setContextProperty(name, object);
            standIns.insert(name, object);
        }
    }

    bool load()
    {
        engine.load(QUrl(QStringLiteral("qrc:/qt/qml/appclient/Main.qml")));
        window = engine.rootObjects().isEmpty()
            ? nullptr
            : qobject_cast<QQuickWindow *>(engine.rootObjects().constFirst());
        return window && QTest::qWaitForWindowExposed(window);
    }

    QObject *standIn(const QString &name) const { return standIns.value(name); }

    // The version gate opens and the start-up overlay's time passes.
    void openGate()
    {
        QObject *gate = standIn(QStringLiteral("versionChecker"));
        // The check starts after the first frame; a picture is still worth taking if it never does.
        (void)QTest::qWaitFor([gate] { return gate->property("isChecking").toBool(); }, 2000);
        gate->setProperty("isChecking", false);
        gate->setProperty("checked", true);
        gate->setProperty("canUseApp", true);
        QTest::qWait(900);
        // A signed-in home page asked for the plans by now; the stand-in answers.
        if (standIn(QStringLiteral("auth"))->property("isLoggedIn").toBool()) {
            QMetaObject::invokeMethod(standIn(QStringLiteral("subscribeHandler")), "nodesFetched");
            QTest::qWait(300);
        }
    }

    void signIn()
    {
        QObject *auth = standIn(QStringLiteral("auth"));
        auth->setProperty("userEmail", QStringLiteral("alex.morgan@example.com"));
        auth->setProperty("isLoggedIn", true);
    }

    // Two plans: one with four countries, one with a single node.
    void giveSubscriptions()
    {
        const qint64 june
            = QDateTime(QDate(2027, 6, 30), QTime(15, 59), Qt::UTC).toMSecsSinceEpoch();
        const qint64 march = QDateTime(QDate(2027, 3, 1), QTime(4, 0), Qt::UTC).toMSecsSinceEpoch();
        const auto cluster = [](const QString &name, const QStringList &tags) {
            return QVariantMap {{QStringLiteral("name"), name}, {QStringLiteral("tags"), tags}};
        };
        const QVariantList items {
            QVariantMap {{QStringLiteral("url"), QStringLiteral("https://panel/sub/1")},
                {QStringLiteral("name"), QStringLiteral("Premium")},
                {QStringLiteral("expire_time"), double(june)},
                {QStringLiteral("traffic"), 100.0 * (1 << 30)},
                {QStringLiteral("download"), 23.4 * (1 << 30)},
                {QStringLiteral("upload"), 1.2 * (1 << 30)},
                {QStringLiteral("nodes"),
                    QVariantList {cluster(QStringLiteral("Japan"), {QStringLiteral("Japan-01")}),
                        cluster(QStringLiteral("United States"), {QStringLiteral("US-01")}),
                        cluster(QStringLiteral("Germany"), {QStringLiteral("DE-01")}),
                        cluster(QStringLiteral("Iceland"), {QStringLiteral("IS-01")})}}},
            QVariantMap {{QStringLiteral("url"), QStringLiteral("https://panel/sub/2")},
                {QStringLiteral("name"), QStringLiteral("Basic")},
                {QStringLiteral("expire_time"), double(march)},
                {QStringLiteral("nodes"),
                    QVariantList {cluster(QStringLiteral("Japan"), {QStringLiteral("JP-B")})}}}};
        standIn(QStringLiteral("subscribeHandler"))->setProperty("items", items);
        standIn(QStringLiteral("latency"))
            ->setProperty("delays",
                QVariantMap {{QStringLiteral("Japan-01"), 86}, {QStringLiteral("US-01"), 172},
                    {QStringLiteral("DE-01"), 264}, {QStringLiteral("IS-01"), -1},
                    {QStringLiteral("JP-B"), 95}});
    }

    // Three plans (one with two discounts), three payment methods and background prices for
    // the discounted rows, priced with the first method.
    void giveCatalogue()
    {
        QObject *store = standIn(QStringLiteral("store"));
        store->setProperty("plans",
            QVariantList {
                map({{"id", 1}, {"name", R"({"zh-CN":"基础套餐","en-US":"Basic"})"},
                    {"unit_price", 10.0}, {"unit_time", "Month"},
                    {"discount", QVariantList {map({{"quantity", 3}}), map({{"quantity", 12}})}}}),
                map({{"id", 2}, {"name", R"({"zh-CN":"高级套餐","en-US":"Premium"})"},
                    {"unit_price", 25.0}, {"unit_time", "Month"},
                    {"discount", QVariantList {map({{"quantity", 6}})}}}),
                map({{"id", 3}, {"name", "Annual"}, {"unit_price", 99.0}, {"unit_time", "Year"}})});
        store->setProperty("methods",
            QVariantList {map({{"id", 2}, {"name", "Test card"}, {"platform", "devpay"}}),
                map({{"id", 4}, {"name", "Alipay"}, {"platform", "alipay"}}),
                map({{"id", 5}, {"name", "WeChat"}, {"platform", "wechat"}})});
        store->setProperty("previews",
            map({{"1:3:2", map({{"price", 30.0}, {"amount", 28.5}})},
                {"1:12:2", map({{"price", 120.0}, {"amount", 96.0}})},
                {"2:6:2", map({{"price", 150.0}, {"amount", 135.0}})}}));
    }

    // The version gate opens and the main view shows that menu section.
    void openSection(int index)
    {
        openGate();
        call(byType("MainView"), "selectMenuSection", {index});
    }

    // A support conversation, as the ticket with that status shows it once fetched.
    void openConversation(int status)
    {
        signIn();
        giveTickets();
        giveConversation(status);
        openSection(2);
        QTest::qWait(600);
        click(QStringLiteral("ticketRow1042"));
        QTest::qWait(100);
        QMetaObject::invokeMethod(standIn(QStringLiteral("ticket")), "ticketDetailFetched");
    }

    // The store page with its payment overlay in one state.
    void showPayment(const QString &state)
    {
        signIn();
        giveCatalogue();
        openSection(1);
        QTest::qWait(500);
        QObject *page = byType("StorePage");
        page->setProperty("paymentOrderNo", QStringLiteral("20270630155901428"));
        page->setProperty("paymentState", state);
        page->setProperty("paymentOverlayOpen", true);
    }

    // A page of tickets in every state, more than one page of them on the server.
    void giveTickets()
    {
        QObject *ticket = standIn(QStringLiteral("ticket"));
        ticket->setProperty("totalTickets", 62);
        ticket->setProperty("pageSize", 50);
        ticket->setProperty("items",
            QVariantList {
                map({{"id", 1042}, {"subject", "Nodes in Japan are slow"}, {"status", 2}}),
                map({{"id", 1038}, {"subject", "Refund for a double payment"}, {"status", 1}}),
                map({{"id", 1031}, {"subject", "How do I change my email address?"},
                    {"status", 3}})});
    }

    void giveConversation(int status)
    {
        QObject *ticket = standIn(QStringLiteral("ticket"));
        ticket->setProperty("detail",
            map({{"id", 1042}, {"subject", "Nodes in Japan are slow"},
                {"content", "Since yesterday evening every Japanese node stays below 1 MB/s."},
                {"status", status}}));
        ticket->setProperty("follows",
            QVariantList {map({{"content",
                                   "Sorry about that. Which city are you in, and does "
                                   "it happen on Wi-Fi and mobile data alike?"},
                              {"is_admin", true}}),
                map({{"content", "Shanghai, on both."}, {"is_admin", false}}),
                map({{"content",
                         "Thanks. We moved the Tokyo nodes to a new line; please try "
                         "again and tell us how it goes."},
                    {"is_admin", true}})});
    }

    // Points, an invite code and the catalogue the redemption draws on.
    void giveRewards(double points)
    {
        QObject *auth = standIn(QStringLiteral("auth"));
        auth->setProperty("userBalance", points);
        auth->setProperty("userReferCode", QStringLiteral("QV7K2M"));
        giveCatalogue();
        standIn(QStringLiteral("store"))->setProperty("hasBalancePaymentMethod", true);
    }

    static QVariantMap map(std::initializer_list<std::pair<const char *, QVariant>> entries)
    {
        QVariantMap result;
        for (const auto &[key, value] : entries)
            result.insert(QString::fromUtf8(key), value);
        return result;
    }

    void connectFirst()
    {
        service.setProperty("selectedSubscription", QStringLiteral("https://panel/sub/1"));
        service.setProperty("selectedProxy", QStringLiteral("Japan-01"));
        service.setProperty("isConnected", true);
        QObject *traffic = standIn(QStringLiteral("traffic"));
        traffic->setProperty("uploadSpeed", 84.0 * 1024);
        traffic->setProperty("downloadSpeed", 2.4 * 1024 * 1024);
        traffic->setProperty("sessionUpload", 18.6 * 1024 * 1024);
        traffic->setProperty("sessionDownload", 412.0 * 1024 * 1024);
        traffic->setProperty(
            "connectedSince", double(QDateTime::currentMSecsSinceEpoch() - 47 * 60 * 1000));
    }

    // The first live object whose QML type is `type` (MainView, RegisterView, ...).
    QObject *byType(const char *type) const
    {
        const QByteArray prefix = QByteArray(type) + "_QMLTYPE";
        for (QObject *object : window->findChildren<QObject *>()) {
            const QByteArray name = object->metaObject()->className();
            if (name == type || name.startsWith(prefix))
                return object;
        }
        return nullptr;
    }

    // The visible item of that name in the drawn tree (list delegates have no object parent).
    QQuickItem *byName(const QString &name) const
    {
        QList<QQuickItem *> pending {window->contentItem()};
        while (!pending.isEmpty()) {
            QQuickItem *item = pending.takeLast();
            if (!item->isVisible())
                continue;
            if (item->objectName() == name)
                return item;
            pending.append(item->childItems());
        }
        return nullptr;
    }

    void call(QObject *object, const char *function, const QVariantList &args = {})
    {
        if (!object) {
            qWarning() << "no object for" << function;
            return;
        }
        QGenericArgument a[3];
        for (int i = 0; i < args.size() && i < 3; ++i)
            a[i] = Q_ARG(QVariant, args.at(i));
        if (!QMetaObject::invokeMethod(object, function, a[0], a[1], a[2]))
            qWarning() << "cannot call" << function;
    }

    void click(const QString &name)
    {
        QQuickItem *item = byName(name);
        if (!item) {
            qWarning() << "no visible" << name;
            return;
        }
        const QPointF centre = item->mapToScene(QPointF(item->width() / 2, item->height() / 2));
        QTest::mouseClick(window, Qt::LeftButton, Qt::NoModifier, centre.toPoint());
    }

    // The stand-in outlives the engine, whose bindings still read it while they go away.
    ServiceStandIn service;
    QQmlApplicationEngine engine;
    QHash<QString, QObject *> standIns;
    QQuickWindow *window = nullptr;
};

struct Scene
{
    const char *name;
    std::function<void(Session &)> setUp;
};

QObject *mainView(Session &s)
{
    return s.byType("MainView");
}

const QList<Scene> &scenes()
{
    static const QList<Scene> list {
        {"startup",
            [](Session &s) { s.standIn("versionChecker")->setProperty("isChecking", true); }},
        {"update-required",
            [](Session &s) {
                QObject *gate = s.standIn("versionChecker");
                gate->setProperty("minimumVersion", QStringLiteral("2.4.0"));
                gate->setProperty("checked", true);
                gate->setProperty("updateRequired", true);
                QTest::qWait(900);
            }},
        {"home-signed-out", [](Session &s) { s.openGate(); }},
        {"login",
            [](Session &s) {
                s.openGate();
                s.call(mainView(s), "showLoginPage");
            }},
        {"login-error",
            [](Session &s) {
                s.openGate();
                s.call(mainView(s), "showLoginPage");
                QTest::qWait(300);
                QMetaObject::invokeMethod(s.standIn("auth"), "loginFailed",
                    Q_ARG(QString, QStringLiteral("Invalid email or password")));
            }},
        {"register-email",
            [](Session &s) {
                s.openGate();
                s.call(mainView(s), "showRegisterPage");
            }},
        {"register-code",
            [](Session &s) {
                s.openGate();
                s.call(mainView(s), "showRegisterPage");
                QTest::qWait(300);
                s.byType("RegisterView")->setProperty("pendingEmail", "alex.morgan@example.com");
                s.byType("RegisterView")->setProperty("resendCooldown", 42);
                s.standIn("auth")->setProperty("registrationState", 2);
            }},
        {"register-password",
            [](Session &s) {
                s.openGate();
                s.call(mainView(s), "showRegisterPage");
                QTest::qWait(300);
                s.standIn("auth")->setProperty("registrationState", 4);
            }},
        // The flow reset while the view is away (a sign-out), then the view shown again.
        {"register-again",
            [](Session &s) {
                s.openGate();
                s.call(mainView(s), "showRegisterPage");
                QTest::qWait(300);
                s.standIn("auth")->setProperty("registrationState", 4);
                QTest::qWait(300);
                s.call(mainView(s), "showLoginPage");
                QTest::qWait(300);
                s.standIn("auth")->setProperty("registrationState", 0);
                QTest::qWait(300);
                s.call(mainView(s), "showRegisterPage");
            }},
        {"reset-code",
            [](Session &s) {
                s.openGate();
                s.call(mainView(s), "showResetPasswordPage");
                QTest::qWait(300);
                s.byType("ResetPasswordView")
                    ->setProperty("pendingEmail", "alex.morgan@example.com");
                s.standIn("auth")->setProperty("passwordResetState", 2);
            }},
        {"reset-password",
            [](Session &s) {
                s.openGate();
                s.call(mainView(s), "showResetPasswordPage");
                QTest::qWait(300);
                s.standIn("auth")->setProperty("passwordResetState", 4);
            }},
        {"reset-done",
            [](Session &s) {
                s.openGate();
                s.call(mainView(s), "showResetPasswordPage");
                QTest::qWait(300);
                s.standIn("auth")->setProperty("passwordResetState", 6);
            }},
        {"home-no-plan",
            [](Session &s) {
                s.signIn();
                s.openGate();
            }},
        {"home-plans",
            [](Session &s) {
                s.signIn();
                s.giveSubscriptions();
                s.openGate();
            }},
        {"home-connected",
            [](Session &s) {
                s.signIn();
                s.giveSubscriptions();
                s.connectFirst();
                s.openGate();
            }},
        {"node-picker",
            [](Session &s) {
                s.signIn();
                s.giveSubscriptions();
                s.connectFirst();
                s.openGate();
                s.click(QStringLiteral("subscriptionNodeSelector0"));
            }},
        {"node-picker-expanded",
            [](Session &s) {
                s.signIn();
                s.giveSubscriptions();
                s.connectFirst();
                s.openGate();
                s.click(QStringLiteral("subscriptionNodeSelector0"));
                QTest::qWait(400);
                s.click(QStringLiteral("nodePickerExpand_Japan"));
            }},
        {"home-no-response",
            [](Session &s) {
                s.signIn();
                s.giveSubscriptions();
                s.connectFirst();
                s.service.setProperty("nodeResponding", false);
                s.openGate();
            }},
        {"home-offline",
            [](Session &s) {
                s.signIn();
                s.giveSubscriptions();
                s.standIn("subscribeHandler")->setProperty("offline", true);
                s.openGate();
            }},
        {"privilege-dialog",
            [](Session &s) {
                s.signIn();
                s.giveSubscriptions();
                s.service.setProperty("hasPrivileges", false);
                s.service.setProperty("requiresPasswordInput", true);
                s.openGate();
                s.click(QStringLiteral("subscriptionPowerButton0"));
            }},
        {"claim-wait",
            [](Session &s) {
                s.signIn();
                s.openGate();
                QMetaObject::invokeMethod(s.standIn("subscribeHandler"),
                    "freeSubscriptionClaimUnavailable", Q_ARG(double, 3660.0));
            }},
        {"menu-signed-out",
            [](Session &s) {
                s.openGate();
                s.call(mainView(s), "showMenuPage");
            }},
        {"menu-signed-in",
            [](Session &s) {
                s.signIn();
                s.giveSubscriptions();
                s.openGate();
                s.call(mainView(s), "showMenuPage");
            }},
        {"about",
            [](Session &s) {
                s.openGate();
                s.call(mainView(s), "showMenuPage");
                QTest::qWait(400);
                s.click(QStringLiteral("menuVersionLabel"));
            }},
        {"lan-sharing",
            [](Session &s) {
                QQmlComponent sharing(&s.engine);
                sharing.setData(R"(import QtQml
                    QtObject {
                        property bool enabled: true
                        property string username: "lan-k3m9qa"
                        property string password: "h7tq2wxm4d9pr6c3kz8v"
                        property var addresses: ["192.168.1.23:1080", "10.8.0.5:1080"]
                        function refreshAddresses() {}
                    })",
                    QUrl());
                QObject *standIn = sharing.create();
                standIn->setParent(&s.engine);
                s.service.setProperty("lanSharing", QVariant::fromValue(standIn));
                s.connectFirst();
                s.openGate();
                s.call(mainView(s), "showMenuPage");
                QTest::qWait(400);
                s.click(QStringLiteral("menuLanSharingItem"));
            }},
        {"desktop-settings",
            [](Session &s) {
                s.standIn(QStringLiteral("desktop"))->setProperty("startAtLogin", true);
                s.openGate();
                s.call(mainView(s), "showMenuPage");
                QTest::qWait(400);
                s.click(QStringLiteral("menuDesktopItem"));
            }},
        {"language", [](Session &s) { s.openSection(4); }},
        {"store",
            [](Session &s) {
                s.signIn();
                s.giveCatalogue();
                s.openSection(1);
            }},
        {"store-checkout",
            [](Session &s) {
                s.signIn();
                s.giveCatalogue();
                s.openSection(1);
                QTest::qWait(600);
                s.click(QStringLiteral("storePlanRow0_3"));
                QTest::qWait(300);
                s.byName(QStringLiteral("checkoutCouponField"))->setProperty("text", "WELCOME10");
                s.call(s.byType("StorePage"), "applyCoupon", {QStringLiteral("WELCOME10")});
                s.standIn("store")->setProperty("price",
                    Session::map({{"price", 3000}, {"amount", 2565}, {"coupon_discount", 285}}));
            }},
        {"store-coupon-error",
            [](Session &s) {
                s.signIn();
                s.giveCatalogue();
                s.openSection(1);
                QTest::qWait(600);
                s.click(QStringLiteral("storePlanRow1_6"));
                QTest::qWait(300);
                s.byName(QStringLiteral("checkoutCouponField"))->setProperty("text", "EXPIRED");
                s.call(s.byType("StorePage"), "applyCoupon", {QStringLiteral("EXPIRED")});
                QMetaObject::invokeMethod(s.standIn("store"), "operationFailed",
                    Q_ARG(QString, QStringLiteral("Coupon has expired")));
            }},
        {"store-expired",
            [](Session &s) {
                s.signIn();
                s.giveCatalogue();
                s.openSection(1);
                QTest::qWait(600);
                QMetaObject::invokeMethod(s.standIn("store"), "operationFailed",
                    Q_ARG(QString, QStringLiteral("Invalid Access")));
            }},
        {"store-error",
            [](Session &s) {
                s.signIn();
                s.openSection(1);
                QTest::qWait(600);
                QMetaObject::invokeMethod(s.standIn("store"), "operationFailed",
                    Q_ARG(QString, QStringLiteral("Connection timed out")));
            }},
        {"payment-waiting", [](Session &s) { s.showPayment(QStringLiteral("waiting")); }},
        {"payment-success", [](Session &s) { s.showPayment(QStringLiteral("success")); }},
        {"payment-failed", [](Session &s) { s.showPayment(QStringLiteral("failed")); }},
        {"payment-timeout", [](Session &s) { s.showPayment(QStringLiteral("timeout")); }},
        {"tickets",
            [](Session &s) {
                s.signIn();
                s.giveTickets();
                s.openSection(2);
            }},
        {"ticket-new",
            [](Session &s) {
                s.signIn();
                s.giveTickets();
                s.openSection(2);
                QTest::qWait(600);
                s.click(QStringLiteral("ticketCreateButton"));
                QTest::qWait(300);
                s.byName(QStringLiteral("newTicketSubjectField"))
                    ->setProperty("text", "Cannot connect on hotel Wi-Fi");
            }},
        {"ticket-conversation", [](Session &s) { s.openConversation(2); }},
        {"ticket-closed", [](Session &s) { s.openConversation(4); }},
        {"tickets-empty",
            [](Session &s) {
                s.signIn();
                s.openSection(2);
            }},
        {"rewards-signed-out", [](Session &s) { s.openSection(3); }},
        {"rewards",
            [](Session &s) {
                s.signIn();
                s.giveRewards(42.5);
                s.openSection(3);
            }},
        {"reward-redeem",
            [](Session &s) {
                s.signIn();
                s.giveRewards(42.5);
                s.openSection(3);
                QTest::qWait(600);
                s.click(QStringLiteral("rewardRedeemButton"));
            }},
        {"reward-insufficient",
            [](Session &s) {
                s.signIn();
                s.giveRewards(4.5);
                s.openSection(3);
                QTest::qWait(600);
                s.click(QStringLiteral("rewardRedeemButton"));
            }},
        {"announcements",
            [](Session &s) {
                s.signIn();
                s.standIn("announcement")
                    ->setProperty("pages",
                        QVariantList {Session::map({{"id", 9}, {"title", "Maintenance on Sunday"},
                                          {"pinned", true}}),
                            Session::map({{"id", 12},
                                {"title", "New nodes in Singapore and Taiwan"}, {"pinned", false}}),
                            Session::map({{"id", 11}, {"title", "  "}, {"pinned", false}}),
                            Session::map({{"id", 7},
                                {"title",
                                    "Price changes from July for new "
                                    "annual subscriptions"},
                                {"pinned", false}})});
                s.openSection(5);
                QTest::qWait(600); // the page-loading veil of the deferred refresh fades
            }},
        {"announcements-error",
            [](Session &s) {
                s.signIn();
                s.openSection(5);
                QTest::qWait(600);
                QMetaObject::invokeMethod(s.standIn("announcement"), "operationFailed",
                    Q_ARG(QString, QStringLiteral("Connection timed out")));
            }},
        {"message",
            [](Session &s) {
                s.openGate();
                s.call(s.window, "showMessage",
                    {QString(),
                        QStringLiteral("The panel could not be reached. Check your "
                                       "connection and try again.")});
            }},
        {"announcement-popup",
            [](Session &s) {
                s.standIn("announcement")
                    ->setProperty("popups",
                        QVariantList {QVariantMap {{QStringLiteral("id"), 7},
                            {QStringLiteral("title"), QStringLiteral("Maintenance on Sunday")},
                            {QStringLiteral("content"),
                                QStringLiteral(
                                    "<p>Nodes in <b>Japan</b> restart between 02:00 and "
                                    "02:30 UTC+8. <a href=\"https://qivro.example/status\">"
                                    "Status page</a></p>")}}});
                s.openGate();
                QTest::qWait(400);
            }},
    };
    return list;
}

} // namespace

int main(int argc, char *argv[])
{
    qputenv("QT_QUICK_CONTROLS_STYLE", "Basic");
    QGuiApplication app(argc, argv);
    QStandardPaths::setTestModeEnabled(true);
    QGuiApplication::setOrganizationName(QStringLiteral("qivro-screenshots"));
    QGuiApplication::setApplicationName(QStringLiteral("qivro"));
    // The program's stack: the Chinese faces follow the language, as in the program.
    Startup::installFontStack(
        Startup::registerBundledFonts(QStringLiteral(":/fonts"), {QStringLiteral("Inter-*.ttf")})
        + CjkFonts::families());
    CjkFonts cjkFonts;

    const QStringList args = QGuiApplication::arguments();
    const QDir out(args.value(1, QStringLiteral("screenshots")));
    const QString filter = args.value(2);
    QDir().mkpath(out.path());

    int taken = 0;
    int failed = 0;
    for (const char *language : {"en", "zh", "zh-Hant"}) {
        for (const bool dark : {false, true}) {
            for (const Scene &scene : scenes()) {
                if (!filter.isEmpty() && !QString::fromLatin1(scene.name).contains(filter))
                    continue;
                QSettings settings;
                settings.clear();
                settings.setValue(
                    QStringLiteral("Language/language"), QString::fromLatin1(language));
                settings.setValue(QStringLiteral("Theme/darkMode"), dark);
                settings.sync();
                cjkFonts.useLanguage(QString::fromLatin1(language));
                Session session;
                if (!session.load()) {
                    ++failed;
                    continue;
                }
                scene.setUp(session);
                QTest::qWait(700); // slides, fades and the progress ring settle
                const QString file = out.filePath(
                    QStringLiteral("%1-%2-%3.png")
                        .arg(QString::fromLatin1(scene.name), QString::fromLatin1(language),
                            dark ? QStringLiteral("dark") : QStringLiteral("light")));
                if (session.window->grabWindow().save(file))
                    ++taken;
                else
                    ++failed;
            }
        }
    }
    qInfo().noquote() << taken << "pictures," << failed << "failed, in" << out.absolutePath();
    return failed == 0 ? 0 : 1;
}
