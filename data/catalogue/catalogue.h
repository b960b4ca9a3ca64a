#pragma once

#include "data/catalogue/catalogue_store.h"
#include "data/errors.h"
#include "data/result_source.h"

#include <QDateTime>
#include <QList>
#include <QSet>
#include <QString>

#include <atomic>
#include <functional>
#include <memory>
#include <optional>

namespace velario::data {

// An entry's five fields exactly as stored, nullopt for a Null: what a change compares with
// the stored row, so that it writes only over the version the user was shown.
struct StoredEntry {
    std::optional<QString> code;
    std::optional<QString> description;
    std::optional<QString> sql;
    std::optional<QString> database;
    std::optional<QString> databaseType;

    // As the windows use the fields: a Null as empty text, blanks trimmed.
    CatalogueEntry shown() const;
    static StoredEntry of(const CatalogueEntry& entry);
    bool operator==(const StoredEntry&) const = default;
};

// What a change did to the version the history keeps.
enum class ChangeAction {
    Inserted, // a new entry: nothing was replaced (the history row holds only the code)
    Changed,  // a save wrote over the version
    Deleted,  // a delete removed it
    Restored, // a restore wrote an earlier version over it
};

// One row of the history: a version of an entry as it was before a change, and that change.
struct CatalogueVersion {
    qint64 id = 0;
    StoredEntry entry;
    QDateTime when; // UTC
    QString user;
    ChangeAction action = ChangeAction::Changed;
};

// What a change expects to find under its code.
struct Expected {
    enum Kind {
        Nothing,  // no entry: a new one, unknown to the user before
        Version,  // exactly VERSION, the one the user was shown
        Anything, // whatever is there (or nothing): the user means to write over it
    } kind = Nothing;
    StoredEntry version;

    static Expected nothing() { return {}; }
    static Expected anything() { return {Anything, {}}; }
    static Expected exactly(StoredEntry version) { return {Version, std::move(version)}; }
};

// What became of a change that ran without error.
struct ChangeOutcome {
    enum Kind {
        Done,
        Changed, // another version than the one expected is there now: CURRENT
        Deleted, // the version expected is gone, and nothing has the code now
        Exists,  // a new entry's code was taken meanwhile, by CURRENT
    } kind = Done;
    std::optional<StoredEntry> current;
};

// A row of the table as one engine finds it again: its place (rowid, tuple id) and fields.
struct TableRow {
    QString key;
    StoredEntry entry;
};

class SearchIndex;

// What each engine does with the catalogue's tables; the rules of every change are
// Catalogue's own.
class CatalogueTable {
public:
    virtual ~CatalogueTable() = default;

    virtual QString location() const = 0;
    virtual bool isServer() const = 0;
    // DatabaseReadOnly, saying why, when the user may read the catalogue but not change it,
    // as found when it was opened; a write may still fail for reasons of its own.
    virtual Error readOnly() const = 0;

    virtual std::unique_ptr<ResultSource> openList(Error* error) = 0;
    virtual Error forEachEntry(const std::function<bool(const StoredEntry&)>& visit) = 0;
    virtual Error firstRow(const QString& code, std::optional<TableRow>* row) = 0;
    // Brings INDEX up to the table as it is now.
    virtual Error refreshSearch(SearchIndex& index) = 0;
    // What brings INDEX up to the table on another thread, through a connection of its own,
    // giving up when STOP is set; null when INDEX is known to be up to date. The task runs
    // while nothing else uses INDEX, and leaves INDEX's version empty unless it read it whole.
    using SearchTask = std::function<Error(SearchIndex& index, const std::atomic<bool>& stop)>;
    virtual SearchTask searchTask(const SearchIndex& index) = 0;

