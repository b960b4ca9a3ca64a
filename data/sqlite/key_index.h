#pragma once

#include "data/sqlite/recordset.h"
#include "data/sqlite/sqlite_connection.h"

#include <QString>

#include <memory>
#include <vector>

namespace velario::data::detail {

// Lookups of a table's rows by one column, "COLUMN = ?", made fast where the file has no index
// that serves them (a catalogue made by another program). The engine would read the whole
// table for each lookup; instead a TEMP table of the table's rowids and values of the column,
// declared with the column's own type and collation so that "=" means exactly what it means
// on the table, has an index of its own. It lives with the connection, never in the file, and
// is made again whenever the table may have changed since: after a write through the
// connection, or a commit by any other (PRAGMA data_version).
class KeyIndexes {
public:
    // The rows of TABLE whose COLUMN equals VALUE, in the order of their rowids, as an
    // updatable record set of TABLE.
    static std::unique_ptr<Recordset> lookup(const std::shared_ptr<SqliteConnection>& connection,
                                             const QString& table, const QString& column,
                                             const QVariant& value, Error* error);

private:
    // The condition that picks the rows of TABLE whose COLUMN equals the one parameter it
    // has: the plain comparison when the file's own index serves it (or the copy cannot be
    // made), else a search of the copy.
    QString condition(SqliteConnection& connection, const QString& table, const QString& column);

    struct Key {
        QString table;
        QString column;
        QString copy; // the TEMP table, empty when the file's own index serves
        qint64 dataVersion = -1;
        qint64 changes = -1;
    };
    void refresh(SqliteConnection& connection, Key& key, int number);

    // Runs SQL through the statement kept in STATEMENT (prepared on first use).
    bool run(sqlite3* handle, Statement& statement, const char* sql);

    std::vector<Key> keys_;
    Statement dataVersion_;
    Statement begin_;
    Statement commit_;
};

} // namespace velario::data::detail
