#include "network/api.h"

#include <QHash>
#include <QJsonDocument>
#include <QTest>

#include <functional>
#include <optional>

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

template <typename T>
QVariant variant(const T &value)
{
    return QVariant::fromValue(value);
}

template <typename T>
QVariant variant(const std::optional<T> &value) // invalid when absent
{
    return value ? QVariant::fromValue(*value) : QVariant();
}

using Reader = std::function<QVariant(const QJsonObject &)>;
#define FIELD(Record, member)                                                                      \
    {                                                                                              \
        QStringLiteral(#Record "." #member), [](const QJsonObject &json) {                         \
            return variant(API::fromJson<API::Record>(json).member);                               \
        }                                                                                          \
    }
const QHash<QString, Reader> kReaders {FIELD(UserDevice, id), FIELD(UserDevice, ip),
    FIELD(UserDevice, online), FIELD(UserDevice, created_at), FIELD(PaymentMethod, fee_percent),
    FIELD(User, deleted_at), FIELD(User, is_admin), FIELD(OrderDetail, commission),
    FIELD(SendCodeResponse, data.code), FIELD(CheckCodeResponse, msg),
    FIELD(CheckCodeResponse, data.status), FIELD(PreOrderResponse, data.price)};
#undef FIELD

} // namespace

class ApiRecordsTest : public QObject
{
    Q_OBJECT

private slots:
    void fields_data();
    void fields();
    void lists_data();
    void lists();
    void panelReplies();
};

void ApiRecordsTest::fields_data()
{
    QTest::addColumn<QString>("field"); // "<record>.<member>"
    QTest::addColumn<QByteArray>("json");
    QTest::addColumn<QVariant>("expected"); // of the member's own type; invalid: absent
    // How the panel's sign-in reply is read is proven by every suite that signs in.
    const auto row = [](const char *name, const char *field, const char *json, const QVariant &v) {
        QTest::newRow(name) << QString::fromLatin1(field) << QByteArray(json) << v;
    };
    row("int whole double", "UserDevice.id", R"({"id":3.0})", 3);
    row("int beyond 32 bits", "UserDevice.id", R"({"id":2147483648})", 0);
    row("int numeric string", "UserDevice.id", R"({"id":"1700000000"})", 0);
    row("timestamp milliseconds string", "UserDevice.created_at",
        R"({"created_at":"1700000000123"})", 1700000000123LL);
    row("timestamp beyond doubles", "UserDevice.created_at", R"({"created_at":9007199254740993})",
        9007199254740993LL);
    row("timestamp fraction rounds", "UserDevice.created_at", R"({"created_at":1.7})", 2LL);
    row("timestamp beyond 64 bits", "UserDevice.created_at", R"({"created_at":1e300})", 0LL);
    row("text number", "UserDevice.ip", R"({"ip":10})", QString());
    row("bool number", "UserDevice.online", R"({"online":1})", false);
    row("double string", "PaymentMethod.fee_percent", R"({"fee_percent":"2.5"})", 0.0);
    row("optional null", "User.deleted_at", R"({"deleted_at":null})", QVariant());
    row("optional absent", "User.is_admin", R"({"deleted_at":null})", QVariant());
    row("optional string", "User.deleted_at", R"({"deleted_at":"1700000000"})", 1700000000LL);
    row("optional 0", "OrderDetail.commission", R"({"commission":0})", 0.0);
    row("optional text number", "SendCodeResponse.data.code", R"({"data":{"code":123456}})",
        QString());
    row("check msg", "CheckCodeResponse.msg", R"({"msg":"code expired","data":null})",
        QStringLiteral("code expired"));
    row("check data null", "CheckCodeResponse.data.status", R"({"msg":"","data":null})", false);
    row("pre-order price", "PreOrderResponse.data.price",
        R"({"msg":"success","data":{"price":1990,"amount":1790}})", 1990.0);
}

void ApiRecordsTest::fields()
{
    QFETCH(QString, field);
    QFETCH(QByteArray, json);
    QFETCH(QVariant, expected);
    QVERIFY(kReaders.contains(field));
    const QVariant actual = kReaders[field](object(json));
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
    QCOMPARE(item.subscribe.name, QStringLiteral("Pro"));
    QCOMPARE(item.expire_time, 1702592000000);
    QCOMPARE(item.traffic, 107374182400);
    QCOMPARE(item.download, 1048576);
    QCOMPARE(item.upload, 2048);
    QVERIFY(item.is_try_out);
    QCOMPARE(item.nodes[0].port, 443);
    QCOMPARE(item.nodes[0].tags, QStringList({"hk", "premium"}));
    QCOMPARE(item.nodes[0].city, QStringLiteral("Hong Kong"));

    const auto order = API::fromJson<API::OrderDetail>(object(R"({
        "id":8,"order_no":"202501010001","type":1,"quantity":3,"price":5970,"amount":5373,
        "coupon":"NEW10","coupon_discount":597,"payment":{"id":4,"name":"Card","platform":"stripe",
        "fee_mode":1,"fee_percent":2.9},"method":"stripe","trade_no":"tx","status":2,
        "subscribe_id":2,"subscribe":{"id":2,"unit_price":1990,"discount":[{"quantity":3,
        "discount":90}]},"created_at":"1735689600"})"));
    QCOMPARE(order.payment.platform, QStringLiteral("stripe"));
    QCOMPARE(order.payment.fee_percent, 2.9);
    QCOMPARE(order.subscribe.unit_price, 1990.0);
    QCOMPARE(order.subscribe.discount.at(0).discount, 90.0);
    QCOMPARE(order.created_at, 1735689600);

    const auto site = API::fromJson<API::SiteConfig>(object(R"({"site_name":"Qivro",
        "currency":{"currency_unit":"USD","currency_symbol":"$"},"site":{"host":"x"}})"));
    QCOMPARE(site.currency.currency_symbol, QStringLiteral("$"));
    QVERIFY(site.host.isEmpty()); // read from "data" itself, never from a nested "site"
}

QTEST_GUILESS_MAIN(ApiRecordsTest)
#include "tst_apirecords.moc"
