#include "data/access/access_pages.h"

#include "data/access/access_values.h"

#include <QFile>
#include <QtEndian>

#include <algorithm>
#include <cstring>

namespace velario::data::access {
namespace {

// The mark of a calculated column, in the byte after its flags in the table's definition.
constexpr unsigned char kCalculatedFlags = 0xc0;

} // namespace

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

PageReader::PageReader(MdbHandle* mdb, QString source, qint64 fileSize,
                       const std::atomic<bool>* cancel)
    : mdb_(mdb), source_(std::move(source)), fileSize_(fileSize), pageSize_(int(mdb->fmt->pg_size)),
      jet3_(IS_JET3(mdb)), cancel_(cancel) {}

void PageReader::setColumns(MdbTableDef* table) {
    const unsigned count = table->num_cols;
    columns_.assign(count, nullptr);
    for (unsigned i = 0; i < count; ++i)
        columns_[i] = static_cast<MdbColumn*>(g_ptr_array_index(table->columns, i));
    fields_.resize(count);
    nulls_.resize(count);
}

bool PageReader::fail(const Error& error) {
    error_ = error;
    return false;
}

bool PageReader::damaged(const QString& detail) {
    return fail(Error::make(ErrorNumber::UnrecognizedFormat,
                            QStringLiteral("Il file Access '%1' è danneggiato o incompleto: %2.")
                                .arg(source_, detail)));
}

bool PageReader::damagedValue(unsigned index, const char* what) {
    return damaged(
        QStringLiteral("un valore della colonna '%1' nella tabella '%2' %3")
            .arg(QString::fromUtf8(columns_[index]->name), tableName_, QString::fromUtf8(what)));
}

bool PageReader::missingRows(unsigned long read, unsigned long expected) {
    return damaged(QStringLiteral("della tabella '%1' si leggono %2 righe su %3")
                       .arg(tableName_)
                       .arg(read)
                       .arg(expected));
}

bool PageReader::cancelled() {
    if (!cancel_ || !cancel_->load(std::memory_order_relaxed))
        return false;
    error_ = Error::make(ErrorNumber::OperationCancelled);
    return true;
}

TablePtr readTable(MdbCatalogEntry* entry) {
    TablePtr table(mdb_read_table(entry));
    if (!table || !table->usage_map || table->map_sz == 0 || !mdb_read_columns(table.get()) ||
        table->num_cols != table->columns->len)
        return nullptr;
    return table;
}

bool PageReader::readThrough(MdbCatalogEntry* entry) {
    tableName_ = QString::fromUtf8(entry->object_name);
    const TablePtr table = readTable(entry);
    if (!table)
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

// Files of Access 2010 and later mark the columns Access computes from an expression in the
// byte after each column's flags in the table's definition, which libmdb reads but does not
// keep. The definition may run over several pages, each after the first adding what follows
// its 8-byte header.
bool PageReader::calculatedColumns(MdbTableDef* table, std::vector<bool>* calculated) {
    calculated->assign(columns_.size(), false);
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
        const bool marked = definition_[at + fmt->col_flags_offset + 1] & kCalculatedFlags;
        for (size_t i = 0; i < columns_.size(); ++i) {
            if (columns_[i]->col_num == number)
                (*calculated)[i] = marked;
        }
    }
    return true;
}

// libmdb reports an empty value and a null alike; only the row's null mask tells them apart.
bool PageReader::storedAsNull(MdbTableDef* table, unsigned index) {
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

// Jet 3 files keep text in the code page named in their header, which libmdb converts.
void PageReader::decodeText(const unsigned char* data, size_t size) {
    if (jet3_) {
        text8_.resize(size * 4 + 4);
        const int length = mdb_unicode2ascii(mdb_, reinterpret_cast<const char*>(data), size,
                                             text8_.data(), text8_.size());
        text8Length_ = size_t(std::max(length, 0));
        return;
    }
    unicodeText(data, size, &text16_);
}

QString PageReader::decodedText() const {
    if (jet3_)
        return QString::fromUtf8(text8_.data(), qsizetype(text8Length_));
    return QString::fromStdU16String(text16_);
}

// Memo and OLE values sit outside the row, on one page or on a chain of pages, behind a
// 12-byte reference whose first word holds the length and two flag bits.
bool PageReader::readLongValue(MdbTableDef* table, unsigned index) {
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

} // namespace velario::data::access
