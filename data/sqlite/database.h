#pragma once

#include "data/errors.h"
#include "data/query/bound_statement.h"
#include "data/result_source.h"
#include "data/sqlite/recordset.h"

#include <QString>
#include <QVariant>

#include <functional>
#include <memory>
#include <span>
#include <string_view>

struct sqlite3;

namespace velario::data {

enum class DatabaseKind { SQLite, Access };

namespace detail {
struct SqliteConnection;
}

// A SQLite result code and the engine's message as the program's error: the number tells
// what went wrong (missing table, bad syntax, lock, read-only file ...), the description
// is the engine's own text.
Error engineError(int sqliteCode, const QString& message);

// The SQLite URI that opens the file at PATH read-only and never creates it. Every character
// but unreserved ones is percent-encoded, so the URI also travels unquoted in an ODBC
// connection string.
QString readOnlySqliteUri(const QString& path);

// An open database file. The kind is decided by the file's content: a SQLite file opens
// read-write through the SQLite engine, an Access file read-only. Opening never creates a
// file.
// How long a statement waits for a lock another program holds on the file; a file that many
// programs change at once (a shared catalogue) is worth waiting for longer.
constexpr int kLockWaitMs = 2000;
constexpr int kSharedFileLockWaitMs = 10000;

class Database {
public:
    // Null, with ERROR set, when PATH cannot be opened. An Access file always opens
    // read-only. Every statement waits up to LOCKWAITMS for a lock, a change at least
    // kSharedFileLockWaitMs.
    static std::unique_ptr<Database> open(const QString& path, bool readOnly, Error* error,
                                          int lockWaitMs = kLockWaitMs);
    ~Database();
    Database(const Database&) = delete;
    Database& operator=(const Database&) = delete;

    QString path() const { return path_; }
    DatabaseKind kind() const { return kind_; }
    bool isReadOnly() const { return readOnly_; }

    // Runs SQL with PARAMS bound in order to its "?" and reads the whole result into
    // memory, first row current. Meant for small results; the record set is read-only.
    std::unique_ptr<Recordset> openRecordset(const QString& sql, const QVariantList& params,
                                             Error* error);
    // The rows of TABLE whose WHERECOLUMN equals VALUE (every row when WHERECOLUMN is
    // empty), in storage order. This record set can edit, add and delete rows.
    std::unique_ptr<Recordset> openTableRecordset(const QString& table, const QString& whereColumn,
                                                  const QVariant& value, Error* error);
    // Runs SQL with PARAMS bound and hands VISIT each row as the engine holds it, every column
    // as UTF-8 text (a Null as a view without data), until VISIT returns false or the rows
    // end. The views last only for that call: a scan of any size holds one row at a time.
    Error forEachRow(const QString& sql, const QVariantList& params,
                     const std::function<bool(std::span<const std::string_view>)>& visit);
    // Runs STATEMENT, its values bound, for reading forward, a block of rows at a time; null
    // with ERROR set when the engine refuses the statement or fails on its first row. A date
    // is bound as the text the file's dates are kept as: yyyy-mm-dd in a SQLite file (as
    // SQLite's own date functions write it), yyyy-mm-dd 00:00:00 in an Access file's copy.
    std::unique_ptr<ResultSource> execute(const BoundStatement& statement, Error* error);
    std::unique_ptr<ResultSource> execute(const QString& sql, Error* error) {
        return execute(BoundStatement{sql, {}}, error);
    }

    // DatabaseReadOnly when nothing may be written now (Access copy, database opened
    // read-only, file made read-only).
    Error checkWritable() const;

    // Runs WORK as one write transaction on the file now at the path, committed when WORK
    // returns no error and rolled back otherwise. The write lock is taken first (BEGIN
    // IMMEDIATE), so a file another program is writing fails here, before anything is read
    // for the change; the record sets WORK opens read inside the transaction.
    Error writeTransaction(const std::function<Error()>& work);
    // Runs the one statement SQL with PARAMS bound; CHANGES receives the rows it changed.
    Error exec(const QString& sql, const QVariantList& params, int* changes = nullptr);

    // Stops, from another thread, what execute() or its result runs on the engine now, and
    // fails what follows with OperationCancelled. For a database that is then let go.
    void interrupt();

    // Whether PATH holds an Access file, which open() reads through its working copy.
    static bool isAccessFile(const QString& path);
    // Whether PATH holds a file open() reads: SQLite or Access.
    static bool isDatabaseFile(const QString& path);

private:
    // Moves the handle to the file now at the path when that is another file than the one
    // open (restored from a copy, written anew by another program); FileOpenFailed when the
    // user has not heard of the change yet.
    Error followFile();
    Database(QString path, DatabaseKind kind, bool readOnly, QString uri, sqlite3* handle);
    QString path_;
    int lockWaitMs_ = kLockWaitMs;
    DatabaseKind kind_;
    bool readOnly_;
    // What the handle was opened on, to open it again on the file that took the path.
    QString uri_;
    std::shared_ptr<detail::SqliteConnection> sqlite_;
};

// The statement a data source runs for RECORDSOURCE: a record source that is only a table
// name stands for the whole table.
QString recordSourceStatement(const QString& recordSource);

} // namespace velario::data
