// Measures the result window over a large SQLite result: from "Esegue SQL" to the rows and
// the exact count on screen, a column fitting over the rows on display, and the memory they
// take.
//
//   QT_QPA_PLATFORM=offscreen bench_result_window [rows]

#include "app/shared_state.h"
#include "catalogue/catalogue_window.h"
#include "controls/controls.h"
#include "controls/datagrid.h"
#include "platform/automation.h"
#include "results/result_window.h"

#include "process_status.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTextStream>

using namespace velario;

using bench::statusMb;

namespace {

QTextStream out(stdout);

void report(const char* what, const QElapsedTimer& timer, const QString& extra) {
    out << qSetFieldWidth(36) << Qt::left << what << qSetFieldWidth(0)
        << QString::number(double(timer.nsecsElapsed()) / 1e6, 'f', 1) << " ms   RSS "
        << statusMb("VmRSS:") << " MB, peak " << statusMb("VmHWM:") << " MB   " << extra
        << Qt::endl;
}

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    const qint64 rows = argc > 1 ? QByteArray(argv[1]).toLongLong() : 1000000;
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("bench.db"));
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), "create");
        db.setDatabaseName(path);
        if (!db.open() ||
            !QSqlQuery(db).exec("CREATE TABLE clienti (id INTEGER, nome TEXT, nota TEXT)") ||
            !QSqlQuery(db).exec(QStringLiteral("WITH RECURSIVE s(i) AS (SELECT 1 UNION ALL "
                                               "SELECT i + 1 FROM s WHERE i < %1) INSERT INTO "
                                               "clienti SELECT i, 'Cliente numero ' || i, "
                                               "printf('%.*c', i % 40, 'n') FROM s")
                                    .arg(rows))) {
            out << "cannot create " << path << Qt::endl;
            return 1;
        }
        db.close();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("create"));

    platform().setDialogs(std::make_unique<ScriptedDialogs>());
    SharedState state;
    auto* catalogue = Forms::instance().create<CatalogueWindow>(state);
    catalogue->load();
    catalogue->showModeless();
    waitIdle();
    catalogue->findChild<MemoBox*>(QStringLiteral("txtSELEZ_SQL"))
        ->setText(QStringLiteral("SELECT * FROM clienti"));
    catalogue->findChild<TextBox*>(QStringLiteral("txtDATABASE"))->setText(path);
    catalogue->findChild<TextBox*>(QStringLiteral("txtTIPO_DATABASE"))
        ->setText(QStringLiteral("MDB"));

    QElapsedTimer timer;
    timer.start();
    catalogue->findChild<CommandButton*>(QStringLiteral("cmdESEGUE_SQL"))->click();
    waitIdle();
    auto* results =
        qobject_cast<ResultWindow*>(Forms::instance().find(QStringLiteral("frmTS0003")));
    if (!results) {
        out << "the result window did not open" << Qt::endl;
        return 1;
    }
    DataGrid* grid = results->findChild<DataGrid*>(QStringLiteral("DBGrid2"));
    report("Esegue SQL to rows and count", timer,
           QStringLiteral("count '%1', %2 rows read, %3 on display")
               .arg(results->findChild<Label*>(QStringLiteral("lblNUM_REC"))->caption())
               .arg(grid->resultModel()->fetchedRows())
               .arg(grid->visibleRows()));

    timer.restart();
    results->findChild<CommandButton*>(QStringLiteral("cmdADEGUA_CAMPI"))->click();
    report("Adegua campi griglia", timer,
           QStringLiteral("widths %1, %2, %3 twips")
               .arg(grid->columnWidthTwips(0))
               .arg(grid->columnWidthTwips(1))
               .arg(grid->columnWidthTwips(2)));
    Forms::instance().clear();
    return 0;
}
