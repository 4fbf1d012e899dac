#pragma once

#include <QString>
#include <QStringList>

// Log lines never carry a secret. Subscription URLs name their subscription by a token that
// gives its nodes to anyone who has it; share links carry the node's password.
namespace LogMask {

// Every "token=" query value in the text cut to its first four characters and "***".
QString tokens(const QString &text);
QStringList tokens(const QStringList &texts);

// A share link as "scheme://***@host:port#name": the credentials and the query go, the address
// and the node's name stay to tell links apart.
QString shareLink(const QString &link);

} // namespace LogMask
