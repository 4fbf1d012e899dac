#include "network/api.h"

#include <QVariant>

namespace {

// Reads fields by key with the shared conversion rules.
class Reader
{
public:
    explicit Reader(const QJsonObject &json)
        : m_json(json)
    { }

    QJsonValue value(const char *key) const { return m_json.value(QLatin1String(key)); }

    // Whole numbers within 32 bits only.
    int integer(const char *key) const { return value(key).toInt(); }
    double number(const char *key) const { return value(key).toDouble(); }
    QString text(const char *key) const { return value(key).toString(); }
    bool flag(const char *key) const { return value(key).toBool(); }
    QJsonObject object(const char *key) const { return value(key).toObject(); }

    // Times and byte counts arrive as numbers or as numeric strings; both are accepted the way a
    // variant converts them (fractions rounded). Anything else, and numbers beyond 64 bits, give 0.
    qint64 timestamp(const char *key) const
    {
        const QJsonValue field = value(key);
        if (field.isDouble()) {
            const double number = field.toDouble();
            if (!(number >= -9223372036854775808.0 && number < 9223372036854775808.0))
                return 0;
        } else if (!field.isString()) {
            return 0;
        }
        return field.toVariant().toLongLong();
    }

    // Present when the key is there with any value but null.
    bool present(const char *key) const
    {
        const QJsonValue field = value(key);
        return !field.isUndefined() && !field.isNull();
    }

    template <typename T>
    std::vector<T> records(const char *key) const
    {
        return API::arrayFromJson<T>(value(key).toArray());
    }

    std::vector<int> integers(const char *key) const
    {
        const QJsonArray array = value(key).toArray();
        std::vector<int> values;
        values.reserve(static_cast<std::size_t>(array.size()));
        for (const QJsonValue &element : array)
            values.push_back(element.toInt());
        return values;
    }

    QStringList texts(const char *key) const { return API::strArrayFromJson(value(key).toArray()); }

private:
    const QJsonObject &m_json;
};

} // namespace

