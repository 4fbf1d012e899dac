// qivro-config: prints the engine configuration the client builds from a subscription body, so
// users and support can see which links a subscription yields and why it does not connect.
#include "config/base64.h"
#include "config/configbuilder.h"
#include "config/sharelinkimport.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFile>
#include <QJsonDocument>
#include <QTextStream>

#include <cstdio>

namespace {

enum ExitCode
{
    Ok = 0,
    NoLinkUnderstood = 1,
    Failed = 2
};

bool readInput(const QString &path, QByteArray &body, QString &error)
{
    QFile file(path);
    const bool opened = path.isEmpty() || path == QLatin1String("-")
        ? file.open(stdin, QIODevice::ReadOnly)
        : file.open(QIODevice::ReadOnly);
    if (!opened) {
        error = file.errorString();
        return false;
    }
    body = file.readAll();
    return true;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    // The client's identity, so rule-set and cache paths are the ones the client writes.
    QCoreApplication::setOrganizationName(QStringLiteral("qivro"));
    QCoreApplication::setApplicationName(QStringLiteral("qivro"));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Prints the engine configuration that qivro builds from a subscription body (the Base64 "
        "text of share links), ready to run with the engine; without options it lacks only the "
        "control API, which --controller and --secret add as the tunnel controller does. "
        "--selector= (empty) gives the form the client stores for the subscription. Like the "
        "client, it copies missing built-in rule sets into the application data folder."));
    parser.addHelpOption();
    parser.addPositionalArgument(QStringLiteral("file"),
        QStringLiteral("Subscription body; standard input when absent or \"-\"."),
        QStringLiteral("[file]"));
    const QCommandLineOption controller(QStringLiteral("controller"),
        QStringLiteral("Listen address of the control API, e.g. 127.0.0.1:9090."),
        QStringLiteral("address"));
    const QCommandLineOption secret(QStringLiteral("secret"),
        QStringLiteral("Secret of the control API."), QStringLiteral("secret"));
    const QCommandLineOption selector(QStringLiteral("selector"),
        QStringLiteral("Tag of the selector outbound and the route's final outbound; the client "
                       "uses \"proxy\", the default."),
        QStringLiteral("tag"), QStringLiteral("proxy"));
    const QCommandLineOption tun(
        QStringLiteral("tun"), QStringLiteral("Use the TUN inbound instead of the local proxy."));
    const QCommandLineOption pretty(QStringLiteral("pretty"),
        QStringLiteral("Indented output instead of the compact file form."));
    parser.addOptions({controller, secret, selector, tun, pretty});
    parser.process(app);

    QTextStream err(stderr);
    const QStringList files = parser.positionalArguments();
    if (files.size() > 1) {
        err << "qivro-config: at most one input file\n";
        return Failed;
    }
    QByteArray body;
    QString error;
    const QString path = files.value(0);
    if (!readInput(path, body, error)) {
        err << "qivro-config: cannot read " << (path.isEmpty() ? QStringLiteral("-") : path) << ": "
            << error << '\n';
        return Failed;
    }

    // The same steps and the same reasons as the client's subscription store.
    QJsonArray outbounds;
    QList<QString> tags;
    importShareLinks(QString::fromUtf8(base64_decode(body)), outbounds, tags,
        [&err](const ShareLinkIssue &issue) {
            if (issue.kind == ShareLinkIssue::Kind::Unhandled)
                err << "Cannot handle url: " << issue.link << '\n';
            else
                err << "Dropped link: " << issue.link << " (" << issue.reason << ")\n";
        });
    err.flush();
    if (outbounds.isEmpty()) {
        err << "qivro-config: no share link in the input could be handled\n";
        return NoLinkUnderstood;
    }

    const QJsonObject config = buildConfig(outbounds, tags, parser.value(controller),
        parser.value(secret), parser.value(selector), parser.isSet(tun));
    QByteArray text = QJsonDocument(config).toJson(
        parser.isSet(pretty) ? QJsonDocument::Indented : QJsonDocument::Compact);
    if (!text.endsWith('\n'))
        text.append('\n');
    std::fwrite(text.constData(), 1, static_cast<size_t>(text.size()), stdout);
    return std::fflush(stdout) == 0 ? Ok : Failed;
}
