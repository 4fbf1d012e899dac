// The world of the connection-quality suites, all on loopback: a development panel with one
// account whose plan lists Shadowsocks nodes, each served by its own ss-server that a test can slow
// down (behind qivro-delayrelay), kill or start again; an origin that answers the latency test
// URL and serves downloads; and the client's backend objects wired as the program wires them.
#pragma once

#include "clientprofile.h"
#include "database/databasehandler.h"
#include "panel/authhandler.h"
#include "panel/subscribehandler.h"
#include "service/latencytester.h"
#include "service/service.h"
#include "service/trafficmonitor.h"
#include "subscription/subscriptionhandler.h"
#include "support.h" // engine test helpers: origin, processes by PID, curl
#include "testpanel.h"

#include <QDir>
#include <QJsonArray>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QUrl>

#include <map>
#include <memory>

// The origin's blob through the client's local proxy, whole: its size, or -1. A name, not an
// address: private addresses go direct, not through the node. The tunnel's end-to-end suite
// shares this.
inline qint64 fetchThroughProxy(
    const support::Origin &origin, int maxSeconds = 10, const std::string &login = {})
{
    std::vector<std::string> command {"curl", "-s", "-f", "--max-time", std::to_string(maxSeconds),
        "--socks5-hostname", "127.0.0.1:1080",
        "http://localhost:" + std::to_string(origin.port()) + "/blob"};
    if (!login.empty())
        command.insert(command.end() - 1, {"--proxy-user", login});
    const support::CommandResult result = support::run(command);
    return result.exitCode == 0 && result.output == origin.blob() ? qint64(result.output.size())
                                                                  : -1;
}

class QualityWorld
{
public:
    static constexpr const char *kEmail = "quality@example.test";
    static constexpr const char *kPassword = "quality-pw1";

    struct Node
    {
        QString tag;
        int delayMs = 0; // > 0: behind a relay holding each chunk this long
        bool dead = false; // nothing listens where the link points
    };

    static bool available()
    {
        return support::haveProgram("ss-server") && support::haveProgram("curl");
    }

    QualityWorld()
        : origin("origin", 4 << 20)
    { }

    // Panel, account, plan, nodes and servers; the client's profile is private and points here,
    // and the engine's latency tests go to the origin.
    bool start(const QList<Node> &nodes)
    {
        if (!settings.isValid())
            return fail(QStringLiteral("no temporary folder"));
        useTestProfile(QStringLiteral("qivro-quality"), settings.path());
        QDir(QStandardPaths::writableLocation(QStandardPaths::AppDataLocation)).removeRecursively();
        qputenv("QIVRO_ENGINE_TEST_URL", testUrl().toUtf8());
        qunsetenv("QIVRO_ENGINE_LIBRARY"); // the bundled engine next to the test
        if (!panel.start())
            return fail(panel.lastError());
        if (!pointClientAt(panel))
            return fail(QStringLiteral("the panel's certificate is not trusted"));
        const int plan
            = panel.admin("POST", "/admin/plans", {{"name", "Quality"}, {"traffic", 10LL << 30}})
                  .value("id")
                  .toInt();
        if (plan <= 0 || panel.createUser(kEmail, kPassword).isEmpty())
            return fail(panel.lastError());
        for (const Node &node : nodes) {
            Server &server = m_servers[node.tag];
            server.port = support::freeTcpPort();
            server.password = "pw-" + std::to_string(server.port);
            server.delayMs = node.delayMs;
            const QByteArray user
                = QByteArray::fromStdString("aes-256-gcm:" + server.password)
                      .toBase64(QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals);
            const QString link = QStringLiteral("ss://%1@127.0.0.1:%2#%3")
                                     .arg(QString::fromLatin1(user))
                                     .arg(server.port)
                                     .arg(QString::fromLatin1(QUrl::toPercentEncoding(node.tag)));
            if (panel
                    .admin("POST", "/admin/nodes",
                        {{"name", node.tag}, {"link", link}, {"plan_ids", QJsonArray {plan}}})
                    .isEmpty())
                return fail(panel.lastError());
            if (!node.dead && !revive(node.tag))
                return fail(QStringLiteral("the server of %1 did not start").arg(node.tag));
        }
        if (panel.grantSubscription(kEmail, plan).isEmpty())
            return fail(panel.lastError());
        return true;
    }

    // Stops the node's server (and relay): connections through it are refused from now on.
    void kill(const QString &tag)
    {
        Server &server = m_servers[tag];
        server.relay.reset();
        server.process.reset();
    }

    bool revive(const QString &tag)
    {
        Server &server = m_servers[tag];
        kill(tag);
        const std::uint16_t listen = server.delayMs > 0 ? support::freeTcpPort() : server.port;
        server.process = std::make_unique<support::Process>(
            std::vector<std::string> {"ss-server", "-s", "127.0.0.1", "-p", std::to_string(listen),
                "-k", server.password, "-m", "aes-256-gcm"});
        if (!support::waitForTcpPort(listen))
            return false;
        if (server.delayMs > 0) {
            server.relay = std::make_unique<support::Process>(
                std::vector<std::string> {QIVRO_DELAYRELAY_PATH, std::to_string(listen),
                    std::to_string(server.port) + ":" + std::to_string(server.delayMs)});
        }
        return support::waitForTcpPort(server.port);
    }

    QString testUrl() const
    {
        return QStringLiteral("http://127.0.0.1:%1/generate_204").arg(origin.port());
    }

    QString lastError() const { return m_error; }

    QTemporaryDir settings;
    TestPanel panel;
    support::Origin origin;

private:
    struct Server
    {
        std::uint16_t port = 0;
        std::string password;
        int delayMs = 0;
        std::unique_ptr<support::Process> process;
        std::unique_ptr<support::Process> relay;
    };

    bool fail(const QString &error)
    {
        m_error = error;
        return false;
    }

    std::map<QString, Server> m_servers;
    QString m_error;
};

// The client's backend objects for one run of the program, on a private database.
struct QualityClient
{
    QualityClient()
        : database(QStringLiteral(":/sql/"), QStringLiteral("quality"))
        , store((database.initializeDatabase(), database))
        , subscriptions(&auth, &store)
        , tunnel(store, &subscriptions)
        , latency(tunnel, store)
        , traffic(tunnel)
    {
        store.loadFromDatabase();
    }

    // Signs in and fetches the subscription into the store; its URL, or empty.
    QString signInAndFetch()
    {
        if (!auth.login(QualityWorld::kEmail, QualityWorld::kPassword)
            || !subscriptions.fetchNodes() || subscriptions.subscriptionCount() != 1)
            return {};
        return subscriptions.getSubscriptionUrl(0);
    }

    DatabaseHandler database;
    SubscriptionHandler store;
    AuthHandler auth;
    SubscribeHandler subscriptions;
    service tunnel;
    LatencyTester latency;
    TrafficMonitor traffic;
};
