// Times what the client does with a subscription: decode the body, parse every link, assemble the
// configuration and serialise it as config.json. Usage: bench_config [links] [rounds]
#include "config/base64.h"
#include "config/configbuilder.h"
#include "config/shareparser.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QJsonDocument>
#include <QStandardPaths>
#include <QStringList>

#include <algorithm>
#include <cstdio>

#if defined(Q_OS_UNIX)
#include <sys/resource.h>
#endif

namespace {

// The mix of a large commercial subscription.
const char *const templates[] = {
    "vless://0c5e7a1e-8f4b-4d7e-9a3f-2b1c6d8e4f01@n%1.example.com:443?encryption=none"
    "&flow=xtls-rprx-vision&security=reality&sni=www.example.org&fp=chrome"
    "&pbk=Z84J2IelR9ch3k8VtlVhhs5ycBUlXA7wHBWcBrjqnAw&sid=6ba85179e30d4fc2&type=tcp"
    "#%F0%9F%87%AD%F0%9F%87%B0%20Hong%20Kong%20-%20%1",
    "vless://0c5e7a1e-8f4b-4d7e-9a3f-2b1c6d8e4f01@n%1.example.com:443?security=tls"
    "&sni=n%1.example.com&alpn=h2%2Chttp%2F1.1&fp=safari&type=ws&host=n%1.example.com"
    "&path=%2Fws%3Fed%3D2048#%F0%9F%87%BA%F0%9F%87%B8%20United%20States%20-%20%1",
    "vless://0c5e7a1e-8f4b-4d7e-9a3f-2b1c6d8e4f01@n%1.example.com:443?security=tls"
    "&sni=n%1.example.com&type=grpc&serviceName=grpc#%F0%9F%87%B8%F0%9F%87%AC%20Singapore%20-%20%1",
    "ss://"
    "YWVzLTI1Ni1nY206cEBzc3cwcmQtaGs=@198.51.100.21:%1#%F0%9F%87%AF%F0%9F%87%B5%20Japan%20-%20%1",
    "ss://Y2hhY2hhMjAtaWV0Zi1wb2x5MTMwNTpPc2FrYS0yMDI0IQ@198.51.100.22:8389/"
    "?plugin=obfs-local%3Bobfs%3Dhttp%3Bobfs-host%3Dupdate.example.net#Taiwan%20-%20%1",
    "hysteria2://f1e2d3c4-b5a6@n%1.example.net:443/?sni=n%1.example.net&insecure=1"
    "&obfs=salamander&obfs-password=Zm9vYmFy#%F0%9F%87%A9%F0%9F%87%AA%20Germany%20-%20%1",
    "hy2://f1e2d3c4-b5a6@203.0.113.14:8443?sni=sg2.example.net#Korea%20-%20%1",
    "trojan://p4ssw0rd@n%1.example.com:443?security=tls#France%20-%20%1",
};

QByteArray subscriptionBody(int links)
{
    QByteArray text;
    const int kinds = static_cast<int>(std::size(templates));
    for (int i = 0; i < links; ++i)
        text += QString::fromLatin1(templates[i % kinds]).arg(i).toUtf8() + '\n';
    return text.toBase64();
}

struct Phases
{
    double decode = 0; // Base64 and line splitting
    double parse = 0;
    double assemble = 0;
    double serialise = 0;
    double total() const { return decode + parse + assemble + serialise; }
};

// As the subscription store does it, then as the tunnel controller writes it.
qsizetype parseAndAssemble(
    const QByteArray &body, QJsonArray &outbounds, QList<QString> &tags, Phases &phases)
{
    QElapsedTimer timer;
    timer.start();
    const QStringList lines
        = QString::fromUtf8(base64_decode(body)).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    phases.decode = timer.nsecsElapsed() / 1e6;

    timer.restart();
    for (const QString &piece : lines) {
        const QString line = piece.trimmed();
        if (!line.contains(QLatin1String("://")))
            continue;
        QUrl url(line, QUrl::TolerantMode);
        parseHandler(url, outbounds, tags, line.left(line.indexOf(QLatin1String("://"))));
    }
    phases.parse = timer.nsecsElapsed() / 1e6;

    timer.restart();
    const QJsonObject config = buildConfig(outbounds, tags, QStringLiteral("127.0.0.1:9090"),
        QString(64, QLatin1Char('a')), QStringLiteral("proxy"), false);
    phases.assemble = timer.nsecsElapsed() / 1e6;

    timer.restart();
    const qsizetype bytes = QJsonDocument(config).toJson(QJsonDocument::Compact).size();
    phases.serialise = timer.nsecsElapsed() / 1e6;
    return bytes;
}

double median(QList<double> values)
{
    std::sort(values.begin(), values.end());
    return values.at(values.size() / 2);
}

long peakKiB()
{
#if defined(Q_OS_UNIX)
    rusage usage {};
    if (getrusage(RUSAGE_SELF, &usage) == 0)
        return usage.ru_maxrss;
#endif
    return -1;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QStandardPaths::setTestModeEnabled(true); // rule sets go to a scratch profile
    QCoreApplication::setOrganizationName(QStringLiteral("qivro"));
    QCoreApplication::setApplicationName(QStringLiteral("qivro"));
    const QStringList arguments = QCoreApplication::arguments();
    const int links = arguments.size() > 1 ? arguments.at(1).toInt() : 10000;
    const int rounds = arguments.size() > 2 ? arguments.at(2).toInt() : 5;
    if (links <= 0 || rounds <= 0) {
        std::fprintf(stderr, "usage: bench_config [links > 0] [rounds > 0]\n");
        return 2;
    }

    const QByteArray body = subscriptionBody(links);
    QList<double> totalMs;
    qsizetype nodes = 0;
    qsizetype bytes = 0;
    for (int round = 0; round < rounds; ++round) {
        QJsonArray outbounds;
        QList<QString> tags;
        Phases phases;
        bytes = parseAndAssemble(body, outbounds, tags, phases);
        totalMs.append(phases.total());
        nodes = tags.size();
        std::printf("round %d: %.1f ms (decode %.1f, parse %.1f, assemble %.1f, serialise %.1f)\n",
            round + 1, phases.total(), phases.decode, phases.parse, phases.assemble,
            phases.serialise);
    }
    const double totalMedian = median(totalMs);
    std::printf("parse+assemble: %d links (%lld nodes understood, %lld bytes of JSON), median "
                "%.1f ms, %.0f links/s\n",
        links, static_cast<long long>(nodes), static_cast<long long>(bytes), totalMedian,
        links / (totalMedian / 1000.0));

    // Assembly alone at the size of a large subscription.
    QJsonArray outbounds;
    QList<QString> tags;
    Phases ignored;
    parseAndAssemble(subscriptionBody(1200), outbounds, tags, ignored);
    while (tags.size() > 1000) {
        tags.removeLast();
        outbounds.removeLast();
    }
    QList<double> assembleMs;
    for (int round = 0; round < rounds * 4; ++round) {
        QElapsedTimer timer;
        timer.start();
        const QJsonObject config = buildConfig(outbounds, tags, QStringLiteral("127.0.0.1:9090"),
            QString(64, QLatin1Char('a')), QStringLiteral("proxy"), false);
        QJsonDocument(config).toJson(QJsonDocument::Compact);
        assembleMs.append(timer.nsecsElapsed() / 1e6);
    }
    std::printf("assemble: %lld nodes, median %.2f ms, min %.2f ms\n",
        static_cast<long long>(tags.size()), median(assembleMs),
        *std::min_element(assembleMs.cbegin(), assembleMs.cend()));
    std::printf("peak memory: %ld KiB\n", peakKiB());
    return 0;
}
