// Measures how a large SQLite result reaches the grid: the first rows on screen, the exact
// count, a walk over every cell, and the memory all of that takes.
//
//   QT_QPA_PLATFORM=offscreen bench_grid [rows] [file] [--odbc [--step-api]]
//
// With --odbc the same table is read through the SQLite ODBC driver (a private data source
// on the same file) instead of the SQLite engine: first rows, exact count, walk.

#include "controls/datagrid.h"
#include "data/odbc/odbc.h"
#include "data/sqlite/database.h"
#include "support/odbc_fixture.h"

#include "process_status.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QRandomGenerator>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTextStream>

using namespace velario;
using namespace velario::data;

using bench::statusKb;

namespace {

QTextStream out(stdout);

void report(const char* what, double ms, const QString& extra = {}) {
    out << qSetFieldWidth(44) << Qt::left << what << qSetFieldWidth(0)
        << QString::number(ms, 'f', 1) << " ms"
        << "   RSS " << statusKb("VmRSS:") / 1024 << " MB, peak " << statusKb("VmHWM:") / 1024
        << " MB" << (extra.isEmpty() ? QString() : QStringLiteral("   ") + extra) << Qt::endl;
}

// Counts cells and bytes without keeping them: the engine's own reading speed.
struct CountingSink : RowSink {
    qint64 rows = 0;
    qint64 bytes = 0;
    void beginRow() override {}
    void cell(const char*, qsizetype length) override { bytes += length; }
    void nullCell() override {}
    void endRow() override { ++rows; }
};

std::unique_ptr<Database> openOrDie(const QString& path) {
    Error error;
    auto db = Database::open(path, false, &error);
    if (!db) {
        out << "cannot open " << path << ": " << error.description << Qt::endl;
        std::exit(1);
    }
    return db;
}

std::unique_ptr<ResultSource> runOrDie(Database& db, const QString& sql) {
    Error error;
    auto result = db.execute(sql, &error);
    if (!result) {
        out << "statement failed: " << error.description << Qt::endl;
        std::exit(1);
    }
    return result;
}

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QStringList args = app.arguments();
    const bool viaOdbc = args.removeAll(QStringLiteral("--odbc")) > 0;
    // StepAPI=1 on the data source itself; without it the program asks the SQLite ODBC driver
    // to step when it connects, and the two should measure alike.
    const bool stepApi = args.removeAll(QStringLiteral("--step-api")) > 0;
    const qint64 rows = args.size() > 1 ? args[1].toLongLong() : 1000000;
    QTemporaryDir dir;
    const QString path = args.size() > 2 ? args[2] : dir.filePath(QStringLiteral("bench.db"));
    const QString sql = QStringLiteral("SELECT * FROM clienti");

