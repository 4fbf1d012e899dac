#include "webpages.h"

#include "catalogue.h"
#include "orders.h"
#include "panelconfig.h"
#include "panelrequest.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QStringList>
#include <QUrl>

namespace {

QString page(const QString &title, const QString &content)
{
    return QStringLiteral(
        "<!DOCTYPE html><html><head><meta charset=\"utf-8\"><title>%1</title>"
        "<style>body{font-family:sans-serif;max-width:32em;margin:3em auto;padding:0 1em}"
        "button{font-size:1.1em;padding:.5em 1.5em;margin-right:1em}"
        "table td{padding:.2em 1em .2em 0}</style></head><body><h1>%1</h1>%2</body></html>")
        .arg(title.toHtmlEscaped(), content);
}

// A localised plan name is stored as a JSON object; show its English or first entry.
QString planName(const QString &stored)
{
    const QJsonDocument document = QJsonDocument::fromJson(stored.toUtf8());
    if (!document.isObject() || document.object().isEmpty())
        return stored;
    const QJsonObject names = document.object();
    if (names.contains(QStringLiteral("en-US")))
        return names.value(QStringLiteral("en-US")).toString();
    return names.begin().value().toString();
}

// Pictures of the seeded payment methods, at the addresses their icons resolve to.
QByteArray paymentIcon(const QString &path)
{
    if (path == QLatin1String("/assets/payment/card.svg"))
        return QByteArrayLiteral(
            "<svg xmlns=\"http://www.w3.org/2000/svg\" viewBox=\"0 0 32 32\">"
            "<rect x=\"3\" y=\"7\" width=\"26\" height=\"18\" rx=\"3\" fill=\"#2f6fde\"/>"
            "<rect x=\"3\" y=\"11\" width=\"26\" height=\"4\" fill=\"#173a7a\"/>"
            "<rect x=\"7\" y=\"19\" width=\"8\" height=\"2\" rx=\"1\" fill=\"#ffffff\"/></svg>");
    if (path == QLatin1String("/wallet.svg"))
        return QByteArrayLiteral(
            "<svg xmlns=\"http://www.w3.org/2000/svg\" viewBox=\"0 0 32 32\">"
            "<rect x=\"3\" y=\"8\" width=\"26\" height=\"18\" rx=\"4\" fill=\"#0f9d76\"/>"
            "<rect x=\"18\" y=\"13\" width=\"11\" height=\"8\" rx=\"2\" fill=\"#0a6b51\"/>"
            "<circle cx=\"22\" cy=\"17\" r=\"1.6\" fill=\"#ffffff\"/></svg>");
    return {};
}

QString money(qint64 minor, const QString &symbol)
{
    return symbol + QString::number(minor / 100) + QLatin1Char('.')
        + QStringLiteral("%1").arg(minor % 100, 2, 10, QLatin1Char('0'));
}

} // namespace

WebPages::WebPages(Orders &orders, Catalogue &catalogue, PanelConfig &config)
    : m_orders(orders)
    , m_catalogue(catalogue)
    , m_config(config)
{ }

bool WebPages::serves(const QString &path) const
{
    return path == QLatin1String("/") || path.startsWith(QLatin1String("/pay/"))
        || !paymentIcon(path).isEmpty() || path == QLatin1String("/terms")
        || path == QLatin1String("/privacy") || path == QLatin1String("/download");
}

