#include "database/databasehandler.h"

#include "base/debugger.h"
#include "base/privatefiles.h"

#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSqlError>
#include <QStandardPaths>
#include <QTextStream>

DatabaseHandler &DatabaseHandler::getInstance()
{
    static DatabaseHandler instance;
    return instance;
}

DatabaseHandler::DatabaseHandler(const QString &scriptDirectory, const QString &connectionName)
    : m_scriptDirectory(scriptDirectory)
    , m_connectionName(connectionName)
    , m_database(QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), connectionName))
    , m_query(m_database)
{ }

DatabaseHandler::~DatabaseHandler()
{
    m_query = QSqlQuery();
    m_database.close();
    m_database = QSqlDatabase();
    QSqlDatabase::removeDatabase(m_connectionName);
}

QString DatabaseHandler::databasePath() const
{
    return QStandardPaths::writableLocation(QStandardPaths::AppDataLocation)
        + QStringLiteral("/db/") + m_fileName;
}

QStringList DatabaseHandler::scriptPaths() const
{
    QStringList paths;
    const QDir dir(m_scriptDirectory);
    if (!dir.exists()) {
        DEBUG_LOG << "no directory found " << m_scriptDirectory;
    } else {
        const QFileInfoList files = dir.entryInfoList(QDir::Files, QDir::Name);
        for (const QFileInfo &file : files)
            paths.append(file.absoluteFilePath());
    }
    DEBUG_LOG << paths.size() << " sql files found.";
    return paths;
}

// A plain split at ";": scripts are written without semicolons inside literals or comments.
bool DatabaseHandler::readScript(const QString &path, QStringList &commands) const
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text)) {
        DEBUG_LOG << "Error opening file: " << path;
        return false;
    }
    const QStringList pieces
        = QString::fromUtf8(file.readAll()).split(QLatin1Char(';'), Qt::SkipEmptyParts);
    for (const QString &piece : pieces) {
        const QString statement = piece.trimmed();
        if (!statement.isEmpty())
            commands.append(statement + QLatin1Char(';'));
    }
    return true;
}

bool DatabaseHandler::initializeDatabase()
{
    const QStringList scripts = scriptPaths();

    const QString path = databasePath();
    // Created private before SQLite opens it: its journals take the database file's mode.
    if (PrivateFiles::makeDirectory(QFileInfo(path).absolutePath()))
        PrivateFiles::ensureFile(path);

    m_database.setDatabaseName(path);
    if (!m_database.open()) {
        DEBUG_LOG << "Error opening database: " << m_database.lastError().text();
        return false;
    }
    if (!isDatabase() && !startAfresh(path))
        return false;

    const float version = getDatabaseVersion();
    DEBUG_LOG << "Current database version: " << version;

    if (version >= m_targetVersion) {
        DEBUG_LOG << "Database already initialized.";
    } else {
        DEBUG_LOG << "Database not initialized. Executing SQL scripts...";
        QStringList commands;
        for (const QString &script : scripts) {
            DEBUG_LOG << "Looking at: " << script;
            if (!readScript(script, commands))
                return false;
        }
        if (!executeSql(commands)) {
            DEBUG_LOG << "Error in executing sql cmds";
            DEBUG_LOG << "Current version: " << getDatabaseVersion();
            return false;
        }
        DEBUG_LOG << "Database initialized.";
    }

    DEBUG_LOG << "Current version: " << getDatabaseVersion();
    return true;
}

bool DatabaseHandler::isDatabase()
{
    QSqlQuery check(m_database);
    return check.exec(QStringLiteral("PRAGMA quick_check")) && check.next()
        && check.value(0).toString() == QLatin1String("ok");
}

bool DatabaseHandler::startAfresh(const QString &path)
{
    m_query = QSqlQuery();
    m_database.close();
    const QString kept = PrivateFiles::quarantine(path);
    if (kept.isEmpty()) {
        qWarning().noquote() << "[DatabseHandler]: app.db is not a database and cannot be moved";
        return false;
    }
    // A journal left beside it belongs to the old file and must never be played into the new one.
    for (const char *suffix : {"-journal", "-wal", "-shm"}) {
        const QString journal = path + QLatin1String(suffix);
        if (QFileInfo::exists(journal) && !QFile::rename(journal, kept + QLatin1String(suffix)))
            QFile::remove(journal);
    }
    qWarning().noquote() << "[DatabseHandler]: app.db is not a database; moved to" << kept
                         << "and made anew";
    PrivateFiles::ensureFile(path);
    const bool opened = m_database.open();
    m_query = QSqlQuery(m_database);
    if (!opened)
        DEBUG_LOG << "Error opening database: " << m_database.lastError().text();
    return opened;
}

float DatabaseHandler::getDatabaseVersion()
{
    if (!m_query.exec(QStringLiteral("SELECT version FROM db_version LIMIT 1"))
        || !m_query.next()) {
        DEBUG_LOG << "Version not found.";
        return 0.0f;
    }
    const float version = m_query.value(0).toFloat();
    m_query.finish();
    return version;
}

bool DatabaseHandler::executeSql(const QString &statement, bool useTransaction)
{
    if (useTransaction)
        transaction();
    if (!m_query.exec(statement)) {
        DEBUG_LOG << "SQL execution error: " << m_query.lastError().text();
        rollback();
        return false;
    }
    if (useTransaction)
        commit();
    return true;
}

bool DatabaseHandler::executeSql(const QStringList &statements)
{
    if (!transaction())
        return false;
    for (const QString &statement : statements) {
        if (!m_query.exec(statement)) {
            DEBUG_LOG << "SQL execution error: " << m_query.lastError().text();
            rollback();
            DEBUG_LOG << "Rolling back, the following command failed: " << statement;
            return false;
        }
    }
    return commit();
}

bool DatabaseHandler::commit()
{
    const bool committed = m_database.commit();
    if (!committed)
        DEBUG_LOG << "Commit error: " << m_database.lastError().text();
    return committed;
}

bool DatabaseHandler::transaction()
{
    return m_database.transaction();
}

bool DatabaseHandler::rollback()
{
    return m_database.rollback();
}

QSqlQuery &DatabaseHandler::getQuery()
{
    return m_query;
}
