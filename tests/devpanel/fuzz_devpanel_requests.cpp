// Feeds arbitrary request bodies and query strings to every endpoint of the development panel,
// the admin API included, without sockets. The first input byte picks the endpoint.
#include "adminapi.h"
#include "faults.h"
#include "panelapi.h"
#include "panelrequest.h"
#include "panelstorage.h"
#include "requestlog.h"
#include "seeder.h"

#include <QCoreApplication>
#include <QUrl>

#include <cstddef>
#include <cstdint>

namespace {

// Where the input goes: the body, or appended to the path (query items or path segments).
enum class Input
{
    Body,
    Target
};

struct Endpoint
{
    const char *method;
    const char *path;
    Input input;
    bool admin;
};

const Endpoint kEndpoints[] = {
    {"POST", "/v1/auth/login", Input::Body, false},
    {"POST", "/v1/auth/register", Input::Body, false},
    {"POST", "/v1/auth/reset", Input::Body, false},
    {"POST", "/v1/common/send_code", Input::Body, false},
    {"POST", "/v1/common/check_verification_code", Input::Body, false},
    {"POST", "/v1/public/order/pre", Input::Body, false},
    {"POST", "/v1/public/order/purchase", Input::Body, false},
    {"POST", "/v1/public/order/renewal", Input::Body, false},
    {"POST", "/v1/public/portal/order/checkout", Input::Body, false},
    {"POST", "/v1/public/ticket/", Input::Body, false},
    {"PUT", "/v1/public/ticket/", Input::Body, false},
    {"POST", "/v1/public/ticket/follow", Input::Body, false},
    {"POST", "/v1/public/subscribe/claim_free", Input::Body, false},
    {"GET", "/v1/public/order/detail?", Input::Target, false},
    {"GET", "/v1/public/ticket/list?", Input::Target, false},
    {"GET", "/v1/public/ticket/detail?", Input::Target, false},
    {"GET", "/v1/public/announcement/list?", Input::Target, false},
    {"GET", "/v1/public/subscribe/list?", Input::Target, false},
    {"GET", "/api/subscribe?", Input::Target, false},
    {"GET", "/pay/", Input::Target, false},
    {"POST", "/pay/", Input::Target, false},
    {"GET", "/", Input::Target, false},
    {"POST", "/admin/faults", Input::Body, true},
    {"POST", "/admin/config", Input::Body, true},
    {"POST", "/admin/users", Input::Body, true},
    {"POST", "/admin/users/funds", Input::Body, true},
    {"POST", "/admin/subscriptions", Input::Body, true},
    {"POST", "/admin/plans", Input::Body, true},
    {"POST", "/admin/nodes", Input::Body, true},
    {"POST", "/admin/payment-methods", Input::Body, true},
    {"POST", "/admin/coupons", Input::Body, true},
    {"POST", "/admin/announcements", Input::Body, true},
    {"POST", "/admin/tickets/reply", Input::Body, true},
    {"POST", "/admin/orders/status", Input::Body, true},
    {"POST", "/admin/orders/settle", Input::Body, true},
    {"POST", "/admin/clock", Input::Body, true},
    {"GET", "/admin/mailbox/latest?", Input::Target, true},
};

constexpr int kRebuildEvery = 20000;

class Harness
{
public:
    Harness()
    {
        m_storage.open(QStringLiteral(":memory:"));
        Seeder seeder(m_api, 18388);
        seeder.seedCatalogue();
        seeder.seedDemo();
        m_api.setBaseUrl(QStringLiteral("https://127.0.0.1:1"));
    }

    void run(const Endpoint &endpoint, const QByteArray &input)
    {
        const bool inTarget = endpoint.input == Input::Target;
        QString target = QString::fromLatin1(endpoint.path);
        if (inTarget)
            target += QString::fromLatin1(QUrl::toPercentEncoding(QString::fromUtf8(input), "=&/"));
        PanelRequest request(endpoint.method, target, inTarget ? QByteArray() : input);
        // A fresh token each time: the input may have moved the clock or revoked tokens.
        request.setHeader("Authorization", m_api.accounts().issueToken(1));
        request.setHeader("X-Dev-Key", "fuzz");
        const PanelReply reply
            = endpoint.admin ? m_admin.handle(request, true) : m_api.handle(request);
        if (reply.status < 100 || reply.status > 599)
            __builtin_trap();
    }

private:
    PanelStorage m_storage;
    PanelApi m_api {m_storage};
    Faults m_faults;
    RequestLog m_log;
    AdminApi m_admin {m_api, m_faults, m_log, "fuzz"};
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static int argc = 1;
    static char name[] = "fuzz_devpanel_requests";
    static char *argv[] = {name, nullptr};
    static QCoreApplication app(argc, argv);
    // Never destroyed at exit: the SQL driver's registry may already be gone by then.
    static Harness *harness = nullptr;
    static int runs = 0;
    if (!harness || ++runs % kRebuildEvery == 0) {
        delete harness;
        harness = new Harness();
    }
    if (size == 0)
        return 0;
    const Endpoint &endpoint = kEndpoints[data[0] % (sizeof(kEndpoints) / sizeof(kEndpoints[0]))];
    harness->run(endpoint, QByteArray(reinterpret_cast<const char *>(data + 1), int(size - 1)));
    return 0;
}
