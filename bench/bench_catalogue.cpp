// Measures the catalogue window on large catalogues and long SQL texts: moving between
// entries, saving and printing the query sheet with SQL texts of several megabytes (one line,
// or many lines), the catalogue list report with and without an index on the code, and the
// search of the list (Ctrl+F, F3) through codes, descriptions and SQL texts of 60 bytes and
// of 2 KB.
//
//   QT_QPA_PLATFORM=offscreen bench_catalogue [sql-megabytes] [entries...]
//
// Defaults: 10 MB of SQL, list reports and searches of 10000 and 100000 entries; 0 leaves a
// part out.

#include "app/shared_state.h"
#include "catalogue/catalogue_window.h"
#include "controls/controls.h"
#include "controls/datagrid.h"
#include "controls/datasource.h"
#include "platform/automation.h"
#include "print/printer.h"
#include "support/result_window_under_test.h"

#include "process_status.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QKeyEvent>
#include <QTemporaryDir>
#include <QTextStream>

#include <ctime>

using namespace velario;

using bench::statusMb;
using velario::test::openCatalogue;

namespace {

QTextStream out(stdout);

struct Spent {
    qint64 wall = 0;
    qint64 cpu = 0; // of the main thread: on a busy machine the steadier of the two
};

qint64 threadCpu() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return qint64(now.tv_sec) * 1000000000 + now.tv_nsec;
}

void report(const QString& what, Spent spent) {
    out << qSetFieldWidth(58) << Qt::left << what << qSetFieldWidth(0)
        << QString::number(double(spent.wall) / 1e9, 'f', 3) << " s (main thread "
        << QString::number(double(spent.cpu) / 1e9, 'f', 3) << " s)   peak " << statusMb("VmHWM:")
        << " MB" << Qt::endl;
}

// A catalogue at PATH made by STATEMENTS after the table (and its index when INDEXED).
bool makeCatalogue(const QString& path, bool indexed, const QStringList& statements) {
    QStringList all{"CREATE TABLE SELEZIONI_SQL (CODICE VARCHAR(15), DESCRIZIONE VARCHAR(45), "
                    "SQL TEXT, Database VARCHAR(80), Tipo_Database VARCHAR(5))"};
    if (indexed)
        all << "CREATE INDEX SELEZIONI_SQL_CODICE ON SELEZIONI_SQL(CODICE)";
    all << "BEGIN" << statements << "COMMIT";
    const bool ok = velario::test::writeSqlite(path, all);
    if (!ok)
        out << "cannot create " << path << Qt::endl;
    return ok;
}

template <typename Step>
Spent timed(Step step) {
    QElapsedTimer timer;
    timer.start();
    const qint64 cpu = threadCpu();
    step();
    waitIdle();
    return {timer.nsecsElapsed(), threadCpu() - cpu};
}

void longTexts(const QString& folder, int megabytes) {
    const qint64 size = qint64(megabytes) * 1000 * 1000;
    const QString path = QDir(folder).filePath(QStringLiteral("long.db"));
    // A: one line; B, D: short; C: lines of 80 characters.
    const QString oneLine =
        QStringLiteral("'SELECT ' || replace(hex(zeroblob(%1)), '00', 'x1') || ' FROM t'")
            .arg(size / 4);
    const QString manyLines =
        QStringLiteral(
            "(WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < %1) "
            "SELECT group_concat(printf('SELECT %%070d FROM t', i), char(10)) FROM n)")
            .arg(size / 81);
    if (!makeCatalogue(path, true,
                       {"INSERT INTO SELEZIONI_SQL VALUES ('A', 'Una riga', " + oneLine +
                            ", '/dati/a.db', 'MDB')",
                        "INSERT INTO SELEZIONI_SQL VALUES ('B', 'Breve', 'SELECT 1', "
                        "'/dati/b.db', 'MDB')",
                        "INSERT INTO SELEZIONI_SQL VALUES ('C', 'Molte righe', " + manyLines +
                            ", '/dati/c.db', 'MDB')",
                        "INSERT INTO SELEZIONI_SQL VALUES ('D', 'Breve', 'SELECT 2', "
                        "'/dati/d.db', 'MDB')"}))
        return;
    Printer::instance().setPdfFolder(folder);
    CatalogueWindow* window = nullptr;
    report(QStringLiteral("open on %1 MB in one line").arg(megabytes),
           timed([&] { window = openCatalogue(path); }));
    const auto move = [&](int row, const char* what) {
        report(QStringLiteral("move to %1").arg(QLatin1String(what)),
               timed([&] { window->DBGrid1->automationRow(row); }));
    };
    move(1, "short, from one line");
    move(2, "many lines, from short");
    move(3, "short, from many lines");
    move(0, "one line, from short");
    move(2, "many lines, from one line");
    move(0, "one line, from many lines");
    report(QStringLiteral("save, %1 MB in one line").arg(megabytes),
           timed([&] { window->cmdAGGIORNA->click(); }));
    report(QStringLiteral("query sheet, %1 MB in one line").arg(megabytes),
           timed([&] { window->cmdSTAMPA_SQL->click(); }));
    window->DBGrid1->automationRow(2);
    report(QStringLiteral("save, %1 MB in lines of 80").arg(megabytes),
           timed([&] { window->cmdAGGIORNA->click(); }));
    report(QStringLiteral("query sheet, %1 MB in lines of 80").arg(megabytes),
           timed([&] { window->cmdSTAMPA_SQL->click(); }));
    velario::test::unloadAll();
}

