#include "config/sharelinkimport.h"

#include "config/shareparser.h"

#include <QRegularExpression>
#include <QSet>
#include <QUrlQuery>

namespace {

const QString kMask = QStringLiteral("***");

QString quoted(const QString &value)
{
    return QLatin1Char('"') + value + QLatin1Char('"');
}

// The methods the engine knows, whether or not this build can dial them yet.
bool knownMethod(const QString &method)
{
    static const QSet<QString> methods {QStringLiteral("none"), QStringLiteral("aes-128-gcm"),
        QStringLiteral("aes-192-gcm"), QStringLiteral("aes-256-gcm"),
        QStringLiteral("chacha20-ietf-poly1305"), QStringLiteral("xchacha20-ietf-poly1305"),
        QStringLiteral("2022-blake3-aes-128-gcm"), QStringLiteral("2022-blake3-aes-256-gcm"),
        QStringLiteral("2022-blake3-chacha20-poly1305"), QStringLiteral("aes-128-ctr"),
        QStringLiteral("aes-192-ctr"), QStringLiteral("aes-256-ctr"), QStringLiteral("aes-128-cfb"),
        QStringLiteral("aes-192-cfb"), QStringLiteral("aes-256-cfb"), QStringLiteral("rc4-md5"),
        QStringLiteral("chacha20-ietf"), QStringLiteral("xchacha20")};
    return methods.contains(method);
}

QString shadowsocksProblem(const QJsonObject &outbound)
{
    const QString method = outbound.value(QLatin1String("method")).toString();
    if (!knownMethod(method))
        return QStringLiteral("unknown method ") + quoted(method);
    if (method != QLatin1String("none")
        && outbound.value(QLatin1String("password")).toString().isEmpty())
        return QStringLiteral("missing password");
    return {};
}

QString vlessProblem(const QJsonObject &outbound)
{
    static const QRegularExpression uuid(QStringLiteral(
        "^[0-9a-fA-F]{8}-?[0-9a-fA-F]{4}-?[0-9a-fA-F]{4}-?[0-9a-fA-F]{4}-?[0-9a-fA-F]{12}$"));
    // The value is the credential itself, so the reason does not repeat it.
    if (!uuid.match(outbound.value(QLatin1String("uuid")).toString()).hasMatch())
        return QStringLiteral("invalid UUID");
    const QString flow = outbound.value(QLatin1String("flow")).toString();
    if (!flow.isEmpty() && flow != QLatin1String("xtls-rprx-vision"))
        return QStringLiteral("unsupported flow ") + quoted(flow);
    static const QSet<QString> transports {QStringLiteral("ws"), QStringLiteral("grpc"),
        QStringLiteral("http"), QStringLiteral("quic"), QStringLiteral("httpupgrade")};
    const QJsonValue transport = outbound.value(QLatin1String("transport"));
    if (!transport.isUndefined()) {
        const QString type = transport[QLatin1String("type")].toString();
        if (!transports.contains(type))
            return QStringLiteral("unknown transport ") + quoted(type);
    }
    return {};
}

QString hysteriaProblem(const QJsonObject &outbound)
{
    const QString obfs = outbound.value(QLatin1String("obfs"))[QLatin1String("type")].toString();
    if (!obfs.isEmpty() && obfs != QLatin1String("salamander"))
        return QStringLiteral("unknown obfs type ") + quoted(obfs);
    if (!outbound.value(QLatin1String("tls"))[QLatin1String("enabled")].toBool())
        return QStringLiteral("TLS required");
    return {};
}

bool secretQueryKey(const QString &key)
{
    return key.contains(QLatin1String("password"), Qt::CaseInsensitive)
        || key.compare(QLatin1String("auth"), Qt::CaseInsensitive) == 0
        || key.compare(QLatin1String("key"), Qt::CaseInsensitive) == 0;
}

} // namespace

QString outboundProblem(const QJsonObject &outbound)
{
    const QString type = outbound.value(QLatin1String("type")).toString();
    QString problem;
    if (type == QLatin1String("shadowsocks"))
        problem = shadowsocksProblem(outbound);
    else if (type == QLatin1String("vless"))
        problem = vlessProblem(outbound);
    else if (type == QLatin1String("hysteria2"))
        problem = hysteriaProblem(outbound);
    else
        return QStringLiteral("unknown outbound type ") + quoted(type);
    if (!problem.isEmpty())
        return problem;
    if (outbound.value(QLatin1String("server")).toString().isEmpty())
        return QStringLiteral("missing server address");
    const int port = outbound.value(QLatin1String("server_port")).toInt();
    if (port < 1 || port > 65535)
        return QStringLiteral("port ") + QString::number(port);
    return {};
}

QString maskedShareLink(const QUrl &url)
{
    QUrl masked(url);
    if (!masked.userInfo().isEmpty())
        masked.setUserInfo(kMask);
    QUrlQuery query(masked);
    QList<QPair<QString, QString>> items = query.queryItems();
    bool changed = false;
    for (auto &item : items) {
        if (secretQueryKey(item.first) && !item.second.isEmpty()) {
            item.second = kMask;
            changed = true;
        }
    }
    if (changed) {
        query.setQueryItems(items);
        masked.setQuery(query);
    }
    return masked.toDisplayString();
}

void importShareLinks(const QString &text, QJsonArray &outbounds, QList<QString> &tags,
    const std::function<void(const ShareLinkIssue &)> &onIssue,
    const std::function<void()> &afterEach)
{
    const QStringList lines = text.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    for (const QString &line : lines) {
        const QString link = normalizeShareLink(line.trimmed());
        const qsizetype separator = link.indexOf(QLatin1String("://"));
        if (separator < 0)
            continue;
        QUrl url(link, QUrl::TolerantMode);
        if (!parseHandler(url, outbounds, tags, link.left(separator))) {
            if (onIssue)
                onIssue({ShareLinkIssue::Kind::Unhandled, url.toDisplayString(), {}});
            continue;
        }
        const QString problem = outboundProblem(outbounds.last().toObject());
        if (!problem.isEmpty()) {
            outbounds.removeLast();
            tags.removeLast();
            if (onIssue)
                onIssue({ShareLinkIssue::Kind::Refused, maskedShareLink(url), problem});
            continue;
        }
        if (afterEach)
            afterEach();
    }
}
