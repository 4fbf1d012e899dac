#include "panelstorage.h"

#include <QDebug>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QUuid>

namespace {

const char *const kSchema[] = {
    R"(CREATE TABLE settings (key TEXT PRIMARY KEY, value TEXT NOT NULL))",
    R"(CREATE TABLE users (
        id INTEGER PRIMARY KEY AUTOINCREMENT,
        email TEXT NOT NULL UNIQUE COLLATE NOCASE,
        password_salt TEXT NOT NULL,
        password_hash TEXT NOT NULL,
        balance INTEGER NOT NULL DEFAULT 0,
        gift_amount INTEGER NOT NULL DEFAULT 0,
        commission INTEGER NOT NULL DEFAULT 0,
        refer_code TEXT NOT NULL UNIQUE,
        referer_id INTEGER NOT NULL DEFAULT 0,
        enable INTEGER NOT NULL DEFAULT 1,
        token_version INTEGER NOT NULL DEFAULT 0,
        free_claimed_at INTEGER NOT NULL DEFAULT 0,
        created_at INTEGER NOT NULL,
        updated_at INTEGER NOT NULL))",
    R"(CREATE TABLE codes (
        email TEXT NOT NULL COLLATE NOCASE,
        type INTEGER NOT NULL,
        code TEXT NOT NULL,
        created_at INTEGER NOT NULL,
        verified INTEGER NOT NULL DEFAULT 0,
        PRIMARY KEY (email, type)))",
    R"(CREATE TABLE mail (
        id INTEGER PRIMARY KEY AUTOINCREMENT,
        email TEXT NOT NULL,
        type INTEGER NOT NULL,
        code TEXT NOT NULL,
        subject TEXT NOT NULL,
        body TEXT NOT NULL,
        created_at INTEGER NOT NULL))",
    R"(CREATE TABLE plans (
        id INTEGER PRIMARY KEY AUTOINCREMENT,
        name TEXT NOT NULL,
        description TEXT NOT NULL DEFAULT '',
        unit_price INTEGER NOT NULL,
        unit_time TEXT NOT NULL,
        discount TEXT NOT NULL DEFAULT '[]',
        traffic INTEGER NOT NULL DEFAULT 0,
        speed_limit INTEGER NOT NULL DEFAULT 0,
        device_limit INTEGER NOT NULL DEFAULT 0,
        inventory INTEGER NOT NULL DEFAULT -1,
        quota INTEGER NOT NULL DEFAULT 0,
        show INTEGER NOT NULL DEFAULT 1,
        sell INTEGER NOT NULL DEFAULT 1,
        sort INTEGER NOT NULL DEFAULT 0,
        reset_cycle INTEGER NOT NULL DEFAULT 0,
        renewal_reset INTEGER NOT NULL DEFAULT 0,
        created_at INTEGER NOT NULL,
        updated_at INTEGER NOT NULL))",
    R"(CREATE TABLE nodes (
        id INTEGER PRIMARY KEY AUTOINCREMENT,
        name TEXT NOT NULL,
        protocol TEXT NOT NULL,
        address TEXT NOT NULL,
        port INTEGER NOT NULL,
        uuid TEXT NOT NULL DEFAULT '',
        country TEXT NOT NULL DEFAULT '',
        city TEXT NOT NULL DEFAULT '',
        tags TEXT NOT NULL DEFAULT '[]',
        link TEXT NOT NULL,
        created_at INTEGER NOT NULL))",
    R"(CREATE TABLE plan_nodes (
        plan_id INTEGER NOT NULL,
        node_id INTEGER NOT NULL,
        PRIMARY KEY (plan_id, node_id)))",
    R"(CREATE TABLE payment_methods (
        id INTEGER PRIMARY KEY AUTOINCREMENT,
        name TEXT NOT NULL,
        platform TEXT NOT NULL,
        description TEXT NOT NULL DEFAULT '',
        icon TEXT NOT NULL DEFAULT '',
        fee_mode INTEGER NOT NULL DEFAULT 0,
        fee_percent REAL NOT NULL DEFAULT 0,
        fee_amount INTEGER NOT NULL DEFAULT 0,
        enabled INTEGER NOT NULL DEFAULT 1))",
    R"(CREATE TABLE coupons (
        code TEXT PRIMARY KEY,
        kind INTEGER NOT NULL,
        value INTEGER NOT NULL,
        plans TEXT NOT NULL DEFAULT '[]',
        remaining INTEGER NOT NULL DEFAULT -1,
        expire_at INTEGER NOT NULL DEFAULT 0))",
    R"(CREATE TABLE orders (
        id INTEGER PRIMARY KEY AUTOINCREMENT,
        order_no TEXT NOT NULL UNIQUE,
        user_id INTEGER NOT NULL,
        type INTEGER NOT NULL,
        quantity INTEGER NOT NULL,
        price INTEGER NOT NULL,
        amount INTEGER NOT NULL,
        gift_amount INTEGER NOT NULL DEFAULT 0,
        discount INTEGER NOT NULL DEFAULT 0,
        coupon TEXT NOT NULL DEFAULT '',
        coupon_discount INTEGER NOT NULL DEFAULT 0,
        payment_id INTEGER NOT NULL,
        fee_amount INTEGER NOT NULL DEFAULT 0,
        trade_no TEXT NOT NULL DEFAULT '',
        status INTEGER NOT NULL,
        subscribe_id INTEGER NOT NULL,
        user_subscribe_id INTEGER NOT NULL DEFAULT 0,
        return_url TEXT NOT NULL DEFAULT '',
        created_at INTEGER NOT NULL,
        updated_at INTEGER NOT NULL))",
    R"(CREATE TABLE user_subscriptions (
        id INTEGER PRIMARY KEY AUTOINCREMENT,
        user_id INTEGER NOT NULL,
        order_id INTEGER NOT NULL DEFAULT 0,
        subscribe_id INTEGER NOT NULL,
        start_time INTEGER NOT NULL,
        expire_time INTEGER NOT NULL,
        finished_at INTEGER NOT NULL DEFAULT 0,
        reset_time INTEGER NOT NULL DEFAULT 0,
        traffic INTEGER NOT NULL DEFAULT 0,
        download INTEGER NOT NULL DEFAULT 0,
        upload INTEGER NOT NULL DEFAULT 0,
        token TEXT NOT NULL,
        status INTEGER NOT NULL DEFAULT 1,
        is_try_out INTEGER NOT NULL DEFAULT 0,
        created_at INTEGER NOT NULL,
        updated_at INTEGER NOT NULL))",
    R"(CREATE TABLE tickets (
        id INTEGER PRIMARY KEY AUTOINCREMENT,
        user_id INTEGER NOT NULL,
        title TEXT NOT NULL,
        description TEXT NOT NULL,
        status INTEGER NOT NULL,
        created_at INTEGER NOT NULL,
        updated_at INTEGER NOT NULL))",
    R"(CREATE TABLE ticket_follows (
        id INTEGER PRIMARY KEY AUTOINCREMENT,
        ticket_id INTEGER NOT NULL,
        sender TEXT NOT NULL,
        type INTEGER NOT NULL,
        content TEXT NOT NULL,
        created_at INTEGER NOT NULL))",
    R"(CREATE TABLE announcements (
        id INTEGER PRIMARY KEY AUTOINCREMENT,
        title TEXT NOT NULL,
        content TEXT NOT NULL,
        show INTEGER NOT NULL DEFAULT 1,
        pinned INTEGER NOT NULL DEFAULT 0,
        popup INTEGER NOT NULL DEFAULT 0,
        created_at INTEGER NOT NULL,
        updated_at INTEGER NOT NULL))",
};

} // namespace