void listReport(const QString& folder, int entries, bool indexed) {
    const QString path =
        QDir(folder).filePath(QStringLiteral("list-%1-%2.db").arg(entries).arg(indexed));
    if (!makeCatalogue(
            path, indexed,
            {QStringLiteral(
                 "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < %1) "
                 "INSERT INTO SELEZIONI_SQL SELECT printf('Q%06d', i), printf('Selezione numero "
                 "%d', i), printf('select * from clienti where codice = %d order by nome', i), "
                 "printf('/dati/archivio%d.db', i % 10), 'MDB' FROM n")
                 .arg(entries)}))
        return;
    Printer::instance().setPdfFolder(folder);
    CatalogueWindow* window = nullptr;
    const QString what = indexed ? QStringLiteral("with") : QStringLiteral("without");
    report(QStringLiteral("open on %1 entries, %2 index").arg(entries).arg(what),
           timed([&] { window = openCatalogue(path); }));
    report(QStringLiteral("list report of %1 entries, %2 index").arg(entries).arg(what),
           timed([&] { window->cmdSTAMPA_Elenco_SQL->click(); }));
    velario::test::unloadAll();
}

// Ctrl+F, F3 to each of the other entries that hold the text, and a text found nowhere, on a
// catalogue of ENTRIES entries whose SQL texts are about SQLBYTES long; one entry in 1000
// holds the text, only in its SQL, with accents where the text has none.
void search(const QString& folder, int entries, int sqlBytes) {
    const QString path =
        QDir(folder).filePath(QStringLiteral("find-%1-%2.db").arg(entries).arg(sqlBytes));
    const QString filler =
        QStringLiteral("replace(hex(zeroblob(%1)), '00', ' AND x = 1')").arg(sqlBytes / 10);
    if (!makeCatalogue(
            path, true,
            {QStringLiteral(
                 "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < %1) "
                 "INSERT INTO SELEZIONI_SQL SELECT printf('Q%06d', i), printf('Selezione numero "
                 "%d', i), printf('select * from clienti where codice = %d', i) || %2 || "
                 "CASE WHEN i % 1000 = 999 THEN ' and città = ''Forlì''' ELSE '' END, "
                 "'/dati/archivio.db', 'MDB' FROM n")
                 .arg(entries)
                 .arg(filler)}))
        return;
    CatalogueWindow* window = openCatalogue(path);
    auto& dialogs = static_cast<ScriptedDialogs&>(platform().dialogs());
    const auto press = [&](QKeyCombination key) {
        QKeyEvent down(QEvent::KeyPress, key.key(), key.keyboardModifiers());
        QApplication::sendEvent(window->DBGrid1, &down);
        QKeyEvent up(QEvent::KeyRelease, key.key(), key.keyboardModifiers());
        QApplication::sendEvent(window->DBGrid1, &up);
    };
    const QString size = QStringLiteral("%1 entries, SQL of %2 bytes").arg(entries).arg(sqlBytes);
    const auto find = [&](const QString& text, const char* what) {
        dialogs.queueReply(text);
        const Spent spent = timed([&] { press(Qt::CTRL | Qt::Key_F); });
        report(QStringLiteral("find %1, %2").arg(QLatin1String(what), size), spent);
        out << "    now on row " << window->DBGrid1->currentResultRow() << Qt::endl;
    };
    find(QStringLiteral("CITTA = 'FORLI'"), "in the SQL of one entry in 1000");
    const Spent again = timed([&] {
        for (int i = 0; i < 9; ++i)
            press(Qt::Key_F3);
    });
    report(QStringLiteral("F3, each of 9, %1").arg(size), {again.wall / 9, again.cpu / 9});
    out << "    now on row " << window->DBGrid1->currentResultRow() << Qt::endl;
    find(QStringLiteral("nowhere at all"), "a text found nowhere");
    velario::test::unloadAll();
}

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    const int megabytes = argc > 1 ? QByteArray(argv[1]).toInt() : 10;
    QList<int> sizes;
    for (int i = 2; i < argc; ++i)
        sizes << QByteArray(argv[i]).toInt();
    if (sizes.isEmpty())
        sizes = {10000, 100000};
    QTemporaryDir dir;
    platform().setDialogs(std::make_unique<ScriptedDialogs>());
    if (megabytes > 0)
        longTexts(dir.path(), megabytes);
    for (const int entries : sizes)
        for (const bool indexed : {true, false})
            if (entries > 0)
                listReport(dir.path(), entries, indexed);
    for (const int entries : sizes)
        for (const int sqlBytes : {60, 2000})
            if (entries > 0)
                search(dir.path(), entries, sqlBytes);
    return 0;
}