namespace API {

template <>
SiteCurrency fromJson<SiteCurrency>(const QJsonObject &json)
{
    const Reader in(json);
    SiteCurrency currency;
    currency.currency_unit = in.text("currency_unit");
    currency.currency_symbol = in.text("currency_symbol");
    return currency;
}

template <>
SiteConfig fromJson<SiteConfig>(const QJsonObject &json)
{
    const Reader in(json);
    SiteConfig config;
    config.host = in.text("host");
    config.site_name = in.text("site_name");
    config.site_desc = in.text("site_desc");
    config.site_logo = in.text("site_logo");
    config.keywords = in.text("keywords");
    config.custom_html = in.text("custom_html");
    config.custom_data = in.text("custom_data");
    config.currency = fromJson<SiteCurrency>(in.object("currency"));
    return config;
}

template <>
UserAuthMethod fromJson<UserAuthMethod>(const QJsonObject &json)
{
    const Reader in(json);
    UserAuthMethod method;
    method.auth_type = in.text("auth_type");
    method.auth_identifier = in.text("auth_identifier");
    method.verified = in.flag("verified");
    return method;
}

template <>
UserDevice fromJson<UserDevice>(const QJsonObject &json)
{
    const Reader in(json);
    UserDevice device;
    device.id = in.integer("id");
    device.ip = in.text("ip");
    device.identifier = in.text("identifier");
    device.user_agent = in.text("user_agent");
    device.online = in.flag("online");
    device.enabled = in.flag("enabled");
    device.created_at = in.timestamp("created_at");
    device.updated_at = in.timestamp("updated_at");
    return device;
}

template <>
User fromJson<User>(const QJsonObject &json)
{
    const Reader in(json);
    User user;
    user.id = in.integer("id");
    user.avatar = in.text("avatar");
    user.balance = in.number("balance");
    user.commission = in.number("commission");
    user.referral_percentage = in.number("referral_percentage");
    user.only_first_purchase = in.flag("only_first_purchase");
    user.gift_amount = in.number("gift_amount");
    user.telegram = in.integer("telegram");
    user.refer_code = in.text("refer_code");
    user.referer_id = in.integer("referer_id");
    user.enable = in.flag("enable");
    if (in.present("is_admin"))
        user.is_admin = in.flag("is_admin");
    user.enable_balance_notify = in.flag("enable_balance_notify");
    user.enable_login_notify = in.flag("enable_login_notify");
    user.enable_subscribe_notify = in.flag("enable_subscribe_notify");
    user.enable_trade_notify = in.flag("enable_trade_notify");
    user.auth_methods = in.records<UserAuthMethod>("auth_methods");
    user.user_devices = in.records<UserDevice>("user_devices");
    user.rules = in.texts("rules");
    user.created_at = in.timestamp("created_at");
    user.updated_at = in.timestamp("updated_at");
    if (in.present("deleted_at"))
        user.deleted_at = in.timestamp("deleted_at");
    return user;
}

template <>
LoginResponse fromJson<LoginResponse>(const QJsonObject &json)
{
    const Reader in(json);
    LoginResponse response;
    response.msg = in.text("msg");
    response.token = Reader(in.object("data")).text("token");
    return response;
}

template <>
SendCodeData fromJson<SendCodeData>(const QJsonObject &json)
{
    const Reader in(json);
    SendCodeData data;
    data.status = in.flag("status");
    if (in.present("code"))
        data.code = in.text("code");
    return data;
}

template <>
SendCodeResponse fromJson<SendCodeResponse>(const QJsonObject &json)
{
    const Reader in(json);
    SendCodeResponse response;
    response.msg = in.text("msg");
    response.data = fromJson<SendCodeData>(in.object("data"));
    return response;
}

template <>
CheckCodeData fromJson<CheckCodeData>(const QJsonObject &json)
{
    CheckCodeData data;
    data.status = Reader(json).flag("status");
    return data;
}

template <>
CheckCodeResponse fromJson<CheckCodeResponse>(const QJsonObject &json)
{
    const Reader in(json);
    CheckCodeResponse response;
    response.msg = in.text("msg");
    response.data = fromJson<CheckCodeData>(in.object("data"));
    return response;
}

template <>
SubscribeDiscount fromJson<SubscribeDiscount>(const QJsonObject &json)
{
    const Reader in(json);
    SubscribeDiscount discount;
    discount.quantity = in.integer("quantity");
    discount.discount = in.number("discount");
    return discount;
}

template <>
Subscribe fromJson<Subscribe>(const QJsonObject &json)
{
    const Reader in(json);
    Subscribe plan;
    plan.id = in.integer("id");
    plan.name = in.text("name");
    plan.language = in.text("language");
    plan.description = in.text("description");
    plan.unit_price = in.number("unit_price");
    plan.unit_time = in.text("unit_time");
    plan.discount = in.records<SubscribeDiscount>("discount");
    plan.replacement = in.integer("replacement");
    plan.inventory = in.integer("inventory");
    plan.traffic = in.timestamp("traffic");
    plan.speed_limit = in.integer("speed_limit");
    plan.device_limit = in.integer("device_limit");
    plan.quota = in.integer("quota");
    plan.nodes = in.integers("nodes");
    plan.node_tags = in.texts("node_tags");
    plan.show = in.flag("show");
    plan.sell = in.flag("sell");
    plan.sort = in.integer("sort");
    plan.deduction_ratio = in.number("deduction_ratio");
    plan.allow_deduction = in.flag("allow_deduction");
    plan.reset_cycle = in.integer("reset_cycle");
    plan.renewal_reset = in.flag("renewal_reset");
    plan.show_original_price = in.flag("show_original_price");
    plan.created_at = in.timestamp("created_at");
    plan.updated_at = in.timestamp("updated_at");
    return plan;
}

template <>
SubscribeNodeInfo fromJson<SubscribeNodeInfo>(const QJsonObject &json)
{
    const Reader in(json);
    SubscribeNodeInfo node;
    node.id = in.integer("id");
    node.name = in.text("name");
    node.uuid = in.text("uuid");
    node.protocol = in.text("protocol");
    node.port = in.integer("port");
    node.address = in.text("address");
    node.tags = in.texts("tags");
    node.country = in.text("country");
    node.city = in.text("city");
    node.created_at = in.timestamp("created_at");
    return node;
}

template <>
UserSubscribePlan fromJson<UserSubscribePlan>(const QJsonObject &json)
{
    const Reader in(json);
    UserSubscribePlan plan;
    plan.id = in.integer("id");
    plan.name = in.text("name");
    plan.description = in.text("description");
    return plan;
}

template <>
UserSubscribeItem fromJson<UserSubscribeItem>(const QJsonObject &json)
{
    const Reader in(json);
    UserSubscribeItem item;
    item.id = in.integer("id");
    item.user_id = in.integer("user_id");
    item.order_id = in.integer("order_id");
    item.subscribe_id = in.integer("subscribe_id");
    item.subscribe = fromJson<UserSubscribePlan>(in.object("subscribe"));
    item.start_time = in.timestamp("start_time");
    item.expire_time = in.timestamp("expire_time");
    item.finished_at = in.timestamp("finished_at");
    item.reset_time = in.timestamp("reset_time");
    item.traffic = in.timestamp("traffic");
    item.download = in.timestamp("download");
    item.upload = in.timestamp("upload");
    item.token = in.text("token");
    item.status = in.integer("status");
    item.created_at = in.timestamp("created_at");
    item.updated_at = in.timestamp("updated_at");
    item.is_try_out = in.flag("is_try_out");
    item.nodes = in.records<SubscribeNodeInfo>("nodes");
    return item;
}

template <>
PaymentMethod fromJson<PaymentMethod>(const QJsonObject &json)
{
    const Reader in(json);
    PaymentMethod method;
    method.id = in.integer("id");
    method.name = in.text("name");
    method.platform = in.text("platform");
    method.description = in.text("description");
    method.icon = in.text("icon");
    method.fee_mode = in.integer("fee_mode");
    method.fee_percent = in.number("fee_percent");
    method.fee_amount = in.number("fee_amount");
    return method;
}

template <>
PreOrderData fromJson<PreOrderData>(const QJsonObject &json)
{
    const Reader in(json);
    PreOrderData data;
    data.price = in.number("price");
    data.amount = in.number("amount");
    data.discount = in.number("discount");
    data.coupon = in.text("coupon");
    data.coupon_discount = in.number("coupon_discount");
    data.fee_amount = in.number("fee_amount");
    return data;
}

template <>
PreOrderResponse fromJson<PreOrderResponse>(const QJsonObject &json)
{
    const Reader in(json);
    PreOrderResponse response;
    response.msg = in.text("msg");
    response.data = fromJson<PreOrderData>(in.object("data"));
    return response;
}

template <>
OrderDetail fromJson<OrderDetail>(const QJsonObject &json)
{
    const Reader in(json);
    OrderDetail order;
    order.id = in.integer("id");
    order.user_id = in.integer("user_id");
    order.order_no = in.text("order_no");
    order.type = in.integer("type");
    order.quantity = in.integer("quantity");
    order.price = in.number("price");
    order.amount = in.number("amount");
    order.gift_amount = in.number("gift_amount");
    order.discount = in.number("discount");
    order.coupon = in.text("coupon");
    order.coupon_discount = in.number("coupon_discount");
    if (in.present("commission"))
        order.commission = in.number("commission");
    order.payment = fromJson<PaymentMethod>(in.object("payment"));
    order.method = in.text("method");
    order.fee_amount = in.number("fee_amount");
    order.trade_no = in.text("trade_no");
    order.status = in.integer("status");
    order.subscribe_id = in.integer("subscribe_id");
    order.subscribe = fromJson<Subscribe>(in.object("subscribe"));
    order.created_at = in.timestamp("created_at");
    order.updated_at = in.timestamp("updated_at");
    return order;
}

template <>
OrderDetailResponse fromJson<OrderDetailResponse>(const QJsonObject &json)
{
    const Reader in(json);
    OrderDetailResponse response;
    response.msg = in.text("msg");
    response.data = fromJson<OrderDetail>(in.object("data"));
    return response;
}

template <>
TicketFollow fromJson<TicketFollow>(const QJsonObject &json)
{
    const Reader in(json);
    TicketFollow follow;
    follow.id = in.integer("id");
    follow.ticket_id = in.integer("ticket_id");
    follow.from = in.text("from");
    follow.type = in.integer("type");
    follow.content = in.text("content");
    follow.created_at = in.timestamp("created_at");
    return follow;
}

template <>
Ticket fromJson<Ticket>(const QJsonObject &json)
{
    const Reader in(json);
    Ticket ticket;
    ticket.id = in.integer("id");
    ticket.user_id = in.integer("user_id");
    ticket.title = in.text("title");
    ticket.description = in.text("description");
    ticket.status = in.integer("status");
    ticket.follow = in.records<TicketFollow>("follow");
    ticket.created_at = in.timestamp("created_at");
    ticket.updated_at = in.timestamp("updated_at");
    return ticket;
}

template <>
Announcement fromJson<Announcement>(const QJsonObject &json)
{
    const Reader in(json);
    Announcement announcement;
    announcement.id = in.integer("id");
    announcement.title = in.text("title");
    announcement.content = in.text("content");
    announcement.show = in.flag("show");
    announcement.pinned = in.flag("pinned");
    announcement.popup = in.flag("popup");
    announcement.created_at = in.timestamp("created_at");
    announcement.updated_at = in.timestamp("updated_at");
    return announcement;
}

QStringList strArrayFromJson(const QJsonArray &array)
{
    QStringList texts;
    texts.reserve(array.size());
    for (const QJsonValue &element : array)
        texts.append(element.toString());
    return texts;
}

} // namespace API
