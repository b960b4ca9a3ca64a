#include "data/sqlite/database.h"

#include "data/access/access_copy.h"
#include "data/sqlite/key_index.h"
#include "data/sqlite/recordset.h"
#include "data/sqlite/sqlite_connection.h"
#include "data/sqlite/sqlite_result.h"

#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QScopeGuard>

#include <sqlite3.h>

#include <algorithm>

namespace velario::data {
namespace {

enum class FileKind { Missing, Folder, Unreadable, SQLite, Access, Other };

FileKind classify(const QString& path) {
    const QFileInfo info(path);
    if (!info.exists())
        return FileKind::Missing;
    if (info.isDir())
        return FileKind::Folder;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return FileKind::Unreadable;
    const QByteArray head = file.read(32);
    if (head.startsWith(QByteArray("SQLite format 3\0", 16)))
        return FileKind::SQLite;
    const QByteArray magic = head.mid(4, 15);
    if (magic == "Standard Jet DB" || magic == "Standard ACE DB")
        return FileKind::Access;
    return FileKind::Other;
}

// A file in write-ahead-log mode whose log is gone was closed cleanly: everything is in the
// file itself. A read-only connection would still create the log and its index beside it, and
// could not remove them again; opening it as unchanging reads it without them.
bool walWithoutLog(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    const QByteArray head = file.read(20);
    return head.size() == 20 && head[18] == 2 && head[19] == 2 &&
           !QFileInfo::exists(path + QStringLiteral("-wal"));
}

QString fileUri(const QString& path) {
    const QByteArray encoded = QFileInfo(path).absoluteFilePath().toUtf8().toPercentEncoding("/");
    return QStringLiteral("file://") + QString::fromLatin1(encoded);
}

} // namespace

QString readOnlySqliteUri(const QString& path) {
    return fileUri(path) + (walWithoutLog(path) ? QStringLiteral("?mode=ro&immutable=1")
                                                : QStringLiteral("?mode=ro"));
}

Database::Database(QString path, DatabaseKind kind, bool readOnly, QString uri, sqlite3* handle)
    : path_(std::move(path)), kind_(kind), readOnly_(readOnly), uri_(std::move(uri)),
      sqlite_(std::make_shared<detail::SqliteConnection>()) {
    sqlite_->handle = handle;
    sqlite_->path = path_;
    sqlite_->kind = kind_;
    sqlite_->readOnly = readOnly_;
    if (kind_ == DatabaseKind::SQLite)
        sqlite_->identity = fileIdentity(path_);
}

Database::~Database() {
    // Statements still open on the handle go before it closes; holders elsewhere see it closed.
    sqlite_->close();
}

std::unique_ptr<Database> Database::open(const QString& path, bool readOnly, Error* error,
                                         int lockWaitMs) {
    const auto fail = [&](int number, const QString& description) {
        if (error)
            *error = Error::make(number, description);
        return nullptr;
    };
    if (path.isEmpty())
        return fail(ErrorNumber::FileOpenFailed, {});
    // An Access file is read through a SQLite copy of its tables, opened read-only.
    QString enginePath = path;
    DatabaseKind kind = DatabaseKind::SQLite;
    switch (classify(path)) {
    case FileKind::Missing:
        return fail(ErrorNumber::FileNotFound,
                    QStringLiteral("Impossibile trovare il file '%1'.").arg(path));
    case FileKind::Folder:
        return fail(ErrorNumber::FileOpenFailed,
                    QStringLiteral("'%1' è una cartella, non un file di database.").arg(path));
    case FileKind::Unreadable:
        return fail(ErrorNumber::PermissionDenied,
                    QStringLiteral("Impossibile leggere il file '%1'.").arg(path));
    case FileKind::Other:
        return fail(ErrorNumber::UnrecognizedFormat,
                    QStringLiteral("Formato di database non riconosciuto: '%1'.").arg(path));
    case FileKind::Access:
        enginePath = accessCopyFor(path, error);
        if (enginePath.isEmpty())
            return nullptr;
        kind = DatabaseKind::Access;
        readOnly = true;
        break;
    case FileKind::SQLite:
        break;
    }
    // A URI with an explicit mode and no SQLITE_OPEN_CREATE: SQLite never creates the file,
    // even if it vanished since it was classified. Read-only is also asked of the engine
    // itself, so that files attached by a statement are read-only too and never created.
    const QString uri =
        readOnly ? readOnlySqliteUri(enginePath) : fileUri(enginePath) + QStringLiteral("?mode=rw");
    Error probed;
    sqlite3* handle = detail::openHandle(uri, readOnly, lockWaitMs, &probed);
    if (handle && kind == DatabaseKind::Access && !prepareAccessCopyConnection(handle)) {
        sqlite3_close_v2(handle);
        handle = nullptr;
        probed = Error::make(ErrorNumber::UnrecognizedFormat,
                             QStringLiteral("Impossibile preparare la copia di lavoro del file "
                                            "Access '%1'.")
                                 .arg(path));
    }
    if (!handle)
        return fail(probed.number, probed.description);
    std::unique_ptr<Database> database(new Database(path, kind, readOnly, uri, handle));
    database->lockWaitMs_ = lockWaitMs;
    return database;
}

Error Database::followFile() {
    if (kind_ != DatabaseKind::SQLite)
        return {};
    const auto now = fileIdentity(path_);
    // A file that is gone leaves the handle on the old one: reads go on, writes are refused.
    if (!now || (sqlite_->isOpen() && sqlite_->identity && sqlite_->identity->sameFile(*now)))
        return {};
    // Another file has taken the path. The user hears of it once, from the operation that
    // finds it, unless told already that the old one was gone or could not be read.
    const bool told = !sqlite_->isOpen() || sqlite_->goneReported;
    sqlite_->goneReported = false;
    sqlite_->close();
    sqlite_->identity.reset();
    Error probed;
    sqlite_->handle = detail::openHandle(uri_, readOnly_, lockWaitMs_, &probed);
    if (!sqlite_->handle)
        return Error::make(probed.number,
                           QStringLiteral("Il file '%1' non è più un database leggibile: %2")
                               .arg(path_, probed.description));
    sqlite_->identity = now;
    if (told)
        return {};
    return Error::make(ErrorNumber::FileOpenFailed,
                       QStringLiteral("Il file '%1' è stato sostituito da un altro: nulla è stato "
                                      "letto né scritto, le prossime operazioni useranno il "
                                      "nuovo file.")
                           .arg(path_));
}

namespace {

template <typename T>
std::unique_ptr<T> closedDatabase(Error* error) {
    if (error)
        *error = Error::make(ErrorNumber::ObjectNotSet,
                             QStringLiteral("Il database non è aperto con il motore SQLite."));
    return nullptr;
}

template <typename T>
std::unique_ptr<T> failed(const Error& e, Error* error) {
    if (error)
        *error = e;
    return nullptr;
}

} // namespace

std::unique_ptr<Recordset> Database::openRecordset(const QString& sql, const QVariantList& params,
                                                   Error* error) {
    if (const Error e = followFile())
        return failed<Recordset>(e, error);
    if (!sqlite_->isOpen())
        return closedDatabase<Recordset>(error);
    return Recordset::open(sqlite_, sql, params, {}, error);
}

std::unique_ptr<Recordset> Database::openTableRecordset(const QString& table,
                                                        const QString& whereColumn,
                                                        const QVariant& value, Error* error) {
    if (const Error e = followFile())
        return failed<Recordset>(e, error);
    if (!sqlite_->isOpen())
        return closedDatabase<Recordset>(error);
    if (!whereColumn.isEmpty())
        return detail::KeyIndexes::lookup(sqlite_, table, whereColumn, value, error);
    return Recordset::open(sqlite_,
                           QStringLiteral("SELECT _rowid_, * FROM ") +
                               detail::quoteIdentifier(table) + QStringLiteral(" ORDER BY _rowid_"),
                           {}, table, error);
}

Error Database::forEachRow(const QString& sql, const QVariantList& params,
                           const std::function<bool(std::span<const std::string_view>)>& visit) {
    if (Error e = followFile())
        return e;
    if (!sqlite_->isOpen())
        return Error::make(ErrorNumber::ObjectNotSet);
    const QByteArray text = sql.toUtf8();
    Error error;
    detail::Statement stmt = sqlite_->prepare(text, params, &error);
    if (!stmt.isValid())
        return error;
    std::vector<std::string_view> row;
    for (;;) {
        const int rc = sqlite3_step(stmt.get());
        if (rc == SQLITE_DONE)
            break;
        if (rc != SQLITE_ROW)
            return sqlite_->lastError(rc);
        row.resize(size_t(sqlite3_column_count(stmt.get())));
        for (int c = 0; c < int(row.size()); ++c) {
            const auto* data = reinterpret_cast<const char*>(sqlite3_column_text(stmt.get(), c));
            row[size_t(c)] =
                std::string_view(data, data ? size_t(sqlite3_column_bytes(stmt.get(), c)) : 0);
        }
        if (!visit(row))
            break;
    }
    sqlite_->keepStatement(text, std::move(stmt));
    return {};
}

std::unique_ptr<ResultSource> Database::execute(const BoundStatement& statement, Error* error) {
    if (const Error e = followFile())
        return failed<ResultSource>(e, error);
    if (!sqlite_->isOpen())
        return closedDatabase<ResultSource>(error);
    return SqliteResult::open(sqlite_, statement, error);
}

Error Database::checkWritable() const {
    return sqlite_->checkWritable();
}

Error Database::writeTransaction(const std::function<Error()>& work) {
    if (Error e = followFile())
        return e;
    if (Error e = sqlite_->checkWritable())
        return e;
    sqlite3* handle = sqlite_->handle;
    // Changes of several programs at once queue for the file's write lock one behind the
    // other, each with its commit's syncs: twenty at once on a busy machine took more than
    // the two seconds a read waits.
    detail::waitForLocks(handle, std::max(lockWaitMs_, kSharedFileLockWaitMs));
    const auto readsWait = qScopeGuard([&] { detail::waitForLocks(handle, lockWaitMs_); });
    return sqlite_->inWriteTransaction(work);
}

Error Database::exec(const QString& sql, const QVariantList& params, int* changes) {
    if (!sqlite_->isOpen())
        return Error::make(ErrorNumber::ObjectNotSet);
    return sqlite_->execute(sql.toUtf8(), params, changes);
}

void Database::interrupt() {
    sqlite_->interrupted = true;
}

bool Database::isAccessFile(const QString& path) {
    return classify(path) == FileKind::Access;
}

bool Database::isDatabaseFile(const QString& path) {
    const FileKind kind = classify(path);
    return kind == FileKind::SQLite || kind == FileKind::Access;
}

QString recordSourceStatement(const QString& recordSource) {
    static const QRegularExpression tableName(QStringLiteral(R"(^\s*(\w+|\[[^\]]+\]|"[^"]+")\s*$)"),
                                              QRegularExpression::UseUnicodePropertiesOption);
    const QRegularExpressionMatch match = tableName.match(recordSource);
    if (!match.hasMatch())
        return recordSource;
    QString name = match.captured(1);
    if (name.startsWith(QLatin1Char('[')) || name.startsWith(QLatin1Char('"')))
        name = name.mid(1, name.size() - 2);
    name.replace(QLatin1Char('"'), QLatin1String("\"\""));
    return QStringLiteral("SELECT * FROM \"%1\"").arg(name);
}

} // namespace velario::data
