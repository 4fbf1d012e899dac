#include "seeder.h"

#include "panelapi.h"
#include "panelstorage.h"

#include <QDebug>
#include <QJsonArray>
#include <QJsonObject>
#include <QUrl>

namespace {

constexpr qint64 kGiB = 1024LL * 1024 * 1024;

struct ShadowsocksNode
{
    const char *name;
    const char *country;
    const char *method;
    const char *password;
    bool legacyLink; // the whole authority is Base64, not only the user info
};

// The nodes the demo's ss-server instances serve, at the base port and the ones after it.
const ShadowsocksNode kShadowsocksNodes[] = {
    {"日本-01", "JP", "aes-256-gcm", "qivro-demo-jp", false},
    {"香港-01", "HK", "chacha20-ietf-poly1305", "qivro-demo-hk", false},
    {"美国-01 VIP", "US", "aes-128-gcm", "qivro-demo-us", true},
};

QString shadowsocksLink(const ShadowsocksNode &node, quint16 port)
{
    const QByteArray credentials = QByteArray(node.method) + ':' + node.password;
    const QString fragment
        = QString::fromLatin1(QUrl::toPercentEncoding(QString::fromUtf8(node.name)));
    if (node.legacyLink) {
        const QByteArray authority = credentials + "@127.0.0.1:" + QByteArray::number(port);
        return QStringLiteral("ss://%1#%2")
            .arg(QString::fromLatin1(authority.toBase64()), fragment);
    }
    return QStringLiteral("ss://%1@127.0.0.1:%2#%3")
        .arg(QString::fromLatin1(
            credentials.toBase64(QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals)))
        .arg(port)
        .arg(fragment);
}

QJsonObject names(const char *english, const char *chinese)
{
    return QJsonObject {{QStringLiteral("en-US"), QString::fromUtf8(english)},
        {QStringLiteral("zh-CN"), QString::fromUtf8(chinese)}};
}

QJsonArray discounts(std::initializer_list<std::pair<int, int>> entries)
{
    QJsonArray result;
    for (const auto &[quantity, percent] : entries)
        result.append(QJsonObject {
            {QStringLiteral("quantity"), quantity}, {QStringLiteral("discount"), percent}});
    return result;
}

} // namespace

Seeder::Seeder(PanelApi &api, quint16 ssBasePort)
    : m_api(api)
    , m_ssBasePort(ssBasePort)
{ }

qint64 Seeder::node(const QString &name, const QString &protocol, quint16 port, const QString &link,
    const QString &country, const QString &uuid)
{
    QString error;
    const qint64 id = m_api.catalogue().addNode(
        QJsonObject {{QStringLiteral("name"), name}, {QStringLiteral("protocol"), protocol},
            {QStringLiteral("address"), QStringLiteral("127.0.0.1")},
            {QStringLiteral("port"), port}, {QStringLiteral("uuid"), uuid},
            {QStringLiteral("country"), country}, {QStringLiteral("tags"), QJsonArray {country}},
            {QStringLiteral("link"), link}},
        &error);
    if (id == 0)
        qWarning().noquote() << "[Seeder]" << error;
    return id;
}

QStringList Seeder::shadowsocksServers() const
{
    QStringList lines;
    quint16 port = m_ssBasePort;
    for (const ShadowsocksNode &ss : kShadowsocksNodes)
        lines.append(QStringLiteral("%1 %2 %3")
                         .arg(port++)
                         .arg(QLatin1String(ss.method), QLatin1String(ss.password)));
    return lines;
}

