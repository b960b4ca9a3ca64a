#include "data/catalogue/file_catalogue.h"

#include "data/catalogue/catalogue_schema.h"
#include "data/catalogue/search_index.h"
#include "data/sqlite/database.h"

#include <QHash>

#include <vector>

namespace velario::data {

namespace {

const QString kColumns = QStringLiteral("CODICE, DESCRIZIONE, SQL, Database, Tipo_Database");

QVariant value(const std::optional<QString>& field) {
    return field ? QVariant(*field) : QVariant();
}

std::optional<QString> field(std::string_view bytes) {
    if (!bytes.data())
        return std::nullopt;
    return QString::fromUtf8(bytes.data(), qsizetype(bytes.size()));
}

StoredEntry entryOf(std::span<const std::string_view> row, size_t from) {
    return {field(row[from]), field(row[from + 1]), field(row[from + 2]), field(row[from + 3]),
            field(row[from + 4])};
}

// A row of ID, the five fields, QUANDO, UTENTE and AZIONE.
CatalogueVersion historyVersion(std::span<const std::string_view> row) {
    return {QByteArray::fromRawData(row[0].data(), qsizetype(row[0].size())).toLongLong(),
            entryOf(row, 1), historyTimeFrom(field(row[6]).value_or(QString())),
            field(row[7]).value_or(QString()),
            actionNamed(field(row[8]).value_or(QString())).value_or(ChangeAction::Changed)};
}

// The five fields as values to bind, then what the row must still hold.
QVariantList fiveValues(const StoredEntry& entry) {
    return {value(entry.code), value(entry.description), value(entry.sql), value(entry.database),
            value(entry.databaseType)};
}

const QString kStillHolds = QStringLiteral(" AND CODICE IS ? AND DESCRIZIONE IS ? AND SQL IS ? "
                                           "AND Database IS ? AND Tipo_Database IS ?");

class FileTable final : public CatalogueTable {
public:
    explicit FileTable(std::unique_ptr<Database> database) : db_(std::move(database)) {}

    QString location() const override { return db_->path(); }
    bool isServer() const override { return false; }
    Error readOnly() const override { return {}; }

    std::unique_ptr<ResultSource> openList(Error* error) override {
        return db_->execute(catalogueListStatement(), error);
    }

    Error forEachEntry(const std::function<bool(const StoredEntry&)>& visit) override;
    Error firstRow(const QString& code, std::optional<TableRow>* row) override;
    Error refreshSearch(SearchIndex& index) override;
    SearchTask searchTask(const SearchIndex& index) override;

    Error inWriteTransaction(const std::function<Error()>& work) override {
        return db_->writeTransaction(work);
    }
    // The transaction holds the file's write lock.
    Error lockCode(const QString&) override { return {}; }

    Error update(const TableRow& row, const StoredEntry& entry, bool* done) override {
        int changes = 0;
        const Error error = db_->exec(
            QStringLiteral("UPDATE SELEZIONI_SQL SET CODICE = ?, DESCRIZIONE = ?, SQL = ?, "
                           "Database = ?, Tipo_Database = ? WHERE _rowid_ = ?") +
                kStillHolds,
            fiveValues(entry) + QVariantList{row.key.toLongLong()} + fiveValues(row.entry),
            &changes);
        *done = changes == 1;
        return error;
    }

    Error remove(const TableRow& row, bool* done) override {
        int changes = 0;
        const Error error =
            db_->exec(QStringLiteral("DELETE FROM SELEZIONI_SQL WHERE _rowid_ = ?") + kStillHolds,
                      QVariantList{row.key.toLongLong()} + fiveValues(row.entry), &changes);
        *done = changes == 1;
        return error;
    }

    Error insert(const StoredEntry& entry) override {
        return db_->exec(QStringLiteral("INSERT INTO SELEZIONI_SQL (") + kColumns +
                             QStringLiteral(") VALUES (?, ?, ?, ?, ?)"),
                         fiveValues(entry));
    }

    Error ensureHistory() override {
        for (const QString& ddl : historyTableDdl(false))
            if (Error e = db_->exec(ddl, {}))
                return e;
        return {};
    }

