#include "subscription/subscriptionhandler.h"

#include "base/debugger.h"
#include "base/logmask.h"
#include "config/base64.h"
#include "config/configbuilder.h"
#include "config/sharelinkimport.h"
#include "database/databasehandler.h"
#include "network/networkerror.h"
#include "network/networkhandler.h"
#include "network/platform.h"

#include <QDebug>
#include <QHash>
#include <QJsonDocument>
#include <QSqlError>
#include <QSqlQuery>

namespace {

bool isExcludedType(const QString &type)
{
    static const QStringList excluded {QStringLiteral("selector"), QStringLiteral("urltest"),
        QStringLiteral("direct"), QStringLiteral("block"), QStringLiteral("dns")};
    return excluded.contains(type);
}

} // namespace

SubscriptionHandler &SubscriptionHandler::getInstance()
{
    static SubscriptionHandler instance(DatabaseHandler::getInstance());
    return instance;
}

SubscriptionHandler::SubscriptionHandler(DatabaseHandler &database, QObject *parent)
    : QObject(parent)
    , m_database(database)
{ }

quint32 SubscriptionHandler::subscriptionId(const QString &name)
{
    return quint32(qHash(name, 0));
}

Subscription SubscriptionHandler::extractFromConfig(const QJsonObject &config)
{
    Subscription result;
    const QJsonValue outbounds = config.value(QLatin1String("outbounds"));
    if (!outbounds.isArray())
        return result;
    const QJsonArray array = outbounds.toArray();
    for (const QJsonValue &value : array) {
        if (!value.isObject())
            continue;
        const QJsonObject outbound = value.toObject();
        if (isExcludedType(outbound.value(QLatin1String("type")).toString().toLower()))
            continue;
        const QString tag = outbound.value(QLatin1String("tag")).toString();
        if (!tag.isEmpty() && !result.tags.contains(tag))
            result.tags.append(tag);
        result.outbounds.append(outbound);
    }
    return result;
}

void SubscriptionHandler::appendShareLinks(const QByteArray &body, QJsonArray &outbounds,
    QList<QString> &tags, const std::function<void()> &afterEach)
{
    const auto report = [](const ShareLinkIssue &issue) {
        if (issue.kind == ShareLinkIssue::Kind::Unhandled)
            DEBUG_LOG << "Cannot handle url: " << LogMask::shareLink(issue.link);
        else
            qWarning().noquote() << "[SubscriptionHandler] Dropped link:" << issue.link << '('
                                 << issue.reason << ')';
    };
    importShareLinks(QString::fromUtf8(base64_decode(body)), outbounds, tags, report, afterEach);
}

bool SubscriptionHandler::addSubURL(const QUrl &url)
{
    try {
        const QByteArray body = NetworkHandler::getDirectInstance()
                                    ->request()
                                    .url(url)
                                    .header("User-Agent", Platform::userAgent().toUtf8())
                                    .getRaw();
        QJsonArray outbounds;
        QList<QString> tags;
        appendShareLinks(body, outbounds, tags);
        if (outbounds.isEmpty())
            return false;
        const QJsonObject config
            = buildConfig(outbounds, tags, QString(), QString(), QString(), false);
        return addSubJson(url.toString(), config);
    } catch (const NetworkError &error) {
        DEBUG_LOG << "Failed to load subscription: " << LogMask::tokens(error.message());
        return false;
    }
}

bool SubscriptionHandler::addSubJson(const QString &name, const QJsonObject &config)
{
    const QString content = QString::fromUtf8(QJsonDocument(config).toJson(QJsonDocument::Compact));
    m_database.transaction();
    QSqlQuery &query = m_database.getQuery();
    query.prepare(QStringLiteral(
        "INSERT INTO subscriptions (id, name, content) VALUES (:id, :name, :content) "
        "ON CONFLICT(name) DO UPDATE SET content = excluded.content"));
    query.bindValue(QStringLiteral(":id"), subscriptionId(name));
    query.bindValue(QStringLiteral(":name"), name);
    query.bindValue(QStringLiteral(":content"), content);
    if (!query.exec()) {
        m_database.rollback();
        DEBUG_LOG << "Insert failed: " << query.lastError().text();
        return false;
    }
    // A failed commit is logged by the database; the row is as good as the statement was.
    m_database.commit();
    loadFromDatabase();
    return true;
}

void SubscriptionHandler::loadFromDatabase()
{
    if (!m_database.executeSql(QStringLiteral("SELECT name, content FROM subscriptions"), false)) {
        DEBUG_LOG << "Failed to execute SELECT query";
        return;
    }
    QSqlQuery &query = m_database.getQuery();
    m_subscriptions.clear();
    while (query.next()) {
        const QString name = query.value(0).toString();
        const QJsonDocument content = QJsonDocument::fromJson(query.value(1).toString().toUtf8());
        if (!content.isObject()) {
            DEBUG_LOG << "Invalid JSON for entry: " << name;
            continue;
        }
        m_subscriptions.insert(name, extractFromConfig(content.object()));
    }
    m_subscriptionNames = m_subscriptions.keys();
    emit subscriptionNamesChanged();
    qDebug() << "[SubscriptionHandler] Stored subscriptions:"
             << LogMask::tokens(m_subscriptionNames);
    query.clear();
}

Subscription SubscriptionHandler::getSubscription(const QString &name) const
{
    return m_subscriptions.value(name);
}
