#include "orders.h"

#include "bodyreader.h"
#include "catalogue.h"
#include "panelclock.h"
#include "panelconfig.h"
#include "panelstorage.h"
#include "subscriptions.h"

#include <QDateTime>
#include <QDebug>
#include <QJsonArray>
#include <QJsonDocument>
#include <QRandomGenerator>
#include <QUrl>

#include <cmath>

namespace {

constexpr qint64 kMaxQuantity = 120;

// Percentage of the price that is paid for `quantity` units: the entry with the largest quantity
// not above the one bought.
double discountPercent(const QJsonArray &discounts, qint64 quantity)
{
    double percent = 100;
    qint64 best = 0;
    for (const QJsonValue &entry : discounts) {
        const qint64 from
            = BodyReader::wholeNumber(entry.toObject().value(QStringLiteral("quantity")))
                  .value_or(0);
        const double value = entry.toObject().value(QStringLiteral("discount")).toDouble();
        if (from > best && from <= quantity && value > 0 && value <= 100) {
            best = from;
            percent = value;
        }
    }
    return percent;
}

} // namespace

Orders::Orders(PanelStorage &storage, PanelConfig &config, PanelClock &clock, Catalogue &catalogue,
    Subscriptions &subscriptions)
    : m_storage(storage)
    , m_config(config)
    , m_clock(clock)
    , m_catalogue(catalogue)
    , m_subscriptions(subscriptions)
{ }

QString Orders::quote(
    qint64 planId, qint64 quantity, qint64 paymentId, const QString &coupon, Quote &out)
{
    const auto plan = m_catalogue.plan(planId);
    if (!plan)
        return QStringLiteral("Subscribe plan does not exist");
    if (!plan->value("sell").toBool())
        return QStringLiteral("This plan is not for sale");
    if (quantity < 1 || quantity > kMaxQuantity)
        return QStringLiteral("Invalid quantity");
    const auto payment = m_catalogue.paymentMethod(paymentId);
    if (!payment)
        return QStringLiteral("Payment method does not exist");

    out = Quote();
    out.price = plan->value("unit_price").toLongLong() * quantity;
    const QJsonArray discounts
        = QJsonDocument::fromJson(plan->value("discount").toString().toUtf8()).array();
    out.discount = out.price
        - qint64(std::llround(out.price * discountPercent(discounts, quantity) / 100.0));
    qint64 due = out.price - out.discount;

    if (!coupon.isEmpty()) {
        const auto row = m_catalogue.coupon(coupon);
        if (!row)
            return QStringLiteral("Coupon does not exist");
        const qint64 expireAt = row->value("expire_at").toLongLong();
        if (expireAt > 0 && expireAt <= m_clock.now())
            return QStringLiteral("Coupon has expired");
        if (row->value("remaining").toLongLong() == 0)
            return QStringLiteral("Coupon has been used up");
        const QJsonArray plans
            = QJsonDocument::fromJson(row->value("plans").toString().toUtf8()).array();
        if (!plans.isEmpty() && !plans.contains(QJsonValue(double(planId))))
            return QStringLiteral("Coupon is not applicable to this plan");
        const qint64 value = row->value("value").toLongLong();
        const qint64 off
            = row->value("kind").toInt() == 1 ? qint64(std::llround(due * value / 100.0)) : value;
        out.coupon = coupon;
        out.couponDiscount = qMin(off, due);
        due -= out.couponDiscount;
    }

    // Fees are bounded so that no stored value can overflow the sum.
    const int feeMode = payment->value("fee_mode").toInt();
    const double feePercent = qBound(0.0, payment->value("fee_percent").toDouble(), 100.0);
    if (feeMode == 1 || feeMode == 3)
        out.fee += qint64(std::llround(due * feePercent / 100.0));
    if (feeMode == 2 || feeMode == 3)
        out.fee += qBound(qint64(0), payment->value("fee_amount").toLongLong(), qint64(100000000));
    out.amount = due + out.fee;
    return {};
}