PanelStorage::PanelStorage()
    : m_connectionName(QStringLiteral("devpanel-") + QUuid::createUuid().toString(QUuid::Id128))
{ }

PanelStorage::~PanelStorage()
{
    {
        QSqlDatabase db = QSqlDatabase::database(m_connectionName, false);
        if (db.isOpen())
            db.close();
    }
    QSqlDatabase::removeDatabase(m_connectionName);
}

bool PanelStorage::open(const QString &path)
{
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), m_connectionName);
    db.setDatabaseName(path);
    if (!db.open()) {
        qWarning() << "[Storage] Cannot open" << path << db.lastError().text();
        return false;
    }
    exec(QStringLiteral("PRAGMA journal_mode=WAL"));
    exec(QStringLiteral("PRAGMA foreign_keys=ON"));
    const bool hasSchema
        = value(QStringLiteral("SELECT count(*) FROM sqlite_master WHERE name = 'settings'"))
              .toInt()
        > 0;
    if (hasSchema)
        return true;
    m_fresh = true;
    return createSchema();
}

bool PanelStorage::createSchema()
{
    if (!transaction())
        return false;
    for (const char *statement : kSchema) {
        if (!exec(QString::fromUtf8(statement))) {
            rollback();
            return false;
        }
    }
    return commit();
}

