#pragma once

#include <QJsonArray>
#include <QList>
#include <QMap>
#include <QString>
#include <QUrl>

// Turns one share link into one engine outbound and its tag. A handler that succeeds appends
// exactly one object to `outbounds` and its "tag" to `tags`, keeping the two parallel; one that
// fails appends nothing. Nothing here throws or logs: the caller reports what was not handled.

enum class Protocol
{
    Vless = 0,
    Vmess = 1,
    Shadowsocks = 2,
    Trojan = 3,
    Hysteria = 4,
    Hysteria2 = 5,
    Hy2 = 6,
    Unknown = 7,
};

using ShareLinkHandler = bool (*)(QUrl &url, QJsonArray &outbounds, QList<QString> &tags);

// Scheme text (lower case) to link kind, and link kind to its handler. Built at start-up and never
// changed; Unknown has no handler.
extern const QMap<QString, Protocol> schemeTable;
extern const QMap<Protocol, ShareLinkHandler> handlerTable;

// Dispatches on `scheme` (any letter case); false for a scheme without a handler.
bool parseHandler(QUrl &url, QJsonArray &outbounds, QList<QString> &tags, const QString &scheme);

bool parseVless(QUrl &url, QJsonArray &outbounds, QList<QString> &tags);
bool parseVmess(QUrl &url, QJsonArray &outbounds, QList<QString> &tags);
bool parseSS(QUrl &url, QJsonArray &outbounds, QList<QString> &tags);
bool parseTrojan(QUrl &url, QJsonArray &outbounds, QList<QString> &tags);
// Serves "hysteria2", "hysteria" and "hy2" alike; all become "hysteria2" outbounds.
bool parseHysteria(QUrl &url, QJsonArray &outbounds, QList<QString> &tags);

// The older Shadowsocks form carries "method:password@host:port" as Base64 in the authority, which
// the URL layer lower-cases or refuses. Rewrites such a line into the form with the credentials in
// the user info, which parses; every other line comes back unchanged. Callers apply it to each
// trimmed line before building the URL.
QString normalizeShareLink(const QString &line);
