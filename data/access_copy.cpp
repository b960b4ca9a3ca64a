#include "access_copy.h"

#include <mdbtools.h>
#include <sqlite3.h>

#include <QCryptographicHash>
#include <QDate>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMutex>
#include <QStandardPaths>
#include <QTemporaryFile>
#include <QtEndian>

#include <algorithm>
#include <atomic>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace velario::data {
namespace {

// Part of every copy's name: raising it turns the copies written by an older build stale.
constexpr int kCopyFormat = 1;

// The catalog's definition page, right after the header page and the file's usage map.
constexpr unsigned long kCatalogPage = 2;

// What decides whether a cached copy still matches its Access file.
struct SourceStamp {
    qint64 size = -1;
    qint64 mtimeNs = 0;
    quint64 inode = 0;

    bool operator==(const SourceStamp&) const = default;
};

bool stampOf(const QString& path, SourceStamp* stamp) {
    struct stat st {};
    if (::stat(QFile::encodeName(path).constData(), &st) != 0 || !S_ISREG(st.st_mode))
        return false;
    stamp->size = st.st_size;
    stamp->mtimeNs = qint64(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
    stamp->inode = st.st_ino;
    return true;
}

QString cacheFolder() {
    const QString base = QStandardPaths::writableLocation(QStandardPaths::CacheLocation);
    if (!base.isEmpty()) {
        const QString folder = base + QStringLiteral("/access");
        if (QDir().mkpath(folder))
            return folder;
    }
    // A folder of our own in the shared temp area: refuse one that someone else made.
    const QString folder = QDir::temp().filePath(QStringLiteral("velario-access-%1").arg(getuid()));
    if (!QDir().mkpath(folder) || QFileInfo(folder).ownerId() != getuid())
        return {};
    QFile::setPermissions(folder, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    return folder;
}

QString quoted(const char* identifier) {
    QString name = QString::fromUtf8(identifier);
    name.replace(QLatin1Char('"'), QLatin1String("\"\""));
    return QLatin1Char('"') + name + QLatin1Char('"');
}

bool isVariableLength(int type) {
    return type == MDB_TEXT || type == MDB_MEMO || type == MDB_OLE || type == MDB_BINARY;
}

QString declaredType(const MdbColumn* col, bool jet3) {
    switch (col->col_type) {
    case MDB_BOOL:
        return QStringLiteral("BOOLEAN");
    case MDB_BYTE:
    case MDB_INT:
    case MDB_LONGINT:
    case MDB_COMPLEX:
        return QStringLiteral("INTEGER");
    case MDB_FLOAT:
        return QStringLiteral("FLOAT");
    case MDB_DOUBLE:
        return QStringLiteral("DOUBLE");
    case MDB_MONEY:
        return QStringLiteral("NUMERIC(19,4)");
    case MDB_NUMERIC:
        return QStringLiteral("NUMERIC(%1,%2)").arg(col->col_prec).arg(col->col_scale);
    case MDB_DATETIME:
        return QStringLiteral("DATETIME");
    case MDB_TEXT:
        return QStringLiteral("VARCHAR(%1)").arg(jet3 ? col->col_size : col->col_size / 2);
    case MDB_MEMO:
        return QStringLiteral("TEXT");
    case MDB_REPID:
        return QStringLiteral("VARCHAR(38)");
    default:
        return QStringLiteral("BLOB");
    }
}

// Access keeps a date as days since 1899-12-30 with the time of day as the fraction; before
// 1899 the day count is negative but the fraction still counts forward from midnight.
bool isoDateTime(double value, char (&out)[24]) {
    // Access dates run from 100-01-01 to 9999-12-31.
    if (!std::isfinite(value) || value <= -657435.0 || value >= 2958466.0)
        return false;
    const double whole = std::trunc(value);
    qint64 seconds = std::llround(std::fabs(value - whole) * 86400.0);
    qint64 days = qint64(whole);
    if (seconds >= 86400) {
        seconds -= 86400;
        ++days;
    }
    const QDate date = QDate(1899, 12, 30).addDays(days);
    std::snprintf(out, sizeof out, "%04d-%02d-%02d %02d:%02d:%02d", date.year(), date.month(),
                  date.day(), int(seconds / 3600), int(seconds / 60 % 60), int(seconds % 60));
    return true;
}

// The shortest decimal that reads back as the same single, so that 0.1 stays 0.1 instead of
// becoming 0.100000001490116 in the copy.
double singleAsDouble(float value) {
    char text[32];
    const auto written = std::to_chars(text, text + sizeof text, value);
    double result = value;
    std::from_chars(text, written.ptr, result);
    return result;
}

struct MdbCloser {
    void operator()(MdbHandle* mdb) const { mdb_close(mdb); }
};
struct TableFreer {
    void operator()(MdbTableDef* table) const { mdb_free_tabledef(table); }
};
struct SqliteCloser {
    void operator()(sqlite3* db) const { sqlite3_close_v2(db); }
};
struct StatementFinalizer {
    void operator()(sqlite3_stmt* statement) const { sqlite3_finalize(statement); }
};
using MdbPtr = std::unique_ptr<MdbHandle, MdbCloser>;
using TablePtr = std::unique_ptr<MdbTableDef, TableFreer>;
using SqlitePtr = std::unique_ptr<sqlite3, SqliteCloser>;
using StatementPtr = std::unique_ptr<sqlite3_stmt, StatementFinalizer>;

// Reads the user tables of one open Access file into one SQLite file.
class CopyWriter {
public:
    CopyWriter(MdbHandle* mdb, QString source, qint64 fileSize, const std::atomic<bool>* cancel)
        : mdb_(mdb), source_(std::move(source)), fileSize_(fileSize),
          pageSize_(int(mdb->fmt->pg_size)), jet3_(IS_JET3(mdb)), cancel_(cancel) {}

    bool write(const QString& target, Error* error);

private:
    bool readCatalog(std::vector<std::unique_ptr<MdbCatalogEntry>>* entries);
    bool checkTable(MdbCatalogEntry* entry);
    bool copyTable(MdbCatalogEntry* entry);
    bool missingRows(unsigned long read, unsigned long expected);
    bool bindValue(sqlite3_stmt* insert, MdbTableDef* table, unsigned index);
    bool bindText(sqlite3_stmt* insert, int parameter, const unsigned char* data, size_t size);
    void decodeText(const unsigned char* data, size_t size);
    QString decodedText() const;
    bool readLongValue(MdbTableDef* table, unsigned index);
    bool storedAsNull(MdbTableDef* table, unsigned index);
    bool exec(const QString& sql);
    bool bound(int rc);
    bool damaged(const QString& detail);
    bool sqliteFailed();
    // True, with the error set, once the caller has asked to stop.
    bool cancelled();

    MdbHandle* mdb_;
    QString source_;
    qint64 fileSize_;
    int pageSize_;
    bool jet3_;
    sqlite3* db_ = nullptr;
    const std::atomic<bool>* cancel_;
    Error error_;

    // Per table and per row; kept across rows to spare allocations.
    QString tableName_;
    std::vector<MdbColumn*> columns_;
    std::vector<MdbField> fields_;
    std::vector<char> nulls_;
    bool nullsRead_ = false;
    std::vector<char> chunk_;
    std::string longValue_;
    std::u16string text16_;
    std::vector<char> text8_;
    size_t text8Length_ = 0;
};

bool CopyWriter::damaged(const QString& detail) {
    error_ = Error::make(
        ErrorNumber::UnrecognizedFormat,
        QStringLiteral("Il file Access '%1' è danneggiato o incompleto: %2.").arg(source_, detail));
    return false;
}

bool CopyWriter::sqliteFailed() {
    error_ = Error::make(
        ErrorNumber::EngineError,
        QStringLiteral("Impossibile scrivere la copia di lavoro del file Access '%1': %2.")
            .arg(source_, QString::fromUtf8(sqlite3_errmsg(db_))));
    return false;
}

bool CopyWriter::cancelled() {
    if (!cancel_ || !cancel_->load(std::memory_order_relaxed))
        return false;
    error_ = Error::make(ErrorNumber::OperationCancelled);
    return true;
}

bool CopyWriter::exec(const QString& sql) {
    return sqlite3_exec(db_, sql.toUtf8().constData(), nullptr, nullptr, nullptr) == SQLITE_OK ||
           sqliteFailed();
}

bool CopyWriter::bound(int rc) {
    return rc == SQLITE_OK || sqliteFailed();
}

bool CopyWriter::write(const QString& target, Error* error) {
    const auto finish = [&](bool ok) {
        if (!ok && error)
            *error = error_;
        return ok;
    };
    std::vector<std::unique_ptr<MdbCatalogEntry>> catalog;
    if (!readCatalog(&catalog))
        return finish(false);
    std::vector<MdbCatalogEntry*> tables;
    for (const auto& entry : catalog) {
        if (mdb_is_user_table(entry.get()) &&
            g_ascii_strncasecmp(entry->object_name, "MSys", 4) != 0) {
            tables.push_back(entry.get());
        } else if (entry->table_pg != kCatalogPage && !checkTable(entry.get())) {
            // Missing pages show only as rows that cannot be read: the system tables are read
            // through for that even though they are not copied.
            return finish(false);
        }
    }

    sqlite3* raw = nullptr;
    const int rc = sqlite3_open_v2(QFile::encodeName(target).constData(), &raw,
                                   SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr);
    SqlitePtr db(raw);
    db_ = raw;
    if (rc != SQLITE_OK)
        return finish(sqliteFailed());
    // The file is renamed into place only once complete, so it needs no journal.
    bool ok = exec(QStringLiteral("PRAGMA journal_mode=OFF; PRAGMA synchronous=OFF; "
                                  "PRAGMA locking_mode=EXCLUSIVE; PRAGMA cache_size=-32768; "
                                  "PRAGMA user_version=%1; BEGIN")
                       .arg(kCopyFormat));
    for (MdbCatalogEntry* entry : tables) {
        if (!ok)
            break;
        ok = copyTable(entry);
    }
    ok = ok && exec(QStringLiteral("COMMIT"));
    if (ok && sqlite3_close(db.release()) != SQLITE_OK) {
        error_ = Error::make(ErrorNumber::EngineError,
                             QStringLiteral("Impossibile completare la copia di lavoro del file "
                                            "Access '%1'.")
                                 .arg(source_));
        ok = false;
    }
    db_ = nullptr;
    return finish(ok);
}

// libmdb's own catalog reader also parses the properties of every object, and that parser
// loops forever on some damaged files: the catalog is read here as the plain table it is.
bool CopyWriter::readCatalog(std::vector<std::unique_ptr<MdbCatalogEntry>>* entries) {
    MdbCatalogEntry catalog{};
    catalog.mdb = mdb_;
    catalog.object_type = MDB_TABLE;
    catalog.table_pg = kCatalogPage;
    std::snprintf(catalog.object_name, sizeof catalog.object_name, "MSysObjects");
    tableName_ = QString::fromLatin1(catalog.object_name);
    const auto unreadable = [&] {
        return damaged(QStringLiteral("l'elenco degli oggetti non è leggibile"));
    };
    TablePtr table(mdb_read_table(&catalog));
    if (!table || !mdb_read_columns(table.get()) || table->num_cols != table->columns->len)
        return unreadable();
    MdbColumn* id = nullptr;
    MdbColumn* name = nullptr;
    MdbColumn* type = nullptr;
    MdbColumn* flags = nullptr;
    for (unsigned i = 0; i < table->num_cols; ++i) {
        auto* col = static_cast<MdbColumn*>(g_ptr_array_index(table->columns, i));
        const auto is = [&](const char* wanted, int wantedType) {
            return col->col_type == wantedType && g_ascii_strcasecmp(col->name, wanted) == 0;
        };
        if (is("Id", MDB_LONGINT))
            id = col;
        else if (is("Name", MDB_TEXT))
            name = col;
        else if (is("Type", MDB_INT))
            type = col;
        else if (is("Flags", MDB_LONGINT))
            flags = col;
    }
    if (!id || !name || !type || !flags)
        return unreadable();

    const auto value = [&](const MdbColumn* col, int bytes) -> const unsigned char* {
        const int start = col->cur_value_start;
        const int size = col->cur_value_len;
        if (size < bytes || start < 0 || start + size > pageSize_)
            return nullptr;
        return mdb_->pg_buf + start;
    };
    unsigned long rows = 0;
    mdb_rewind_table(table.get());
    while (mdb_fetch_row(table.get())) {
        if (cancelled())
            return false;
        ++rows;
        const unsigned char* typeValue = value(type, 2);
        const unsigned char* idValue = value(id, 4);
        const unsigned char* nameValue = value(name, 1);
        if (!typeValue || qFromLittleEndian<qint16>(typeValue) != MDB_TABLE || !idValue ||
            !nameValue)
            continue;
        auto entry = std::make_unique<MdbCatalogEntry>();
        *entry = MdbCatalogEntry{};
        entry->mdb = mdb_;
        entry->object_type = MDB_TABLE;
        entry->table_pg = qFromLittleEndian<quint32>(idValue) & 0x00ffffff;
        const unsigned char* flagsValue = value(flags, 4);
        entry->flags = flagsValue ? qFromLittleEndian<qint32>(flagsValue) : 0;
        decodeText(nameValue, size_t(name->cur_value_len));
        const QByteArray utf8 = decodedText().toUtf8();
        if (utf8.isEmpty() || utf8.size() > MDB_MAX_OBJ_NAME)
            return unreadable();
        std::memcpy(entry->object_name, utf8.constData(), size_t(utf8.size()));
        entries->push_back(std::move(entry));
    }
    return rows >= table->num_rows || missingRows(rows, table->num_rows);
}

bool CopyWriter::checkTable(MdbCatalogEntry* entry) {
    tableName_ = QString::fromUtf8(entry->object_name);
    TablePtr table(mdb_read_table(entry));
    if (!table || !mdb_read_columns(table.get()))
        return damaged(
            QStringLiteral("la tabella di sistema '%1' non è leggibile").arg(tableName_));
    unsigned long rows = 0;
    mdb_rewind_table(table.get());
    while (mdb_fetch_row(table.get())) {
        if (cancelled())
            return false;
        ++rows;
    }
    return rows >= table->num_rows || missingRows(rows, table->num_rows);
}

bool CopyWriter::missingRows(unsigned long read, unsigned long expected) {
    return damaged(QStringLiteral("della tabella '%1' si leggono %2 righe su %3")
                       .arg(tableName_)
                       .arg(read)
                       .arg(expected));
}

bool CopyWriter::copyTable(MdbCatalogEntry* entry) {
    tableName_ = QString::fromUtf8(entry->object_name);
    TablePtr table(mdb_read_table(entry));
    if (!table || !mdb_read_columns(table.get()) || table->num_cols == 0 ||
        table->num_cols != table->columns->len)
        return damaged(QStringLiteral("la tabella '%1' non è leggibile").arg(tableName_));

    const unsigned count = table->num_cols;
    columns_.assign(count, nullptr);
    QStringList definitions;
    QStringList parameters;
    for (unsigned i = 0; i < count; ++i) {
        columns_[i] = static_cast<MdbColumn*>(g_ptr_array_index(table->columns, i));
        definitions << quoted(columns_[i]->name) + QLatin1Char(' ') +
                           declaredType(columns_[i], jet3_);
        parameters << QStringLiteral("?");
    }
    const QString name = quoted(entry->object_name);
    if (!exec(QStringLiteral("CREATE TABLE %1 (%2)")
                  .arg(name, definitions.join(QLatin1String(", ")))))
        return false;

    sqlite3_stmt* raw = nullptr;
    const QByteArray insertSql = QStringLiteral("INSERT INTO %1 VALUES (%2)")
                                     .arg(name, parameters.join(QLatin1Char(',')))
                                     .toUtf8();
    if (sqlite3_prepare_v2(db_, insertSql.constData(), int(insertSql.size()), &raw, nullptr) !=
        SQLITE_OK)
        return sqliteFailed();
    StatementPtr insert(raw);

    fields_.resize(count);
    nulls_.resize(count);
    unsigned long rows = 0;
    mdb_rewind_table(table.get());
    while (mdb_fetch_row(table.get())) {
        if (cancelled())
            return false;
        nullsRead_ = false;
        for (unsigned i = 0; i < count; ++i) {
            if (!bindValue(insert.get(), table.get(), i))
                return false;
        }
        if (sqlite3_step(insert.get()) != SQLITE_DONE)
            return sqliteFailed();
        sqlite3_reset(insert.get());
        ++rows;
    }
    // Pages missing from the file end the scan early without any other sign.
    return rows >= table->num_rows || missingRows(rows, table->num_rows);
}

// libmdb reports an empty value and a null alike; only the row's null mask tells them apart.
bool CopyWriter::storedAsNull(MdbTableDef* table, unsigned index) {
    if (!nullsRead_) {
        nullsRead_ = true;
        std::fill(nulls_.begin(), nulls_.end(), 1);
        int start = 0;
        size_t size = 0;
        if (table->cur_row > 0 && mdb_find_row(mdb_, int(table->cur_row) - 1, &start, &size) == 0 &&
            size > 0) {
            start &= 0x1fff; // the high bits are flags
            if (mdb_crack_row(table, start, size, fields_.data()) >= 0) {
                for (const MdbField& field : fields_) {
                    if (field.colnum >= 0 && size_t(field.colnum) < nulls_.size())
                        nulls_[size_t(field.colnum)] = field.is_null ? 1 : 0;
                }
            }
        }
    }
    return nulls_[index] != 0;
}

bool CopyWriter::bindValue(sqlite3_stmt* insert, MdbTableDef* table, unsigned index) {
    MdbColumn* col = columns_[index];
    const int parameter = int(index) + 1;
    const int start = col->cur_value_start;
    const int size = col->cur_value_len;
    // A Yes/No value lives in the null mask: libmdb leaves the "null" bit in the length.
    if (col->col_type == MDB_BOOL)
        return bound(sqlite3_bind_int(insert, parameter, size == 0 ? 1 : 0));
    if (size == 0) {
        if (isVariableLength(col->col_type) && !storedAsNull(table, index)) {
            if (col->col_type == MDB_OLE || col->col_type == MDB_BINARY)
                return bound(sqlite3_bind_zeroblob(insert, parameter, 0));
            return bound(sqlite3_bind_text(insert, parameter, "", 0, SQLITE_STATIC));
        }
        return bound(sqlite3_bind_null(insert, parameter));
    }
    if (start < 0 || size < 0 || start + size > pageSize_)
        return damaged(QStringLiteral("un valore della colonna '%1' nella tabella '%2' esce "
                                      "dalla sua pagina")
                           .arg(QString::fromUtf8(col->name), tableName_));
    const unsigned char* data = mdb_->pg_buf + start;
    const auto needs = [&](int bytes) {
        return size >= bytes ||
               damaged(QStringLiteral("un valore della colonna '%1' nella tabella '%2' è troncato")
                           .arg(QString::fromUtf8(col->name), tableName_));
    };

    switch (col->col_type) {
    case MDB_BYTE:
        return bound(sqlite3_bind_int(insert, parameter, data[0]));
    case MDB_INT:
        return needs(2) &&
               bound(sqlite3_bind_int(insert, parameter, qFromLittleEndian<qint16>(data)));
    case MDB_LONGINT:
    case MDB_COMPLEX:
        return needs(4) &&
               bound(sqlite3_bind_int(insert, parameter, qFromLittleEndian<qint32>(data)));
    case MDB_FLOAT: {
        if (!needs(4))
            return false;
        const quint32 bits = qFromLittleEndian<quint32>(data);
        float value;
        std::memcpy(&value, &bits, sizeof value);
        return bound(sqlite3_bind_double(insert, parameter, singleAsDouble(value)));
    }
    case MDB_DOUBLE:
    case MDB_DATETIME: {
        if (!needs(8))
            return false;
        const quint64 bits = qFromLittleEndian<quint64>(data);
        double value;
        std::memcpy(&value, &bits, sizeof value);
        if (col->col_type == MDB_DOUBLE)
            return bound(sqlite3_bind_double(insert, parameter, value));
        char text[24];
        if (!isoDateTime(value, text))
            return bound(sqlite3_bind_null(insert, parameter));
        return bound(sqlite3_bind_text(insert, parameter, text, -1, SQLITE_TRANSIENT));
    }
    case MDB_MONEY:
        // Ten-thousandths in 64 bits; the division gives the double nearest to the decimal
        // amount, the same one a literal such as 1995.5 in a query stands for.
        return needs(8) &&
               bound(sqlite3_bind_double(insert, parameter,
                                         double(qFromLittleEndian<qint64>(data)) / 10000.0));
    case MDB_NUMERIC: {
        if (!needs(17))
            return false;
        // As text: the column's NUMERIC affinity stores it as an integer where it is one.
        std::unique_ptr<char, decltype(&g_free)> text(
            mdb_numeric_to_string(mdb_, start, col->col_scale, col->col_prec), &g_free);
        return bound(sqlite3_bind_text(insert, parameter, text.get(), -1, SQLITE_TRANSIENT));
    }
    case MDB_REPID: {
        if (!needs(16))
            return false;
        std::unique_ptr<char, decltype(&g_free)> text(mdb_uuid_to_string(mdb_->pg_buf, start),
                                                      &g_free);
        return bound(sqlite3_bind_text(insert, parameter, text.get(), -1, SQLITE_TRANSIENT));
    }
    case MDB_TEXT:
        return bindText(insert, parameter, data, size_t(size));
    case MDB_MEMO:
        return readLongValue(table, index) &&
               bindText(insert, parameter,
                        reinterpret_cast<const unsigned char*>(longValue_.data()),
                        longValue_.size());
    case MDB_OLE:
        return readLongValue(table, index) &&
               bound(sqlite3_bind_blob64(insert, parameter, longValue_.data(), longValue_.size(),
                                         SQLITE_TRANSIENT));
    default:
        return bound(sqlite3_bind_blob(insert, parameter, data, size, SQLITE_TRANSIENT));
    }
}

// Text is UTF-16, or "compressed": after an FF FE mark single bytes stand for U+0000..U+00FF
// and each zero byte switches between single bytes and UTF-16 pairs. Jet 3 files keep text in
// the code page named in their header, which libmdb converts.
void CopyWriter::decodeText(const unsigned char* data, size_t size) {
    if (jet3_) {
        text8_.resize(size * 4 + 4);
        const int length = mdb_unicode2ascii(mdb_, reinterpret_cast<const char*>(data), size,
                                             text8_.data(), text8_.size());
        text8Length_ = size_t(std::max(length, 0));
        return;
    }
    text16_.clear();
    if (size >= 2 && data[0] == 0xff && data[1] == 0xfe) {
        bool compressed = true;
        for (size_t i = 2; i < size;) {
            if (data[i] == 0) {
                compressed = !compressed;
                ++i;
            } else if (compressed) {
                text16_.push_back(char16_t(data[i]));
                ++i;
            } else if (i + 1 < size) {
                text16_.push_back(char16_t(data[i] | (data[i + 1] << 8)));
                i += 2;
            } else {
                break;
            }
        }
    } else {
        for (size_t i = 0; i + 1 < size; i += 2)
            text16_.push_back(char16_t(data[i] | (data[i + 1] << 8)));
    }
}

QString CopyWriter::decodedText() const {
    if (jet3_)
        return QString::fromUtf8(text8_.data(), qsizetype(text8Length_));
    return QString::fromStdU16String(text16_);
}

bool CopyWriter::bindText(sqlite3_stmt* insert, int parameter, const unsigned char* data,
                          size_t size) {
    decodeText(data, size);
    if (jet3_)
        return bound(sqlite3_bind_text(insert, parameter, text8Length_ ? text8_.data() : "",
                                       int(text8Length_), SQLITE_TRANSIENT));
    if (text16_.empty())
        return bound(sqlite3_bind_text(insert, parameter, "", 0, SQLITE_STATIC));
    return bound(sqlite3_bind_text16(insert, parameter, text16_.data(),
                                     int(text16_.size() * sizeof(char16_t)), SQLITE_TRANSIENT));
}

// Memo and OLE values sit outside the row, on one page or on a chain of pages, behind a
// 12-byte reference whose first word holds the length and two flag bits.
bool CopyWriter::readLongValue(MdbTableDef* table, unsigned index) {
    MdbColumn* col = columns_[index];
    longValue_.clear();
    if (col->cur_value_len < MDB_MEMO_OVERHEAD)
        return true; // too short to refer to anything: libmdb reads it as empty too
    char reference[MDB_MEMO_OVERHEAD];
    std::memcpy(reference, mdb_->pg_buf + col->cur_value_start, sizeof reference);
    const quint32 word = qFromLittleEndian<quint32>(reference);
    const quint32 length = word & 0x3fffffff;
    const auto incomplete = [&] {
        return damaged(QStringLiteral("un valore della colonna '%1' nella tabella '%2' è "
                                      "incompleto")
                           .arg(QString::fromUtf8(col->name), tableName_));
    };
    if (qint64(length) > fileSize_)
        return incomplete();

    chunk_.resize(std::max<size_t>(size_t(pageSize_), MDB_BIND_SIZE));
    mdb_bind_column(table, int(index) + 1, chunk_.data(), nullptr);
    size_t got = mdb_ole_read(mdb_, col, reference, chunk_.size());
    longValue_.append(chunk_.data(), std::min(got, chunk_.size()));
    // On a chain every page adds data, so a damaged chain that loops still stops here.
    if ((word & 0xc0000000) == 0) {
        while (longValue_.size() < length && (got = mdb_ole_read_next(mdb_, col, reference)) > 0)
            longValue_.append(chunk_.data(), std::min(got, chunk_.size()));
    }
    // Bound only while reading: fetching rows would otherwise turn the value into text.
    col->bind_ptr = nullptr;
    if (longValue_.size() < length)
        return incomplete();
    longValue_.resize(length);
    return true;
}

QMutex buildMutex;

// Builds the copy of SOURCE as TARGET, through a temporary file in the same folder so that
// TARGET either does not exist or is complete.
bool buildCopy(const QString& source, qint64 size, const QString& target, Error* error,
               const std::atomic<bool>* cancel) {
    MdbPtr mdb(mdb_open(QFile::encodeName(source).constData(), MDB_NOFLAGS));
    if (!mdb) {
        *error = Error::make(
            ErrorNumber::UnrecognizedFormat,
            QStringLiteral("Il file '%1' non è un database Access leggibile.").arg(source));
        return false;
    }
    const qint64 pageSize = mdb->fmt->pg_size;
    if (pageSize <= 0 || size % pageSize != 0 || size < 3 * pageSize) {
        *error = Error::make(ErrorNumber::UnrecognizedFormat,
                             QStringLiteral("Il file Access '%1' è danneggiato o incompleto: la "
                                            "sua lunghezza non è un numero intero di pagine.")
                                 .arg(source));
        return false;
    }

    QTemporaryFile partial(target + QStringLiteral(".XXXXXX.tmp"));
    if (!partial.open()) {
        *error = Error::make(ErrorNumber::EngineError,
                             QStringLiteral("Impossibile creare la copia di lavoro del file "
                                            "Access '%1' in '%2'.")
                                 .arg(source, QFileInfo(target).absolutePath()));
        return false;
    }
    partial.close();
    CopyWriter writer(mdb.get(), source, size, cancel);
    if (!writer.write(partial.fileName(), error))
        return false;

    // On disk before it takes the final name, so that a crash leaves no half copy under it.
    const int fd = ::open(QFile::encodeName(partial.fileName()).constData(), O_RDONLY);
    const bool synced = fd >= 0 && ::fsync(fd) == 0;
    if (fd >= 0)
        ::close(fd);
    if (!synced || ::rename(QFile::encodeName(partial.fileName()).constData(),
                            QFile::encodeName(target).constData()) != 0) {
        *error = Error::make(ErrorNumber::EngineError,
                             QStringLiteral("Impossibile salvare la copia di lavoro del file "
                                            "Access '%1'.")
                                 .arg(source));
        return false;
    }
    partial.setAutoRemove(false);
    const int folder = ::open(QFile::encodeName(QFileInfo(target).absolutePath()).constData(),
                              O_RDONLY | O_DIRECTORY);
    if (folder >= 0) {
        ::fsync(folder);
        ::close(folder);
    }
    return true;
}

// Copies of the same Access file under an older stamp; a partial one only when old enough
// that no build can still be writing it.
void removeStaleCopies(const QString& folder, const QString& stem, const QString& keep) {
    const QDateTime now = QDateTime::currentDateTimeUtc();
    const QFileInfoList entries =
        QDir(folder).entryInfoList({stem + QStringLiteral("-*")}, QDir::Files | QDir::Hidden);
    for (const QFileInfo& entry : entries) {
        if (entry.fileName() == keep)
            continue;
        if (entry.fileName().endsWith(QLatin1String(".tmp")) &&
            entry.lastModified().toUTC().secsTo(now) < 24 * 3600)
            continue;
        QFile::remove(entry.absoluteFilePath());
    }
}

} // namespace

QString accessCopyFor(const QString& accessPath, Error* error, const std::atomic<bool>* cancel) {
    Error local;
    Error* failure = error ? error : &local;
    const QString source = QFileInfo(accessPath).absoluteFilePath();
    SourceStamp stamp;
    if (!stampOf(source, &stamp)) {
        *failure = Error::make(ErrorNumber::FileNotFound,
                               QStringLiteral("Impossibile trovare il file '%1'.").arg(source));
        return {};
    }
    const QString folder = cacheFolder();
    if (folder.isEmpty()) {
        *failure = Error::make(ErrorNumber::EngineError,
                               QStringLiteral("Nessuna cartella disponibile per la copia di lavoro "
                                              "del file Access '%1'.")
                                   .arg(source));
        return {};
    }
    const QString stem = QString::fromLatin1(
        QCryptographicHash::hash(source.toUtf8(), QCryptographicHash::Sha1).toHex().left(24));

    QMutexLocker lock(&buildMutex);
    // A file still being written may change under the reader: read it again, once.
    for (int attempt = 0; attempt < 2; ++attempt) {
        const QString name = QStringLiteral("%1-%2-%3-%4-%5.sqlite")
                                 .arg(stem)
                                 .arg(kCopyFormat)
                                 .arg(stamp.size)
                                 .arg(stamp.mtimeNs)
                                 .arg(stamp.inode);
        const QString target = folder + QLatin1Char('/') + name;
        if (QFileInfo(target).isFile())
            return target;
        if (!buildCopy(source, stamp.size, target, failure, cancel))
            return {};
        SourceStamp after;
        if (stampOf(source, &after) && after == stamp) {
            removeStaleCopies(folder, stem, name);
            return target;
        }
        QFile::remove(target);
        if (!stampOf(source, &stamp))
            break;
    }
    *failure =
        Error::make(ErrorNumber::EngineError,
                    QStringLiteral("Il file Access '%1' è cambiato durante la lettura: riprovare.")
                        .arg(source));
    return {};
}

} // namespace velario::data
