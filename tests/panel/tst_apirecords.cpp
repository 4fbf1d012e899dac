#include "api.h"

#include <QJsonDocument>
#include <QTest>

namespace {

QJsonObject object(const QByteArray &json)
{
    QJsonParseError error {};
    const QJsonDocument document = QJsonDocument::fromJson(json, &error);
    if (error.error != QJsonParseError::NoError)
        qWarning() << "bad test JSON" << json << error.errorString();
    return document.object();
}

template <typename Container>
QVariantList toVariantList(const Container &values)
{
    QVariantList list;
    for (const auto &value : values)
        list.append(QVariant::fromValue(value));
    return list;
}

} // namespace

class ApiRecordsTest : public QObject
{
    Q_OBJECT

private slots:
    void fieldConversions_data();
    void fieldConversions();
    void optionals_data();
    void optionals();
    void lists_data();
    void lists();
    void envelopes_data();
    void envelopes();
    void panelReplies();
};

void ApiRecordsTest::fieldConversions_data()
{
    QTest::addColumn<QByteArray>("json");
    QTest::addColumn<QString>("field");
    QTest::addColumn<QVariant>("expected");

    // UserDevice: "id" int, "ip" text, "online" bool, "created_at" timestamp;
    // PaymentMethod: "fee_percent" double.
    QTest::newRow("int whole double") << QByteArray(R"({"id":3.0})") << "id" << QVariant(3);
    QTest::newRow("int beyond 32 bits")
        << QByteArray(R"({"id":2147483648})") << "id" << QVariant(0);
    QTest::newRow("int fraction") << QByteArray(R"({"id":1.5})") << "id" << QVariant(0);
    QTest::newRow("int numeric string")
        << QByteArray(R"({"id":"1700000000"})") << "id" << QVariant(0);

    QTest::newRow("timestamp numeric string")
        << QByteArray(R"({"created_at":"1700000000"})") << "created_at" << QVariant(1700000000LL);
    QTest::newRow("timestamp milliseconds string")
        << QByteArray(R"({"created_at":"1700000000123"})") << "created_at"
        << QVariant(1700000000123LL);
    QTest::newRow("timestamp beyond doubles") << QByteArray(R"({"created_at":9007199254740993})")
                                              << "created_at" << QVariant(9007199254740993LL);
    QTest::newRow("timestamp fraction rounds")
        << QByteArray(R"({"created_at":1.7})") << "created_at" << QVariant(2LL);
    QTest::newRow("timestamp beyond 64 bits")
        << QByteArray(R"({"created_at":1e300})") << "created_at" << QVariant(0LL);
    QTest::newRow("timestamp object")
        << QByteArray(R"({"created_at":{"s":1}})") << "created_at" << QVariant(0LL);

    QTest::newRow("timestamp bool")
        << QByteArray(R"({"created_at":true})") << "created_at" << QVariant(0LL);
    QTest::newRow("text number") << QByteArray(R"({"ip":10})") << "ip" << QVariant(QString());

    QTest::newRow("bool number") << QByteArray(R"({"online":1})") << "online" << QVariant(false);

    QTest::newRow("double integer")
        << QByteArray(R"({"fee_percent":3})") << "fee_percent" << QVariant(3.0);
    QTest::newRow("double string")
        << QByteArray(R"({"fee_percent":"2.5"})") << "fee_percent" << QVariant(0.0);
}

void ApiRecordsTest::fieldConversions()
{
    QFETCH(QByteArray, json);
    QFETCH(QString, field);
    QFETCH(QVariant, expected);

    const auto device = API::fromJson<API::UserDevice>(object(json));
    const QVariantMap actual {
        {QStringLiteral("id"), device.id},
        {QStringLiteral("ip"), device.ip},
        {QStringLiteral("online"), device.online},
        {QStringLiteral("created_at"), device.created_at},
        {QStringLiteral("fee_percent"),
            API::fromJson<API::PaymentMethod>(object(json)).fee_percent},
    };
    QCOMPARE(actual.value(field), expected);
    QCOMPARE(actual.value(field).typeId(), expected.typeId());
}

