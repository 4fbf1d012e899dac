#pragma once

#include <QString>

// Addresses of the panel. Built once at start-up from the deployment values (Deployment::apiHost()
// and webDomain(), with their environment overrides); read them at run time, not from other static
// initialisers.
namespace ApiEndpoints {

extern const QString &BaseURL; // "https://" + panel API host
extern const QString &Domain; // "https://" + product web domain

namespace Auth {
extern const QString &Login;
extern const QString &Register;
extern const QString &ResetPassword;
extern const QString &Check;
extern const QString &Config;
} // namespace Auth

namespace User {
extern const QString &Subscribe;
extern const QString &Info;
} // namespace User

namespace Portal {
extern const QString &Subscribe;
extern const QString &PaymentMethod;
extern const QString &Purchase;
extern const QString &PrePurchase;
extern const QString &OrderCheckout;
extern const QString &OrderStatus;
} // namespace Portal

namespace Order {
extern const QString &Pre;
extern const QString &Purchase;
extern const QString &Renewal;
extern const QString &List;
extern const QString &Detail;
extern const QString &Close;
} // namespace Order

namespace Subscribe {
extern const QString &List;
extern const QString &NodeList;
extern const QString &ClaimFree;
extern const QString &Config; // the subscription download, "/api/subscribe"
} // namespace Subscribe

namespace Common {
extern const QString &SiteConfig;
extern const QString &SendCode;
extern const QString &CheckCode;
extern const QString &Heartbeat;
} // namespace Common

namespace Announcement {
extern const QString &List;
} // namespace Announcement

namespace Ticket {
extern const QString &Create; // POST; the same address as Update
extern const QString &List;
extern const QString &Detail;
extern const QString &Follow;
extern const QString &Update; // PUT
} // namespace Ticket

// Rebuilds every address from the deployment values as they are now. For tests and tools that
// point the client at a panel chosen after start-up (a local server on a free port).
void reload();

} // namespace ApiEndpoints
