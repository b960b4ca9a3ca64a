#include "data/access/copy_writer.h"

#include "data/access/access_catalog.h"
#include "data/access/access_copy.h"
#include "data/access/access_pages.h"
#include "data/access/access_values.h"
#include "data/sqlite/sqlite_connection.h"

#include <sqlite3.h>

#include <QFile>
#include <QHash>
#include <QStringList>
#include <QtEndian>

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace velario::data {
namespace access {
namespace {

// Column types of Access 2016 and 2019 that libmdb has no name for.
constexpr int kBigInt = 0x13;
constexpr int kExtendedDateTime = 0x14;

// A calculated column's value: 16 bytes, the length of the result, the result in the layout
// of its type, then 3 bytes. Its type is the column's "ResultType" property; the type in the
// table's definition need not match it.
constexpr size_t kCalculatedHeader = 20;

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

struct SqliteCloser {
    void operator()(sqlite3* db) const { sqlite3_close_v2(db); }
};
struct StatementFinalizer {
    void operator()(sqlite3_stmt* statement) const { sqlite3_finalize(statement); }
};
using SqlitePtr = std::unique_ptr<sqlite3, SqliteCloser>;
using StatementPtr = std::unique_ptr<sqlite3_stmt, StatementFinalizer>;

// Reads the user tables of one open Access file into one SQLite file.
class CopyWriter {
public:
    CopyWriter(MdbHandle* mdb, QString source, qint64 fileSize, const std::atomic<bool>* cancel)
        : reader_(mdb, std::move(source), fileSize, cancel) {}

    bool write(const QString& target, Error* error);

private:
    bool copyTable(const CatalogTable& entry);
    void planColumns(const CatalogTable& entry);
    bool createUnreadable(const QString& name, const QString& message);
    bool bindValue(sqlite3_stmt* insert, MdbTableDef* table, unsigned index, int parameter);
    bool bindScalar(sqlite3_stmt* insert, int parameter, unsigned index, const unsigned char* data,
                    size_t size);
    bool bindText(sqlite3_stmt* insert, int parameter, const unsigned char* data, size_t size);
    bool exec(const QString& sql);
    bool bound(int rc);
    bool sqliteFailed();

    PageReader reader_;
    sqlite3* db_ = nullptr;

    // Per table; kept across rows to spare allocations.
    std::vector<ColumnPlan> plans_;
    std::string decimal_;
};

bool CopyWriter::sqliteFailed() {
    return reader_.fail(Error::make(
        ErrorNumber::EngineError,
        QStringLiteral("Impossibile scrivere la copia di lavoro del file Access '%1': %2.")
            .arg(reader_.source(), QString::fromUtf8(sqlite3_errmsg(db_)))));
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
            *error = reader_.error();
        return ok;
    };
    Catalog catalog;
    if (!readCatalog(reader_, &catalog))
        return finish(false);
    std::vector<const CatalogTable*> tables;
    for (const CatalogTable& table : catalog.tables) {
        MdbCatalogEntry* entry = table.entry.get();
        if (mdb_is_user_table(entry) && g_ascii_strncasecmp(entry->object_name, "MSys", 4) != 0) {
            tables.push_back(&table);
        } else if (entry->table_pg != kCatalogPage && !reader_.readThrough(entry)) {
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
    for (const LinkedTable& link : catalog.linked) {
        if (!ok)
            break;
        ok = createUnreadable(link.name, link.message);
    }
    ok = ok && exec(QStringLiteral("COMMIT"));
    if (ok && sqlite3_close(db.release()) != SQLITE_OK) {
        reader_.fail(Error::make(ErrorNumber::EngineError,
                                 QStringLiteral("Impossibile completare la copia di lavoro del "
                                                "file Access '%1'.")
                                     .arg(reader_.source())));
        ok = false;
    }
    db_ = nullptr;
    return finish(ok);
}

bool CopyWriter::copyTable(const CatalogTable& entry) {
    reader_.setTableName(QString::fromUtf8(entry.entry->object_name));
    const TablePtr table = readTable(entry.entry.get());
    if (!table || table->num_cols == 0)
        return reader_.damaged(
            QStringLiteral("la tabella '%1' non è leggibile").arg(reader_.tableName()));

    const unsigned count = table->num_cols;
    reader_.setColumns(table.get());
    std::vector<bool> calculated;
    plans_.assign(count, ColumnPlan{});
    if (!reader_.calculatedColumns(table.get(), &calculated))
        return false;
    for (unsigned i = 0; i < count; ++i)
        plans_[i].calculated = calculated[i];
    planColumns(entry);
    QStringList definitions;
    QStringList stored;
    QStringList parameters;
    for (unsigned i = 0; i < count; ++i) {
        const QString column = quoted(reader_.column(i)->name);
        if (!plans_[i].unreadable.isEmpty()) {
            // Computed only when a statement reads it, and then it fails with the reason.
            definitions << column + QStringLiteral(" GENERATED ALWAYS AS (%1)")
                                        .arg(unreadableCall(plans_[i].unreadable));
            continue;
        }
        definitions << column + QLatin1Char(' ') +
                           declaredType(plans_[i], reader_.column(i), reader_.jet3());
        stored << column;
        parameters << QStringLiteral("?");
    }
    const QString name = quoted(entry.entry->object_name);
    // A table needs a stored column; one with none can only fail.
    if (stored.isEmpty())
        return createUnreadable(reader_.tableName(), plans_.front().unreadable);
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

    unsigned long rows = 0;
    mdb_rewind_table(table.get());
    while (mdb_fetch_row(table.get())) {
        if (reader_.cancelled())
            return false;
        reader_.startRow();
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
    return rows >= table->num_rows || reader_.missingRows(rows, table->num_rows);
}

// A table that can only fail: any statement that reads it gets MESSAGE.
bool CopyWriter::createUnreadable(const QString& name, const QString& message) {
    return exec(QStringLiteral("CREATE VIEW %1 AS SELECT NULL AS %1 WHERE %2")
                    .arg(quoted(name.toUtf8().constData()), unreadableCall(message)));
}

void CopyWriter::planColumns(const CatalogTable& entry) {
    QHash<QString, int> results;
    if (std::any_of(plans_.begin(), plans_.end(), [](const ColumnPlan& p) { return p.calculated; }))
        results = resultTypes(entry.properties);
    for (unsigned i = 0; i < unsigned(plans_.size()); ++i) {
        ColumnPlan& plan = plans_[i];
        const MdbColumn* col = reader_.column(i);
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
                                      .arg(column, reader_.tableName());
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
                                  .arg(column, reader_.tableName(), typeName(plan.type))
                                  .arg(plan.type);
    }
}

bool CopyWriter::bindValue(sqlite3_stmt* insert, MdbTableDef* table, unsigned index,
                           int parameter) {
    const MdbColumn* col = reader_.column(index);
    const ColumnPlan& plan = plans_[index];
    const int start = col->cur_value_start;
    const int size = col->cur_value_len;
    // A Yes/No value lives in the null mask: libmdb leaves the "null" bit in the length.
    if (col->col_type == MDB_BOOL)
        return bound(sqlite3_bind_int(insert, parameter, size == 0 ? 1 : 0));
    if (size == 0) {
        if (!plan.calculated && isVariableLength(plan.type) &&
            !reader_.storedAsNull(table, index)) {
            if (plan.type == MDB_OLE || plan.type == MDB_BINARY)
                return bound(sqlite3_bind_zeroblob(insert, parameter, 0));
            return bound(sqlite3_bind_text(insert, parameter, "", 0, SQLITE_STATIC));
        }
        return bound(sqlite3_bind_null(insert, parameter));
    }
    if (start < 0 || size < 0 || start + size > reader_.pageSize())
        return reader_.damagedValue(index, "esce dalla sua pagina");
    const auto* data = reader_.mdb()->pg_buf + start;
    size_t length = size_t(size);
    if (plan.type == MDB_MEMO || plan.type == MDB_OLE) {
        if (!reader_.readLongValue(table, index))
            return false;
        data = reinterpret_cast<const unsigned char*>(reader_.longValue().data());
        length = reader_.longValue().size();
        if (plan.type == MDB_OLE)
            return bound(sqlite3_bind_blob64(insert, parameter, data, length, SQLITE_TRANSIENT));
    }
    if (plan.calculated) {
        if (length < kCalculatedHeader ||
            qFromLittleEndian<quint32>(data + kCalculatedHeader - 4) > length - kCalculatedHeader)
            return reader_.damagedValue(index, "è troncato");
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
    const MdbColumn* col = reader_.column(index);
    const ColumnPlan& plan = plans_[index];
    const auto needs = [&](size_t bytes) {
        return size >= bytes || reader_.damagedValue(index, "è troncato");
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
            return reader_.damagedValue(index, "non è una data leggibile");
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
                return reader_.damagedValue(index, "non è un numero leggibile");
            return bound(sqlite3_bind_text(insert, parameter, decimal_.data(), int(decimal_.size()),
                                           SQLITE_TRANSIENT));
        }
        if (!needs(17))
            return false;
        MdbHandle* mdb = reader_.mdb();
        std::unique_ptr<char, decltype(&g_free)> text(
            mdb_numeric_to_string(mdb, int(data - mdb->pg_buf), col->col_scale, col->col_prec),
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

bool CopyWriter::bindText(sqlite3_stmt* insert, int parameter, const unsigned char* data,
                          size_t size) {
    reader_.decodeText(data, size);
    if (reader_.jet3())
        return bound(sqlite3_bind_text(insert, parameter, reader_.text8(),
                                       int(reader_.text8Length()), SQLITE_TRANSIENT));
    const std::u16string& text = reader_.text16();
    if (text.empty())
        return bound(sqlite3_bind_text(insert, parameter, "", 0, SQLITE_STATIC));
    return bound(sqlite3_bind_text16(insert, parameter, text.data(),
                                     int(text.size() * sizeof(char16_t)), SQLITE_TRANSIENT));
}

} // namespace

bool writeCopy(MdbHandle* mdb, const QString& source, qint64 fileSize, const QString& target,
               Error* error, const std::atomic<bool>* cancel) {
    CopyWriter writer(mdb, source, fileSize, cancel);
    return writer.write(target, error);
}

} // namespace access

bool prepareAccessCopyConnection(sqlite3* handle) {
    return access::defineUnreadable(handle, access::raiseUnreadable);
}

} // namespace velario::data
