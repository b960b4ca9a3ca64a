#include "data/catalogue/server_catalogue.h"

#include "data/catalogue/access_catalogue_import.h"
#include "data/catalogue/catalogue_schema.h"
#include "data/catalogue/search_index.h"
#include "data/sqlite/database.h"

#include <algorithm>

namespace velario::data {

namespace {

const char* const kFive = "CODICE, DESCRIZIONE, SQL, Database, Tipo_Database";

// The five fields to bind from $FIRST on, or what the row must still hold.
PgParams fiveParams(const StoredEntry& entry) {
    return {pgText(entry.code), pgText(entry.description), pgText(entry.sql),
            pgText(entry.database), pgText(entry.databaseType)};
}

PgParams operator+(PgParams a, const PgParams& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

std::optional<QString> field(std::string_view bytes) {
    if (!bytes.data())
        return std::nullopt;
    return QString::fromUtf8(bytes.data(), qsizetype(bytes.size()));
}

StoredEntry entryOf(const PgRows& rows, int row, int from) {
    return {rows.text(row, from), rows.text(row, from + 1), rows.text(row, from + 2),
            rows.text(row, from + 3), rows.text(row, from + 4)};
}

// "AND CODICE IS NOT DISTINCT FROM $FROM AND ..." for the five fields.
QByteArray stillHolds(int from) {
    QByteArray condition;
    int n = from;
    for (const char* column : {"CODICE", "DESCRIZIONE", "SQL", "Database", "Tipo_Database"})
        condition +=
            QByteArray(" AND ") + column + " IS NOT DISTINCT FROM $" + QByteArray::number(n++);
    return condition;
}

class ServerTable final : public CatalogueTable {
public:
    explicit ServerTable(std::unique_ptr<PgConnection> connection) : pg_(std::move(connection)) {}

    // Reads what the user may do; TableNotFound and the like when the table cannot be read.
    Error check();

    QString location() const override { return pg_->address().shown; }
    bool isServer() const override { return true; }
    Error readOnly() const override { return readOnly_; }

    std::unique_ptr<ResultSource> openList(Error* error) override {
        PgRows rows = pg_->query("SELECT CODICE AS \"CODICE\", DESCRIZIONE AS \"DESCRIZIONE\" "
                                 "FROM SELEZIONI_SQL ORDER BY CODICE",
                                 {}, error);
        return rows.get() ? resultSourceOf(std::move(rows)) : nullptr;
    }

    Error forEachEntry(const std::function<bool(const StoredEntry&)>& visit) override {
        return pg_->forEachRow(
            (QByteArray("SELECT ") + kFive + " FROM SELEZIONI_SQL ORDER BY CODICE, ctid")
                .constData(),
            {}, [&](std::span<const std::string_view> row) {
                return visit(
                    {field(row[0]), field(row[1]), field(row[2]), field(row[3]), field(row[4])});
            });
    }

    Error firstRow(const QString& code, std::optional<TableRow>* row) override {
        // Inside a change the row is locked against writers that do not take the code's lock.
        const QByteArray sql = QByteArray("SELECT ctid::text, ") + kFive +
                               " FROM SELEZIONI_SQL WHERE CODICE = $1 ORDER BY ctid LIMIT 1" +
                               (pg_->inTransaction() ? " FOR UPDATE" : "");
        Error error;
        const PgRows rows = pg_->query(sql.constData(), {code.toUtf8()}, &error);
        if (error)
            return error;
        *row = rows.rows() == 0 ? std::nullopt
                                : std::optional(TableRow{*rows.text(0, 0), entryOf(rows, 0, 1)});
        return {};
    }

    Error refreshSearch(SearchIndex& index) override {
        return refreshSearchOn(*pg_, index, nullptr);
    }
    SearchTask searchTask(const SearchIndex&) override;

    Error inWriteTransaction(const std::function<Error()>& work) override {
        return pg_->inTransaction(work);
    }

    Error lockCode(const QString& code) override {
        return pg_->command("SELECT pg_advisory_xact_lock(hashtext('velario'), hashtext($1))",
                            {code.toUtf8()});
    }

    Error update(const TableRow& row, const StoredEntry& entry, bool* done) override {
        qint64 changed = 0;
        const QByteArray sql = "UPDATE SELEZIONI_SQL SET CODICE = $1, DESCRIZIONE = $2, SQL = $3, "
                               "Database = $4, Tipo_Database = $5 WHERE ctid = $6::tid" +
                               stillHolds(7);
        const Error error = pg_->command(
            sql.constData(), fiveParams(entry) + PgParams{row.key.toUtf8()} + fiveParams(row.entry),
            &changed);
        *done = changed == 1;
        return error;
    }

    Error remove(const TableRow& row, bool* done) override {
        qint64 changed = 0;
        const QByteArray sql = "DELETE FROM SELEZIONI_SQL WHERE ctid = $1::tid" + stillHolds(2);
        const Error error = pg_->command(
            sql.constData(), PgParams{row.key.toUtf8()} + fiveParams(row.entry), &changed);
        *done = changed == 1;
        return error;
    }

    Error insert(const StoredEntry& entry) override {
        return pg_->command(
            (QByteArray("INSERT INTO SELEZIONI_SQL (") + kFive + ") VALUES ($1, $2, $3, $4, $5)")
                .constData(),
            fiveParams(entry));
    }

    Error ensureHistory() override {
        if (history_)
            return {};
        Error error;
        const PgRows there =
            pg_->query("SELECT to_regclass('selezioni_sql_storia') IS NOT NULL", {}, &error);
        if (error)
            return error;
        if (there.bytes(0, 0) != "t") {
            // Two programs making it at once would clash in the catalog: one makes it.
            if (Error e = pg_->command("SELECT pg_advisory_xact_lock(hashtext('velario'), 0)"))
                return e;
            for (const QString& ddl : historyTableDdl(true))
                if (Error e = pg_->command(ddl.toUtf8().constData()))
                    return e;
        }
        history_ = true;
        return {};
    }

    Error addHistory(const QString& code, const std::optional<StoredEntry>& replaced,
                     ChangeAction action, const QDateTime& when, const QString& user) override {
        const StoredEntry fields = replaced.value_or(StoredEntry{code, {}, {}, {}, {}});
        return pg_->command((QByteArray("INSERT INTO SELEZIONI_SQL_STORIA (") + kFive +
                             ", QUANDO, UTENTE, AZIONE) VALUES ($1, $2, $3, $4, $5, "
                             "$6::timestamptz, $7, $8)")
                                .constData(),
                            fiveParams(fields) + PgParams{(historyTime(when) + "+00").toUtf8(),
                                                          user.toUtf8(),
                                                          actionName(action).toUtf8()});
    }

    Error readHistory(const std::optional<QString>& code,
                      QList<CatalogueVersion>* versions) override;

private:
    static Error refreshSearchOn(PgConnection& pg, SearchIndex& index,
                                 const std::atomic<bool>* stop);

    std::unique_ptr<PgConnection> pg_;
    // The background search's own connection, used by one thread at a time.
    std::shared_ptr<std::unique_ptr<PgConnection>> searchPg_ =
        std::make_shared<std::unique_ptr<PgConnection>>();
    Error readOnly_;
    // The history table is known to be there.
    bool history_ = false;
};

Error ServerTable::check() {
    Error error;
    pg_->query((QByteArray("SELECT ") + kFive + " FROM SELEZIONI_SQL LIMIT 0").constData(), {},
               &error);
    const QString at = location();
    if (error.number == ErrorNumber::TableNotFound)
        return Error::make(ErrorNumber::TableNotFound,
                           QStringLiteral("Il database %1 non contiene la tabella SELEZIONI_SQL "
                                          "(la crea il comando  velario-newcat --to URI).")
                               .arg(at));
    if (error.number == ErrorNumber::TooFewParameters)
        return Error::make(ErrorNumber::TooFewParameters,
                           QStringLiteral("La tabella SELEZIONI_SQL del database %1 non ha le "
                                          "colonne CODICE, DESCRIZIONE, SQL, Database e "
                                          "Tipo_Database.")
                               .arg(at));
    if (error.number == ErrorNumber::PermissionDenied)
        return Error::make(ErrorNumber::PermissionDenied,
                           QStringLiteral("L'utente non ha il permesso di leggere la tabella "
                                          "SELEZIONI_SQL del database %1.")
                               .arg(at));
    if (error)
        return error;
    const PgRows rights =
        pg_->query("SELECT has_table_privilege('selezioni_sql', 'INSERT') AND "
                   "has_table_privilege('selezioni_sql', 'UPDATE') AND "
                   "has_table_privilege('selezioni_sql', 'DELETE'), "
                   "current_setting('transaction_read_only') = 'on', "
                   "CASE WHEN to_regclass('selezioni_sql_storia') IS NULL THEN "
                   "coalesce(has_schema_privilege(current_schema(), 'CREATE'), false) ELSE "
                   "has_table_privilege('selezioni_sql_storia', 'INSERT') AND "
                   "has_table_privilege('selezioni_sql_storia', 'SELECT') END",
                   {}, &error);
    if (error)
        return error;
    const auto yes = [&](int column) { return rights.bytes(0, column) == "t"; };
    const QString why = !yes(0)   ? QStringLiteral("l'utente non ha il permesso di modificare la "
                                                     "tabella SELEZIONI_SQL")
                        : yes(1)  ? QStringLiteral("il server accetta solo letture")
                        : !yes(2) ? QStringLiteral("l'utente non può scrivere la tabella "
                                                   "SELEZIONI_SQL_STORIA, che tiene le versioni "
                                                   "precedenti di ogni selezione")
                                  : QString();
    if (!why.isEmpty())
        readOnly_ = Error::make(ErrorNumber::DatabaseReadOnly,
                                QStringLiteral("Il catalogo %1 è in sola lettura: %2. Le "
                                               "selezioni si possono leggere ed eseguire, non "
                                               "modificare.")
                                    .arg(at, why));
    return {};
}

CatalogueTable::SearchTask ServerTable::searchTask(const SearchIndex&) {
    // Only the server can tell whether the table moved: the task asks it.
    return [connection = searchPg_, address = pg_->address()](SearchIndex& index,
                                                              const std::atomic<bool>& stop) {
        Error error;
        if (!*connection && !(*connection = PgConnection::connect(address, &error)))
            return error;
        return refreshSearchOn(**connection, index, &stop);
    };
}

Error ServerTable::refreshSearchOn(PgConnection& pg, SearchIndex& index,
                                   const std::atomic<bool>* stop) {
    // Each row version has its own place (ctid) and writing transaction (xmin): the rows whose
    // pair the index does not hold are read again, the rows no longer there dropped.
    Error error;
    if (index.size() == 0) {
        // Nothing to compare with: every row, read as it comes, and the summary below made of
        // the very rows read.
        qint64 count = 0, last = 0, sum = 0;
        error = pg.forEachRow("SELECT ctid::text, xmin::text, CODICE, DESCRIZIONE, SQL FROM "
                              "SELEZIONI_SQL",
                              {}, [&](std::span<const std::string_view> row) {
                                  const QString xmin = *field(row[1]);
                                  const qint64 x = xmin.toLongLong();
                                  ++count;
                                  last = std::max(last, x);
                                  sum += x;
                                  index.put(*field(row[0]), xmin, row[2], row[3], row[4]);
                                  return !stop || !*stop;
                              });
        if (!error && (!stop || !*stop))
            index.version = QStringLiteral("%1:%2:%3").arg(count).arg(last).arg(sum);
        return error;
    }
    // First a single row that moves whenever the table does: an insert or an update brings the
    // id of a transaction later than those of the rows it finds (max; sum, for one that
    // committed after a later one), a delete alone lowers the count. Unmoved, nothing is read.
    const PgRows summary = pg.query(
        "SELECT count(*)::text || ':' || coalesce(max(x), 0)::text || ':' || "
        "coalesce(sum(x), 0)::text FROM (SELECT xmin::text::bigint AS x FROM SELEZIONI_SQL) r",
        {}, &error);
    if (error)
        return error;
    const QString version =
        summary.rows() == 1 ? summary.text(0, 0).value_or(QString()) : QString();
    if (!version.isEmpty() && version == index.version)
        return {};
    index.version.clear();
    const PgRows stamps = pg.query("SELECT ctid::text, xmin::text FROM SELEZIONI_SQL", {}, &error);
    if (error)
        return error;
    QSet<QString> keys;
    keys.reserve(stamps.rows());
    QByteArray changed = "{";
    for (int r = 0; r < stamps.rows(); ++r) {
        const QString key = *stamps.text(r, 0);
        keys.insert(key);
        if (!index.holds(key, *stamps.text(r, 1))) {
            if (changed.size() > 1)
                changed += ',';
            changed += '"' +
                       QByteArray(stamps.bytes(r, 0).data(), qsizetype(stamps.bytes(r, 0).size())) +
                       '"';
        }
    }
    changed += '}';
    index.keepOnly(keys);
    if (changed.size() > 2)
        error = pg.forEachRow("SELECT ctid::text, xmin::text, CODICE, DESCRIZIONE, SQL FROM "
                              "SELEZIONI_SQL WHERE ctid = ANY($1::tid[])",
                              {changed}, [&](std::span<const std::string_view> row) {
                                  index.put(*field(row[0]), *field(row[1]), row[2], row[3], row[4]);
                                  return !stop || !*stop;
                              });
    // Read before the rows: a change in between makes the next search look again.
    if (!error && (!stop || !*stop))
        index.version = version;
    return error;
}

Error ServerTable::readHistory(const std::optional<QString>& code,
                               QList<CatalogueVersion>* versions) {
    versions->clear();
    Error error;
    const PgRows there =
        pg_->query("SELECT to_regclass('selezioni_sql_storia') IS NOT NULL", {}, &error);
    if (error || there.bytes(0, 0) != "t")
        return error;
    const QByteArray columns = "SELECT h.ID, h.CODICE, h.DESCRIZIONE, h.SQL, h.Database, "
                               "h.Tipo_Database, to_char(h.QUANDO AT TIME ZONE 'UTC', "
                               "'YYYY-MM-DD HH24:MI:SS'), h.UTENTE, h.AZIONE "
                               "FROM SELEZIONI_SQL_STORIA h ";
    const QByteArray sql =
        code ? columns + "WHERE h.CODICE = $1 AND h.AZIONE <> 'inserita' ORDER BY h.ID DESC"
             : columns + "WHERE h.AZIONE = 'cancellata' AND h.ID = (SELECT max(ID) FROM "
                         "SELEZIONI_SQL_STORIA WHERE CODICE = h.CODICE AND AZIONE = "
                         "'cancellata') AND NOT EXISTS (SELECT 1 FROM SELEZIONI_SQL s WHERE "
                         "s.CODICE = h.CODICE) ORDER BY h.ID DESC";
    const PgRows rows =
        pg_->query(sql.constData(), code ? PgParams{code->toUtf8()} : PgParams{}, &error);
    for (int r = 0; r < rows.rows(); ++r)
        versions->append(
            {rows.text(r, 0)->toLongLong(), entryOf(rows, r, 1),
             historyTimeFrom(rows.text(r, 6).value_or(QString())),
             rows.text(r, 7).value_or(QString()),
             actionNamed(rows.text(r, 8).value_or(QString())).value_or(ChangeAction::Changed)});
    return error;
}

} // namespace

std::unique_ptr<Catalogue> serverCatalogue(const ServerAddress& address, Error* error) {
    std::unique_ptr<PgConnection> connection = PgConnection::connect(address, error);
    if (!connection)
        return nullptr;
    auto table = std::make_unique<ServerTable>(std::move(connection));
    if (Error e = table->check()) {
        if (error)
            *error = e;
        return nullptr;
    }
    return std::make_unique<Catalogue>(std::move(table));
}

Error createServerCatalogue(const ServerAddress& address, const QString& from, qint64* copied,
                            QStringList* longCodes) {
    Error error;
    std::unique_ptr<Database> source;
    if (!from.isEmpty() && !(source = openLocalCatalogue(from, &error)))
        return error;
    const std::unique_ptr<PgConnection> pg = PgConnection::connect(address, &error);
    if (!pg)
        return error;
    qint64 count = 0;
    LongCodes longer;
    error = pg->inTransaction([&]() -> Error {
        Error e;
        const PgRows there = pg->query("SELECT to_regclass('selezioni_sql') IS NOT NULL", {}, &e);
        if (e)
            return e;
        if (there.bytes(0, 0) == "t")
            return Error::make(ErrorNumber::InvalidArgument,
                               QStringLiteral("Il database %1 contiene già la tabella "
                                              "SELEZIONI_SQL: nulla è stato creato né copiato.")
                                   .arg(address.shown));
        for (const QString& ddl : serverCatalogueDdl())
            if ((e = pg->command(ddl.toUtf8().constData())))
                return e;
        if (!source)
            return {};
        // Many rows a statement: a catalogue of thousands of entries goes in moments.
        constexpr int kRows = 500;
        PgParams batch;
        const auto flush = [&]() -> Error {
            if (batch.empty())
                return {};
            QByteArray sql = QByteArray("INSERT INTO SELEZIONI_SQL (") + kFive + ") VALUES ";
            for (size_t i = 0; i < batch.size(); i += 5) {
                sql += i ? ", (" : "(";
                for (size_t c = 0; c < 5; ++c)
                    sql += (c ? ", $" : "$") + QByteArray::number(qulonglong(i + c + 1));
                sql += ')';
            }
            const Error written = pg->command(sql.constData(), batch);
            batch.clear();
            return written;
        };
        Error written;
        const Error read =
            source->forEachRow(copyStatement(), {}, [&](std::span<const std::string_view> row) {
                for (const std::string_view cell : row.first(5))
                    batch.push_back(
                        cell.data() ? std::optional(QByteArray(cell.data(), qsizetype(cell.size())))
                                    : std::nullopt);
                longer.note(row[0]);
                ++count;
                if (batch.size() >= size_t(kRows) * 5)
                    written = flush();
                return !written;
            });
        if (read)
            return read;
        return written ? written : flush();
    });
    if (error)
        return error;
    if (copied)
        *copied = count;
    if (longCodes)
        *longCodes = longer.list();
    return {};
}

QStringList serverCatalogueDdl() {
    return QStringList{QStringLiteral("CREATE TABLE SELEZIONI_SQL (CODICE text, DESCRIZIONE text, "
                                      "SQL text, Database text, Tipo_Database text)"),
                       catalogueIndexDdl()} +
           historyTableDdl(true);
}

} // namespace velario::data
