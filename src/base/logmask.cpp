#include "base/logmask.h"

#include <QRegularExpression>

namespace LogMask {

QString tokens(const QString &text)
{
    static const QRegularExpression token(QStringLiteral("(token=)([^&#\\s\"']{0,4})[^&#\\s\"']*"));
    QString masked = text;
    return masked.replace(token, QStringLiteral("\\1\\2***"));
}

QStringList tokens(const QStringList &texts)
{
    QStringList masked;
    masked.reserve(texts.size());
    for (const QString &text : texts)
        masked.append(tokens(text));
    return masked;
}

QString shareLink(const QString &link)
{
    const qsizetype separator = link.indexOf(QLatin1String("://"));
    if (separator < 0)
        return QStringLiteral("***");
    const qsizetype fragment = link.indexOf(QLatin1Char('#'), separator);
    const QString name = fragment < 0 ? QString() : link.mid(fragment);
    QString rest = link.mid(separator + 3, fragment < 0 ? -1 : fragment - separator - 3);
    rest = rest.left(rest.indexOf(QLatin1Char('?')));
    rest = rest.left(rest.indexOf(QLatin1Char('/')));
    const qsizetype at = rest.lastIndexOf(QLatin1Char('@'));
    // Without an "@" the whole authority may be an encoded credential (the older whole-link form).
    const QString address = at < 0 ? QString() : QLatin1Char('@') + rest.mid(at + 1);
    return link.left(separator) + QStringLiteral("://***") + address + name;
}

} // namespace LogMask
