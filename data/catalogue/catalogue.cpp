#include "data/catalogue/catalogue.h"

#include "data/catalogue/search_index.h"

#include <QStringList>

#include <algorithm>
#include <thread>

namespace velario::data {

namespace {

QString shownField(const std::optional<QString>& field) {
    return field ? field->trimmed() : QString();
}

} // namespace

CatalogueEntry StoredEntry::shown() const {
    return {shownField(code), shownField(description), shownField(sql), shownField(database),
            shownField(databaseType)};
}

StoredEntry StoredEntry::of(const CatalogueEntry& entry) {
    return {entry.code, entry.description, entry.sql, entry.database, entry.databaseType};
}

QString actionName(ChangeAction action) {
    switch (action) {
    case ChangeAction::Inserted:
        return QStringLiteral("inserita");
    case ChangeAction::Changed:
        return QStringLiteral("modificata");
    case ChangeAction::Deleted:
        return QStringLiteral("cancellata");
    case ChangeAction::Restored:
        return QStringLiteral("ripristinata");
    }
    return {};
}

std::optional<ChangeAction> actionNamed(const QString& name) {
    for (const ChangeAction action : {ChangeAction::Inserted, ChangeAction::Changed,
                                      ChangeAction::Deleted, ChangeAction::Restored})
        if (actionName(action) == name)
            return action;
    return std::nullopt;
}

struct Catalogue::SearchWork {
    std::atomic<bool> stop = false;
    std::atomic<bool> done = false;
    Error error;
    std::thread thread;
};

Catalogue::Catalogue(std::unique_ptr<CatalogueTable> table)
    : table_(std::move(table)), search_(std::make_unique<SearchIndex>()),
      clock_([] { return QDateTime(); }) {}

Catalogue::~Catalogue() {
    if (searching_) {
        searching_->stop = true;
        searching_->thread.join();
    }
}

void Catalogue::setAuthor(QString user, std::function<QDateTime()> clock) {
    user_ = std::move(user);
    clock_ = std::move(clock);
}

Error Catalogue::lookUp(const QString& code, std::optional<StoredEntry>* entry) {
    std::optional<TableRow> row;
    const Error error = table_->firstRow(code, &row);
    if (!error && entry)
        *entry = row ? std::optional(row->entry) : std::nullopt;
    return error;
}

void Catalogue::prepareSearch() {
    if (searching_ && !searching_->done)
        return;
    finishSearch();
    CatalogueTable::SearchTask task = table_->searchTask(*search_);
    if (!task)
        return;
    searching_ = std::make_unique<SearchWork>();
    searching_->thread =
        std::thread([work = searching_.get(), index = search_.get(), task = std::move(task)] {
            work->error = task(*index, work->stop);
            if (!work->error && !work->stop)
                index->pack();
            work->done = true;
        });
}

void Catalogue::finishSearch() {
    if (!searching_)
        return;
    searching_->thread.join();
    // What failed there is read again here, where its error reaches the user.
    if (searching_->error)
        search_->clear();
    searching_.reset();
}

Error Catalogue::find(const QString& text, QSet<QString>* codes) {
    finishSearch();
    if (Error e = table_->refreshSearch(*search_)) {
        search_->clear();
        return e;
    }
    if (codes)
        *codes = search_->find(FoldedSearch(text));
    return {};
}

Error Catalogue::save(const QString& key, const Expected& expected, const StoredEntry& entry,
                      ChangeOutcome* outcome) {
    return change(key, expected, entry, ChangeAction::Changed, outcome);
}

Error Catalogue::remove(const QString& key, const Expected& expected, ChangeOutcome* outcome) {
    return change(key, expected, std::nullopt, ChangeAction::Deleted, outcome);
}

Error Catalogue::restore(const CatalogueVersion& version, const Expected& expected,
                         ChangeOutcome* outcome) {
    return change(version.entry.code.value_or(QString()), expected, version.entry,
                  ChangeAction::Restored, outcome);
}

Error Catalogue::change(const QString& key, const Expected& expected,
                        const std::optional<StoredEntry>& entry, ChangeAction action,
                        ChangeOutcome* outcome) {
    if (Error e = table_->readOnly())
        return e;
    ChangeOutcome result;
    const QDateTime when = clock_().toUTC();
    const Error error = table_->inWriteTransaction([&]() -> Error {
        if (Error e = table_->ensureHistory())
            return e;
        // Every code the change touches, locked in one order so that two changes never wait
        // for each other.
        QStringList codes{key};
        const std::optional<QString> newCode = entry ? entry->code : std::nullopt;
        if (newCode && *newCode != key)
            codes << *newCode;
        codes.sort();
        for (const QString& code : codes)
            if (Error e = table_->lockCode(code))
                return e;
        std::optional<TableRow> row;
        if (Error e = table_->firstRow(key, &row))
            return e;
        const auto found = [&](ChangeOutcome::Kind kind) {
            result = {kind, row ? std::optional(row->entry) : std::nullopt};
            return Error();
        };
        switch (expected.kind) {
        case Expected::Nothing:
            if (row)
                return found(ChangeOutcome::Exists);
            break;
        case Expected::Version:
            if (!row)
                return found(ChangeOutcome::Deleted);
            if (row->entry != expected.version)
                return found(ChangeOutcome::Changed);
            break;
        case Expected::Anything:
            break;
        }
        // A code changed to one that another entry has: codes name entries.
        if (newCode && *newCode != key) {
            std::optional<TableRow> taken;
            if (Error e = table_->firstRow(*newCode, &taken))
                return e;
            if (taken) {
                row = taken;
                return found(ChangeOutcome::Exists);
            }
        }
        bool done = true;
        if (!entry) {
            if (!row)
                return {};
            if (Error e = table_->remove(*row, &done))
                return e;
        } else if (row) {
            if (Error e = table_->update(*row, *entry, &done))
                return e;
        } else {
            if (Error e = table_->insert(*entry))
                return e;
        }
        // The row changed between its reading and the write: a writer that does not lock.
        if (!done) {
            if (Error e = table_->firstRow(key, &row))
                return e;
            return found(row ? ChangeOutcome::Changed : ChangeOutcome::Deleted);
        }
        if (!row)
            return table_->addHistory(newCode.value_or(key), std::nullopt, ChangeAction::Inserted,
                                      when, user_);
        return table_->addHistory(key, row->entry, action, when, user_);
    });
    if (outcome)
        *outcome = error ? ChangeOutcome() : result;
    return error;
}

Error Catalogue::history(const QString& code, QList<CatalogueVersion>* versions) {
    return table_->readHistory(code, versions);
}

Error Catalogue::deletedEntries(QList<CatalogueVersion>* versions) {
    return table_->readHistory(std::nullopt, versions);
}

} // namespace velario::data