namespace {

bool prepareAndRun(QSqlQuery &query, const QString &sql, const QVariantList &values)
{
    if (!query.prepare(sql)) {
        qWarning() << "[Storage] Cannot prepare" << sql << query.lastError().text();
        return false;
    }
    // A null string would be stored as SQL NULL; the schema wants text.
    for (const QVariant &value : values) {
        if (value.typeId() == QMetaType::QString && value.toString().isNull())
            query.addBindValue(QStringLiteral(""));
        else
            query.addBindValue(value);
    }
    if (!query.exec()) {
        qWarning() << "[Storage] Statement failed" << sql << query.lastError().text();
        return false;
    }
    return true;
}

QVariantMap recordToMap(const QSqlQuery &query)
{
    QVariantMap map;
    const QSqlRecord record = query.record();
    for (int i = 0; i < record.count(); ++i)
        map.insert(record.fieldName(i), query.value(i));
    return map;
}

} // namespace

bool PanelStorage::exec(const QString &sql, const QVariantList &values)
{
    QSqlQuery query(QSqlDatabase::database(m_connectionName));
    return prepareAndRun(query, sql, values);
}

qint64 PanelStorage::insert(const QString &sql, const QVariantList &values)
{
    QSqlQuery query(QSqlDatabase::database(m_connectionName));
    if (!prepareAndRun(query, sql, values))
        return -1;
    return query.lastInsertId().toLongLong();
}

std::optional<QVariantMap> PanelStorage::row(const QString &sql, const QVariantList &values)
{
    QSqlQuery query(QSqlDatabase::database(m_connectionName));
    if (!prepareAndRun(query, sql, values) || !query.next())
        return std::nullopt;
    return recordToMap(query);
}

QList<QVariantMap> PanelStorage::rows(const QString &sql, const QVariantList &values)
{
    QList<QVariantMap> result;
    QSqlQuery query(QSqlDatabase::database(m_connectionName));
    if (!prepareAndRun(query, sql, values))
        return result;
    while (query.next())
        result.append(recordToMap(query));
    return result;
}

QVariant PanelStorage::value(const QString &sql, const QVariantList &values)
{
    QSqlQuery query(QSqlDatabase::database(m_connectionName));
    if (!prepareAndRun(query, sql, values) || !query.next())
        return {};
    return query.value(0);
}

bool PanelStorage::transaction()
{
    return QSqlDatabase::database(m_connectionName).transaction();
}

bool PanelStorage::commit()
{
    return QSqlDatabase::database(m_connectionName).commit();
}

void PanelStorage::rollback()
{
    QSqlDatabase::database(m_connectionName).rollback();
}

QString PanelStorage::setting(const QString &key, const QString &fallback)
{
    const QVariant stored
        = value(QStringLiteral("SELECT value FROM settings WHERE key = ?"), {key});
    return stored.isValid() ? stored.toString() : fallback;
}

void PanelStorage::setSetting(const QString &key, const QString &value)
{
    exec(QStringLiteral("INSERT INTO settings (key, value) VALUES (?, ?) "
                        "ON CONFLICT(key) DO UPDATE SET value = excluded.value"),
        {key, value});
}
