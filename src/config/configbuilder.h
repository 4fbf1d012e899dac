#pragma once

#include <QJsonArray>
#include <QJsonObject>
#include <QList>
#include <QString>

// Who may use the local mixed proxy. By default only this machine; with LAN sharing, any host
// that presents the login. Sharing without a complete login stays on this machine.
struct ProxyAccess
{
    bool lan = false;
    QString username;
    QString password;

    bool sharesOnLan() const { return lan && !username.isEmpty() && !password.isEmpty(); }
};

// Port of the local mixed proxy.
constexpr int kMixedProxyPort = 1080;
// While the mixed proxy is shared and asks for a login, this machine's own programs (the system
// proxy settings) use a second listener on loopback without one: browsers would prompt for it.
constexpr int kLoopbackProxyPort = 1081;
// The port a program on this machine uses without a login.
int localProxyPort(const ProxyAccess &access);

// Assembles the engine configuration from parsed node outbounds. Stateless: every call builds
// fresh objects. QJsonObject keeps keys sorted, so the written document lists them in ascending
// order; array order is meaningful and fixed here.

// The whole document; an empty object (and a debug line) when `tags` is empty. An empty
// `controller` leaves the control API out. `selectorTag` names the selector and the route's final.
// `unanswered` names nodes known not to answer: every group tries them last.
QJsonObject buildConfig(const QJsonArray &outbounds, const QList<QString> &tags,
    const QString &controller, const QString &secret, const QString &selectorTag, bool tun,
    const ProxyAccess &access = {}, const QList<QString> &unanswered = {});

// The latency test group over every node ("Auto"), and the one over a cluster's nodes (a
// country); the selector lists these groups ahead of the nodes, "urltest" first.
extern const QString autoGroupTag;
QString clusterGroupTag(const QString &cluster);
// The URL the latency test groups and the client's own delay tests use.
QString latencyTestUrl();

// Nodes, then the selector, "urltest", one latency test group per cluster in the order of the
// clusters' first tags, and "direct". Within each group the nodes not in `unanswered` come first,
// VIP nodes ahead; the rest keep the order of `tags`. A repeated tag keeps the first place and the
// last object; so a node tagged like a built-in outbound is replaced by it.
QJsonArray createOutbounds(const QJsonArray &outbounds, const QList<QString> &tags,
    const QString &selectorTag, const QList<QString> &unanswered = {});
QJsonObject createSelector(const QList<QString> &tags, const QString &tag);
QJsonObject createUrlTest(const QList<QString> &tags, const QString &tag);
QJsonObject createDirect();
QJsonObject createLog();
QJsonArray createInbounds(bool tun, const ProxyAccess &access = {});
QJsonObject createTun();
QJsonObject createMixedProxy(const ProxyAccess &access = {});
QJsonObject createExperimental(const QString &controller, const QString &secret);
