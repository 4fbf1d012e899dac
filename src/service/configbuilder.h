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

// Assembles the engine configuration from parsed node outbounds. Stateless: every call builds
// fresh objects. QJsonObject keeps keys sorted, so the written document lists them in ascending
// order; array order is meaningful and fixed here.

// The whole document; an empty object (and a debug line) when `tags` is empty. An empty
// `controller` leaves the control API out. `selectorTag` names the selector and the route's final.
QJsonObject buildConfig(const QJsonArray &outbounds, const QList<QString> &tags,
    const QString &controller, const QString &secret, const QString &selectorTag, bool tun,
    const ProxyAccess &access = {});

// Nodes, then the selector, "urltest" and "direct". A repeated tag keeps the first place and the
// last object; so a node tagged like a built-in outbound is replaced by it.
QJsonArray createOutbounds(
    const QJsonArray &outbounds, const QList<QString> &tags, const QString &selectorTag);
QJsonObject createSelector(const QList<QString> &tags, const QString &tag);
QJsonObject createUrlTest(const QList<QString> &tags, const QString &tag);
QJsonObject createDirect();
QJsonObject createLog();
QJsonArray createInbounds(bool tun, const ProxyAccess &access = {});
QJsonObject createTun();
QJsonObject createMixedProxy(const ProxyAccess &access = {});
QJsonObject createExperimental(const QString &controller, const QString &secret);
