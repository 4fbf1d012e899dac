#include "config/shareparser.h"

#include <QByteArray>
#include <QJsonObject>
#include <QRandomGenerator>
#include <QUrlQuery>

const QMap<QString, Protocol> schemeTable = {
    {QStringLiteral("vless"), Protocol::Vless},
    {QStringLiteral("vmess"), Protocol::Vmess},
    {QStringLiteral("ss"), Protocol::Shadowsocks},
    {QStringLiteral("trojan"), Protocol::Trojan},
    {QStringLiteral("hysteria"), Protocol::Hysteria},
    {QStringLiteral("hysteria2"), Protocol::Hysteria2},
    {QStringLiteral("hy2"), Protocol::Hy2},
    {QString(), Protocol::Unknown},
};

const QMap<Protocol, ShareLinkHandler> handlerTable = {
    {Protocol::Vless, &parseVless},
    {Protocol::Vmess, &parseVmess},
    {Protocol::Shadowsocks, &parseSS},
    {Protocol::Trojan, &parseTrojan},
    {Protocol::Hysteria, &parseHysteria},
    {Protocol::Hysteria2, &parseHysteria},
    {Protocol::Hy2, &parseHysteria},
    {Protocol::Unknown, nullptr},
};

namespace {

QString queryItem(const QUrlQuery &query, const char *key)
{
    return query.queryItemValue(QLatin1String(key), QUrl::FullyDecoded);
}

bool servesScheme(const QUrl &url, std::initializer_list<QLatin1String> schemes)
{
    if (!url.isValid())
        return false;
    const QString scheme = url.scheme().toLower();
    for (const QLatin1String &served : schemes) {
        if (scheme == served)
            return true;
    }
    return false;
}

QString tagOf(const QUrl &url, QLatin1String prefix)
{
    const QString fragment = url.fragment(QUrl::PrettyDecoded);
    if (!fragment.isEmpty())
        return fragment;
    return prefix + QString::number(QRandomGenerator::global()->generate());
}

void append(
    QJsonArray &outbounds, QList<QString> &tags, const QJsonObject &outbound, const QString &tag)
{
    outbounds.append(outbound);
    tags.append(tag);
}

QJsonObject vlessTls(const QUrlQuery &query, const QString &security)
{

    QJsonObject tls {{QStringLiteral("enabled"), true}};
    const QString sni = queryItem(query, "sni");
    if (!sni.isEmpty())
        tls.insert(QStringLiteral("server_name"), sni);
    const QString alpn = queryItem(query, "alpn");
    if (!alpn.isEmpty())
        tls.insert(
            QStringLiteral("alpn"), QJsonArray::fromStringList(alpn.split(QLatin1Char(','))));
    const QString fingerprint = queryItem(query, "fp");
    if (!fingerprint.isEmpty()) {
        tls.insert(QStringLiteral("utls"),
            QJsonObject {
                {QStringLiteral("enabled"), true}, {QStringLiteral("fingerprint"), fingerprint}});
    }
    if (security == QLatin1String("reality")) {
        QJsonObject reality {{QStringLiteral("enabled"), true}};
        const QString publicKey = queryItem(query, "pbk");
        if (!publicKey.isEmpty())
            reality.insert(QStringLiteral("public_key"), publicKey);
        const QString shortId = queryItem(query, "sid");
        if (!shortId.isEmpty())
            reality.insert(QStringLiteral("short_id"), shortId);
        tls.insert(QStringLiteral("reality"), reality);
    }
    return tls;
}

// Empty when the "type" item names no transport of ours ("tcp" included).
QJsonObject vlessTransport(const QUrlQuery &query)
{
    const QString type = queryItem(query, "type");
    const QString path = queryItem(query, "path");
    const QString host = queryItem(query, "host");

    QJsonObject transport;
    if (type == QLatin1String("ws")) {
        transport.insert(QStringLiteral("type"), type);
        if (!path.isEmpty())
            transport.insert(QStringLiteral("path"), path);
        if (!host.isEmpty())
            transport.insert(
                QStringLiteral("headers"), QJsonObject {{QStringLiteral("Host"), host}});
    } else if (type == QLatin1String("grpc")) {
        transport.insert(QStringLiteral("type"), type);
        const QString serviceName = queryItem(query, "serviceName");
        if (!serviceName.isEmpty())
            transport.insert(QStringLiteral("service_name"), serviceName);
    } else if (type == QLatin1String("http")) {
        transport.insert(QStringLiteral("type"), type);
        if (!path.isEmpty())
            transport.insert(QStringLiteral("path"), path);
        if (!host.isEmpty())
            transport.insert(QStringLiteral("host"), QJsonArray {host});
    } else if (type == QLatin1String("quic")) {
        transport.insert(QStringLiteral("type"), type);
    } else if (type == QLatin1String("httpupgrade")) {
        transport.insert(QStringLiteral("type"), type);
        if (!path.isEmpty())
            transport.insert(QStringLiteral("path"), path);
        if (!host.isEmpty())
            transport.insert(QStringLiteral("host"), host);
    }
    return transport;
}

// Shadowsocks credentials are Base64 without the subscription decoder's "=" rule: Qt's lenient
// decoder skips every byte outside the standard alphabet.
QString decodeCredentials(const QString &text)
{
    return QString::fromUtf8(QByteArray::fromBase64(text.toUtf8()));
}

void splitMethodPassword(const QString &text, QString &method, QString &password)
{
    const qsizetype colon = text.indexOf(QLatin1Char(':'));
    if (colon < 0)
        return;
    method = text.left(colon);
    password = text.mid(colon + 1);
}

} // namespace

