#include "network/authfailure.h"

bool looksLikeAuthFailureMessage(const QString &message)
{
    const QString lower = message.toLower();
    return lower.contains(QLatin1String("invalid access"))
        || lower.contains(QLatin1String("unauthorized")) || lower.contains(QLatin1String("login"))
        || message.contains(QStringLiteral("请先登录"))
        || message.contains(QStringLiteral("请先登陆"));
}
