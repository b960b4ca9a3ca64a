#include "data/access/access_copy.h"

#include "data/file_identity.h"
#include "data/sqlite/sqlite_connection.h"

#include <mdbtools.h>
#include <sqlite3.h>

#include <QCryptographicHash>
#include <QDate>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QMutex>
#include <QRegularExpression>
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
#include <unistd.h>

namespace velario::data {
namespace {

// Part of every copy's name: raising it turns the copies written by an older build stale.
constexpr int kCopyFormat = 2;

// The catalog's definition page, right after the header page and the file's usage map.
constexpr unsigned long kCatalogPage = 2;

// Catalog object types that name tables, and the flags of the system's own objects.
constexpr int kLocalTable = 1;
constexpr int kOdbcLinkedTable = 4;
constexpr int kLinkedTable = 6;
constexpr quint32 kSystemObject = 0x80000002;

// Column types of Access 2016 and 2019 that libmdb has no name for.
constexpr int kBigInt = 0x13;
constexpr int kExtendedDateTime = 0x14;

// A calculated column's value: 16 bytes, the length of the result, the result in the layout
// of its type, then 3 bytes. Its type is the column's "ResultType" property; the type in the
// table's definition need not match it.
constexpr size_t kCalculatedHeader = 20;
constexpr unsigned char kCalculatedFlags = 0xc0;

// The SQL function through which what the copy cannot hold reports itself.
constexpr char kUnreadable[] = "access_unreadable";

void raiseUnreadable(sqlite3_context* context, int, sqlite3_value** argv) {
    const auto* message = reinterpret_cast<const char*>(sqlite3_value_text(argv[0]));
    sqlite3_result_error(context, message ? message : "", -1);
}

// While the copy is written the engine computes the unreadable columns of each row it
// inserts: there they are only null.
void nullUnreadable(sqlite3_context* context, int, sqlite3_value**) {
    sqlite3_result_null(context);
}

bool defineUnreadable(sqlite3* db, void (*function)(sqlite3_context*, int, sqlite3_value**)) {
    return db && sqlite3_create_function_v2(
                     db, kUnreadable, 1, SQLITE_UTF8 | SQLITE_DETERMINISTIC | SQLITE_INNOCUOUS,
                     nullptr, function, nullptr, nullptr, nullptr) == SQLITE_OK;
}

QString sqlText(const QString& text) {
    QString quoted = text;
    quoted.replace(QLatin1Char('\''), QLatin1String("''"));
    return QLatin1Char('\'') + quoted + QLatin1Char('\'');
}

QString unreadableCall(const QString& message) {
    return QStringLiteral("%1(%2)").arg(QLatin1String(kUnreadable), sqlText(message));
}

// What decides whether a cached copy still matches its Access file.
// The Access file as it was when its copy was made; nullopt when it is not a regular file.
std::optional<FileIdentity> stampOf(const QString& path) {
    const std::optional<FileIdentity> identity = fileIdentity(path);
    if (!identity || !identity->regular)
        return std::nullopt;
    return identity;
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
    return detail::quoteIdentifier(QString::fromUtf8(identifier));
}

bool isVariableLength(int type) {
    return type == MDB_TEXT || type == MDB_MEMO || type == MDB_OLE || type == MDB_BINARY;
}

// How a column is read into the copy.
struct ColumnPlan {
    int type = 0;            // the type of the stored value; a calculated column's result type
    bool calculated = false; // the value is wrapped as a calculated result
    QString unreadable;      // why the column cannot be read; empty when it can
};

// The types by the names the Access user knows them by, and whether the reader reads their
// values as stored in a row and as the result of a calculated column.
struct TypeInfo {
    int type;
    const char* name;
    bool stored;
    bool calculated;
};
constexpr TypeInfo kTypes[] = {
    {MDB_BOOL, "Sì/No", true, true},
    {MDB_BYTE, "Byte", true, true},
    {MDB_INT, "Intero", true, true},
    {MDB_LONGINT, "Intero lungo", true, true},
    {MDB_MONEY, "Valuta", true, true},
    {MDB_FLOAT, "Precisione singola", true, true},
    {MDB_DOUBLE, "Precisione doppia", true, true},
    {MDB_DATETIME, "Data/ora", true, true},
    {MDB_BINARY, "Binario", true, false},
    {MDB_TEXT, "Testo", true, true},
    {MDB_OLE, "Oggetto OLE", true, false},
    {MDB_MEMO, "Memo", true, true},
    {MDB_REPID, "ID replica", true, true},
    {MDB_NUMERIC, "Decimale", true, true},
    {MDB_COMPLEX, "Allegato o valori multipli", false, false},
    {kBigInt, "Numero grande", true, true},
    {kExtendedDateTime, "Data/ora estesa", true, false},
};

const TypeInfo* typeInfo(int type) {
    for (const TypeInfo& info : kTypes) {
        if (info.type == type)
            return &info;
    }
    return nullptr;
}

QString typeName(int type) {
    const TypeInfo* info = typeInfo(type);
    return info ? QString::fromUtf8(info->name) : QStringLiteral("sconosciuto");
}

QString declaredType(const ColumnPlan& plan, const MdbColumn* col, bool jet3) {
    switch (plan.type) {
    case MDB_BOOL:
        return QStringLiteral("BOOLEAN");
    case MDB_BYTE:
    case MDB_INT:
    case MDB_LONGINT:
        return QStringLiteral("INTEGER");
    case kBigInt:
        return QStringLiteral("BIGINT");
    case MDB_FLOAT:
        return QStringLiteral("FLOAT");
    case MDB_DOUBLE:
        return QStringLiteral("DOUBLE");
    case MDB_MONEY:
        return QStringLiteral("NUMERIC(19,4)");
    case MDB_NUMERIC:
        // A calculated decimal keeps the scale of each value.
        if (plan.calculated)
            return QStringLiteral("NUMERIC");
        return QStringLiteral("NUMERIC(%1,%2)").arg(col->col_prec).arg(col->col_scale);
    case MDB_DATETIME:
        return QStringLiteral("DATETIME");
    case kExtendedDateTime:
        return QStringLiteral("DATETIME2");
    case MDB_TEXT: {
        const int bytes = plan.calculated ? col->col_size - 23 : col->col_size;
        return QStringLiteral("VARCHAR(%1)").arg(jet3 ? bytes : std::max(bytes, 0) / 2);
    }
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

// An extended date/time is ASCII: 19 digits of days since 0001-01-01, a colon, 12 digits of
// seconds since midnight and 7 of their fraction, then ":7" and a zero byte.
bool isoExtendedDateTime(const unsigned char* data, size_t size, char (&out)[40]) {
    const auto number = [&](size_t from, size_t digits, qint64* value) {
        *value = 0;
        for (size_t i = from; i < from + digits; ++i) {
            if (data[i] < '0' || data[i] > '9')
                return false;
            *value = *value * 10 + (data[i] - '0');
        }
        return true;
    };
    qint64 days = 0;
    qint64 seconds = 0;
    qint64 fraction = 0;
    // 9999-12-31 is the last day Access takes.
    if (size < 42 || data[19] != ':' || !number(0, 19, &days) || !number(20, 12, &seconds) ||
        !number(32, 7, &fraction) || days > 3652058 || seconds >= 86400)
        return false;
    const QDate date = QDate(1, 1, 1).addDays(days);
    std::snprintf(out, sizeof out, "%04d-%02d-%02d %02d:%02d:%02d.%07lld", date.year(),
                  date.month(), date.day(), int(seconds / 3600), int(seconds / 60 % 60),
                  int(seconds % 60), static_cast<long long>(fraction));
    return true;
}

// A calculated decimal: a 16-bit length, the scale, a sign byte, then the magnitude in at most
// 16 bytes, whose 8-byte groups are little-endian and whose odd leading 4 bytes are too.
bool calculatedDecimal(const unsigned char* data, size_t size, std::string* out) {
    if (size < 4)
        return false;
    const int length = qFromLittleEndian<qint16>(data);
    const int scale = data[2];
    const bool negative = data[3] != 0;
    size_t bytes = size_t(std::max(length > 0 ? length - 2 : int(size) - 4, 0));
    bytes = std::min<size_t>(bytes / 4 * 4, 16);
    if (bytes + 4 > size || scale > 38)
        return false;
    const unsigned char* digits = data + 4;
    unsigned __int128 magnitude = 0;
    const auto take = [&](size_t from, size_t count) {
        for (size_t i = count; i-- > 0;)
            magnitude = (magnitude << 8) | digits[from + i];
    };
    size_t at = 0;
    if (bytes % 8 != 0) {
        take(0, 4);
        at = 4;
    }
    for (; at < bytes; at += 8)
        take(at, 8);
    std::string text;
    do {
        text.insert(text.begin(), char('0' + int(magnitude % 10)));
        magnitude /= 10;
    } while (magnitude != 0);
    if (text.size() <= size_t(scale))
        text.insert(0, size_t(scale) + 1 - text.size(), '0');
    if (scale > 0)
        text.insert(text.size() - size_t(scale), 1, '.');
    if (negative)
        text.insert(0, 1, '-');
    *out = std::move(text);
    return true;
}

// The "ResultType" property of each column, by column name folded to lower case, from a
// table's property blob: "MR2" and a zero byte, then blocks of a 32-bit length and a 16-bit
// kind. The block of kind 0x80 lists the property names; each block of kind 0 or 1 holds one
// object's values (named by a length-prefixed name, empty for the table itself), each a 16-bit
// length, a DDL flag, the value's type, the index of its name, the value's size and the value.
// Names are UTF-16. Whatever the blob does not hold is left out.
QHash<QString, int> resultTypes(const std::string& blob) {
    QHash<QString, int> types;
    const auto* data = reinterpret_cast<const unsigned char*>(blob.data());
    const size_t size = blob.size();
    if (size < 4 || std::memcmp(data, "MR2\0", 4) != 0)
        return types;
    const auto name = [&](size_t at, size_t end, size_t* next) {
        if (at + 2 > end)
            return QString();
        const size_t length = qFromLittleEndian<quint16>(data + at);
        *next = at + 2 + length;
        if (*next > end)
            return QString();
        QString text(qsizetype(length / 2), Qt::Uninitialized);
        for (qsizetype i = 0; i < text.size(); ++i)
            text[i] = QChar(qFromLittleEndian<quint16>(data + at + 2 + 2 * size_t(i)));
        return text;
    };
    QStringList names;
    for (size_t block = 4; block + 6 <= size;) {
        const size_t length = qFromLittleEndian<quint32>(data + block);
        const int kind = qFromLittleEndian<quint16>(data + block + 4);
        if (length < 6 || length > size - block)
            break;
        const size_t end = block + length;
        size_t at = block + 6;
        if (kind == 0x80) {
            while (at < end) {
                size_t next = end;
                names << name(at, end, &next);
                at = next;
            }
        } else if ((kind == 0 || kind == 1) && at + 4 <= end) {
            const size_t header = qFromLittleEndian<quint32>(data + at);
            size_t ignored = 0;
            const QString object = header > 6 ? name(at + 4, end, &ignored) : QString();
            at += header;
            while (header >= 4 && at + 8 <= end) {
                const size_t entry = qFromLittleEndian<quint16>(data + at);
                const int index = qFromLittleEndian<quint16>(data + at + 4);
                const size_t valueSize = qFromLittleEndian<quint16>(data + at + 6);
                if (entry < 8 || at + entry > end)
                    break;
                if (valueSize >= 1 && 8 + valueSize <= entry && index < names.size() &&
                    names[index].compare(u"ResultType", Qt::CaseInsensitive) == 0)
                    types.insert(object.toCaseFolded(), data[at + 8]);
                at += entry;
            }
        }
        block = end;
    }
    return types;
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

// A user table of the catalog, with its property blob where its columns may need it.
struct CatalogTable {
    std::unique_ptr<MdbCatalogEntry> entry;
    std::string properties;
};

// A table whose rows are in another file or an ODBC source.
struct LinkedTable {
    QString name;
    QString message;
};

// Reads the user tables of one open Access file into one SQLite file.
class CopyWriter {
public:
    CopyWriter(MdbHandle* mdb, QString source, qint64 fileSize, const std::atomic<bool>* cancel)
        : mdb_(mdb), source_(std::move(source)), fileSize_(fileSize),
          pageSize_(int(mdb->fmt->pg_size)), jet3_(IS_JET3(mdb)), cancel_(cancel) {}

    bool write(const QString& target, Error* error);

private:
    bool readCatalog(std::vector<CatalogTable>* entries);
    bool catalogText(MdbTableDef* table, int index, QString* text);
    QString linkMessage(const QString& name, bool odbc, const QString& database,
                        const QString& connect, const QString& foreignName) const;
    bool checkTable(MdbCatalogEntry* entry);
    bool copyTable(const CatalogTable& entry);
    bool markCalculated(MdbTableDef* table);
    void planColumns(const CatalogTable& entry);
    bool createUnreadable(const QString& name, const QString& message);
    bool missingRows(unsigned long read, unsigned long expected);
    bool bindValue(sqlite3_stmt* insert, MdbTableDef* table, unsigned index, int parameter);
    bool bindScalar(sqlite3_stmt* insert, int parameter, unsigned index, const unsigned char* data,
                    size_t size);
    bool bindText(sqlite3_stmt* insert, int parameter, const unsigned char* data, size_t size);
    void decodeText(const unsigned char* data, size_t size);
    QString decodedText() const;
    bool readLongValue(MdbTableDef* table, unsigned index);
    bool storedAsNull(MdbTableDef* table, unsigned index);
    bool exec(const QString& sql);
    bool bound(int rc);
    bool damaged(const QString& detail);
    bool damagedValue(unsigned index, const char* what);
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
    std::vector<LinkedTable> linked_;

    // Per table and per row; kept across rows to spare allocations.
    QString tableName_;
    std::vector<MdbColumn*> columns_;
    std::vector<ColumnPlan> plans_;
    std::vector<unsigned char> definition_;
    std::string decimal_;
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

bool CopyWriter::damagedValue(unsigned index, const char* what) {
    return damaged(
        QStringLiteral("un valore della colonna '%1' nella tabella '%2' %3")
            .arg(QString::fromUtf8(columns_[index]->name), tableName_, QString::fromUtf8(what)));
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
    std::vector<CatalogTable> catalog;
    if (!readCatalog(&catalog))
        return finish(false);
    std::vector<const CatalogTable*> tables;
    for (const CatalogTable& table : catalog) {
        MdbCatalogEntry* entry = table.entry.get();
        if (mdb_is_user_table(entry) && g_ascii_strncasecmp(entry->object_name, "MSys", 4) != 0) {
            tables.push_back(&table);
        } else if (entry->table_pg != kCatalogPage && !checkTable(entry)) {
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
    if (rc != SQLITE_OK || !defineUnreadable(raw, nullUnreadable))
        return finish(sqliteFailed());
    // The file is renamed into place only once complete, so it needs no journal.
    bool ok = exec(QStringLiteral("PRAGMA journal_mode=OFF; PRAGMA synchronous=OFF; "
                                  "PRAGMA locking_mode=EXCLUSIVE; PRAGMA cache_size=-32768; "
                                  "PRAGMA user_version=%1; BEGIN")
                       .arg(kCopyFormat));
    for (const CatalogTable* entry : tables) {
        if (!ok)
            break;
        ok = copyTable(*entry);
    }
    for (const LinkedTable& link : linked_) {
        if (!ok)
            break;
        ok = createUnreadable(link.name, link.message);
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
bool CopyWriter::readCatalog(std::vector<CatalogTable>* entries) {
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
    // Long columns by their place in the table, or -1.
    int database = -1;
    int connect = -1;
    int foreignName = -1;
    int properties = -1;
    columns_.assign(table->num_cols, nullptr);
    for (unsigned i = 0; i < table->num_cols; ++i) {
        auto* col = static_cast<MdbColumn*>(g_ptr_array_index(table->columns, i));
        columns_[i] = col;
        const auto is = [&](const char* wanted, int wantedType) {
            return col->col_type == wantedType && g_ascii_strcasecmp(col->name, wanted) == 0;
        };
        const auto isText = [&](const char* wanted) {
            return is(wanted, MDB_TEXT) || is(wanted, MDB_MEMO);
        };
        if (is("Id", MDB_LONGINT))
            id = col;
        else if (is("Name", MDB_TEXT))
            name = col;
        else if (is("Type", MDB_INT))
            type = col;
        else if (is("Flags", MDB_LONGINT))
            flags = col;
        else if (isText("Database"))
            database = int(i);
        else if (isText("Connect"))
            connect = int(i);
        else if (isText("ForeignName"))
            foreignName = int(i);
        else if (is("LvProp", MDB_OLE))
            properties = int(i);
    }
    if (!id || !name || !type || !flags)
        return unreadable();
    // Only calculated columns need the properties, and only Access 2010 files have them.
    if (mdb_->f->jet_version < MDB_VER_ACCDB_2010)
        properties = -1;

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
        if (!typeValue || !idValue || !nameValue)
            continue;
        const int objectType = qFromLittleEndian<qint16>(typeValue);
        if (objectType != kLocalTable && objectType != kLinkedTable &&
            objectType != kOdbcLinkedTable)
            continue;
        const unsigned char* flagsValue = value(flags, 4);
        const quint32 objectFlags = flagsValue ? qFromLittleEndian<quint32>(flagsValue) : 0;
        decodeText(nameValue, size_t(name->cur_value_len));
        const QString objectName = decodedText();
        const QByteArray utf8 = objectName.toUtf8();
        if (utf8.isEmpty() || utf8.size() > MDB_MAX_OBJ_NAME)
            return unreadable();
        if (objectType != kLocalTable) {
            if (objectFlags & kSystemObject)
                continue;
            QString databaseText;
            QString connectText;
            QString foreignText;
            if (!catalogText(table.get(), database, &databaseText) ||
                !catalogText(table.get(), connect, &connectText) ||
                !catalogText(table.get(), foreignName, &foreignText))
                return false;
            linked_.push_back({objectName, linkMessage(objectName, objectType == kOdbcLinkedTable,
                                                       databaseText, connectText, foreignText)});
            continue;
        }
        CatalogTable entry;
        entry.entry = std::make_unique<MdbCatalogEntry>();
        *entry.entry = MdbCatalogEntry{};
        entry.entry->mdb = mdb_;
        entry.entry->object_type = MDB_TABLE;
        entry.entry->table_pg = qFromLittleEndian<quint32>(idValue) & 0x00ffffff;
        entry.entry->flags = qint32(objectFlags);
        std::memcpy(entry.entry->object_name, utf8.constData(), size_t(utf8.size()));
        // Unreadable properties only leave the calculated columns without their result type.
        if (properties >= 0 && !(objectFlags & kSystemObject) &&
            value(columns_[size_t(properties)], MDB_MEMO_OVERHEAD) &&
            readLongValue(table.get(), unsigned(properties)))
            entry.properties = longValue_;
        entries->push_back(std::move(entry));
    }
    return rows >= table->num_rows || missingRows(rows, table->num_rows);
}

// The text in column INDEX of the catalog's current row; empty when there is none.
bool CopyWriter::catalogText(MdbTableDef* table, int index, QString* text) {
    text->clear();
    if (index < 0)
        return true;
    const MdbColumn* col = columns_[size_t(index)];
    const int start = col->cur_value_start;
    const int size = col->cur_value_len;
    if (size <= 0)
        return true;
    if (start < 0 || start + size > pageSize_)
        return damaged(QStringLiteral("l'elenco degli oggetti non è leggibile"));
    if (col->col_type == MDB_MEMO) {
        if (!readLongValue(table, unsigned(index)))
            return false;
        decodeText(reinterpret_cast<const unsigned char*>(longValue_.data()), longValue_.size());
    } else {
        decodeText(mdb_->pg_buf + start, size_t(size));
    }
    *text = decodedText();
    return true;
}

QString CopyWriter::linkMessage(const QString& name, bool odbc, const QString& database,
                                const QString& connect, const QString& foreignName) const {
    const QString remote = foreignName.isEmpty() ? name : foreignName;
    QString where;
    if (odbc) {
        // Only the source's name: the rest of the connection text may hold a password.
        static const QRegularExpression dsn(QStringLiteral("(?:^|;)\\s*DSN\\s*=([^;]*)"),
                                            QRegularExpression::CaseInsensitiveOption);
        const QString source = dsn.match(connect).captured(1).trimmed();
        where = source.isEmpty() ? QStringLiteral("di un'origine dati ODBC")
                                 : QStringLiteral("dell'origine dati ODBC '%1'").arg(source);
    } else {
        where = database.isEmpty() ? QStringLiteral("di un altro file")
                                   : QStringLiteral("del file '%1'").arg(database);
    }
    return QStringLiteral("La tabella '%1' del file Access '%2' è collegata alla tabella '%3' %4: "
                          "le sue righe non sono in questo file.")
        .arg(name, source_, remote, where);
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

bool CopyWriter::copyTable(const CatalogTable& entry) {
    tableName_ = QString::fromUtf8(entry.entry->object_name);
    TablePtr table(mdb_read_table(entry.entry.get()));
    if (!table || !mdb_read_columns(table.get()) || table->num_cols == 0 ||
        table->num_cols != table->columns->len)
        return damaged(QStringLiteral("la tabella '%1' non è leggibile").arg(tableName_));

    const unsigned count = table->num_cols;
    columns_.assign(count, nullptr);
    for (unsigned i = 0; i < count; ++i)
        columns_[i] = static_cast<MdbColumn*>(g_ptr_array_index(table->columns, i));
    if (!markCalculated(table.get()))
        return false;
    planColumns(entry);
    QStringList definitions;
    QStringList stored;
    QStringList parameters;
    for (unsigned i = 0; i < count; ++i) {
        const QString column = quoted(columns_[i]->name);
        if (!plans_[i].unreadable.isEmpty()) {
            // Computed only when a statement reads it, and then it fails with the reason.
            definitions << column + QStringLiteral(" GENERATED ALWAYS AS (%1)")
                                        .arg(unreadableCall(plans_[i].unreadable));
            continue;
        }
        definitions << column + QLatin1Char(' ') + declaredType(plans_[i], columns_[i], jet3_);
        stored << column;
        parameters << QStringLiteral("?");
    }
    const QString name = quoted(entry.entry->object_name);
    // A table needs a stored column; one with none can only fail.
    if (stored.isEmpty())
        return createUnreadable(tableName_, plans_.front().unreadable);
    if (!exec(QStringLiteral("CREATE TABLE %1 (%2)")
                  .arg(name, definitions.join(QLatin1String(", ")))))
        return false;

    sqlite3_stmt* raw = nullptr;
    const QByteArray insertSql =
        QStringLiteral("INSERT INTO %1 (%2) VALUES (%3)")
            .arg(name, stored.join(QLatin1Char(',')), parameters.join(QLatin1Char(',')))
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
        int parameter = 0;
        for (unsigned i = 0; i < count; ++i) {
            if (plans_[i].unreadable.isEmpty() &&
                !bindValue(insert.get(), table.get(), i, ++parameter))
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

// A table that can only fail: any statement that reads it gets MESSAGE.
bool CopyWriter::createUnreadable(const QString& name, const QString& message) {
    return exec(QStringLiteral("CREATE VIEW %1 AS SELECT NULL AS %1 WHERE %2")
                    .arg(quoted(name.toUtf8().constData()), unreadableCall(message)));
}

// Which columns Access computes from an expression (files of Access 2010 and later): the
// mark is in the byte after the column's flags in the table's definition, which libmdb reads
// but does not keep. The definition may run over several pages, each after the first adding
// what follows its 8-byte header.
bool CopyWriter::markCalculated(MdbTableDef* table) {
    plans_.assign(columns_.size(), ColumnPlan{});
    if (mdb_->f->jet_version < MDB_VER_ACCDB_2010)
        return true;
    const MdbFormatConstants* fmt = mdb_->fmt;
    const size_t first =
        fmt->tab_cols_start_offset + size_t(table->num_real_idxs) * fmt->tab_ridx_entry_size;
    const size_t end = first + size_t(table->num_cols) * fmt->tab_col_entry_size;
    const auto unreadable = [&] {
        return damaged(
            QStringLiteral("la definizione della tabella '%1' non è leggibile").arg(tableName_));
    };
    if (end > size_t(fileSize_))
        return unreadable();
    definition_.clear();
    unsigned long page = table->entry->table_pg;
    while (definition_.size() < end) {
        if (page == 0 || qint64(page) >= fileSize_ / pageSize_ ||
            mdb_read_alt_pg(mdb_, page) != pageSize_ || mdb_->alt_pg_buf[0] != 0x02)
            return unreadable();
        const unsigned char* buffer = mdb_->alt_pg_buf;
        definition_.insert(definition_.end(), buffer + (definition_.empty() ? 0 : 8),
                           buffer + pageSize_);
        page = qFromLittleEndian<quint32>(buffer + 4);
    }
    for (size_t at = first; at < end; at += fmt->tab_col_entry_size) {
        const unsigned char number = definition_[at + fmt->col_num_offset];
        const bool calculated = definition_[at + fmt->col_flags_offset + 1] & kCalculatedFlags;
        for (size_t i = 0; i < columns_.size(); ++i) {
            if (columns_[i]->col_num == number)
                plans_[i].calculated = calculated;
        }
    }
    return true;
}

void CopyWriter::planColumns(const CatalogTable& entry) {
    QHash<QString, int> results;
    if (std::any_of(plans_.begin(), plans_.end(), [](const ColumnPlan& p) { return p.calculated; }))
        results = resultTypes(entry.properties);
    for (size_t i = 0; i < columns_.size(); ++i) {
        ColumnPlan& plan = plans_[i];
        const MdbColumn* col = columns_[i];
        const QString column = QString::fromUtf8(col->name);
        plan.type = col->col_type;
        QString what =
            QStringLiteral("La colonna '%1' della tabella '%2' è di tipo %3 (codice %4)");
        if (plan.calculated) {
            const auto result = results.constFind(column.toCaseFolded());
            if (result == results.cend()) {
                plan.unreadable = QStringLiteral("La colonna calcolata '%1' della tabella '%2' non "
                                                 "dichiara il tipo del suo risultato: il "
                                                 "programma non la sa leggere.")
                                      .arg(column, tableName_);
                continue;
            }
            plan.type = result.value();
            what = QStringLiteral("La colonna calcolata '%1' della tabella '%2' ha un risultato "
                                  "di tipo %3 (codice %4)");
        }
        const TypeInfo* info = typeInfo(plan.type);
        // A Yes/No column keeps its value in the row's null mask, where no result fits.
        const bool known = info && (plan.calculated ? info->calculated && col->col_type != MDB_BOOL
                                                    : info->stored);
        if (!known)
            plan.unreadable = (what + QStringLiteral(", che il programma non sa leggere."))
                                  .arg(column, tableName_, typeName(plan.type))
                                  .arg(plan.type);
    }
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

bool CopyWriter::bindValue(sqlite3_stmt* insert, MdbTableDef* table, unsigned index,
                           int parameter) {
    const MdbColumn* col = columns_[index];
    const ColumnPlan& plan = plans_[index];
    const int start = col->cur_value_start;
    const int size = col->cur_value_len;
    // A Yes/No value lives in the null mask: libmdb leaves the "null" bit in the length.
    if (col->col_type == MDB_BOOL)
        return bound(sqlite3_bind_int(insert, parameter, size == 0 ? 1 : 0));
    if (size == 0) {
        if (!plan.calculated && isVariableLength(plan.type) && !storedAsNull(table, index)) {
            if (plan.type == MDB_OLE || plan.type == MDB_BINARY)
                return bound(sqlite3_bind_zeroblob(insert, parameter, 0));
            return bound(sqlite3_bind_text(insert, parameter, "", 0, SQLITE_STATIC));
        }
        return bound(sqlite3_bind_null(insert, parameter));
    }
    if (start < 0 || size < 0 || start + size > pageSize_)
        return damagedValue(index, "esce dalla sua pagina");
    const auto* data = mdb_->pg_buf + start;
    size_t length = size_t(size);
    if (plan.type == MDB_MEMO || plan.type == MDB_OLE) {
        if (!readLongValue(table, index))
            return false;
        data = reinterpret_cast<const unsigned char*>(longValue_.data());
        length = longValue_.size();
        if (plan.type == MDB_OLE)
            return bound(sqlite3_bind_blob64(insert, parameter, data, length, SQLITE_TRANSIENT));
    }
    if (plan.calculated) {
        if (length < kCalculatedHeader ||
            qFromLittleEndian<quint32>(data + kCalculatedHeader - 4) > length - kCalculatedHeader)
            return damagedValue(index, "è troncato");
        length = qFromLittleEndian<quint32>(data + kCalculatedHeader - 4);
        data += kCalculatedHeader;
        // An empty result: Null, which for text cannot be told from an empty text.
        if (length == 0 && plan.type != MDB_TEXT && plan.type != MDB_MEMO)
            return bound(sqlite3_bind_null(insert, parameter));
    }
    return bindScalar(insert, parameter, index, data, length);
}

// Binds the value of column INDEX, whose bytes are DATA, as the column's plan reads it.
bool CopyWriter::bindScalar(sqlite3_stmt* insert, int parameter, unsigned index,
                            const unsigned char* data, size_t size) {
    const MdbColumn* col = columns_[index];
    const ColumnPlan& plan = plans_[index];
    const auto needs = [&](size_t bytes) {
        return size >= bytes || damagedValue(index, "è troncato");
    };
    switch (plan.type) {
    case MDB_BOOL:
        return needs(1) && bound(sqlite3_bind_int(insert, parameter, data[0] != 0 ? 1 : 0));
    case MDB_BYTE:
        return needs(1) && bound(sqlite3_bind_int(insert, parameter, data[0]));
    case MDB_INT:
        return needs(2) &&
               bound(sqlite3_bind_int(insert, parameter, qFromLittleEndian<qint16>(data)));
    case MDB_LONGINT:
        return needs(4) &&
               bound(sqlite3_bind_int(insert, parameter, qFromLittleEndian<qint32>(data)));
    case kBigInt:
        return needs(8) &&
               bound(sqlite3_bind_int64(insert, parameter, qFromLittleEndian<qint64>(data)));
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
        if (plan.type == MDB_DOUBLE)
            return bound(sqlite3_bind_double(insert, parameter, value));
        char text[24];
        if (!isoDateTime(value, text))
            return bound(sqlite3_bind_null(insert, parameter));
        return bound(sqlite3_bind_text(insert, parameter, text, -1, SQLITE_TRANSIENT));
    }
    case kExtendedDateTime: {
        char text[40];
        if (!isoExtendedDateTime(data, size, text))
            return damagedValue(index, "non è una data leggibile");
        return bound(sqlite3_bind_text(insert, parameter, text, -1, SQLITE_TRANSIENT));
    }
    case MDB_MONEY:
        // Ten-thousandths in 64 bits; the division gives the double nearest to the decimal
        // amount, the same one a literal such as 1995.5 in a query stands for.
        return needs(8) &&
               bound(sqlite3_bind_double(insert, parameter,
                                         double(qFromLittleEndian<qint64>(data)) / 10000.0));
    case MDB_NUMERIC: {
        // As text: the column's NUMERIC affinity stores it as an integer where it is one.
        if (plan.calculated) {
            if (!calculatedDecimal(data, size, &decimal_))
                return damagedValue(index, "non è un numero leggibile");
            return bound(sqlite3_bind_text(insert, parameter, decimal_.data(), int(decimal_.size()),
                                           SQLITE_TRANSIENT));
        }
        if (!needs(17))
            return false;
        std::unique_ptr<char, decltype(&g_free)> text(
            mdb_numeric_to_string(mdb_, int(data - mdb_->pg_buf), col->col_scale, col->col_prec),
            &g_free);
        return bound(sqlite3_bind_text(insert, parameter, text.get(), -1, SQLITE_TRANSIENT));
    }
    case MDB_REPID: {
        if (!needs(16))
            return false;
        std::unique_ptr<char, decltype(&g_free)> text(mdb_uuid_to_string(data, 0), &g_free);
        return bound(sqlite3_bind_text(insert, parameter, text.get(), -1, SQLITE_TRANSIENT));
    }
    case MDB_TEXT:
    case MDB_MEMO:
        return bindText(insert, parameter, data, size);
    default:
        return bound(sqlite3_bind_blob64(insert, parameter, data, size, SQLITE_TRANSIENT));
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

// From Access 2007 on, a file with a password has its pages encrypted: the header then holds
// the page key, and after its own fields the description of the encryption, whose version
// pair (1.1 to 4.4) follows its length. The older files' key only hides their pages from
// casual reading, and libmdb reads them.
bool encryptedWithPassword(MdbHandle* mdb, const QString& source) {
    if (mdb->f->jet_version < MDB_VER_ACCDB_2007 || mdb->f->db_key == 0)
        return false;
    QFile file(source);
    constexpr qint64 kEncryption = 0x299;
    if (!file.open(QIODevice::ReadOnly) || !file.seek(kEncryption))
        return false;
    const QByteArray head = file.read(6);
    if (head.size() < 6)
        return false;
    const auto word = [&](int at) { return qFromLittleEndian<quint16>(head.constData() + at); };
    const auto known = [](int part) { return part >= 1 && part <= 4; };
    return word(0) >= 4 && known(word(2)) && known(word(4));
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
    if (encryptedWithPassword(mdb.get(), source)) {
        *error = Error::make(ErrorNumber::InvalidPassword,
                             QStringLiteral("Il file Access '%1' è protetto da password o cifrato: "
                                            "il programma non lo può leggere.")
                                 .arg(source));
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

bool prepareAccessCopyConnection(sqlite3* handle) {
    return defineUnreadable(handle, raiseUnreadable);
}

QString accessCopyFor(const QString& accessPath, Error* error, const std::atomic<bool>* cancel) {
    Error local;
    Error* failure = error ? error : &local;
    const QString source = QFileInfo(accessPath).absoluteFilePath();
    std::optional<FileIdentity> stamp = stampOf(source);
    if (!stamp) {
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
                                 .arg(stamp->size)
                                 .arg(stamp->mtimeNs)
                                 .arg(stamp->inode);
        const QString target = folder + QLatin1Char('/') + name;
        if (QFileInfo(target).isFile())
            return target;
        if (!buildCopy(source, stamp->size, target, failure, cancel))
            return {};
        const std::optional<FileIdentity> after = stampOf(source);
        if (after && *after == *stamp) {
            removeStaleCopies(folder, stem, name);
            return target;
        }
        QFile::remove(target);
        stamp = stampOf(source);
        if (!stamp)
            break;
    }
    *failure =
        Error::make(ErrorNumber::EngineError,
                    QStringLiteral("Il file Access '%1' è cambiato durante la lettura: riprovare.")
                        .arg(source));
    return {};
}

} // namespace velario::data
