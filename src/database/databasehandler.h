#pragma once

#include <QSqlDatabase>
#include <QSqlQuery>
#include <QString>
#include <QStringList>

// The program's one SQLite database, app.db in the application data location, brought up to the
// schema this build expects by the SQL scripts in the resources.
class DatabaseHandler
{
public:
    static DatabaseHandler &getInstance();

    // Tests build their own instances with another script folder and connection name.
    explicit DatabaseHandler(const QString &scriptDirectory = QStringLiteral(":/sql/"),
        const QString &connectionName = QString::fromLatin1(QSqlDatabase::defaultConnection));
    ~DatabaseHandler();

    DatabaseHandler(const DatabaseHandler &) = delete;
    DatabaseHandler &operator=(const DatabaseHandler &) = delete;

    bool initializeDatabase();
    float getDatabaseVersion();

    bool executeSql(const QString &statement, bool useTransaction);
    bool executeSql(const QStringList &statements);

    bool commit();
    bool transaction();
    bool rollback();

    QSqlQuery &getQuery();

    // Where initializeDatabase() keeps the file.
    QString databasePath() const;

private:
    // False when the file is not an SQLite database or fails its own consistency check.
    bool isDatabase();
    // Moves the unreadable file aside (kept for inspection) and opens a new, empty one.
    bool startAfresh(const QString &path);
    QStringList scriptPaths() const;
    bool readScript(const QString &path, QStringList &commands) const;

    const QString m_fileName = QStringLiteral("app.db");
    const float m_targetVersion = 1.0f;
    const QString m_scriptDirectory;
    const QString m_connectionName;
    QSqlDatabase m_database;
    QSqlQuery m_query;
};
