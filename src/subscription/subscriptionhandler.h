#pragma once

#include "subscription/subscription.h"

#include <QByteArray>
#include <QJsonObject>
#include <QMap>
#include <QObject>
#include <QStringList>
#include <QUrl>

#include <functional>

class DatabaseHandler;

// The subscriptions the client can connect with, by name: fetched from their URL, turned into
// engine outbounds and kept as complete configurations in the `subscriptions` table. The map in
// memory is a cache of that table, rebuilt whole after every change.
class SubscriptionHandler : public QObject
{
    Q_OBJECT
    Q_PROPERTY(QStringList subscriptionNames READ subscriptionNames NOTIFY subscriptionNamesChanged)

public:
    // The process-wide store on the program's database.
    static SubscriptionHandler &getInstance();

    // Tests build their own on a database of their choosing.
    explicit SubscriptionHandler(DatabaseHandler &database, QObject *parent = nullptr);

    // Fetches the URL with the client's user agent, converts every share link it understands and
    // stores the result under the URL's text. False, with nothing stored, when the fetch fails or
    // no link is understood.
    Q_INVOKABLE bool addSubURL(const QUrl &url);
    // Stores the configuration under the name, replacing the content (not the id) of an existing
    // row, then reloads the cache.
    bool addSubJson(const QString &name, const QJsonObject &config);
    // Rebuilds the cache from the table; on a failed query the cache stays as it was.
    Q_INVOKABLE void loadFromDatabase();

    // Exact, case-sensitive name; an empty record when there is none.
    Subscription getSubscription(const QString &name) const;
    QMap<QString, Subscription> getSubscriptions() const { return m_subscriptions; }
    QStringList subscriptionNames() const { return m_subscriptionNames; }

    // The node outbounds of a configuration: groups, direct, block and dns are left out.
    static Subscription extractFromConfig(const QJsonObject &config);

    // Decodes a subscription body and hands each share link to its parser, appending what is
    // understood to outbounds and tags. Lines without "://" are skipped quietly; links no parser
    // takes, and links whose outbound the engine would refuse, are logged and left out, so one
    // bad link never costs the others. afterEach runs after every link that was added.
    static void appendShareLinks(const QByteArray &body, QJsonArray &outbounds,
        QList<QString> &tags, const std::function<void()> &afterEach = {});

    // The row id of a name: stable across runs, only ever used as a key.
    static quint32 subscriptionId(const QString &name);

signals:
    void subscriptionNamesChanged();

private:
    DatabaseHandler &m_database;
    QStringList m_subscriptionNames;
    QMap<QString, Subscription> m_subscriptions;
};