PanelReply Orders::preview(qint64 userId, const QByteArray &body)
{
    Q_UNUSED(userId);
    BodyReader in(body);
    const qint64 planId = in.integer(QStringLiteral("subscribe_id"), 1, INT32_MAX);
    const qint64 quantity = in.integer(QStringLiteral("quantity"), 1, kMaxQuantity);
    const qint64 paymentId = in.integer(QStringLiteral("payment"), 1, INT32_MAX);
    const QString coupon = in.optionalText(QStringLiteral("coupon"));
    if (!in.ok())
        return PanelReply::refusal(in.error());
    Quote q;
    if (const QString problem = quote(planId, quantity, paymentId, coupon, q); !problem.isEmpty())
        return PanelReply::refusal(problem);
    return PanelReply::success(QJsonObject {{QStringLiteral("price"), q.price},
        {QStringLiteral("amount"), q.amount}, {QStringLiteral("discount"), q.discount},
        {QStringLiteral("coupon"), q.coupon}, {QStringLiteral("coupon_discount"), q.couponDiscount},
        {QStringLiteral("fee_amount"), q.fee}});
}

QString Orders::uniqueOrderNo()
{
    for (;;) {
        const QString orderNo = QDateTime::fromSecsSinceEpoch(m_clock.now())
                                    .toUTC()
                                    .toString(QStringLiteral("yyyyMMddHHmmss"))
            + QString::number(QRandomGenerator::global()->bounded(100000, 1000000));
        if (!m_storage.value(QStringLiteral("SELECT 1 FROM orders WHERE order_no = ?"), {orderNo})
                 .isValid())
            return orderNo;
    }
}

PanelReply Orders::createOrder(qint64 userId, const QByteArray &body, Type type)
{
    BodyReader in(body);
    qint64 planId = 0;
    qint64 userSubscribeId = 0;
    if (type == Purchase)
        planId = in.integer(QStringLiteral("subscribe_id"), 1, INT32_MAX);
    else
        userSubscribeId = in.integer(QStringLiteral("user_subscribe_id"), 1, INT32_MAX);
    const qint64 quantity = in.integer(QStringLiteral("quantity"), 1, kMaxQuantity);
    const qint64 paymentId = in.integer(QStringLiteral("payment"), 1, INT32_MAX);
    const QString coupon = in.optionalText(QStringLiteral("coupon"));
    if (!in.ok())
        return PanelReply::refusal(in.error());

    if (type == Renewal) {
        const auto held = m_subscriptions.subscription(userSubscribeId);
        if (!held || held->value("user_id").toLongLong() != userId)
            return PanelReply::refusal(QStringLiteral("Subscription does not exist"));
        planId = held->value("subscribe_id").toLongLong();
    }
    Quote q;
    if (const QString problem = quote(planId, quantity, paymentId, coupon, q); !problem.isEmpty())
        return PanelReply::refusal(problem);
    if (type == Purchase) {
        const auto plan = m_catalogue.plan(planId);
        if (plan && plan->value("inventory").toLongLong() == 0)
            return PanelReply::refusal(QStringLiteral("This plan is sold out"));
    }

    const QString orderNo = uniqueOrderNo();
    const qint64 now = m_clock.now();
    const qint64 id = m_storage.insert(
        QStringLiteral("INSERT INTO orders (order_no, user_id, type, quantity, price, amount, "
                       "discount, coupon, coupon_discount, payment_id, fee_amount, status, "
                       "subscribe_id, user_subscribe_id, created_at, updated_at) "
                       "VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)"),
        {orderNo, userId, int(type), quantity, q.price, q.amount, q.discount, q.coupon,
            q.couponDiscount, paymentId, q.fee, int(Pending), planId, userSubscribeId, now, now});
    if (id <= 0)
        return PanelReply::refusal(QStringLiteral("Failed to create order, please try again"), 500);
    if (!q.coupon.isEmpty())
        m_storage.exec(QStringLiteral("UPDATE coupons SET remaining = remaining - 1 "
                                      "WHERE code = ? AND remaining > 0"),
            {q.coupon});
    qInfo().noquote() << "[Orders] Order" << orderNo << (type == Purchase ? "purchase" : "renewal")
                      << "amount" << q.amount;
    return PanelReply::success(QJsonObject {{QStringLiteral("order_no"), orderNo}});
}

