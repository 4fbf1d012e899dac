#pragma once

#include <QString>
#include <QVariantList>
#include <QVariantMap>

#include <optional>

// The panel's SQLite database. Every query goes through here, so a failing statement is logged in
// one place and reported to the caller as an empty result instead of stopping the server.
class PanelStorage
{
public:
    PanelStorage();
    ~PanelStorage();
    PanelStorage(const PanelStorage &) = delete;
    PanelStorage &operator=(const PanelStorage &) = delete;

    // path may be ":memory:". Creates the schema on first use.
    bool open(const QString &path);
    // True when open() found no schema and created it: the panel is new and wants seeding.
    bool isFresh() const { return m_fresh; }

    bool exec(const QString &sql, const QVariantList &values = {});
    // The id of the inserted row, or -1 on failure.
    qint64 insert(const QString &sql, const QVariantList &values = {});
    std::optional<QVariantMap> row(const QString &sql, const QVariantList &values = {});
    QList<QVariantMap> rows(const QString &sql, const QVariantList &values = {});
    // The first column of the first row, or an invalid variant.
    QVariant value(const QString &sql, const QVariantList &values = {});

    bool transaction();
    bool commit();
    void rollback();

    QString setting(const QString &key, const QString &fallback = {});
    void setSetting(const QString &key, const QString &value);

private:
    bool createSchema();

    QString m_connectionName;
    bool m_fresh = false;
};
