// qivro-devpanel: the development panel server. See README.md beside this file.
#include "adminapi.h"
#include "certificatemaker.h"
#include "faults.h"
#include "panelapi.h"
#include "panelserver.h"
#include "panelstorage.h"
#include "requestlog.h"
#include "seeder.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QHostAddress>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRandomGenerator>
#include <QStandardPaths>
#include <QTextStream>

#ifdef Q_OS_UNIX
#include <QSocketNotifier>

#include <csignal>
#include <unistd.h>
#endif

namespace {

QString defaultDataDir()
{
    QString state = qEnvironmentVariable("XDG_STATE_HOME");
    if (state.isEmpty())
        state = QDir::homePath() + QStringLiteral("/.local/state");
    return state + QStringLiteral("/qivro-devpanel");
}

// The admin key persists beside the data so that scripts can read it after a restart.
QString adminKey(const QString &dataDir, const QString &given)
{
    QFile file(QDir(dataDir).absoluteFilePath(QStringLiteral("admin-key")));
    if (!given.isEmpty()) {
        if (file.open(QIODevice::WriteOnly | QIODevice::Truncate))
            file.write(given.toUtf8());
        return given;
    }
    if (file.open(QIODevice::ReadOnly)) {
        const QString stored = QString::fromUtf8(file.readAll()).trimmed();
        if (!stored.isEmpty())
            return stored;
        file.close();
    }
    const QString key = QString::number(QRandomGenerator::system()->generate64(), 16)
        + QString::number(QRandomGenerator::system()->generate64(), 16);
    if (file.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        file.write(key.toUtf8());
        file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    }
    return key;
}

void writeFile(const QString &path, const QByteArray &content)
{
    QFile file(path);
    if (file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        file.write(content);
}

#ifdef Q_OS_UNIX
// SIGTERM and SIGINT end the event loop through a pipe, so the database is closed cleanly.
int g_signalPipe[2] = {-1, -1};

void onSignal(int)
{
    const char byte = 1;
    [[maybe_unused]] const auto written = ::write(g_signalPipe[1], &byte, 1);
}

void quitOnSignals(QCoreApplication &app)
{
    if (::pipe(g_signalPipe) != 0)
        return;
    auto *notifier = new QSocketNotifier(g_signalPipe[0], QSocketNotifier::Read, &app);
    QObject::connect(notifier, &QSocketNotifier::activated, &app, &QCoreApplication::quit);
    std::signal(SIGTERM, onSignal);
    std::signal(SIGINT, onSignal);
}
#endif

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("qivro-devpanel"));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Development panel server for the client"));
    parser.addHelpOption();
    const QCommandLineOption portOption(QStringLiteral("port"),
        QStringLiteral("Port to listen on; 0 picks a free one."), QStringLiteral("N"),
        QStringLiteral("0"));
    const QCommandLineOption listenOption(QStringLiteral("listen"),
        QStringLiteral("Address to listen on."), QStringLiteral("address"),
        QStringLiteral("127.0.0.1"));
    const QCommandLineOption dataOption(QStringLiteral("data-dir"),
        QStringLiteral("Where the database, certificate and key "
                       "live; a new directory is a new panel."),
        QStringLiteral("D"), defaultDataDir());
    const QCommandLineOption seedOption(QStringLiteral("seed"),
        QStringLiteral("'demo' adds the demo account with a "
                       "running subscription."),
        QStringLiteral("name"), QStringLiteral("none"));
    const QCommandLineOption keyOption(QStringLiteral("admin-key"),
        QStringLiteral("Development key of the admin API."), QStringLiteral("key"));
    const QCommandLineOption ssOption(QStringLiteral("ss-base-port"),
        QStringLiteral("First port of the catalogue's Shadowsocks "
                       "nodes (used when a panel is made)."),
        QStringLiteral("port"), QStringLiteral("18388"));
    parser.addOptions({portOption, listenOption, dataOption, seedOption, keyOption, ssOption});
    parser.process(app);

