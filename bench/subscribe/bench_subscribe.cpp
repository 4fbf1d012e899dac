// Node fetching at account scale against the development panel, and cluster grouping of a large
// node list. Prints figures; not a test.
#include "config/countrytable.h"
#include "config/nodeclusters.h"
#include "database/databasehandler.h"
#include "network/apiendpoints.h"
#include "network/deployment.h"
#include "panel/authhandler.h"
#include "panel/subscribehandler.h"
#include "subscription/subscriptionhandler.h"
#include "testpanel.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QSettings>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QUrl>

#include <cstdio>
#include <sys/resource.h>

static long maxRssKb()
{
    rusage usage {};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QStandardPaths::setTestModeEnabled(true);
    QCoreApplication::setOrganizationName("qivro");
    QCoreApplication::setApplicationName("qivro");
    QTemporaryDir settingsDir;
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, settingsDir.path());

    // Grouping and sorting 2,000 tags.
    QStringList tags;
    const auto &rows = countryTable();
    for (int i = 0; i < 2000; ++i) {
        const CountryRow &row = rows[std::size_t(i) % rows.size()];
        tags.append(QString::fromUtf16(row.chinese)
            + QStringLiteral("-%1%2").arg(i).arg(i % 25 == 0 ? " VIP" : ""));
    }
    QElapsedTimer t;
    t.start();
    const int rounds = 500;
    qsizetype sink = 0;
    for (int r = 0; r < rounds; ++r)
        sink += sortClustersForDisplay(groupTagsByCluster(tags)).size();
    std::printf("group+sort 2000 tags: %.3f ms per call (%lld clusters)\n",
        double(t.nsecsElapsed()) / 1e6 / rounds, (long long)(sink / rounds));

    TestPanel panel;
    if (!panel.start()) {
        std::printf("panel: %s\n", qPrintable(panel.lastError()));
        return 1;
    }
    panel.exportClientEnvironment();
    ApiEndpoints::reload();
    Deployment::trustExtraCaCertificate();
    QJsonArray plans;
    for (int p = 0; p < 5; ++p)
        plans.append(panel.admin("POST", "/admin/plans", {{"name", QStringLiteral("B%1").arg(p)}})
                         .value("id")
                         .toInt());
    const QByteArray user
        = QByteArrayLiteral("aes-256-gcm:node-secret")
              .toBase64(QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals);
    for (int n = 0; n < 200; ++n) {
        const QString name = QString::fromUtf16(rows[std::size_t(n) % rows.size()].chinese)
            + QStringLiteral("-%1").arg(n);
        panel.admin("POST", "/admin/nodes",
            {{"name", name},
                {"link",
                    QStringLiteral("ss://%1@127.0.0.1:%2#%3")
                        .arg(QString::fromLatin1(user))
                        .arg(20000 + n)
                        .arg(QString::fromLatin1(QUrl::toPercentEncoding(name)))},
                {"plan_ids", plans}});
    }
    panel.createUser("bench@example.test", "bench-pass-1");
    for (const QJsonValue &p : plans)
        panel.grantSubscription("bench@example.test", p.toInt(), 0);

    DatabaseHandler db;
    db.initializeDatabase();
    SubscriptionHandler store(db);
    AuthHandler auth;
    SubscribeHandler handler(&auth, &store);
    auth.login("bench@example.test", "bench-pass-1");
    const long before = maxRssKb();
    for (int run = 0; run < 5; ++run) {
        t.restart();
        const bool ok = handler.fetchNodes();
        std::printf(
            "fetchNodes 5 x 200 nodes: %s in %.1f ms, %d subscriptions, %d clusters in the first\n",
            ok ? "ok" : "FAILED", double(t.nsecsElapsed()) / 1e6, handler.subscriptionCount(),
            int(handler.getNodes(0).size()));
    }
    std::printf("peak RSS: %ld KiB before the fetches, %ld KiB after\n", before, maxRssKb());
    return 0;
}