void ApiRecordsTest::optionals_data()
{
    QTest::addColumn<QString>("record");
    QTest::addColumn<QByteArray>("json");
    QTest::addColumn<QVariant>("expected"); // invalid: absent

    QTest::newRow("deleted_at null")
        << "User" << QByteArray(R"({"deleted_at":null})") << QVariant();
    QTest::newRow("deleted_at string")
        << "User" << QByteArray(R"({"deleted_at":"1700000000"})") << QVariant(1700000000LL);
    QTest::newRow("is_admin false")
        << "User" << QByteArray(R"({"is_admin":false})") << QVariant(false);
    QTest::newRow("commission 0") << "OrderDetail" << QByteArray(R"({"commission":0})")
                                  << QVariant(0.0);
    QTest::newRow("code number") << "SendCodeResponse" << QByteArray(R"({"data":{"code":123456}})")
                                 << QVariant(QString());
}

void ApiRecordsTest::optionals()
{
    QFETCH(QString, record);
    QFETCH(QByteArray, json);
    QFETCH(QVariant, expected);

    QVariant actual;
    const QJsonObject input = object(json);
    if (record == QLatin1String("User")) {
        const auto user = API::fromJson<API::User>(input);
        QVERIFY(!(user.is_admin && user.deleted_at)); // each row sets one of them
        if (user.is_admin)
            actual = *user.is_admin;
        if (user.deleted_at)
            actual = *user.deleted_at;
    } else if (record == QLatin1String("OrderDetail")) {
        const auto order = API::fromJson<API::OrderDetail>(input);
        if (order.commission)
            actual = *order.commission;
    } else {
        const auto reply = API::fromJson<API::SendCodeResponse>(input);
        if (reply.data.code)
            actual = *reply.data.code;
    }
    QCOMPARE(actual, expected);
    QCOMPARE(actual.typeId(), expected.typeId());
}

void ApiRecordsTest::lists_data()
{
    QTest::addColumn<QByteArray>("json"); // a plan of the catalogue
    QTest::addColumn<QVariantList>("discountQuantities");
    QTest::addColumn<QVariantList>("nodes");
    QTest::addColumn<QStringList>("nodeTags");

    QTest::newRow("odd elements count")
        << QByteArray(R"({"discount":[{"quantity":3},7,null,"x",{"quantity":12}],
                          "nodes":[1,"2",2.5,null,4],"node_tags":["a",1,null,{"b":2}]})")
        << QVariantList {3, 0, 0, 0, 12} << QVariantList {1, 0, 0, 0, 4}
        << QStringList {"a", "", "", ""};
    QTest::newRow("not arrays") << QByteArray(R"({"discount":{"quantity":3},"nodes":"1,2",
                                                  "node_tags":"hk"})")
                                << QVariantList {} << QVariantList {} << QStringList {};
}

void ApiRecordsTest::lists()
{
    QFETCH(QByteArray, json);
    QFETCH(QVariantList, discountQuantities);
    QFETCH(QVariantList, nodes);
    QFETCH(QStringList, nodeTags);

    const auto plan = API::fromJson<API::Subscribe>(object(json));
    QVariantList quantities;
    for (const auto &discount : plan.discount)
        quantities.append(discount.quantity);
    QCOMPARE(quantities, discountQuantities);
    QCOMPARE(toVariantList(plan.nodes), nodes);
    QCOMPARE(plan.node_tags, nodeTags);

    // The same list decoded on its own, as the handlers do with "data"."list".
    const auto direct = API::arrayFromJson<API::SubscribeDiscount>(
        object(json).value(QLatin1String("discount")).toArray());
    QCOMPARE(direct.size(), plan.discount.size());
}

void ApiRecordsTest::envelopes_data()
{
    QTest::addColumn<QString>("record");
    QTest::addColumn<QByteArray>("json");
    QTest::addColumn<QString>("msg");
    QTest::addColumn<bool>("succeeded");
    QTest::addColumn<QVariant>("detail"); // token, data.status or data.price

    QTest::newRow("login") << "Login" << QByteArray(R"({"code":200,"msg":"success",
                                                        "data":{"token":"eyJ.x.y"}})")
                           << "success" << true << QVariant(QStringLiteral("eyJ.x.y"));
    QTest::newRow("Success is not success")
        << "Login" << QByteArray(R"({"code":200,"msg":"Success","data":{"token":"t"}})")
        << "Success" << false << QVariant(QStringLiteral("t"));
    QTest::newRow("data not an object")
        << "Login" << QByteArray(R"({"msg":"success","data":"token"})") << "success" << true
        << QVariant(QString());
    QTest::newRow("check code refused")
        << "CheckCode" << QByteArray(R"({"msg":"code expired","data":null})") << "code expired"
        << false << QVariant(false);
    QTest::newRow("pre-order") << "PreOrder" << QByteArray(R"({"msg":"success",
                                                           "data":{"price":1990,"amount":1790}})")
                               << "success" << true << QVariant(1990.0);
}