bool parseHandler(QUrl &url, QJsonArray &outbounds, QList<QString> &tags, const QString &scheme)
{
    const Protocol protocol = schemeTable.value(scheme.toLower(), Protocol::Unknown);
    const ShareLinkHandler handler = handlerTable.value(protocol, nullptr);
    if (handler == nullptr)
        return false;
    return handler(url, outbounds, tags);
}

bool parseVless(QUrl &url, QJsonArray &outbounds, QList<QString> &tags)
{
    if (!servesScheme(url, {QLatin1String("vless")}))
        return false;
    const int port = url.port();
    if (port < 0)
        return false;

    const QString tag = tagOf(url, QLatin1String("vless-"));
    const QUrlQuery query(url);

    QJsonObject outbound {
        {QStringLiteral("type"), QStringLiteral("vless")},
        {QStringLiteral("tag"), tag},
        {QStringLiteral("server"), url.host(QUrl::FullyDecoded)},
        {QStringLiteral("server_port"), port},
        {QStringLiteral("uuid"), url.userName(QUrl::FullyDecoded)},
        {QStringLiteral("packet_encoding"), QStringLiteral("xudp")},
    };
    const QString flow = queryItem(query, "flow");
    if (!flow.isEmpty())
        outbound.insert(QStringLiteral("flow"), flow);
    const QString security = queryItem(query, "security");
    if (security == QLatin1String("tls") || security == QLatin1String("reality"))
        outbound.insert(QStringLiteral("tls"), vlessTls(query, security));
    const QJsonObject transport = vlessTransport(query);
    if (!transport.isEmpty())
        outbound.insert(QStringLiteral("transport"), transport);
    if (queryItem(query, "tfo") == QLatin1String("1"))
        outbound.insert(QStringLiteral("tcp_fast_open"), true);

    append(outbounds, tags, outbound, tag);
    return true;
}

bool parseVmess(QUrl &, QJsonArray &, QList<QString> &)
{
    return false;
}

bool parseSS(QUrl &url, QJsonArray &outbounds, QList<QString> &tags)
{
    if (!servesScheme(url, {QLatin1String("ss")}))
        return false;

    QString host = url.host(QUrl::FullyDecoded);
    int port = url.port();
    const QString userInfo = url.userInfo(QUrl::PrettyDecoded);
    QString method;
    QString password;

    if (!userInfo.isEmpty() && !host.isEmpty()) {
        // ss://Base64(method:password)@host:port
        splitMethodPassword(decodeCredentials(userInfo), method, password);
    } else {
        // ss://Base64(method:password@host:port). QUrl lower-cases the host, so this form only
        // survives when the Base64 text sits where case is kept (the user info).
        const QString text = decodeCredentials(url.authority(QUrl::PrettyDecoded));
        const qsizetype at = text.lastIndexOf(QLatin1Char('@'));
        if (at >= 0) {
            splitMethodPassword(text.left(at), method, password);
            const QString hostPort = text.mid(at + 1);
            const qsizetype colon = hostPort.lastIndexOf(QLatin1Char(':'));
            if (colon >= 0) {
                host = hostPort.left(colon);
                // Not a number or not a port: 0, which the engine refuses with a clear error.
                port = hostPort.mid(colon + 1).toUShort();
            }
        }
    }

    if (host.isEmpty() || port < 0)
        return false;
    if (method.isEmpty() || password.isEmpty())
        return false;

    const QString tag = tagOf(url, QLatin1String("ss-"));
    QJsonObject outbound {
        {QStringLiteral("type"), QStringLiteral("shadowsocks")},
        {QStringLiteral("tag"), tag},
        {QStringLiteral("server"), host},
        {QStringLiteral("server_port"), port},
        {QStringLiteral("method"), method},
        {QStringLiteral("password"), password},
    };
    const QString plugin = queryItem(QUrlQuery(url), "plugin");
    if (!plugin.isEmpty()) {
        const qsizetype semicolon = plugin.indexOf(QLatin1Char(';'));
        if (semicolon >= 0) {
            outbound.insert(QStringLiteral("plugin"), plugin.left(semicolon));
            outbound.insert(QStringLiteral("plugin_opts"), plugin.mid(semicolon + 1));
        } else {
            outbound.insert(QStringLiteral("plugin"), plugin);
        }
    }

    append(outbounds, tags, outbound, tag);
    return true;
}