PanelReply WebPages::handle(const PanelRequest &request)
{
    const QString path = request.path();
    const bool post = request.method() == "POST";
    if (const QByteArray icon = paymentIcon(path); !icon.isEmpty() && !post) {
        PanelReply reply = PanelReply::text(icon);
        reply.contentType = "image/svg+xml";
        return reply;
    }
    if (path.startsWith(QLatin1String("/pay/"))) {
        const QStringList parts = path.mid(5).split(QLatin1Char('/'));
        if (parts.size() == 1 && !post)
            return paymentPage(parts.at(0));
        if (parts.size() == 2 && post && parts.at(1) == QLatin1String("pay"))
            return settle(parts.at(0), true);
        if (parts.size() == 2 && post && parts.at(1) == QLatin1String("fail"))
            return settle(parts.at(0), false);
        return PanelReply::html(page(QStringLiteral("Not found"), {}), 404);
    }
    if (post)
        return PanelReply::html(page(QStringLiteral("Not found"), {}), 405);
    if (path == QLatin1String("/terms"))
        return sitePage(QStringLiteral("Terms of service"),
            QStringLiteral("These are the development panel's placeholder terms."));
    if (path == QLatin1String("/privacy"))
        return sitePage(QStringLiteral("Privacy policy"),
            QStringLiteral("The development panel keeps everything in its data "
                           "directory and sends nothing anywhere."));
    if (path == QLatin1String("/download"))
        return sitePage(QStringLiteral("Download"),
            QStringLiteral("Builds of the client would be offered here."));
    const QString siteName = m_config.siteConfig().value(QStringLiteral("site_name")).toString();
    return sitePage(siteName.isEmpty() ? QStringLiteral("Development panel") : siteName,
        QStringLiteral("A development panel for trying the client on this machine."));
}

PanelReply WebPages::sitePage(const QString &title, const QString &text)
{
    return PanelReply::html(page(title, QStringLiteral("<p>%1</p>").arg(text.toHtmlEscaped())));
}

PanelReply WebPages::paymentPage(const QString &orderNo)
{
    const auto order = m_orders.order(orderNo);
    if (!order)
        return PanelReply::html(
            page(QStringLiteral("Unknown order"),
                QStringLiteral("<p>There is no order %1.</p>").arg(orderNo.toHtmlEscaped())),
            404);
    const QString symbol = m_config.siteConfig()
                               .value(QStringLiteral("currency"))
                               .toObject()
                               .value(QStringLiteral("currency_symbol"))
                               .toString();
    const auto plan = m_catalogue.plan(order->value("subscribe_id").toLongLong());
    const QString action
        = QStringLiteral("/pay/") + QString::fromLatin1(QUrl::toPercentEncoding(orderNo));
    QString body
        = QStringLiteral("<table><tr><td>Order</td><td>%1</td></tr>"
                         "<tr><td>Plan</td><td>%2 &times; %3</td></tr>"
                         "<tr><td>Amount</td><td>%4</td></tr></table>")
              .arg(orderNo.toHtmlEscaped(),
                  planName(plan ? plan->value("name").toString() : QString()).toHtmlEscaped(),
                  QString::number(order->value("quantity").toLongLong()),
                  money(order->value("amount").toLongLong(), symbol).toHtmlEscaped());
    if (order->value("status").toInt() == Orders::Pending) {
        body += QStringLiteral("<p>This is a test payment: nothing is charged.</p>"
                               "<form method=\"post\" style=\"display:inline\" action=\"%1/pay\">"
                               "<button id=\"pay\" type=\"submit\">Pay</button></form>"
                               "<form method=\"post\" style=\"display:inline\" action=\"%1/fail\">"
                               "<button id=\"fail\" type=\"submit\">Fail</button></form>")
                    .arg(action);
    } else {
        body += QStringLiteral("<p>This order is no longer awaiting payment (status %1).</p>")
                    .arg(order->value("status").toInt());
    }
    return PanelReply::html(page(QStringLiteral("Payment"), body));
}

PanelReply WebPages::settle(const QString &orderNo, bool paid)
{
    const QString problem = m_orders.settle(orderNo, paid);
    if (!problem.isEmpty())
        return PanelReply::html(page(QStringLiteral("Payment"),
                                    QStringLiteral("<p>%1</p>").arg(problem.toHtmlEscaped())),
            409);
    const auto order = m_orders.order(orderNo);
    const QString returnUrl = order ? order->value("return_url").toString() : QString();
    QString body = paid ? QStringLiteral("<p id=\"result\">Payment complete. You can go back to "
                                         "the app.</p>")
                        : QStringLiteral("<p id=\"result\">Payment failed. Nothing was "
                                         "charged.</p>");
    if (QUrl(returnUrl).scheme() == QLatin1String("https"))
        body += QStringLiteral("<p><a href=\"%1\">Return</a></p>").arg(returnUrl.toHtmlEscaped());
    return PanelReply::html(page(QStringLiteral("Payment"), body));
}
