// Twenty copies of the program (or as many as asked) at once for a minute (or as long as
// asked) on one catalogue file and on one server catalogue: each saving over one shared entry,
// creating a code the others create too, creating and deleting one of its own, started again
// as it ends. Prints what they did and every change that neither landed nor was told its user
// as a conflict, every version replaced and missing from the history, and the catalogue's
// faults at the end (none expected).
//
//   VELARIO_BIN=build/velario VELARIO_PG_PORT_FILE=DIR/port QT_QPA_PLATFORM=offscreen
//       bench_catalogue_load [seconds] [programs] [file|server|both]
//
// VELARIO_PG_PORT_FILE names the port file of a server tests/fixtures/pg-start.sh started.

#include "support/catalogue_load.h"
#include "support/harness.h"
#include "support/server_schema.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTextStream>

using namespace velario;

namespace {

QTextStream out(stdout);

const QList<QStringList> kShared{{"0S", "iniziale", "select 0", "x.db", "MDB"}};

bool report(const QString& what, const test::CatalogueLoad& load, qint64 ms) {
    out << what << ": " << load.runs << " runs in " << QString::number(double(ms) / 1000, 'f', 1)
        << " s; " << load.saves << " saves of the shared entry (" << load.conflicts
        << " told of a conflict), " << load.creations << " new entries (" << load.duplicates
        << " told the code was taken, " << load.overwrites << " written over a code listed), "
        << load.deletions << " deleted; faults: " << load.faults.size() << Qt::endl;
    for (const QString& fault : load.faults)
        out << "  " << fault << Qt::endl;
    return load.faults.isEmpty();
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    const int seconds = args.value(1, "60").toInt();
    const int programs = args.value(2, "20").toInt();
    const QString kinds = args.value(3, "both");
    if (test::programBinary().isEmpty()) {
        out << "VELARIO_BIN names no program" << Qt::endl;
        return 1;
    }
    bool sound = true;
    if (kinds != "server") {
        test::Sandbox box;
        const QString path = box.makeCatalogue("VELARIO2.db", kShared);
        QElapsedTimer timer;
        timer.start();
        const test::CatalogueLoad load = test::loadCatalogue(
            path, programs, 3, seconds,
            [&](const QString& sql) { return test::sqliteRows(path, sql); },
            "PRAGMA integrity_check");
        sound = report("SQLite file", load, timer.elapsed()) && sound;
    }
    if (kinds != "file") {
        test::ServerSchema schema;
        const QString error =
            schema.error().isEmpty() ? schema.makeCatalogue(kShared) : schema.error();
        if (!error.isEmpty()) {
            out << "no server catalogue: " << error << Qt::endl;
            return 1;
        }
        QElapsedTimer timer;
        timer.start();
        const test::CatalogueLoad load = test::loadCatalogue(
            schema.uri(), programs, 3, seconds,
            [&](const QString& sql) { return schema.rows(sql); },
            "SELECT CASE WHEN count(*) = 0 THEN 'ok' ELSE count(*) || ' bad history rows' END "
            "FROM SELEZIONI_SQL_STORIA WHERE AZIONE NOT IN ('inserita', 'modificata', "
            "'cancellata', 'ripristinata') OR QUANDO IS NULL OR UTENTE NOT LIKE 'p%'");
        sound = report("PostgreSQL server", load, timer.elapsed()) && sound;
    }
    return sound ? 0 : 1;
}
