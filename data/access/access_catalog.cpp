#include "data/access/access_catalog.h"

#include <QRegularExpression>
#include <QStringList>
#include <QtEndian>

#include <cstdio>
#include <cstring>

namespace velario::data::access {
namespace {

// Catalog object types that name tables, and the flags of the system's own objects.
constexpr int kLocalTable = 1;
constexpr int kOdbcLinkedTable = 4;
constexpr int kLinkedTable = 6;
constexpr quint32 kSystemObject = 0x80000002;

// The text in column INDEX of the catalog's current row; empty when there is none.
bool catalogText(PageReader& reader, MdbTableDef* table, int index, QString* text) {
    text->clear();
    if (index < 0)
        return true;
    const MdbColumn* col = reader.column(unsigned(index));
    const int start = col->cur_value_start;
    const int size = col->cur_value_len;
    if (size <= 0)
        return true;
    if (start < 0 || start + size > reader.pageSize())
        return reader.damaged(QStringLiteral("l'elenco degli oggetti non è leggibile"));
    if (col->col_type == MDB_MEMO) {
        if (!reader.readLongValue(table, unsigned(index)))
            return false;
        const std::string& value = reader.longValue();
        reader.decodeText(reinterpret_cast<const unsigned char*>(value.data()), value.size());
    } else {
        reader.decodeText(reader.mdb()->pg_buf + start, size_t(size));
    }
    *text = reader.decodedText();
    return true;
}

QString linkMessage(const QString& source, const QString& name, bool odbc, const QString& database,
                    const QString& connect, const QString& foreignName) {
    const QString remote = foreignName.isEmpty() ? name : foreignName;
    QString where;
    if (odbc) {
        // Only the source's name: the rest of the connection text may hold a password.
        static const QRegularExpression dsn(QStringLiteral("(?:^|;)\\s*DSN\\s*=([^;]*)"),
                                            QRegularExpression::CaseInsensitiveOption);
        const QString dataSource = dsn.match(connect).captured(1).trimmed();
        where = dataSource.isEmpty()
                    ? QStringLiteral("di un'origine dati ODBC")
                    : QStringLiteral("dell'origine dati ODBC '%1'").arg(dataSource);
    } else {
        where = database.isEmpty() ? QStringLiteral("di un altro file")
                                   : QStringLiteral("del file '%1'").arg(database);
    }
    return QStringLiteral("La tabella '%1' del file Access '%2' è collegata alla tabella '%3' %4: "
                          "le sue righe non sono in questo file.")
        .arg(name, source, remote, where);
}

} // namespace

// libmdb's own catalog reader also parses the properties of every object, and that parser
// loops forever on some damaged files: the catalog is read here as the plain table it is.
bool readCatalog(PageReader& reader, Catalog* catalog) {
    MdbCatalogEntry objects{};
    objects.mdb = reader.mdb();
    objects.object_type = MDB_TABLE;
    objects.table_pg = kCatalogPage;
    std::snprintf(objects.object_name, sizeof objects.object_name, "MSysObjects");
    reader.setTableName(QString::fromLatin1(objects.object_name));
    const auto unreadable = [&] {
        return reader.damaged(QStringLiteral("l'elenco degli oggetti non è leggibile"));
    };
    const TablePtr table = readTable(&objects);
    if (!table)
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
    reader.setColumns(table.get());
    for (unsigned i = 0; i < table->num_cols; ++i) {
        MdbColumn* col = reader.column(i);
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
    MdbHandle* mdb = reader.mdb();
    // Only calculated columns need the properties, and only Access 2010 files have them.
    if (mdb->f->jet_version < MDB_VER_ACCDB_2010)
        properties = -1;

    const int pageSize = reader.pageSize();
    const auto value = [&](const MdbColumn* col, int bytes) -> const unsigned char* {
        const int start = col->cur_value_start;
        const int size = col->cur_value_len;
        if (size < bytes || start < 0 || start + size > pageSize)
            return nullptr;
        return mdb->pg_buf + start;
    };
    unsigned long rows = 0;
    mdb_rewind_table(table.get());
    while (mdb_fetch_row(table.get())) {
        if (reader.cancelled())
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
        reader.decodeText(nameValue, size_t(name->cur_value_len));
        const QString objectName = reader.decodedText();
        const QByteArray utf8 = objectName.toUtf8();
        if (utf8.isEmpty() || utf8.size() > MDB_MAX_OBJ_NAME)
            return unreadable();
        if (objectType != kLocalTable) {
            if (objectFlags & kSystemObject)
                continue;
            QString databaseText;
            QString connectText;
            QString foreignText;
            if (!catalogText(reader, table.get(), database, &databaseText) ||
                !catalogText(reader, table.get(), connect, &connectText) ||
                !catalogText(reader, table.get(), foreignName, &foreignText))
                return false;
            catalog->linked.push_back(
                {objectName,
                 linkMessage(reader.source(), objectName, objectType == kOdbcLinkedTable,
                             databaseText, connectText, foreignText)});
            continue;
        }
        CatalogTable entry;
        entry.entry = std::make_unique<MdbCatalogEntry>();
        *entry.entry = MdbCatalogEntry{};
        entry.entry->mdb = mdb;
        entry.entry->object_type = MDB_TABLE;
        entry.entry->table_pg = qFromLittleEndian<quint32>(idValue) & 0x00ffffff;
        entry.entry->flags = qint32(objectFlags);
        std::memcpy(entry.entry->object_name, utf8.constData(), size_t(utf8.size()));
        // Unreadable properties only leave the calculated columns without their result type.
        if (properties >= 0 && !(objectFlags & kSystemObject) &&
            value(reader.column(unsigned(properties)), MDB_MEMO_OVERHEAD) &&
            reader.readLongValue(table.get(), unsigned(properties)))
            entry.properties = reader.longValue();
        catalog->tables.push_back(std::move(entry));
    }
    return rows >= table->num_rows || reader.missingRows(rows, table->num_rows);
}

// The blob: "MR2" and a zero byte, then blocks of a 32-bit length and a 16-bit kind. The
// block of kind 0x80 lists the property names; each block of kind 0 or 1 holds one object's
// values (named by a length-prefixed name, empty for the table itself), each a 16-bit length,
// a DDL flag, the value's type, the index of its name, the value's size and the value. Names
// are UTF-16.
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

} // namespace velario::data::access
