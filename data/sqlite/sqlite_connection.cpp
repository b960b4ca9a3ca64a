#include "data/sqlite/sqlite_connection.h"

#include <QFile>
#include <QFileInfo>

#include <sqlite3.h>

#include <chrono>
#include <random>
#include <thread>

namespace velario::data {

Error engineError(int sqliteCode, const QString& message) {
    const QString text =
        message.isEmpty() ? QString::fromUtf8(sqlite3_errstr(sqliteCode)) : message;
    int number = ErrorNumber::EngineError;
    switch (sqliteCode & 0xFF) {
    case SQLITE_INTERRUPT:
        return Error::make(ErrorNumber::OperationCancelled);
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
        number = ErrorNumber::CouldNotLock;
        break;
    case SQLITE_READONLY:
        number = ErrorNumber::DatabaseReadOnly;
        break;
    case SQLITE_NOTADB:
    case SQLITE_CORRUPT:
        number = ErrorNumber::UnrecognizedFormat;
        break;
    case SQLITE_ERROR:
        if (text.contains(QLatin1String("no such table")))
            number = ErrorNumber::TableNotFound;
        else if (text.contains(QLatin1String("no such column")))
            number = ErrorNumber::TooFewParameters;
        else if (text.contains(QLatin1String("syntax error")) ||
                 text.contains(QLatin1String("unrecognized token")) ||
                 text.contains(QLatin1String("incomplete input")))
            number = ErrorNumber::SyntaxError;
        break;
    default:
        break;
    }
    return Error::make(number, text);
}

namespace detail {

QString errorText(sqlite3* handle) {
    return QString::fromUtf8(sqlite3_errmsg(handle));
}

QString quoteIdentifier(const QString& name) {
    QString quoted = name;
    quoted.replace(QLatin1Char('"'), QLatin1String("\"\""));
    return QLatin1Char('"') + quoted + QLatin1Char('"');
}

int bindValues(sqlite3_stmt* stmt, const std::vector<ParameterValue>& values, DatabaseKind kind) {
    const auto bindText = [stmt](int index, const QString& text) {
        const QByteArray bytes = text.toUtf8();
        return sqlite3_bind_text64(stmt, index, bytes.constData(), quint64(bytes.size()),
                                   SQLITE_TRANSIENT, SQLITE_UTF8);
    };
    for (int i = 0; i < int(values.size()); ++i) {
        const ParameterValue& value = values[size_t(i)];
        int rc = SQLITE_OK;
        switch (value.kind) {
        case ParameterKind::Null:
            rc = sqlite3_bind_null(stmt, i + 1);
            break;
        case ParameterKind::Integer:
            rc = sqlite3_bind_int64(stmt, i + 1, value.integer);
            break;
        case ParameterKind::Decimal:
            // The engine keeps no decimals: its numbers with a fraction are doubles.
            rc = sqlite3_bind_double(stmt, i + 1, value.decimal.toDouble());
            break;
        case ParameterKind::Date:
            rc = bindText(i + 1, kind == DatabaseKind::Access
                                     ? value.canonical() + QStringLiteral(" 00:00:00")
                                     : value.canonical());
            break;
        case ParameterKind::Text:
            rc = bindText(i + 1, value.text());
            break;
        }
        if (rc != SQLITE_OK)
            return rc;
    }
    return SQLITE_OK;
}

namespace {

// The engine's own wait tries ever more seldom, at last ten times a second. Under a queue of
// programs changing one file, one that had waited long kept losing the lock to each newcomer,
// trying every few milliseconds, until its time ran out with the queue moving all along. Here
// the longer a connection has waited, the more often it tries: the oldest waiter is the
// likeliest to get the lock next. The jitter keeps waiters that started together apart.
int retryLock(void* limitMs, int attempt) {
    using Clock = std::chrono::steady_clock;
    thread_local Clock::time_point since;
    thread_local std::minstd_rand jitter(
        unsigned(std::hash<std::thread::id>()(std::this_thread::get_id())));
    const Clock::time_point now = Clock::now();
    if (attempt == 0)
        since = now;
    const auto waited = std::chrono::duration_cast<std::chrono::milliseconds>(now - since).count();
    if (waited >= reinterpret_cast<std::intptr_t>(limitMs))
        return 0;
    const int pauseUs = waited < 500 ? 8000 : waited < 2000 ? 4000 : 2000;
    std::this_thread::sleep_for(
        std::chrono::microseconds(pauseUs / 2 + int(jitter() % unsigned(pauseUs))));
    return 1;
}

} // namespace

void waitForLocks(sqlite3* handle, int ms) {
    sqlite3_busy_handler(handle, ms > 0 ? retryLock : nullptr,
                         reinterpret_cast<void*>(std::intptr_t(ms)));
}

sqlite3* openHandle(const QString& uri, bool readOnly, int lockWaitMs, Error* error) {
    sqlite3* handle = nullptr;
    // A handle is used by one thread at a time: a long read runs on a worker while the
    // model that owns it refuses every other use (its busy flag), and the stop only sets an
    // atomic flag. The engine's own per-call locking would cost a quarter of a report's reading.
    const int mode =
        (readOnly ? SQLITE_OPEN_READONLY : SQLITE_OPEN_READWRITE) | SQLITE_OPEN_NOMUTEX;
    int rc = sqlite3_open_v2(uri.toUtf8().constData(), &handle, mode | SQLITE_OPEN_URI, nullptr);
    if (rc == SQLITE_OK) {
        waitForLocks(handle, lockWaitMs);
        Statement probe(handle, "SELECT count(*) FROM sqlite_master", nullptr);
        rc = probe.isValid() ? sqlite3_step(probe.get()) : sqlite3_errcode(handle);
        if (rc == SQLITE_ROW)
            return handle;
    }
    // A file another program has locked is told as any lock is; anything else as a file
    // not read, with the engine's message.
    const int code = rc & 0xFF;
    if (code == SQLITE_BUSY || code == SQLITE_LOCKED)
        *error = Error::make(ErrorNumber::CouldNotLock);
    else
        *error = Error::make(ErrorNumber::UnrecognizedFormat,
                             handle ? errorText(handle) : QString::fromUtf8(sqlite3_errstr(rc)));
    sqlite3_close_v2(handle);
    return nullptr;
}

Error SqliteConnection::lastError(int code) const {
    return engineError(code, handle ? errorText(handle) : QString());
}

Error SqliteConnection::checkWritable() const {
    if (!handle)
        return Error::make(ErrorNumber::ObjectNotSet, QStringLiteral("Il database è chiuso."));
    if (kind == DatabaseKind::Access)
        return Error::make(
            ErrorNumber::DatabaseReadOnly,
            QStringLiteral("Il database '%1' è un file Access, aperto in sola lettura.").arg(path));
    if (readOnly || sqlite3_db_readonly(handle, "main") == 1)
        return Error::make(ErrorNumber::DatabaseReadOnly,
                           QStringLiteral("Il database '%1' è aperto in sola lettura.").arg(path));
    // The engine keeps writing through the descriptor it opened even after the file was
    // made read-only, and a privileged user ignores the permission bits altogether: the
    // bits decide.
    const QFileInfo info(path);
    constexpr QFile::Permissions anyWrite =
        QFile::WriteOwner | QFile::WriteGroup | QFile::WriteOther;
    if (info.exists() && (!info.isWritable() || !(info.permissions() & anyWrite)))
        return Error::make(ErrorNumber::DatabaseReadOnly,
                           QStringLiteral("Il file '%1' è di sola lettura.").arg(path));
    // The engine would go on writing into a file that was deleted or moved away, and the
    // write would be lost with it.
    if (identity) {
        const auto now = fileIdentity(path);
        goneReported = goneReported || !now;
        if (!now)
            return Error::make(ErrorNumber::FileNotFound,
                               QStringLiteral("Il file '%1' non esiste più: nulla è stato "
                                              "scritto.")
                                   .arg(path));
        if (!now->sameFile(*identity))
            return Error::make(ErrorNumber::FileOpenFailed,
                               QStringLiteral("Il file '%1' è stato sostituito da un altro: "
                                              "nulla è stato scritto.")
                                   .arg(path));
    }
    return {};
}

void SqliteConnection::watchInterrupted() {
    // Often enough to stop within milliseconds, rarely enough to cost nothing measurable.
    constexpr int kInstructions = 1000;
    if (handle)
        sqlite3_progress_handler(
            handle, kInstructions,
            [](void* flag) {
                return static_cast<std::atomic<bool>*>(flag)->load(std::memory_order_relaxed) ? 1
                                                                                              : 0;
            },
            &interrupted);
}

void SqliteConnection::close() {
    // A holder removes itself from the set while letting go of its statement.
    while (!holders.empty())
        (*holders.begin())->connectionClosing();
    kept_.clear();
    keyIndexes.reset();
    if (handle)
        sqlite3_close_v2(handle);
    handle = nullptr;
}

Statement SqliteConnection::takeStatement(const QByteArray& sql, Error* error) {
    for (auto it = kept_.begin(); it != kept_.end(); ++it) {
        if (it->first == sql) {
            Statement statement = std::move(it->second);
            kept_.erase(it);
            return statement;
        }
    }
    return Statement(handle, sql, error);
}

void SqliteConnection::keepStatement(const QByteArray& sql, Statement statement) {
    constexpr size_t kKept = 4;
    if (!handle || !statement.isValid())
        return;
    sqlite3_reset(statement.get());
    sqlite3_clear_bindings(statement.get());
    if (kept_.size() >= kKept)
        kept_.erase(kept_.begin());
    kept_.emplace_back(sql, std::move(statement));
}

Statement SqliteConnection::prepare(const QByteArray& sql, const QVariantList& params,
                                    Error* error) {
    Statement statement = takeStatement(sql, error);
    if (!statement.isValid())
        return statement;
    for (int i = 0; i < params.size(); ++i)
        if (!statement.bind(i + 1, params[i])) {
            *error = lastError(sqlite3_errcode(handle));
            return {};
        }
    return statement;
}

Error SqliteConnection::execute(const QByteArray& sql, const QVariantList& params, int* changes) {
    Error error;
    Statement statement = prepare(sql, params, &error);
    if (!statement.isValid())
        return error;
    const int rc = sqlite3_step(statement.get());
    if (rc != SQLITE_DONE && rc != SQLITE_ROW)
        return lastError(rc);
    if (changes)
        *changes = sqlite3_changes(handle);
    keepStatement(sql, std::move(statement));
    return {};
}

Error SqliteConnection::inWriteTransaction(const std::function<Error()>& work) {
    const auto run = [this](const char* sql) -> Error {
        const int rc = sqlite3_exec(handle, sql, nullptr, nullptr, nullptr);
        return rc == SQLITE_OK ? Error() : lastError(rc);
    };
    if (Error e = run("BEGIN IMMEDIATE"))
        return e;
    Error error = work();
    if (!error)
        error = run("COMMIT");
    if (error && sqlite3_get_autocommit(handle) == 0)
        run("ROLLBACK");
    return error;
}

Statement::Statement(sqlite3* handle, const QByteArray& sql, Error* error, const char** tail) {
    const char* rest = nullptr;
    const int rc = sqlite3_prepare_v2(handle, sql.constData(), int(sql.size()), &stmt_, &rest);
    if (tail)
        *tail = rest;
    if (rc != SQLITE_OK) {
        if (error)
            *error = engineError(rc, errorText(handle));
        sqlite3_finalize(stmt_);
        stmt_ = nullptr;
    } else if (!stmt_ && error) {
        *error =
            Error::make(ErrorNumber::TableNotFound, QStringLiteral("L'istruzione SQL è vuota."));
    }
}

Statement::~Statement() {
    sqlite3_finalize(stmt_);
}

Statement& Statement::operator=(Statement&& other) noexcept {
    if (this != &other) {
        sqlite3_finalize(stmt_);
        stmt_ = other.stmt_;
        other.stmt_ = nullptr;
    }
    return *this;
}

bool Statement::bind(int index, const QVariant& value) {
    int rc = SQLITE_OK;
    if (!value.isValid() || value.isNull()) {
        rc = sqlite3_bind_null(stmt_, index);
    } else {
        switch (value.typeId()) {
        case QMetaType::Bool:
        case QMetaType::Int:
        case QMetaType::UInt:
        case QMetaType::Short:
        case QMetaType::UShort:
        case QMetaType::Long:
        case QMetaType::LongLong:
        case QMetaType::ULongLong:
            rc = sqlite3_bind_int64(stmt_, index, value.toLongLong());
            break;
        case QMetaType::Double:
        case QMetaType::Float:
            rc = sqlite3_bind_double(stmt_, index, value.toDouble());
            break;
        case QMetaType::QByteArray: {
            const QByteArray bytes = value.toByteArray();
            rc = sqlite3_bind_blob64(stmt_, index, bytes.constData(), quint64(bytes.size()),
                                     SQLITE_TRANSIENT);
            break;
        }
        default: {
            const QByteArray text = value.toString().toUtf8();
            rc = sqlite3_bind_text64(stmt_, index, text.constData(), quint64(text.size()),
                                     SQLITE_TRANSIENT, SQLITE_UTF8);
            break;
        }
        }
    }
    return rc == SQLITE_OK;
}

QVariant Statement::value(int column) const {
    switch (sqlite3_column_type(stmt_, column)) {
    case SQLITE_INTEGER:
        return QVariant(qint64(sqlite3_column_int64(stmt_, column)));
    case SQLITE_FLOAT:
        return QVariant(sqlite3_column_double(stmt_, column));
    case SQLITE_TEXT:
        return QVariant(
            QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_column_text(stmt_, column)),
                              sqlite3_column_bytes(stmt_, column)));
    case SQLITE_BLOB: {
        const void* blob = sqlite3_column_blob(stmt_, column);
        return QVariant(
            QByteArray(static_cast<const char*>(blob), sqlite3_column_bytes(stmt_, column)));
    }
    default:
        return QVariant();
    }
}

} // namespace detail
} // namespace velario::data
