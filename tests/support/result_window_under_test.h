#pragma once

// The result window opened in the test's own process the way the user opens it: the
// catalogue window with an entry on screen, then "Esegue SQL".

#include "app/shared_state.h"
#include "catalogue/catalogue_window.h"
#include "controls/controls.h"
#include "platform/automation.h"
#include "results/result_window.h"
#include "support/odbc_fixture.h"
#include "support/window_control.h"

#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QUuid>

namespace velario::test {

struct EntryOnScreen {
    QString sql;
    QString database;
    QString type = QStringLiteral("MDB");
    QString code = QStringLiteral("PROVA");
    QString description = QStringLiteral("Selezione di prova");
};

// The state the application would own: a new one for each catalogue window a test opens.
inline std::unique_ptr<SharedState>& sharedState() {
    static std::unique_ptr<SharedState> state;
    return state;
}

// The catalogue window over the catalogue at PATH, as start-up opens it, or over none (its
// list stays empty).
inline CatalogueWindow* openCatalogue(const QString& path) {
    sharedState() = std::make_unique<SharedState>();
    SharedState& state = *sharedState();
    state.PATH_DB = path;
    if (!path.isEmpty())
        state.OPEN_CATALOGUE();
    auto* window = Forms::instance().create<CatalogueWindow>(state);
    window->load();
    window->showModeless();
    waitIdle();
    return window;
}

// Fills the edit fields as if typed, without the fields' own focus handlers.
inline void putOnScreen(CatalogueWindow* catalogue, const EntryOnScreen& entry) {
    control<TextBox>(catalogue, QStringLiteral("txtCOD_SQL"))->setText(entry.code);
    control<TextBox>(catalogue, QStringLiteral("txtDESCR_SQL"))->setText(entry.description);
    control<MemoBox>(catalogue, QStringLiteral("txtSELEZ_SQL"))->setText(entry.sql);
    control<TextBox>(catalogue, QStringLiteral("txtDATABASE"))->setText(entry.database);
    control<TextBox>(catalogue, QStringLiteral("txtTIPO_DATABASE"))->setText(entry.type);
}

// Presses "Esegue SQL" and lets the result window's first activation run.
inline ResultWindow* pressRun(CatalogueWindow* catalogue) {
    control<CommandButton>(catalogue, QStringLiteral("cmdESEGUE_SQL"))->click();
    waitIdle();
    return qobject_cast<ResultWindow*>(Forms::instance().find(QStringLiteral("frmTS0003")));
}

// The catalogue window over no catalogue with ENTRY on screen, and "Esegue SQL" pressed.
inline ResultWindow* runOnScreen(const EntryOnScreen& entry) {
    CatalogueWindow* catalogue = openCatalogue({});
    putOnScreen(catalogue, entry);
    return pressRun(catalogue);
}

// What followed the catalogue window's first activation and its two pointer changes.
inline QStringList afterCatalogueOpened(const QStringList& summary) {
    return summary.mid(summary.indexOf(QStringLiteral("window:frmTS0002:activate")) + 3);
}

inline void unloadAll() {
    for (Form* form : Forms::instance().loaded())
        form->unload();
    waitIdle();
    sharedState().reset();
}

// Runs STATEMENTS on the SQLite file PATH (created when missing).
inline bool writeSqlite(const QString& path, const QStringList& statements) {
    const QString connection = QUuid::createUuid().toString();
    bool ok = true;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), connection);
        db.setDatabaseName(path);
        ok = db.open();
        for (const QString& sql : statements)
            ok = ok && QSqlQuery(db).exec(sql);
        db.close();
    }
    QSqlDatabase::removeDatabase(connection);
    return ok;
}

} // namespace velario::test
