#include "panel/localizedname.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QVariant>

QString localeKeyForLanguage(const QString &language)
{
    return language == QLatin1String("zh") ? QStringLiteral("zh-CN") : QStringLiteral("en-US");
}

QString localizedName(const QString &name, const QString &localeKey)
{
    const QJsonDocument document = QJsonDocument::fromJson(name.toUtf8());
    if (!document.isObject())
        return name;
    const QJsonObject names = document.object();
    if (names.isEmpty())
        return name;
    QJsonValue chosen = names.value(localeKey);
    if (chosen.isUndefined())
        chosen = names.value(QLatin1String("en-US"));
    if (chosen.isUndefined())
        chosen = names.begin().value();
    return chosen.toVariant().toString();
}