PanelReply Orders::purchase(qint64 userId, const QByteArray &body)
{
    return createOrder(userId, body, Purchase);
}

PanelReply Orders::renewal(qint64 userId, const QByteArray &body)
{
    return createOrder(userId, body, Renewal);
}

std::optional<QVariantMap> Orders::order(const QString &orderNo)
{
    auto row = m_storage.row(QStringLiteral("SELECT * FROM orders WHERE order_no = ?"), {orderNo});
    if (row && row->value("status").toInt() == Pending
        && m_clock.now() - row->value("created_at").toLongLong() > m_config.orderTimeout()) {
        setStatus(orderNo, Closed);
        row->insert(QStringLiteral("status"), int(Closed));
    }
    return row;
}

bool Orders::setStatus(const QString &orderNo, int status)
{
    if (status < Pending || status > Finished)
        return false;
    return m_storage.value(QStringLiteral("SELECT 1 FROM orders WHERE order_no = ?"), {orderNo})
               .isValid()
        && m_storage.exec(
            QStringLiteral("UPDATE orders SET status = ?, updated_at = ? WHERE order_no = ?"),
            {status, m_clock.now(), orderNo});
}

QString Orders::finish(const QVariantMap &order)
{
    const qint64 orderId = order.value("id").toLongLong();
    const qint64 quantity = order.value("quantity").toLongLong();
    if (order.value("type").toInt() == Renewal) {
        if (!m_subscriptions.extend(order.value("user_subscribe_id").toLongLong(), quantity))
            return QStringLiteral("The subscription to renew no longer exists");
    } else if (m_subscriptions.grant(order.value("user_id").toLongLong(),
                   order.value("subscribe_id").toLongLong(), orderId, quantity)
        == 0) {
        return QStringLiteral("The plan no longer exists");
    }
    m_storage.exec(QStringLiteral("UPDATE orders SET status = ?, trade_no = ?, updated_at = ? "
                                  "WHERE id = ?"),
        {int(Finished), QStringLiteral("DEV") + order.value("order_no").toString(), m_clock.now(),
            orderId});
    qInfo().noquote() << "[Orders] Order" << order.value("order_no").toString() << "paid";
    return {};
}

QString Orders::settle(const QString &orderNo, bool paid)
{
    const auto row = order(orderNo);
    if (!row)
        return QStringLiteral("Order does not exist");
    if (row->value("status").toInt() != Pending)
        return QStringLiteral("This order is no longer awaiting payment");
    if (!paid) {
        setStatus(orderNo, Failed);
        qInfo().noquote() << "[Orders] Order" << orderNo << "payment failed";
        return {};
    }
    return finish(*row);
}