    QTextStream err(stderr);
    bool ok = false;
    const uint port = parser.value(portOption).toUInt(&ok);
    const uint ssBasePort = parser.value(ssOption).toUInt(&ok) * uint(ok);
    const QHostAddress address(parser.value(listenOption));
    const QString seed = parser.value(seedOption);
    if (port > 65535 || ssBasePort == 0 || ssBasePort > 65500 || address.isNull()
        || (seed != QLatin1String("none") && seed != QLatin1String("demo"))) {
        err << "qivro-devpanel: bad --port, --ss-base-port, --listen or --seed; see --help\n";
        return 2;
    }

    const QString dataDir = QDir(parser.value(dataOption)).absolutePath();
    if (!QDir().mkpath(dataDir)) {
        err << "qivro-devpanel: cannot create " << dataDir << "\n";
        return 1;
    }

    PanelStorage storage;
    if (!storage.open(QDir(dataDir).absoluteFilePath(QStringLiteral("panel.db")))) {
        err << "qivro-devpanel: cannot open the database in " << dataDir << "\n";
        return 1;
    }
    PanelApi api(storage);
    Seeder seeder(api, quint16(ssBasePort));
    if (storage.isFresh()) {
        seeder.seedCatalogue();
        writeFile(QDir(dataDir).absoluteFilePath(QStringLiteral("ss-servers.txt")),
            seeder.shadowsocksServers().join(QLatin1Char('\n')).toUtf8() + '\n');
    }
    if (seed == QLatin1String("demo"))
        seeder.seedDemo();

    CertificateMaker certificate(dataDir);
    QString error;
    if (!certificate.ensure(&error)) {
        err << "qivro-devpanel: " << error << "\n";
        return 1;
    }

    Faults faults;
    RequestLog log;
    AdminApi admin(api, faults, log, adminKey(dataDir, parser.value(keyOption)).toUtf8());
    PanelServer server(api, admin, faults, log);
    server.sslSetup(certificate.certificate(), certificate.key());
    const quint16 boundPort = server.listen(address, quint16(port));
    if (boundPort == 0) {
        err << "qivro-devpanel: cannot listen on " << address.toString() << " port " << port
            << "\n";
        return 1;
    }

    const QString host = address.protocol() == QAbstractSocket::IPv6Protocol
        ? QLatin1Char('[') + address.toString() + QLatin1Char(']')
        : address.toString();
    const QString url = QStringLiteral("https://%1:%2").arg(host).arg(boundPort);
    api.setBaseUrl(url);

    QJsonObject facts {{QStringLiteral("url"), url}, {QStringLiteral("port"), boundPort},
        {QStringLiteral("pid"), QCoreApplication::applicationPid()},
        {QStringLiteral("certificate"), certificate.certificatePath()},
        {QStringLiteral("version_file_url"), url + QString::fromLatin1(PanelApi::kVersionFilePath)},
        {QStringLiteral("data_dir"), dataDir},
        {QStringLiteral("ss_servers"),
            QDir(dataDir).absoluteFilePath(QStringLiteral("ss-servers.txt"))}};
    if (seeder.hasDemoAccount()) {
        facts.insert(QStringLiteral("demo_email"), QString::fromLatin1(Seeder::kDemoEmail));
        facts.insert(QStringLiteral("demo_password"), QString::fromLatin1(Seeder::kDemoPassword));
    }
    writeFile(QDir(dataDir).absoluteFilePath(QStringLiteral("panel.json")),
        QJsonDocument(facts).toJson());

    // The first lines on standard output are for people and for the scripts that start the panel.
    QTextStream out(stdout);
    out << "url: " << url << "\n";
    out << "certificate: " << certificate.certificatePath() << "\n";
    out << "version-file: " << facts.value(QStringLiteral("version_file_url")).toString() << "\n";
    out << "admin-key-file: " << QDir(dataDir).absoluteFilePath(QStringLiteral("admin-key"))
        << "\n";
    out << "data-dir: " << dataDir << "\n";
    if (seeder.hasDemoAccount())
        out << "demo-account: " << Seeder::kDemoEmail << " " << Seeder::kDemoPassword << "\n";
    out << "ready\n";
    out.flush();

#ifdef Q_OS_UNIX
    quitOnSignals(app);
#endif
    return app.exec();
}