    Error addHistory(const QString& code, const std::optional<StoredEntry>& replaced,
                     ChangeAction action, const QDateTime& when, const QString& user) override {
        StoredEntry fields = replaced.value_or(StoredEntry{code, {}, {}, {}, {}});
        return db_->exec(QStringLiteral("INSERT INTO SELEZIONI_SQL_STORIA (") + kColumns +
                             QStringLiteral(", QUANDO, UTENTE, AZIONE) VALUES (?, ?, ?, ?, ?, ?, "
                                            "?, ?)"),
                         fiveValues(fields) +
                             QVariantList{historyTime(when), user, actionName(action)});
    }

    Error readHistory(const std::optional<QString>& code,
                      QList<CatalogueVersion>* versions) override;

private:
    Error readVersion(QString* version);

    std::unique_ptr<Database> db_;
    // The background search's own connection, used by one thread at a time.
    std::shared_ptr<std::unique_ptr<Database>> searchDb_ =
        std::make_shared<std::unique_ptr<Database>>();
};

// Files every row of DB in INDEX, which then holds the table as it is at VERSION.
Error readSearch(Database& db, SearchIndex& index, const QString& version,
                 const std::atomic<bool>* stop) {
    index.clear();
    if (Error e = db.forEachRow(
            QStringLiteral("SELECT _rowid_, CODICE, DESCRIZIONE, SQL FROM SELEZIONI_SQL"), {},
            [&](std::span<const std::string_view> row) {
                index.put(QString::fromUtf8(row[0].data(), qsizetype(row[0].size())), {}, row[1],
                          row[2], row[3]);
                return !stop || !*stop;
            }))
        return e;
    if (!stop || !*stop)
        index.version = version;
    return {};
}

Error FileTable::forEachEntry(const std::function<bool(const StoredEntry&)>& visit) {
    // The rows in the order of their codes first, then their fields a block at a time, each
    // block read on its own: a long walk (a report printing as it reads) never keeps other
    // programs from writing.
    std::vector<qint64> order;
    if (Error e = db_->forEachRow(
            QStringLiteral("SELECT _rowid_ FROM SELEZIONI_SQL ORDER BY CODICE, _rowid_"), {},
            [&](std::span<const std::string_view> row) {
                order.push_back(
                    QByteArray::fromRawData(row[0].data(), qsizetype(row[0].size())).toLongLong());
                return true;
            }))
        return e;
    constexpr size_t kBlock = 256;
    QString marks = QStringLiteral("?");
    for (size_t i = 1; i < kBlock; ++i)
        marks += QStringLiteral(", ?");
    const QString block = QStringLiteral("SELECT _rowid_, ") + kColumns +
                          QStringLiteral(" FROM SELEZIONI_SQL WHERE _rowid_ IN (") + marks +
                          QLatin1Char(')');
    QHash<qint64, StoredEntry> rows;
    for (size_t at = 0; at < order.size(); at += kBlock) {
        QVariantList ids;
        for (size_t i = at; i < at + kBlock; ++i)
            ids << (i < order.size() ? QVariant(order[i]) : QVariant());
        rows.clear();
        if (Error e = db_->forEachRow(block, ids, [&](std::span<const std::string_view> row) {
                rows.insert(
                    QByteArray::fromRawData(row[0].data(), qsizetype(row[0].size())).toLongLong(),
                    entryOf(row, 1));
                return true;
            }))
            return e;
        // A row deleted meanwhile is no longer an entry.
        for (size_t i = at; i < std::min(order.size(), at + kBlock); ++i)
            if (const auto it = rows.constFind(order[i]); it != rows.constEnd() && !visit(*it))
                return {};
    }
    return {};
}

Error FileTable::firstRow(const QString& code, std::optional<TableRow>* row) {
    Error error;
    const std::unique_ptr<Recordset> rows = openCatalogueLookup(db_.get(), code, &error);
    if (!rows)
        return error;
    row->reset();
    if (rows->recordCount() == 0)
        return {};
    StoredEntry entry;
    std::optional<QString>* const fields[] = {&entry.code, &entry.description, &entry.sql,
                                              &entry.database, &entry.databaseType};
    const QStringList names = kColumns.split(QStringLiteral(", "));
    for (int i = 0; i < 5; ++i) {
        const QVariant v = rows->field(names[i], &error);
        if (error)
            return error;
        *fields[i] = v.isNull() ? std::nullopt : std::optional(v.toString());
    }
    *row = TableRow{QString::number(rows->rowid()), std::move(entry)};
    return {};
}

Error FileTable::readVersion(QString* version) {
    // The engine tells whether another connection committed since, and how many rows this
    // one changed: either moves the version on, and the index is read again. The version is
    // read before the rows, so that a change in between makes the next search read again.
    version->clear();
    for (const char* sql : {"PRAGMA data_version", "SELECT total_changes()"})
        if (Error e = db_->forEachRow(
                QString::fromLatin1(sql), {}, [&](std::span<const std::string_view> row) {
                    *version += QString::fromUtf8(row[0].data(), qsizetype(row[0].size())) +
                                QLatin1Char(':');
                    return false;
                }))
            return e;
    return {};
}

Error FileTable::refreshSearch(SearchIndex& index) {
    QString version;
    if (Error e = readVersion(&version))
        return e;
    if (version == index.version)
        return {};
    return readSearch(*db_, index, version, nullptr);
}

CatalogueTable::SearchTask FileTable::searchTask(const SearchIndex& index) {
    // The version is this connection's, read here: what the other connection reads after is
    // at least as new, and a commit in between moves this one's version on.
    QString version;
    if (readVersion(&version) || version == index.version)
        return {};
    return [reader = searchDb_, path = db_->path(), version](SearchIndex& index,
                                                             const std::atomic<bool>& stop) {
        Error error;
        if (!*reader && !(*reader = Database::open(path, true, &error, kSharedFileLockWaitMs)))
            return error;
        return readSearch(**reader, index, version, &stop);
    };
}

Error FileTable::readHistory(const std::optional<QString>& code,
                             QList<CatalogueVersion>* versions) {
    versions->clear();
    bool there = false;
    if (Error e = db_->forEachRow(QStringLiteral("SELECT 1 FROM sqlite_master WHERE type = "
                                                 "'table' AND name = 'SELEZIONI_SQL_STORIA' "
                                                 "COLLATE NOCASE"),
                                  {}, [&](std::span<const std::string_view>) {
                                      there = true;
                                      return false;
                                  }))
        return e;
    if (!there)
        return {};
    const QString columns = QStringLiteral("h.ID, h.CODICE, h.DESCRIZIONE, h.SQL, h.Database, "
                                           "h.Tipo_Database, h.QUANDO, h.UTENTE, h.AZIONE");
    const QString sql =
        code ? QStringLiteral("SELECT ") + columns +
                   QStringLiteral(" FROM SELEZIONI_SQL_STORIA h WHERE h.CODICE = ? AND h.AZIONE "
                                  "<> 'inserita' ORDER BY h.ID DESC")
             : QStringLiteral("SELECT ") + columns +
                   QStringLiteral(" FROM SELEZIONI_SQL_STORIA h WHERE h.AZIONE = 'cancellata' "
                                  "AND h.ID = (SELECT max(ID) FROM SELEZIONI_SQL_STORIA WHERE "
                                  "CODICE = h.CODICE AND AZIONE = 'cancellata') AND NOT EXISTS "
                                  "(SELECT 1 FROM SELEZIONI_SQL s WHERE s.CODICE = h.CODICE) "
                                  "ORDER BY h.ID DESC");
    return db_->forEachRow(sql, code ? QVariantList{*code} : QVariantList{},
                           [&](std::span<const std::string_view> row) {
                               versions->append(historyVersion(row));
                               return true;
                           });
}

} // namespace

std::unique_ptr<Catalogue> fileCatalogue(std::unique_ptr<Database> database) {
    return std::make_unique<Catalogue>(std::make_unique<FileTable>(std::move(database)));
}

} // namespace velario::data
