#pragma once

#include <QJsonArray>
#include <QJsonObject>
#include <QString>
#include <QStringList>

#include <optional>
#include <vector>

// The panel's reply records. Field names are the JSON keys. Decoding is lenient and never fails:
// a missing key, null or a value of another type leaves the field at its default, so a malformed
// reply becomes a record of defaults whose msg is not SuccessMsg.
namespace API {

// A panel reply succeeds exactly when its "msg" equals this, letter case included.
inline const QString SuccessMsg = QStringLiteral("success");

struct SiteCurrency
{
    QString currency_unit;
    QString currency_symbol;
};

struct SiteConfig
{
    QString host;
    QString site_name;
    QString site_desc;
    QString site_logo;
    QString keywords;
    QString custom_html;
    QString custom_data;
    SiteCurrency currency;
};

struct UserAuthMethod
{
    QString auth_type;
    QString auth_identifier;
    bool verified = false;
};

struct UserDevice
{
    int id = 0;
    QString ip;
    QString identifier;
    QString user_agent;
    bool online = false;
    bool enabled = false;
    qint64 created_at = 0;
    qint64 updated_at = 0;
};

// Money is in hundredths of the currency unit.
struct User
{
    int id = 0;
    QString avatar;
    double balance = 0.0;
    double commission = 0.0;
    double referral_percentage = 0.0;
    bool only_first_purchase = false;
    double gift_amount = 0.0;
    int telegram = 0;
    QString refer_code;
    int referer_id = 0;
    bool enable = false;
    std::optional<bool> is_admin;
    bool enable_balance_notify = false;
    bool enable_login_notify = false;
    bool enable_subscribe_notify = false;
    bool enable_trade_notify = false;
    std::vector<UserAuthMethod> auth_methods;
    std::vector<UserDevice> user_devices;
    QStringList rules;
    qint64 created_at = 0;
    qint64 updated_at = 0;
    std::optional<qint64> deleted_at;
};

// Decoded from the whole reply; the token sits in "data".
struct LoginResponse
{
    QString msg;
    QString token;
};

struct SendCodeData
{
    bool status = false;
    std::optional<QString> code;
};

struct SendCodeResponse
{
    QString msg;
    SendCodeData data;
};

struct CheckCodeData
{
    bool status = false;
};

struct CheckCodeResponse
{
    QString msg;
    CheckCodeData data;
};

struct SubscribeDiscount
{
    int quantity = 0;
    double discount = 0.0;
};

// A plan of the catalogue. "name" may hold a JSON object of localised names as text.
struct Subscribe
{
    int id = 0;
    QString name;
    QString language;
    QString description;
    double unit_price = 0.0;
    QString unit_time;
    std::vector<SubscribeDiscount> discount;
    int replacement = 0;
    int inventory = 0;
    qint64 traffic = 0; // bytes
    int speed_limit = 0;
    int device_limit = 0;
    int quota = 0;
    std::vector<int> nodes;
    QStringList node_tags;
    bool show = false;
    bool sell = false;
    int sort = 0;
    double deduction_ratio = 0.0;
    bool allow_deduction = false;
    int reset_cycle = 0;
    bool renewal_reset = false;
    bool show_original_price = false;
    qint64 created_at = 0;
    qint64 updated_at = 0;
};

struct SubscribeNodeInfo
{
    int id = 0;
    QString name;
    QString uuid;
    QString protocol;
    int port = 0;
    QString address;
    QStringList tags;
    QString country;
    QString city;
    qint64 created_at = 0;
};

// The plan as a held subscription names it.
struct UserSubscribePlan
{
    int id = 0;
    QString name;
    QString description;
};

// One subscription that the user holds. Times are seconds or milliseconds as sent; traffic in
// bytes.
struct UserSubscribeItem
{
    int id = 0;
    int user_id = 0;
    int order_id = 0;
    int subscribe_id = 0;
    UserSubscribePlan subscribe;
    qint64 start_time = 0;
    qint64 expire_time = 0;
    qint64 finished_at = 0;
    qint64 reset_time = 0;
    qint64 traffic = 0;
    qint64 download = 0;
    qint64 upload = 0;
    QString token;
    int status = 0;
    qint64 created_at = 0;
    qint64 updated_at = 0;
    bool is_try_out = false;
    std::vector<SubscribeNodeInfo> nodes;
};

struct PaymentMethod
{
    int id = 0;
    QString name;
    QString platform;
    QString description;
    QString icon;
    int fee_mode = 0;
    double fee_percent = 0.0;
    double fee_amount = 0.0;
};

struct PreOrderData
{
    double price = 0.0;
    double amount = 0.0;
    double discount = 0.0;
    QString coupon;
    double coupon_discount = 0.0;
    double fee_amount = 0.0;
};

struct PreOrderResponse
{
    QString msg;
    PreOrderData data;
};

struct OrderDetail
{
    int id = 0;
    int user_id = 0;
    QString order_no;
    int type = 0;
    int quantity = 0;
    double price = 0.0;
    double amount = 0.0;
    double gift_amount = 0.0;
    double discount = 0.0;
    QString coupon;
    double coupon_discount = 0.0;
    std::optional<double> commission;
    PaymentMethod payment;
    QString method;
    double fee_amount = 0.0;
    QString trade_no;
    int status = 0;
    int subscribe_id = 0;
    Subscribe subscribe;
    qint64 created_at = 0;
    qint64 updated_at = 0;
};

struct OrderDetailResponse
{
    QString msg;
    OrderDetail data;
};

struct TicketFollow
{
    int id = 0;
    int ticket_id = 0;
    QString from;
    int type = 0;
    QString content;
    qint64 created_at = 0;
};

struct Ticket
{
    int id = 0;
    int user_id = 0;
    QString title;
    QString description;
    int status = 0;
    std::vector<TicketFollow> follow;
    qint64 created_at = 0;
    qint64 updated_at = 0;
};

struct Announcement
{
    int id = 0;
    QString title;
    QString content;
    bool show = false;
    bool pinned = false;
    bool popup = false;
    qint64 created_at = 0;
    qint64 updated_at = 0;
};

// Defined for every record above.
template <typename T>
T fromJson(const QJsonObject &json);

template <>
SiteCurrency fromJson<SiteCurrency>(const QJsonObject &json);
template <>
SiteConfig fromJson<SiteConfig>(const QJsonObject &json);
template <>
UserAuthMethod fromJson<UserAuthMethod>(const QJsonObject &json);
template <>
UserDevice fromJson<UserDevice>(const QJsonObject &json);
template <>
User fromJson<User>(const QJsonObject &json);
template <>
LoginResponse fromJson<LoginResponse>(const QJsonObject &json);
template <>
SendCodeData fromJson<SendCodeData>(const QJsonObject &json);
template <>
SendCodeResponse fromJson<SendCodeResponse>(const QJsonObject &json);
template <>
CheckCodeData fromJson<CheckCodeData>(const QJsonObject &json);
template <>
CheckCodeResponse fromJson<CheckCodeResponse>(const QJsonObject &json);
template <>
SubscribeDiscount fromJson<SubscribeDiscount>(const QJsonObject &json);
template <>
Subscribe fromJson<Subscribe>(const QJsonObject &json);
template <>
SubscribeNodeInfo fromJson<SubscribeNodeInfo>(const QJsonObject &json);
template <>
UserSubscribePlan fromJson<UserSubscribePlan>(const QJsonObject &json);
template <>
UserSubscribeItem fromJson<UserSubscribeItem>(const QJsonObject &json);
template <>
PaymentMethod fromJson<PaymentMethod>(const QJsonObject &json);
template <>
PreOrderData fromJson<PreOrderData>(const QJsonObject &json);
template <>
PreOrderResponse fromJson<PreOrderResponse>(const QJsonObject &json);
template <>
OrderDetail fromJson<OrderDetail>(const QJsonObject &json);
template <>
OrderDetailResponse fromJson<OrderDetailResponse>(const QJsonObject &json);
template <>
TicketFollow fromJson<TicketFollow>(const QJsonObject &json);
template <>
Ticket fromJson<Ticket>(const QJsonObject &json);
template <>
Announcement fromJson<Announcement>(const QJsonObject &json);

// Every element in order; one that is not an object still yields a record, of defaults.
template <typename T>
std::vector<T> arrayFromJson(const QJsonArray &array)
{
    std::vector<T> records;
    records.reserve(static_cast<std::size_t>(array.size()));
    for (const QJsonValue &element : array)
        records.push_back(fromJson<T>(element.toObject()));
    return records;
}

// Every element as text, in order; non-strings give empty texts.
QStringList strArrayFromJson(const QJsonArray &array);

} // namespace API
