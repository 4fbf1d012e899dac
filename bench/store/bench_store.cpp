// The store page's prices against the development panel: the lists it fetches, then one
// background preview per plan and duration, on a cold cache and a warm one. Prints figures; not a
// test.
#include "network/apiendpoints.h"
#include "network/deployment.h"
#include "network/networkhandler.h"
#include "panel/authhandler.h"
#include "panel/storehandler.h"
#include "testpanel.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QNetworkAccessManager>
#include <QSettings>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <utility>
#include <vector>

namespace {

const QString kEmail = QStringLiteral("bench@example.test");
const QString kPassword = QStringLiteral("bench-pass-1");

// The page's rows: quantity 1 of every plan, and 3, 6, 12, 24 where the plan has a discount
// entry for them (an entry below 1 counts as 1).
std::vector<std::pair<int, int>> pageRows(const StoreHandler &store)
{
    std::vector<std::pair<int, int>> rows;
    for (int i = 0; i < store.subscriptionNames().size(); ++i) {
        const QVariantMap plan = store.getSubscription(i);
        QList<int> offered {1};
        for (const QVariant &entry : plan.value("discount").toList())
            offered.append(std::max(1, entry.toMap().value("quantity").toInt()));
        for (int quantity : {1, 3, 6, 12, 24}) {
            if (offered.contains(quantity))
                rows.emplace_back(plan.value("id").toInt(), quantity);
        }
    }
    return rows;
}

double elapsedMs(const QElapsedTimer &timer)
{
    return double(timer.nsecsElapsed()) / 1e6;
}

// One page refresh on a new handler: lists, then every row's preview, then the same previews
// again from the cache. A new connection pays for its TLS handshake, as after a long idle time.
void priceCatalogue(AuthHandler &auth, const char *label, bool newConnection)
{
    if (newConnection)
        NetworkHandler::getDirectInstance()
            ->findChild<QNetworkAccessManager *>()
            ->clearConnectionCache();
    StoreHandler store(&auth, nullptr);
    QElapsedTimer timer;
    timer.start();
    const bool listed
        = store.fetchSiteConfig() && store.fetchSubscriptions() && store.fetchPaymentMethods();
    const double listsMs = elapsedMs(timer);
    const int paymentId = store.getPaymentMethod(0).value("id").toInt();
    const auto rows = pageRows(store);

    int priced = 0;
    timer.restart();
    for (const auto &[plan, quantity] : rows)
        priced += store.fetchOrderPreview(plan, quantity, paymentId) ? 1 : 0;
    const double coldMs = elapsedMs(timer);
    timer.restart();
    for (const auto &[plan, quantity] : rows)
        store.fetchOrderPreview(plan, quantity, paymentId);
    const double warmMs = elapsedMs(timer);

    std::printf("%-26s lists %s %.1f ms | %zu previews (%d priced): cold %.1f ms (%.2f ms each), "
                "warm %.3f ms\n",
        label, listed ? "ok" : "FAILED", listsMs, rows.size(), priced, coldMs,
        rows.empty() ? 0.0 : coldMs / double(rows.size()), warmMs);
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QStandardPaths::setTestModeEnabled(true);
    QCoreApplication::setOrganizationName("qivro");
    QCoreApplication::setApplicationName("qivro");
    QTemporaryDir settingsDir;
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, settingsDir.path());

    TestPanel panel;
    if (!panel.start()) {
        std::printf("panel: %s\n", qPrintable(panel.lastError()));
        return 1;
    }
    panel.exportClientEnvironment();
    ApiEndpoints::reload();
    Deployment::trustExtraCaCertificate();
    panel.createUser(kEmail, kPassword);
    AuthHandler auth;
    if (!auth.login(kEmail, kPassword)) {
        std::printf("sign-in failed\n");
        return 1;
    }

    priceCatalogue(auth, "seeded, new connection", true);
    priceCatalogue(auth, "seeded, same connection", false);

    // Plans with more durations until the page shows 20 rows (the seed has 6).
    auto discounts = [](std::initializer_list<int> quantities) {
        QJsonArray entries;
        for (int quantity : quantities)
            entries.append(QJsonObject {{"quantity", quantity}, {"discount", 90}});
        return entries;
    };
    for (const QJsonArray &entries :
        {discounts({3, 6, 12, 24}), discounts({3, 6, 12, 24}), discounts({3, 6, 12})})
        panel.admin("POST", "/admin/plans",
            {{"name", "Bench"}, {"unit_price", 1200}, {"discount", entries}, {"sort", 9}});
    for (int run = 1; run <= 6; ++run) {
        const bool fresh = run % 2 == 1;
        priceCatalogue(auth,
            qPrintable(QStringLiteral("20 rows, %1 connection").arg(fresh ? "new" : "same")),
            fresh);
    }
    return 0;
}