void Seeder::seedCatalogue()
{
    PanelConfig &config = m_api.config();
    Catalogue &catalogue = m_api.catalogue();
    QString error;

    config.setSiteConfig(QJsonObject {{QStringLiteral("host"), QStringLiteral("127.0.0.1")},
        {QStringLiteral("site_name"), QStringLiteral("Qivro development panel")},
        {QStringLiteral("site_desc"),
            QStringLiteral("A panel on this machine for trying the client")},
        {QStringLiteral("site_logo"), QString()},
        {QStringLiteral("keywords"), QStringLiteral("development")},
        {QStringLiteral("custom_html"), QString()},
        {QStringLiteral("custom_data"), QStringLiteral("{}")},
        {QStringLiteral("currency"),
            QJsonObject {{QStringLiteral("currency_unit"), QStringLiteral("USD")},
                {QStringLiteral("currency_symbol"), QStringLiteral("$")}}}});
    // No update_url: the panel serves its own download page address (see PanelApi).
    config.setVersionFile(QJsonObject {{QStringLiteral("min_version"), QStringLiteral("1.0.0")}});

    catalogue.addPaymentMethod(
        QJsonObject {{QStringLiteral("name"), names("Account balance", "余额支付")},
            {QStringLiteral("platform"), QStringLiteral("balance")},
            {QStringLiteral("description"), QStringLiteral("Pay from the account balance")}},
        &error);
    catalogue.addPaymentMethod(
        QJsonObject {{QStringLiteral("name"), names("Test card", "测试卡")},
            {QStringLiteral("platform"), QStringLiteral("devpay")},
            {QStringLiteral("icon"), QStringLiteral("/assets/payment/card.svg")}},
        &error);
    catalogue.addPaymentMethod(
        QJsonObject {{QStringLiteral("name"), QStringLiteral("Test wallet")},
            {QStringLiteral("platform"), QStringLiteral("devwallet")},
            {QStringLiteral("icon"), QStringLiteral("wallet.svg")}, {QStringLiteral("fee_mode"), 1},
            {QStringLiteral("fee_percent"), 2}},
        &error);

    const qint64 basic = catalogue.addPlan(
        QJsonObject {{QStringLiteral("name"), names("Basic", "基础套餐")},
            {QStringLiteral("description"), QStringLiteral("Three countries, 100 GiB a month")},
            {QStringLiteral("unit_price"), 1000},
            {QStringLiteral("unit_time"), QStringLiteral("Month")},
            {QStringLiteral("discount"), discounts({{3, 95}, {12, 80}})},
            {QStringLiteral("traffic"), 100 * kGiB}, {QStringLiteral("device_limit"), 3},
            {QStringLiteral("reset_cycle"), 1}, {QStringLiteral("sort"), 1}},
        &error);
    const qint64 premium = catalogue.addPlan(
        QJsonObject {{QStringLiteral("name"), names("Premium", "高级套餐")},
            {QStringLiteral("description"), QStringLiteral("Every node, 500 GiB a month")},
            {QStringLiteral("unit_price"), 2500},
            {QStringLiteral("unit_time"), QStringLiteral("Month")},
            {QStringLiteral("discount"), discounts({{6, 90}})},
            {QStringLiteral("traffic"), 500 * kGiB}, {QStringLiteral("device_limit"), 5},
            {QStringLiteral("speed_limit"), 1000}, {QStringLiteral("reset_cycle"), 1},
            {QStringLiteral("renewal_reset"), 1}, {QStringLiteral("sort"), 2}},
        &error);
    const qint64 annual = catalogue.addPlan(
        QJsonObject {{QStringLiteral("name"), QStringLiteral("Annual")},
            {QStringLiteral("description"), QStringLiteral("Basic for a year")},
            {QStringLiteral("unit_price"), 9900},
            {QStringLiteral("unit_time"), QStringLiteral("Year")},
            {QStringLiteral("traffic"), 100 * kGiB}, {QStringLiteral("sort"), 3}},
        &error);
    const qint64 trial = catalogue.addPlan(
        QJsonObject {{QStringLiteral("name"), names("Free trial", "免费试用")},
            {QStringLiteral("description"), QStringLiteral("One day to try")},
            {QStringLiteral("unit_price"), 0}, {QStringLiteral("unit_time"), QStringLiteral("Day")},
            {QStringLiteral("traffic"), 5 * kGiB}, {QStringLiteral("show"), 0},
            {QStringLiteral("sell"), 0}},
        &error);
    config.setFreePlanId(trial);

    quint16 port = m_ssBasePort;
    for (const ShadowsocksNode &ss : kShadowsocksNodes) {
        const qint64 id = node(QString::fromUtf8(ss.name), QStringLiteral("shadowsocks"), port,
            shadowsocksLink(ss, port), QString::fromLatin1(ss.country));
        ++port;
        for (qint64 plan : {basic, premium, annual, trial})
            catalogue.attachNode(plan, id);
    }

    // Nodes of the other kinds the client reads. Nothing listens behind them: they exist so that
    // every parser path sees real links, and they are only in the Premium plan.
    const QString uuid = QStringLiteral("5f0c2a4e-7d3b-4c1a-9e8f-2b6d4a1c3e5f");
    const quint16 other = quint16(m_ssBasePort + 10);
    const qint64 extra[] = {
        node(QStringLiteral("新加坡-01"), QStringLiteral("vless"), other,
            QStringLiteral("vless://") + uuid + QStringLiteral("@127.0.0.1:")
                + QString::number(other)
                + QStringLiteral("?security=tls&sni=localhost&fp=chrome&alpn=h2,http/1.1"
                                 "&type=ws&path=%2Fvl&host=localhost#")
                + QString::fromLatin1(QUrl::toPercentEncoding(QStringLiteral("新加坡-01"))),
            QStringLiteral("SG"), uuid),
        node(QStringLiteral("台湾-01"), QStringLiteral("vless"), quint16(other + 1),
            QStringLiteral("vless://%1@127.0.0.1:%2?security=reality&sni=localhost&fp=firefox"
                           "&pbk=Zm9vYmFyYmF6cXV4&sid=0a1b2c&type=grpc&serviceName=tunnel"
                           "&flow=xtls-rprx-vision#TW-01")
                .arg(uuid)
                .arg(other + 1),
            QStringLiteral("TW"), uuid),
        node(QStringLiteral("韩国-01"), QStringLiteral("vless"), quint16(other + 2),
            QStringLiteral("vless://%1@127.0.0.1:%2?security=none&type=tcp&tfo=1#KR-01")
                .arg(uuid)
                .arg(other + 2),
            QStringLiteral("KR"), uuid),
        node(QStringLiteral("德国-01"), QStringLiteral("hysteria2"), quint16(other + 3),
            QStringLiteral("hysteria2://qivro-hy2@127.0.0.1:%1?sni=localhost&insecure=1"
                           "&obfs=salamander&obfs-password=qivro-obfs#DE-01")
                .arg(other + 3),
            QStringLiteral("DE")),
        node(QStringLiteral("英国-01"), QStringLiteral("hysteria"), quint16(other + 4),
            QStringLiteral("hysteria://qivro-hy@127.0.0.1:%1?sni=localhost#GB-01").arg(other + 4),
            QStringLiteral("GB")),
        node(QStringLiteral("法国-01"), QStringLiteral("hy2"), quint16(other + 5),
            QStringLiteral("hy2://qivro-hy2@127.0.0.1:%1?insecure=1#FR-01").arg(other + 5),
            QStringLiteral("FR")),
    };
    for (qint64 id : extra)
        catalogue.attachNode(premium, id);

    catalogue.addCoupon(QJsonObject {{QStringLiteral("code"), QStringLiteral("WELCOME10")},
                            {QStringLiteral("kind"), 1}, {QStringLiteral("value"), 10}},
        &error);
    catalogue.addCoupon(QJsonObject {{QStringLiteral("code"), QStringLiteral("SAVE5")},
                            {QStringLiteral("kind"), 2}, {QStringLiteral("value"), 500}},
        &error);
    catalogue.addCoupon(QJsonObject {{QStringLiteral("code"), QStringLiteral("PREMIUM50")},
                            {QStringLiteral("kind"), 1}, {QStringLiteral("value"), 50},
                            {QStringLiteral("plans"), QJsonArray {premium}}},
        &error);
    catalogue.addCoupon(QJsonObject {{QStringLiteral("code"), QStringLiteral("EXPIRED")},
                            {QStringLiteral("kind"), 1}, {QStringLiteral("value"), 10},
                            {QStringLiteral("expire_at"), 1}},
        &error);
    catalogue.addCoupon(QJsonObject {{QStringLiteral("code"), QStringLiteral("USEDUP")},
                            {QStringLiteral("kind"), 1}, {QStringLiteral("value"), 10},
                            {QStringLiteral("remaining"), 0}},
        &error);

    News &news = m_api.news();
    news.addAnnouncement(
        QJsonObject {{QStringLiteral("title"), QStringLiteral("Welcome")},
            {QStringLiteral("content"),
                QStringLiteral("This is the development panel. Orders are paid on a test "
                               "page and nothing is charged.")},
            {QStringLiteral("popup"), true}},
        &error);
    news.addAnnouncement(
        QJsonObject {{QStringLiteral("title"), QStringLiteral("Maintenance window")},
            {QStringLiteral("content"), QStringLiteral("Nodes restart on Sundays at 03:00 UTC.")},
            {QStringLiteral("pinned"), true}},
        &error);
    news.addAnnouncement(
        QJsonObject {{QStringLiteral("title"), QStringLiteral("New nodes in Asia")},
            {QStringLiteral("content"), QStringLiteral("Singapore and Taiwan joined Premium.")}},
        &error);
    news.addAnnouncement(QJsonObject {{QStringLiteral("title"), QStringLiteral("Draft")},
                             {QStringLiteral("content"), QStringLiteral("Not ready yet.")},
                             {QStringLiteral("show"), false}},
        &error);
    qInfo().noquote() << "[Seeder] Catalogue ready: plans" << basic << premium << annual << trial;
}

bool Seeder::hasDemoAccount()
{
    return m_api.accounts().userIdByEmail(QString::fromLatin1(kDemoEmail)) != 0;
}

void Seeder::seedDemo()
{
    if (hasDemoAccount())
        return;
    Accounts &accounts = m_api.accounts();
    QString error;
    const qint64 user = accounts.createUser(
        QString::fromLatin1(kDemoEmail), QString::fromLatin1(kDemoPassword), &error);
    if (user == 0) {
        qWarning().noquote() << "[Seeder] Cannot create the demo account:" << error;
        return;
    }
    accounts.setFunds(user, 5000, 1000);
    const qint64 basic = m_api.storage()
                             .value(QStringLiteral("SELECT id FROM plans WHERE sort = 1 LIMIT 1"))
                             .toLongLong();
    m_api.subscriptions().grantUntil(
        user, basic, m_api.clock().now() + 30 * 86400, 1288490189LL, 9126805504LL);
    m_api.config().setTicketAutoReply(true);
    qInfo().noquote() << "[Seeder] Demo account" << kDemoEmail << "ready";
}