    if (!QFile::exists(path)) {
        {
            // Opening never creates a file: the Qt driver does.
            QSqlDatabase creator = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), "create");
            creator.setDatabaseName(path);
            if (!creator.open() || !QSqlQuery(creator).exec("PRAGMA user_version = 1")) {
                out << "cannot create " << path << Qt::endl;
                return 1;
            }
            creator.close();
        }
        QSqlDatabase::removeDatabase(QStringLiteral("create"));
        QElapsedTimer timer;
        timer.start();
        auto db = openOrDie(path);
        runOrDie(*db, QStringLiteral("CREATE TABLE clienti (id INTEGER PRIMARY KEY, codice TEXT, "
                                     "nome TEXT, importo REAL, nota TEXT)"));
        runOrDie(*db, QStringLiteral("WITH RECURSIVE s(i) AS (SELECT 1 UNION ALL SELECT i + 1 "
                                     "FROM s WHERE i < %1) INSERT INTO clienti SELECT i, "
                                     "printf('C%08d', i), 'Cliente numero ' || i, i * 1.25, "
                                     "CASE WHEN i % 7 = 0 THEN NULL ELSE 'nota ' || (i % 100) "
                                     "END FROM s")
                          .arg(rows));
        report("generate table", double(timer.nsecsElapsed()) / 1e6,
               QStringLiteral("%1 rows x 5 columns, %2 MB file")
                   .arg(rows)
                   .arg(QFileInfo(path).size() / (1024 * 1024)));
    }
    report("start", 0);

    QWidget window;
    window.resize(1000, 700);
    DataGrid grid(QStringLiteral("grid"), &window);
    grid.setGeometry(0, 0, 1000, 700);
    window.show();
    QCoreApplication::processEvents();

    if (viaOdbc) {
        QList<QPair<QString, QString>> extra;
        if (stepApi)
            extra.append({QStringLiteral("StepAPI"), QStringLiteral("1")});
        test::OdbcEnvironment env({test::sqliteDataSource(QStringLiteral("BENCH"), path, extra)});
        if (!env.isValid()) {
            out << "no ODBC: " << env.errorString() << Qt::endl;
            return 1;
        }
        QElapsedTimer timer;
        timer.start();
        Error error;
        auto connection = OdbcConnection::connect(QStringLiteral("BENCH"), &error);
        auto result = connection ? connection->execute(sql, &error) : nullptr;
        if (!result) {
            out << "ODBC failed: " << error.description << Qt::endl;
            return 1;
        }
        grid.setResult(std::move(result));
        grid.viewport()->repaint();
        QCoreApplication::processEvents();
        report("ODBC: first rows shown in the grid", double(timer.nsecsElapsed()) / 1e6,
               QStringLiteral("%1 rows read").arg(grid.resultModel()->fetchedRows()));
        timer.restart();
        const int count = grid.approxCount();
        report("ODBC: exact count (approxCount)", double(timer.nsecsElapsed()) / 1e6,
               QStringLiteral("%1 rows").arg(count));
        timer.restart();
        auto walk = connection->execute(sql, &error);
        CountingSink sink;
        while (walk && walk->fetch(4096, sink) > 0) {
        }
        report("ODBC: walk (no rows kept)", double(timer.nsecsElapsed()) / 1e6,
               QStringLiteral("%1 rows").arg(sink.rows));
        return 0;
    }

    QElapsedTimer timer;
    timer.start();
    auto db = openOrDie(path);
    grid.setResult(runOrDie(*db, sql));
    grid.viewport()->repaint();
    QCoreApplication::processEvents();
    report("first rows shown in the grid", double(timer.nsecsElapsed()) / 1e6,
           QStringLiteral("%1 rows read, %2 on display, first cell '%3'")
               .arg(grid.resultModel()->fetchedRows())
               .arg(grid.visibleRows())
               .arg(grid.cellText(0, 1)));

    timer.restart();
    const int count = grid.approxCount();
    report("exact count (approxCount)", double(timer.nsecsElapsed()) / 1e6,
           QStringLiteral("%1 rows").arg(count));

    timer.restart();
    {
        auto result = runOrDie(*db, sql);
        CountingSink sink;
        while (result->fetch(4096, sink) > 0) {
        }
        report("walk, engine only (no rows kept)", double(timer.nsecsElapsed()) / 1e6,
               QStringLiteral("%1 rows, %2 MB of text").arg(sink.rows).arg(sink.bytes >> 20));
    }

    timer.restart();
    {
        // Qt's own SQLite driver on the same file, for comparison.
        QSqlDatabase qt = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), "qt");
        qt.setDatabaseName(path);
        qt.open();
        QSqlQuery query(qt);
        query.setForwardOnly(true);
        query.exec(sql);
        qint64 seen = 0;
        qint64 chars = 0;
        while (query.next()) {
            for (int c = 0; c < 5; ++c)
                chars += query.value(c).toString().size();
            ++seen;
        }
        report("walk, Qt query layer (for comparison)", double(timer.nsecsElapsed()) / 1e6,
               QStringLiteral("%1 rows").arg(seen));
    }

    timer.restart();
    qint64 chars = 0;
    const qint64 total = grid.resultRowCount();
    for (qint64 r = 0; r < total; ++r)
        for (int c = 0; c < grid.columnCount(); ++c)
            chars += grid.cellText(r, c).size();
    report("walk through the grid (cellText)", double(timer.nsecsElapsed()) / 1e6,
           QStringLiteral("%1 rows, %2 k characters, %3 MB held by the grid")
               .arg(total)
               .arg(chars / 1000)
               .arg(grid.resultModel()->store().bytesHeld() >> 20));

    timer.restart();
    grid.scrollToBottom();
    grid.viewport()->repaint();
    QCoreApplication::processEvents();
    report("scroll to the last row and paint", double(timer.nsecsElapsed()) / 1e6,
           QStringLiteral("first row on display %1").arg(grid.firstVisibleRow()));

    // Past the grid's memory budget the first rows are back in the temporary file by now.
    timer.restart();
    chars = 0;
    for (qint64 r = 0; r < total; ++r)
        for (int c = 0; c < grid.columnCount(); ++c)
            chars += grid.cellText(r, c).size();
    report("walk again from the first row", double(timer.nsecsElapsed()) / 1e6,
           QStringLiteral("%1 k characters, %2 MB held by the grid")
               .arg(chars / 1000)
               .arg(grid.resultModel()->store().bytesHeld() >> 20));

    // A view jumping about: a screenful of rows at each of 1000 places.
    timer.restart();
    QRandomGenerator random(1);
    chars = 0;
    for (int jump = 0; jump < 1000; ++jump) {
        const qint64 first = random.bounded(total);
        for (qint64 r = first; r < std::min(first + 35, total); ++r)
            for (int c = 0; c < grid.columnCount(); ++c)
                chars += grid.cellText(r, c).size();
    }
    report("1000 screenfuls at random rows", double(timer.nsecsElapsed()) / 1e6,
           QStringLiteral("%1 k characters").arg(chars / 1000));
    return 0;
}
