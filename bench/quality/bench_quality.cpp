// Connection-quality figures on loopback; not a test, run by hand inside a private network
// namespace (the client's ports 1080 and 9090) and, for `idle`, under Xvfb:
//
//     unshare -n sh -c 'ip link set lo up; xvfb-run -a build/bin/bench_quality [what]'
//
// what: latency [nodes] [at a time] [longest delay] | failover [rounds] | idle [seconds] | all
// (the default)
//
// latency  - from asking for the picker's latencies to all of them in, for nodes behind a relay
//            that holds each chunk 10 ms to the longest delay (100 ms unless given) each way, so
//            round trips of 20 to 200 ms (one ss-server behind every port).
// failover - from killing the node in use while something keeps connecting to the first
//            connection through another node, Auto over four nodes, the shipped settings.
// idle     - CPU of the client (its real start-up, views and backend, engine included) while
//            connected and idle, with the window shown and then hidden.
#include "config/configbuilder.h"
#include "main/startup.h"
#include "qualityworld.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QGuiApplication>
#include <QProcess>
#include <QQmlApplicationEngine>
#include <QQmlContext>
#include <QQuickWindow>
#include <QSignalSpy>
#include <QTimer>
#include <QtQml/qqmlextensionplugin.h>

#include <algorithm>
#include <cstdio>
#include <set>
#include <sys/resource.h>

Q_IMPORT_QML_PLUGIN(appclientPlugin)

