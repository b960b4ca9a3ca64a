#pragma once

#include "data/errors.h"
#include "data/file_identity.h"
#include "data/query/query_parameters.h"
#include "data/sqlite/database.h"

#include <QByteArray>
#include <QString>
#include <QVariant>

#include <atomic>
#include <functional>
#include <memory>
#include <optional>
#include <unordered_set>
#include <utility>
#include <vector>

struct sqlite3;
struct sqlite3_stmt;

namespace velario::data::detail {

class KeyIndexes;

// Something that keeps a statement open on a connection and must let it go before the
// connection closes (a result still shown by a grid when its database is closed).
class StatementHolder {
public:
    virtual ~StatementHolder() = default;
    virtual void connectionClosing() = 0;
};

// A prepared statement, finalized when it goes out of scope.
class Statement {
public:
    Statement() = default;
    // Prepares the first statement of SQL; on failure isValid() is false and ERROR is set.
    // TAIL, when given, receives where the text after that statement begins.
    Statement(sqlite3* handle, const QByteArray& sql, Error* error, const char** tail = nullptr);
    ~Statement();
    Statement(Statement&& other) noexcept : stmt_(other.stmt_) { other.stmt_ = nullptr; }
    Statement& operator=(Statement&& other) noexcept;
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;

    bool isValid() const { return stmt_ != nullptr; }
    sqlite3_stmt* get() const { return stmt_; }
    // Binds VALUE to the 1-based parameter INDEX; false when the engine refuses it.
    bool bind(int index, const QVariant& value);
    QVariant value(int column) const;

private:
    sqlite3_stmt* stmt_ = nullptr;
};

// Binds VALUES to the parameters of STMT in order, a date as the text a database of KIND keeps
// its dates as; the engine's result code.
int bindValues(sqlite3_stmt* stmt, const std::vector<ParameterValue>& values, DatabaseKind kind);

// Opens the SQLite file that URI names, read-only or read-write and never created, waits up to two
// seconds on another program's lock, and reads its schema, so that a damaged file or one that
// only looks like a database fails here and not later. Null with ERROR set on failure.
sqlite3* openHandle(const QString& uri, bool readOnly, int lockWaitMs, Error* error);

// Makes every statement on HANDLE wait up to MS for a lock another connection holds.
void waitForLocks(sqlite3* handle, int ms);

// The SQLite handle of an open Database, shared with the record sets and results made from
// it. The Database closes the handle when it closes; whoever still holds this sees a closed
// connection instead of a dangling pointer.
struct SqliteConnection {
    sqlite3* handle = nullptr;
    QString path;
    DatabaseKind kind = DatabaseKind::SQLite;
    bool readOnly = false;
    // The file the handle was opened on (device and inode): a write goes only to the file
    // that is at PATH now, never to one deleted or replaced since.
    std::optional<FileIdentity> identity;
    // A write was refused because the file had gone from its path: the user knows.
    mutable bool goneReported = false;
    std::unordered_set<StatementHolder*> holders;
    // Set from another thread to stop the statements stepping on the handle (they fail with
    // OperationCancelled), as long as it stays set. Unlike sqlite3_interrupt it stops only
    // what runs while it is set, and leaves an open result that is not stepping readable.
    std::atomic<bool> interrupted{false};
    // Made on the handle, so they go with it.
    std::shared_ptr<KeyIndexes> keyIndexes;

    bool isOpen() const { return handle != nullptr; }
    // Makes the statements of the handle look at INTERRUPTED while they run.
    void watchInterrupted();
    ~SqliteConnection() { close(); }
    // DatabaseReadOnly when nothing may be written through this connection now.
    Error checkWritable() const;
    // The error of the last failed call on the handle, mapped to the program's numbers.
    Error lastError(int code) const;
    // Lets go of every statement on the handle, then closes it.
    void close();

    // A statement for SQL: one kept from an earlier use of the same text, or a new one.
    Statement takeStatement(const QByteArray& sql, Error* error);
    // Keeps a statement that ran to its end for the next use of its text. Lookups run for
    // every row a list moves to would otherwise parse the same text each time.
    void keepStatement(const QByteArray& sql, Statement statement);
    // SQL prepared (a kept statement where there is one) with PARAMS bound in order; not
    // valid, with ERROR set, when either fails.
    Statement prepare(const QByteArray& sql, const QVariantList& params, Error* error);
    // Runs SQL with PARAMS to its end, keeping the statement; CHANGES, when given, receives
    // the rows it changed.
    Error execute(const QByteArray& sql, const QVariantList& params, int* changes = nullptr);
    // WORK between BEGIN IMMEDIATE and COMMIT, rolled back when it fails. IMMEDIATE takes the
    // write lock first, so a file locked by another process fails here, before anything is
    // written.
    Error inWriteTransaction(const std::function<Error()>& work);

private:
    std::vector<std::pair<QByteArray, Statement>> kept_;
};

QString quoteIdentifier(const QString& name);
QString errorText(sqlite3* handle);

} // namespace velario::data::detail
