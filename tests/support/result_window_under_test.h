#pragma once

// The result window opened in the test's own process the way the user opens it: the
// catalogue window with an entry on screen, then "Esegue SQL".

#include "app/shared_state.h"
#include "catalogue/catalogue_window.h"
#include "controls/controls.h"
#include "platform/automation.h"
#include "results/result_window.h"
#include "support/odbc_fixture.h"

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
    catalogue->txtCOD_SQL->setText(entry.code);
    catalogue->txtDESCR_SQL->setText(entry.description);
    catalogue->txtSELEZ_SQL->setText(entry.sql);
    catalogue->txtDATABASE->setText(entry.database);
    catalogue->txtTIPO_DATABASE->setText(entry.type);
}

// A control of WINDOW by the name the automation and the user know it by.
template <typename Control>
Control* control(const QWidget* window, const QString& name) {
    return window->findChild<Control*>(name);
}

// Presses "Esegue SQL" and lets the result window's first activation run.
inline ResultWindow* pressRun(CatalogueWindow* catalogue) {
    catalogue->cmdESEGUE_SQL->click();
    waitIdle();
    return qobject_cast<ResultWindow*>(Forms::instance().find(QStringLiteral("frmTS0003")));
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

// A folder for the data files, the test PostgreSQL and MariaDB servers ctest started, and
// the ODBC data sources the tests reach.
struct ResultWindowData {
    QTemporaryDir dir;
    std::optional<TestServer> server;
    std::optional<TestServer> mariadb;
    std::unique_ptr<OdbcEnvironment> odbc;

    // Writes STATEMENTS to the SQLite file FILE in the folder, then sets up SOURCES and
    // POSTGRESDSN (and MARIADBDSN when given) on the servers. What went wrong, or an empty
    // string: a server that is not running is an error.
    QString start(const QString& file, const QStringList& statements, QList<OdbcDataSource> sources,
                  const QString& postgresDsn, const QString& mariadbDsn = {}) {
        if (!dir.isValid() || !writeSqlite(dir.filePath(file), statements))
            return QStringLiteral("cannot write ") + dir.filePath(file);
        QString error;
        if ((server = postgresTestServer(&error)) && !mariadbDsn.isEmpty())
            mariadb = mariadbTestServer(&error);
        if (!server || (!mariadbDsn.isEmpty() && !mariadb))
            return error.isEmpty() ? QStringLiteral("no test server: run through ctest") : error;
        sources << postgresDataSource(postgresDsn, server->port);
        if (mariadb)
            sources << mariadbDataSource(mariadbDsn, mariadb->port);
        odbc = std::make_unique<OdbcEnvironment>(sources);
        return odbc->isValid() ? QString() : odbc->errorString();
    }
};

} // namespace velario::test
