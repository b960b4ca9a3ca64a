#include "data/sqlite/key_index.h"

#include <sqlite3.h>

namespace velario::data::detail {

namespace {

bool exec(sqlite3* handle, const QString& sql) {
    return sqlite3_exec(handle, sql.toUtf8().constData(), nullptr, nullptr, nullptr) == SQLITE_OK;
}

// Whether the engine answers "COLUMN = ?" on TABLE by a search rather than a whole scan.
bool searched(sqlite3* handle, const QString& table, const QString& column) {
    Statement plan(handle,
                   ("EXPLAIN QUERY PLAN SELECT _rowid_ FROM main." + quoteIdentifier(table) +
                    " WHERE " + quoteIdentifier(column) + " = ?")
                       .toUtf8(),
                   nullptr);
    bool search = false;
    while (plan.isValid() && sqlite3_step(plan.get()) == SQLITE_ROW)
        search = search || plan.value(3).toString().startsWith(QLatin1String("SEARCH"));
    return search;
}

} // namespace

std::unique_ptr<Recordset> KeyIndexes::lookup(const std::shared_ptr<SqliteConnection>& connection,
                                              const QString& table, const QString& column,
                                              const QVariant& value, Error* error) {
    if (!connection->keyIndexes)
        connection->keyIndexes = std::make_shared<KeyIndexes>();
    KeyIndexes& keys = *connection->keyIndexes;
    sqlite3* handle = connection->handle;
    // One read of the file for the look at its version and for the lookup: the copy is then
    // of the very rows the lookup reads, and the file is locked and unlocked once.
    const bool own = sqlite3_get_autocommit(handle) != 0 && keys.run(handle, keys.begin_, "BEGIN");
    const QString sql = QStringLiteral("SELECT _rowid_, * FROM ") + quoteIdentifier(table) +
                        QStringLiteral(" WHERE ") + keys.condition(*connection, table, column) +
                        QStringLiteral(" ORDER BY _rowid_");
    std::unique_ptr<Recordset> rows = Recordset::open(connection, sql, {value}, table, error);
    if (own && !keys.run(handle, keys.commit_, "COMMIT"))
        exec(handle, QStringLiteral("ROLLBACK"));
    return rows;
}

bool KeyIndexes::run(sqlite3* handle, Statement& statement, const char* sql) {
    if (!statement.isValid())
        statement = Statement(handle, sql, nullptr);
    const bool done = statement.isValid() && sqlite3_step(statement.get()) == SQLITE_DONE;
    sqlite3_reset(statement.get());
    return done;
}

QString KeyIndexes::condition(SqliteConnection& connection, const QString& table,
                              const QString& column) {
    const QString plain = quoteIdentifier(column) + QStringLiteral(" = ?");
    size_t at = 0;
    while (at < keys_.size() && !(keys_[at].table == table && keys_[at].column == column))
        ++at;
    if (at == keys_.size())
        keys_.push_back(Key{table, column, {}});
    Key& key = keys_[at];
    refresh(connection, key, int(at));
    if (key.copy.isEmpty())
        return plain;
    return QStringLiteral("_rowid_ IN (SELECT r FROM temp.") + quoteIdentifier(key.copy) +
           QStringLiteral(" WHERE k = ?)");
}

void KeyIndexes::refresh(SqliteConnection& connection, Key& key, int number) {
    sqlite3* handle = connection.handle;
    if (!dataVersion_.isValid())
        dataVersion_ = Statement(handle, "PRAGMA main.data_version", nullptr);
    qint64 version = -1;
    if (dataVersion_.isValid() && sqlite3_step(dataVersion_.get()) == SQLITE_ROW)
        version = sqlite3_column_int64(dataVersion_.get(), 0);
    sqlite3_reset(dataVersion_.get());
    if (version >= 0 && version == key.dataVersion &&
        sqlite3_total_changes64(handle) == key.changes)
        return;

    // The table may have changed, its indexes too: the copy is made again, or dropped.
    const QString copy = QStringLiteral("velario_key_%1").arg(number);
    const QString quotedCopy = quoteIdentifier(copy);
    if (!key.copy.isEmpty())
        exec(handle, "DROP TABLE IF EXISTS temp." + quotedCopy);
    key.copy.clear();
    const char* type = nullptr;
    const char* collation = nullptr;
    if (!searched(handle, key.table, key.column) &&
        sqlite3_table_column_metadata(handle, "main", key.table.toUtf8().constData(),
                                      key.column.toUtf8().constData(), &type, &collation, nullptr,
                                      nullptr, nullptr) == SQLITE_OK) {
        const QString declared = type ? QString::fromUtf8(type) : QString();
        const QString collate =
            quoteIdentifier(QString::fromUtf8(collation ? collation : "BINARY"));
        const bool made = exec(handle, "CREATE TEMP TABLE " + quotedCopy + " (r INTEGER, k " +
                                           declared + " COLLATE " + collate + ")") &&
                          exec(handle, "INSERT INTO temp." + quotedCopy + " SELECT _rowid_, " +
                                           quoteIdentifier(key.column) + " FROM main." +
                                           quoteIdentifier(key.table)) &&
                          exec(handle, "CREATE INDEX temp." + quoteIdentifier(copy + "_k") +
                                           " ON " + quotedCopy + " (k, r)");
        if (made)
            key.copy = copy;
        else
            exec(handle, "DROP TABLE IF EXISTS temp." + quotedCopy);
    }
    key.dataVersion = version;
    key.changes = sqlite3_total_changes64(handle);
}

} // namespace velario::data::detail
