#include "panel/accountsubscriptions.h"

#include "subscription/subscriptionhandler.h"

#include <QCoreApplication>
#include <QHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSettings>
#include <QUrl>
#include <QUrlQuery>

namespace {

QSettings accountStore()
{
    return QSettings(QSettings::IniFormat, QSettings::UserScope,
        QCoreApplication::organizationName(), QCoreApplication::applicationName());
}

// What the connect page shows of a subscription; the token stays in the store alone.
QJsonObject entryJson(const AccountSubscriptions::Entry &entry)
{
    const API::UserSubscribeItem &item = entry.item;
    return {{QStringLiteral("store_id"), double(SubscriptionHandler::subscriptionId(entry.url))},
        {QStringLiteral("id"), item.id}, {QStringLiteral("subscribe_id"), item.subscribe_id},
        {QStringLiteral("subscribe"), QJsonObject {{QStringLiteral("name"), item.subscribe.name}}},
        {QStringLiteral("expire_time"), double(item.expire_time)},
        {QStringLiteral("reset_time"), double(item.reset_time)},
        {QStringLiteral("created_at"), double(item.created_at)},
        {QStringLiteral("traffic"), double(item.traffic)},
        {QStringLiteral("download"), double(item.download)},
        {QStringLiteral("upload"), double(item.upload)}};
}

} // namespace

QString AccountSubscriptions::settingsKey(const QString &email)
{
    const QByteArray encoded = email.trimmed().toLower().toUtf8().toBase64(
        QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals);
    return QStringLiteral("Subscriptions/Account/") + QString::fromLatin1(encoded);
}

void AccountSubscriptions::remember(const QString &email, const std::vector<Entry> &entries)
{
    if (email.trimmed().isEmpty())
        return;
    QJsonArray list;
    for (const Entry &entry : entries)
        list.append(entryJson(entry));
    QSettings settings = accountStore();
    settings.setValue(
        settingsKey(email), QString::fromUtf8(QJsonDocument(list).toJson(QJsonDocument::Compact)));
    settings.sync();
}

std::vector<AccountSubscriptions::Entry> AccountSubscriptions::recall(
    const QString &email, const SubscriptionHandler &store)
{
    std::vector<Entry> entries;
    if (email.trimmed().isEmpty())
        return entries;
    const QJsonArray list
        = QJsonDocument::fromJson(accountStore().value(settingsKey(email)).toString().toUtf8())
              .array();
    if (list.isEmpty())
        return entries;
    QHash<quint32, QString> names;
    for (const QString &name : store.subscriptionNames())
        names.insert(SubscriptionHandler::subscriptionId(name), name);
    for (const QJsonValue &value : list) {
        const QJsonObject object = value.toObject();
        const QString url
            = names.value(quint32(object.value(QLatin1String("store_id")).toDouble()));
        if (url.isEmpty() || store.getSubscription(url).tags.isEmpty())
            continue;
        Entry entry {API::fromJson<API::UserSubscribeItem>(object), url};
        entry.item.token
            = QUrlQuery(QUrl(url)).queryItemValue(QStringLiteral("token"), QUrl::FullyDecoded);
        entries.push_back(std::move(entry));
    }
    return entries;
}
