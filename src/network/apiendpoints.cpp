#include "network/apiendpoints.h"

#include "network/deployment.h"

namespace {

struct Endpoint
{
    QString address;
    const char *path;
};

// Storage behind the constant references of the header; reload() rewrites it in place.
struct Table
{
    QString baseUrl;
    QString domain;
    Endpoint login {{}, "/v1/auth/login"};
    Endpoint registerAccount {{}, "/v1/auth/register"};
    Endpoint resetPassword {{}, "/v1/auth/reset"};
    Endpoint authCheck {{}, "/v1/auth/check"};
    Endpoint authConfig {{}, "/v1/auth/config"};
    Endpoint userSubscribe {{}, "/v1/public/user/subscribe"};
    Endpoint userInfo {{}, "/v1/public/user/info"};
    Endpoint portalSubscribe {{}, "/v1/public/portal/subscribe"};
    Endpoint portalPaymentMethod {{}, "/v1/public/portal/payment-method"};
    Endpoint portalPurchase {{}, "/v1/public/portal/purchase"};
    Endpoint portalPrePurchase {{}, "/v1/public/portal/pre"};
    Endpoint portalOrderCheckout {{}, "/v1/public/portal/order/checkout"};
    Endpoint portalOrderStatus {{}, "/v1/public/portal/order/status"};
    Endpoint orderPre {{}, "/v1/public/order/pre"};
    Endpoint orderPurchase {{}, "/v1/public/order/purchase"};
    Endpoint orderRenewal {{}, "/v1/public/order/renewal"};
    Endpoint orderList {{}, "/v1/public/order/list"};
    Endpoint orderDetail {{}, "/v1/public/order/detail"};
    Endpoint orderClose {{}, "/v1/public/order/close"};
    Endpoint subscribeList {{}, "/v1/public/subscribe/list"};
    Endpoint subscribeNodeList {{}, "/v1/public/subscribe/node/list"};
    Endpoint subscribeClaimFree {{}, "/v1/public/subscribe/claim_free"};
    Endpoint subscribeConfig {{}, "/api/subscribe"};
    Endpoint siteConfig {{}, "/v1/common/site/config"};
    Endpoint sendCode {{}, "/v1/common/send_code"};
    Endpoint checkCode {{}, "/v1/common/check_verification_code"};
    Endpoint heartbeat {{}, "/v1/common/heartbeat"};
    Endpoint announcementList {{}, "/v1/public/announcement/list"};
    Endpoint ticketCreate {{}, "/v1/public/ticket/"};
    Endpoint ticketList {{}, "/v1/public/ticket/list"};
    Endpoint ticketDetail {{}, "/v1/public/ticket/detail"};
    Endpoint ticketFollow {{}, "/v1/public/ticket/follow"};
    Endpoint ticketUpdate {{}, "/v1/public/ticket/"};

    void build()
    {
        baseUrl = QStringLiteral("https://") + Deployment::apiHost();
        domain = QStringLiteral("https://") + Deployment::webDomain();
        for (Endpoint *endpoint : {&login, &registerAccount, &resetPassword, &authCheck,
                 &authConfig, &userSubscribe, &userInfo, &portalSubscribe, &portalPaymentMethod,
                 &portalPurchase, &portalPrePurchase, &portalOrderCheckout, &portalOrderStatus,
                 &orderPre, &orderPurchase, &orderRenewal, &orderList, &orderDetail, &orderClose,
                 &subscribeList, &subscribeNodeList, &subscribeClaimFree, &subscribeConfig,
                 &siteConfig, &sendCode, &checkCode, &heartbeat, &announcementList, &ticketCreate,
                 &ticketList, &ticketDetail, &ticketFollow, &ticketUpdate})
            endpoint->address = baseUrl + QLatin1String(endpoint->path);
    }
};

Table makeTable()
{
    Table table;
    table.build();
    return table;
}

Table table = makeTable();

} // namespace

namespace ApiEndpoints {

const QString &BaseURL = table.baseUrl;
const QString &Domain = table.domain;

namespace Auth {
const QString &Login = table.login.address;
const QString &Register = table.registerAccount.address;
const QString &ResetPassword = table.resetPassword.address;
const QString &Check = table.authCheck.address;
const QString &Config = table.authConfig.address;
} // namespace Auth

namespace User {
const QString &Subscribe = table.userSubscribe.address;
const QString &Info = table.userInfo.address;
} // namespace User

namespace Portal {
const QString &Subscribe = table.portalSubscribe.address;
const QString &PaymentMethod = table.portalPaymentMethod.address;
const QString &Purchase = table.portalPurchase.address;
const QString &PrePurchase = table.portalPrePurchase.address;
const QString &OrderCheckout = table.portalOrderCheckout.address;
const QString &OrderStatus = table.portalOrderStatus.address;
} // namespace Portal

namespace Order {
const QString &Pre = table.orderPre.address;
const QString &Purchase = table.orderPurchase.address;
const QString &Renewal = table.orderRenewal.address;
const QString &List = table.orderList.address;
const QString &Detail = table.orderDetail.address;
const QString &Close = table.orderClose.address;
} // namespace Order

namespace Subscribe {
const QString &List = table.subscribeList.address;
const QString &NodeList = table.subscribeNodeList.address;
const QString &ClaimFree = table.subscribeClaimFree.address;
const QString &Config = table.subscribeConfig.address;
} // namespace Subscribe

namespace Common {
const QString &SiteConfig = table.siteConfig.address;
const QString &SendCode = table.sendCode.address;
const QString &CheckCode = table.checkCode.address;
const QString &Heartbeat = table.heartbeat.address;
} // namespace Common

namespace Announcement {
const QString &List = table.announcementList.address;
} // namespace Announcement

namespace Ticket {
const QString &Create = table.ticketCreate.address;
const QString &List = table.ticketList.address;
const QString &Detail = table.ticketDetail.address;
const QString &Follow = table.ticketFollow.address;
const QString &Update = table.ticketUpdate.address;
} // namespace Ticket

void reload()
{
    table.build();
}

} // namespace ApiEndpoints