void ApiRecordsTest::envelopes()
{
    QFETCH(QString, record);
    QFETCH(QByteArray, json);
    QFETCH(QString, msg);
    QFETCH(bool, succeeded);
    QFETCH(QVariant, detail);

    const QJsonObject reply = object(json);
    QString actualMsg;
    QVariant actualDetail;
    if (record == QLatin1String("Login")) {
        const auto login = API::fromJson<API::LoginResponse>(reply);
        actualMsg = login.msg;
        actualDetail = login.token;
    } else if (record == QLatin1String("CheckCode")) {
        const auto check = API::fromJson<API::CheckCodeResponse>(reply);
        actualMsg = check.msg;
        actualDetail = check.data.status;
    } else {
        const auto preview = API::fromJson<API::PreOrderResponse>(reply);
        actualMsg = preview.msg;
        actualDetail = preview.data.price;
    }
    QCOMPARE(actualMsg, msg);
    QCOMPARE(actualMsg == API::SuccessMsg, succeeded);
    QCOMPARE(actualDetail, detail);
}

void ApiRecordsTest::panelReplies()
{
    // Shaped like the panel's own replies; catches fields read under the wrong key.
    const auto item = API::fromJson<API::UserSubscribeItem>(object(R"({
        "id":31,"user_id":5,"order_id":77,"subscribe_id":2,
        "subscribe":{"id":2,"name":"Pro","description":"fast"},
        "start_time":1700000000,"expire_time":"1702592000000","finished_at":0,
        "reset_time":1701000000,"traffic":107374182400,"download":"1048576","upload":2048,
        "token":"f3a9","status":1,"created_at":1699990000,"updated_at":1699999999,
        "is_try_out":true,
        "nodes":[{"id":9,"name":"HK-01","uuid":"u-1","protocol":"vless","port":443,
                  "address":"hk.example","tags":["hk","premium"],"country":"HK","city":"Hong Kong",
                  "created_at":1690000000}]})"));
    QCOMPARE(item.id, 31);
    QCOMPARE(item.subscribe_id, 2);
    QCOMPARE(item.subscribe.name, QStringLiteral("Pro"));
    QCOMPARE(item.start_time, 1700000000);
    QCOMPARE(item.expire_time, 1702592000000);
    QCOMPARE(item.traffic, 107374182400);
    QCOMPARE(item.download, 1048576);
    QCOMPARE(item.upload, 2048);
    QCOMPARE(item.token, QStringLiteral("f3a9"));
    QCOMPARE(item.status, 1);
    QVERIFY(item.is_try_out);
    QCOMPARE(item.nodes.size(), 1u);
    QCOMPARE(item.nodes[0].port, 443);
    QCOMPARE(item.nodes[0].tags, QStringList({"hk", "premium"}));
    QCOMPARE(item.nodes[0].city, QStringLiteral("Hong Kong"));

    const auto order = API::fromJson<API::OrderDetail>(object(R"({
        "id":8,"order_no":"202501010001","type":1,"quantity":3,"price":5970,"amount":5373,
        "coupon":"NEW10","coupon_discount":597,"payment":{"id":4,"name":"Card","platform":"stripe",
        "fee_mode":1,"fee_percent":2.9},"method":"stripe","trade_no":"tx","status":2,
        "subscribe_id":2,"subscribe":{"id":2,"unit_price":1990,"discount":[{"quantity":3,
        "discount":90}]},"created_at":"1735689600"})"));
    QCOMPARE(order.order_no, QStringLiteral("202501010001"));
    QCOMPARE(order.amount, 5373.0);
    QCOMPARE(order.payment.platform, QStringLiteral("stripe"));
    QCOMPARE(order.payment.fee_percent, 2.9);
    QCOMPARE(order.subscribe.unit_price, 1990.0);
    QCOMPARE(order.subscribe.discount.at(0).discount, 90.0);
    QCOMPARE(order.created_at, 1735689600);

    const auto site = API::fromJson<API::SiteConfig>(object(R"({"site_name":"Qivro",
        "currency":{"currency_unit":"USD","currency_symbol":"$"},"site":{"host":"x"}})"));
    QCOMPARE(site.site_name, QStringLiteral("Qivro"));
    QCOMPARE(site.currency.currency_symbol, QStringLiteral("$"));
    QVERIFY(site.host.isEmpty()); // read from "data" itself, never from a nested "site"
}

QTEST_GUILESS_MAIN(ApiRecordsTest)
#include "tst_apirecords.moc"