    // WORK as one transaction holding the table's write lock, or at least the one of each
    // code it names through lockCode: committed when it returns no error.
    virtual Error inWriteTransaction(const std::function<Error()>& work) = 0;
    virtual Error lockCode(const QString& code) = 0;
    // Each of these changes ROW only while it still holds ROW.entry; DONE says whether it did.
    virtual Error update(const TableRow& row, const StoredEntry& entry, bool* done) = 0;
    virtual Error remove(const TableRow& row, bool* done) = 0;
    virtual Error insert(const StoredEntry& entry) = 0;
    // The history table, made the first time something is written.
    virtual Error ensureHistory() = 0;
    virtual Error addHistory(const QString& code, const std::optional<StoredEntry>& replaced,
                             ChangeAction action, const QDateTime& when, const QString& user) = 0;
    // The versions of CODE, newest first; CODE null: the last version of each code that is
    // deleted and not there now, newest first. None when there is no history yet.
    virtual Error readHistory(const std::optional<QString>& code,
                              QList<CatalogueVersion>* versions) = 0;
};

// The catalogue of saved queries, in a file or on a server: everything that reads or writes
// it goes through here. A change writes only over the version it expects, keeps the version
// it replaces in the history table beside SELEZIONI_SQL, and does both in one transaction.
class Catalogue {
public:
    explicit Catalogue(std::unique_ptr<CatalogueTable> table);
    ~Catalogue();
    Catalogue(const Catalogue&) = delete;
    Catalogue& operator=(const Catalogue&) = delete;

    // Where it is, as the user may be shown it: the file's path, or the server as
    // postgresql://host:port/database.
    QString location() const { return table_->location(); }
    bool isServer() const { return table_->isServer(); }
    // Why this user may not change the catalogue; none when they may.
    Error readOnly() const { return table_->readOnly(); }
    // Who changes it and when, for the history.
    void setAuthor(QString user, std::function<QDateTime()> clock);

    // Code and description of each entry, ordered by code.
    std::unique_ptr<ResultSource> openList(Error* error) { return table_->openList(error); }
    // Every entry as stored, ordered by code, until VISIT returns false.
    Error forEachEntry(const std::function<bool(const StoredEntry&)>& visit) {
        return table_->forEachEntry(visit);
    }
    // The entry whose code is CODE exactly, the first should there be several; none when
    // there is none.
    Error lookUp(const QString& code, std::optional<StoredEntry>* entry);
    // The codes of the entries whose code, description or SQL holds TEXT, case and accents
    // aside (FoldedSearch), in the catalogue as it is now.
    Error find(const QString& text, QSet<QString>* codes);
    // Starts bringing what find() searches up to the catalogue in the background, so that the
    // next search finds it ready; a search that comes before it is ready waits for it.
    void prepareSearch();

    // Writes ENTRY as the entry whose code is KEY, when what is there is what EXPECTED says.
    Error save(const QString& key, const Expected& expected, const StoredEntry& entry,
               ChangeOutcome* outcome);
    // Deletes the entry whose code is KEY, when it is what EXPECTED says (not Nothing).
    Error remove(const QString& key, const Expected& expected, ChangeOutcome* outcome);
    // Writes VERSION back as the entry of its code, over what EXPECTED says is there.
    Error restore(const CatalogueVersion& version, const Expected& expected,
                  ChangeOutcome* outcome);

    // The earlier versions of CODE, newest first.
    Error history(const QString& code, QList<CatalogueVersion>* versions);
    // The entries deleted and not there now, each as it was deleted, newest first.
    Error deletedEntries(QList<CatalogueVersion>* versions);

private:
    Error change(const QString& key, const Expected& expected,
                 const std::optional<StoredEntry>& entry, ChangeAction action,
                 ChangeOutcome* outcome);

    // Waits for the background search task, if one runs, and takes its index back.
    void finishSearch();

    std::unique_ptr<CatalogueTable> table_;
    std::unique_ptr<SearchIndex> search_;
    struct SearchWork;
    std::unique_ptr<SearchWork> searching_;
    QString user_;
    std::function<QDateTime()> clock_;
};

// The name an action has in the history table.
QString actionName(ChangeAction action);
std::optional<ChangeAction> actionNamed(const QString& name);

} // namespace velario::data
