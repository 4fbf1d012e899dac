#pragma once

#include <QJsonArray>
#include <QJsonObject>
#include <QList>
#include <QString>
#include <QUrl>

#include <functional>

// One line of a subscription that yields no node: either no parser takes it, or its outbound is
// one the engine would refuse at start, which would cost every other node of the subscription.
struct ShareLinkIssue
{
    enum class Kind
    {
        Unhandled,
        Refused
    };
    Kind kind = Kind::Unhandled;
    // Unhandled: the URL's display form. Refused: the masked form, safe for logs.
    QString link;
    // Refused only: what the engine would object to.
    QString reason;
};

// Why the engine would refuse this node outbound, or an empty string when it would take it.
QString outboundProblem(const QJsonObject &outbound);

// The link with its credentials (user info, password-like query values) replaced by "***".
QString maskedShareLink(const QUrl &url);

// Parses each share link of a decoded subscription body into `outbounds` and `tags`. Lines
// without "://" are skipped quietly; every other line that yields no node is reported through
// onIssue and skipped. afterEach runs after every node added.
void importShareLinks(const QString &text, QJsonArray &outbounds, QList<QString> &tags,
    const std::function<void(const ShareLinkIssue &)> &onIssue,
    const std::function<void()> &afterEach = {});