namespace {

void wait(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

// Seconds of CPU (user and system) the process has used.
double cpuSeconds()
{
    rusage usage {};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec)
        + double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// curl through the local proxy without blocking the event loop, as another program would.
bool fetchOnce(const QualityWorld &world, int maxSeconds)
{
    QProcess curl;
    curl.start(QStringLiteral("curl"),
        {QStringLiteral("-s"), QStringLiteral("-f"), QStringLiteral("-o"),
            QStringLiteral("/dev/null"), QStringLiteral("--max-time"), QString::number(maxSeconds),
            QStringLiteral("--socks5-hostname"), QStringLiteral("127.0.0.1:1080"),
            QStringLiteral("http://localhost:%1/generate_204").arg(world.origin.port())});
    QEventLoop loop;
    QObject::connect(&curl, &QProcess::finished, &loop, &QEventLoop::quit);
    loop.exec();
    return curl.exitStatus() == QProcess::NormalExit && curl.exitCode() == 0;
}

int benchLatency(int nodes, int concurrency, int longestDelayMs)
{
    QualityWorld world;
    if (!world.start({{QStringLiteral("日本-01")}})) {
        std::printf("latency: %s\n", qPrintable(world.lastError()));
        return 1;
    }
    // One ss-server behind a relay port per node, each port with its own delay.
    const std::uint16_t server = support::freeTcpPort();
    support::Process ssServer({"ss-server", "-s", "127.0.0.1", "-p", std::to_string(server), "-k",
        "bench-pw", "-m", "aes-256-gcm"});
    std::vector<std::string> relayArguments {QIVRO_DELAYRELAY_PATH, std::to_string(server)};
    QJsonArray outbounds;
    QList<QString> tags;
    quint32 seed = 7;
    std::set<std::uint16_t> taken {server};
    for (int i = 0; i < nodes; ++i) {
        seed = seed * 1103515245u + 12345u;
        const int delayMs = 10 + int((seed >> 16) % quint32(longestDelayMs - 9));
        std::uint16_t port = support::freeTcpPort();
        while (!taken.insert(port).second)
            port = support::freeTcpPort(); // a port given back can come again
        relayArguments.push_back(std::to_string(port) + ":" + std::to_string(delayMs));
        const QString tag = QStringLiteral("节点-%1").arg(i + 1, 3, 10, QLatin1Char('0'));
        tags.append(tag);
        outbounds.append(
            QJsonObject {{"type", "shadowsocks"}, {"tag", tag}, {"server", "127.0.0.1"},
                {"server_port", port}, {"method", "aes-256-gcm"}, {"password", "bench-pw"}});
    }
    support::Process relay(relayArguments);
    if (!support::waitForTcpPort(server)
        || !support::waitForTcpPort(std::uint16_t(outbounds.last()["server_port"].toInt()))) {
        std::printf("latency: the server or relay did not start\n");
        return 1;
    }
    QualityClient client;
    const QString url = QStringLiteral("https://panel.bench/api/subscribe?token=latency");
    client.store.addSubJson(url, buildConfig(outbounds, tags, {}, {}, {}, false));
    client.latency.setConcurrency(concurrency);

    std::vector<double> runs;
    for (int round = 0; round < 3; ++round) {
        QSignalSpy finished(&client.latency, &LatencyTester::finished);
        QElapsedTimer timer;
        timer.start();
        if (!client.latency.test(url) || !finished.wait(120000)) {
            std::printf("latency: the measurement did not finish\n");
            return 1;
        }
        runs.push_back(double(timer.elapsed()) / 1000.0);
        int answered = 0;
        for (const QString &tag : tags)
            answered += client.latency.delay(url, tag) >= 0 ? 1 : 0;
        std::printf(
            "latency: %d nodes, %d at a time, one-way delays 10-%d ms: all shown after %.2f s "
            "(%d answered, best %d ms)\n",
            nodes, concurrency, longestDelayMs, runs.back(), answered,
            client.latency.bestDelay(url));
    }
    std::sort(runs.begin(), runs.end());
    std::printf("latency: median %.2f s over %zu runs (target under 3 s)\n", runs[1], runs.size());
    return 0;
}

int benchFailover(int rounds)
{
    QualityWorld world;
    const QStringList names {QStringLiteral("日本-01"), QStringLiteral("日本-02"),
        QStringLiteral("香港-01"), QStringLiteral("美国-01")};
    QList<QualityWorld::Node> nodes;
    for (const QString &name : names)
        nodes.append({name});
    if (!world.start(nodes)) {
        std::printf("failover: %s\n", qPrintable(world.lastError()));
        return 1;
    }
    QualityClient client;
    const QString url = client.signInAndFetch();
    if (url.isEmpty() || !client.tunnel.selectSubscription(url)
        || !client.tunnel.selectAutoRoute()) {
        std::printf("failover: no subscription\n");
        return 1;
    }
    client.tunnel.ToggleConnection();
    for (int round = 0; round < rounds && client.tunnel.isConnected(); ++round) {
        QElapsedTimer settle;
        settle.start();
        while (client.tunnel.selectedProxy().isEmpty() && settle.elapsed() < 5000)
            wait(50);
        const QString dead = client.tunnel.selectedProxy();
        if (dead.isEmpty() || !fetchOnce(world, 5)) {
            std::printf("failover: no way through before the failure\n");
            return 1;
        }
        world.kill(dead);
        QElapsedTimer timer;
        timer.start();
        int attempts = 0;
        while (!fetchOnce(world, 5) && timer.elapsed() < 300000) {
            ++attempts;
            wait(50);
        }
        std::printf("failover: %s died; traffic through %s after %.2f s (%d failed attempts)\n",
            qPrintable(dead), qPrintable(client.tunnel.selectedProxy()),
            double(timer.elapsed()) / 1000.0, attempts);
        world.revive(dead);
    }
    client.tunnel.ToggleConnection();
    return 0;
}

int benchIdle(int seconds)
{
    QualityWorld world;
    if (!world.start({{QStringLiteral("日本-01")}, {QStringLiteral("香港-01")}})) {
        std::printf("idle: %s\n", qPrintable(world.lastError()));
        return 1;
    }
    // The program's own start-up, views and backend; signed in and connected through them.
    QQmlApplicationEngine engine;
    if (!Startup::loadClient(engine, qApp, false)) {
        std::printf("idle: the client did not load\n");
        return 1;
    }
    auto *window = qobject_cast<QQuickWindow *>(engine.rootObjects().constFirst());
    auto *tunnel = qvariant_cast<QObject *>(engine.rootContext()->contextProperty("service"));
    auto *subscriptions = SubscribeHandler::getInstance();
    QSignalSpy fetched(subscriptions, &SubscribeHandler::nodesFetched);
    AuthHandler::getInstance()->login(
        QString::fromLatin1(QualityWorld::kEmail), QString::fromLatin1(QualityWorld::kPassword));
    if (!fetched.wait(20000) || subscriptions->subscriptionCount() != 1) {
        std::printf("idle: no subscription shown\n");
        return 1;
    }
    auto *controller = qobject_cast<service *>(tunnel);
    controller->selectSubscription(subscriptions->getSubscriptionUrl(0));
    controller->ToggleConnection();
    if (!controller->isConnected() || !fetchOnce(world, 5)) {
        std::printf("idle: not connected\n");
        return 1;
    }
    wait(3000); // start-up work and the first checks settle

    const auto measure = [&](const char *what) {
        const double cpuBefore = cpuSeconds();
        QElapsedTimer wall;
        wall.start();
        wait(seconds * 1000);
        const double share = (cpuSeconds() - cpuBefore) / (double(wall.elapsed()) / 1000.0);
        std::printf(
            "idle: connected, %s: %.2f %% of a core over %d s\n", what, share * 100.0, seconds);
    };
    measure("window shown");
    window->hide();
    wait(500);
    measure("window hidden");
    controller->ToggleConnection();
    return 0;
}

} // namespace

int main(int argc, char *argv[])
{
    // A private home: nothing of a real profile is read or written.
    QTemporaryDir home;
    qputenv("HOME", QFile::encodeName(home.path()));
    qputenv("XDG_RUNTIME_DIR", QFile::encodeName(home.path()));
    qputenv("QT_QUICK_CONTROLS_STYLE", "Basic");
    QGuiApplication app(argc, argv);
    const QStringList arguments = QCoreApplication::arguments().mid(1);
    const QString what = arguments.value(0, QStringLiteral("all"));
    const int first = arguments.value(1).toInt();
    const int second = arguments.value(2).toInt();
    const int third = arguments.value(3).toInt();
    int status = 0;
    if (what == QLatin1String("latency") || what == QLatin1String("all"))
        status |= benchLatency(
            first > 0 ? first : 200, second > 0 ? second : 10, third > 10 ? third : 100);
    if (what == QLatin1String("failover") || what == QLatin1String("all"))
        status |= benchFailover(first > 0 && what != QLatin1String("all") ? first : 3);
    if (what == QLatin1String("idle") || what == QLatin1String("all"))
        status |= benchIdle(first > 0 && what != QLatin1String("all") ? first : 30);
    return status;
}