PanelReply Orders::checkout(qint64 userId, const QByteArray &body)
{
    BodyReader in(body);
    const QString orderNo = in.text(QStringLiteral("orderNo"));
    const QString returnUrl = in.optionalText(QStringLiteral("returnUrl"));
    if (!in.ok())
        return PanelReply::refusal(in.error());
    const auto row = order(orderNo);
    if (!row || row->value("user_id").toLongLong() != userId)
        return PanelReply::refusal(QStringLiteral("Order does not exist"));
    if (row->value("status").toInt() != Pending)
        return PanelReply::refusal(QStringLiteral("This order is no longer awaiting payment"));
    const auto payment = m_catalogue.paymentMethod(row->value("payment_id").toLongLong());
    if (!payment)
        return PanelReply::refusal(QStringLiteral("Payment method does not exist"));

    if (payment->value("platform").toString().compare(QLatin1String("balance"), Qt::CaseInsensitive)
        == 0) {
        const auto user = m_storage.row(
            QStringLiteral("SELECT balance, gift_amount FROM users WHERE id = ?"), {userId});
        const qint64 amount = row->value("amount").toLongLong();
        const qint64 gift = user ? user->value("gift_amount").toLongLong() : 0;
        const qint64 balance = user ? user->value("balance").toLongLong() : 0;
        if (gift + balance < amount)
            return PanelReply::refusal(QStringLiteral("Insufficient balance"));
        const qint64 fromGift = qMin(gift, amount);
        m_storage.exec(QStringLiteral("UPDATE users SET gift_amount = gift_amount - ?, "
                                      "balance = balance - ? WHERE id = ?"),
            {fromGift, amount - fromGift, userId});
        m_storage.exec(QStringLiteral("UPDATE orders SET gift_amount = ? WHERE id = ?"),
            {fromGift, row->value("id")});
        if (const QString problem = finish(*row); !problem.isEmpty())
            return PanelReply::refusal(problem);
        return PanelReply::success(QJsonObject {{QStringLiteral("type"), QStringLiteral("balance")},
            {QStringLiteral("checkout_url"), QJsonValue::Null}});
    }

    m_storage.exec(QStringLiteral("UPDATE orders SET return_url = ? WHERE id = ?"),
        {returnUrl, row->value("id")});
    const QString url = m_paymentBaseUrl + QStringLiteral("/pay/")
        + QString::fromLatin1(QUrl::toPercentEncoding(orderNo));
    return PanelReply::success(QJsonObject {
        {QStringLiteral("type"), QStringLiteral("url")}, {QStringLiteral("checkout_url"), url}});
}

QJsonObject Orders::detailJson(const QVariantMap &order)
{
    const auto payment = m_storage.row(
        QStringLiteral("SELECT * FROM payment_methods WHERE id = ?"), {order.value("payment_id")});
    const auto plan = m_catalogue.plan(order.value("subscribe_id").toLongLong());
    return QJsonObject {
        {QStringLiteral("id"), order.value("id").toLongLong()},
        {QStringLiteral("user_id"), order.value("user_id").toLongLong()},
        {QStringLiteral("order_no"), order.value("order_no").toString()},
        {QStringLiteral("type"), order.value("type").toInt()},
        {QStringLiteral("quantity"), order.value("quantity").toLongLong()},
        {QStringLiteral("price"), order.value("price").toLongLong()},
        {QStringLiteral("amount"), order.value("amount").toLongLong()},
        {QStringLiteral("gift_amount"), order.value("gift_amount").toLongLong()},
        {QStringLiteral("discount"), order.value("discount").toLongLong()},
        {QStringLiteral("coupon"), order.value("coupon").toString()},
        {QStringLiteral("coupon_discount"), order.value("coupon_discount").toLongLong()},
        {QStringLiteral("commission"), QJsonValue::Null},
        {QStringLiteral("payment"),
            payment ? m_catalogue.paymentMethodJson(*payment) : QJsonObject()},
        {QStringLiteral("method"), payment ? payment->value("platform").toString() : QString()},
        {QStringLiteral("fee_amount"), order.value("fee_amount").toLongLong()},
        {QStringLiteral("trade_no"), order.value("trade_no").toString()},
        {QStringLiteral("status"), order.value("status").toInt()},
        {QStringLiteral("subscribe_id"), order.value("subscribe_id").toLongLong()},
        {QStringLiteral("subscribe"), plan ? m_catalogue.planJson(*plan) : QJsonObject()},
        {QStringLiteral("created_at"), order.value("created_at").toLongLong()},
        {QStringLiteral("updated_at"), order.value("updated_at").toLongLong()},
    };
}

PanelReply Orders::detail(qint64 userId, const QString &orderNo)
{
    if (orderNo.isEmpty())
        return PanelReply::refusal(QStringLiteral("Missing query item: order_no"));
    const auto row = order(orderNo);
    if (!row || row->value("user_id").toLongLong() != userId)
        return PanelReply::refusal(QStringLiteral("Order does not exist"));
    return PanelReply::success(detailJson(*row));
}