bool parseTrojan(QUrl &, QJsonArray &, QList<QString> &)
{
    return false;
}

bool parseHysteria(QUrl &url, QJsonArray &outbounds, QList<QString> &tags)
{
    if (!servesScheme(
            url, {QLatin1String("hysteria2"), QLatin1String("hysteria"), QLatin1String("hy2")}))
        return false;
    const QString host = url.host(QUrl::FullyDecoded);
    const int port = url.port();
    const QString userInfo = url.userInfo(QUrl::PrettyDecoded);
    if (host.isEmpty() || port < 0)
        return false;
    if (userInfo.isEmpty())
        return false;

    const QString tag = tagOf(url, QLatin1String("hysteria-"));
    const QUrlQuery query(url);

    QJsonObject tls {{QStringLiteral("enabled"), true}};
    const QString sni = queryItem(query, "sni");
    if (!sni.isEmpty())
        tls.insert(QStringLiteral("server_name"), sni);
    if (queryItem(query, "insecure") == QLatin1String("1"))
        tls.insert(QStringLiteral("insecure"), true);

    QJsonObject outbound {
        {QStringLiteral("type"), QStringLiteral("hysteria2")},
        {QStringLiteral("tag"), tag},
        {QStringLiteral("server"), host},
        {QStringLiteral("server_port"), port},
        {QStringLiteral("password"), userInfo},
        {QStringLiteral("tls"), tls},
    };
    const QString obfs = queryItem(query, "obfs");
    if (!obfs.isEmpty()) {
        QJsonObject obfsObject {{QStringLiteral("type"), obfs}};
        const QString obfsPassword = queryItem(query, "obfs-password");
        if (!obfsPassword.isEmpty())
            obfsObject.insert(QStringLiteral("password"), obfsPassword);
        outbound.insert(QStringLiteral("obfs"), obfsObject);
    }

    append(outbounds, tags, outbound, tag);
    return true;
}

QString normalizeShareLink(const QString &line)
{
    const qsizetype separator = line.indexOf(QLatin1String("://"));
    if (separator < 0
        || line.left(separator).compare(QLatin1String("ss"), Qt::CaseInsensitive) != 0)
        return line;
    const qsizetype start = separator + 3;
    qsizetype end = line.size();
    for (const QChar delimiter : {QLatin1Char('/'), QLatin1Char('?'), QLatin1Char('#')}) {
        const qsizetype at = line.indexOf(delimiter, start);
        if (at >= 0 && at < end)
            end = at;
    }
    const QByteArray authority
        = QByteArray::fromPercentEncoding(line.mid(start, end - start).toUtf8()).trimmed();
    if (authority.isEmpty() || authority.contains('@'))
        return line;

    const bool urlSafe = authority.contains('-') || authority.contains('_');
    const auto decoded = QByteArray::fromBase64Encoding(authority,
        (urlSafe ? QByteArray::Base64UrlEncoding : QByteArray::Base64Encoding)
            | QByteArray::AbortOnBase64DecodingErrors);
    if (!decoded)
        return line;
    const QString text = QString::fromUtf8(*decoded);
    const qsizetype at = text.lastIndexOf(QLatin1Char('@'));
    const QString credentials = text.left(at);
    const QString server = text.mid(at + 1);
    if (at <= 0 || !credentials.contains(QLatin1Char(':')) || !server.contains(QLatin1Char(':')))
        return line;

    // "/" would end the user info; the parser reads it back percent-decoded.
    const QString userInfo = QString::fromLatin1(credentials.toUtf8().toBase64())
                                 .replace(QLatin1Char('/'), QLatin1String("%2F"));
    return line.left(start) + userInfo + QLatin1Char('@') + server + line.mid(end);
}
