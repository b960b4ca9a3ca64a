// Twenty copies of the program at once on one catalogue, a file or a server's: each saving over
// the same entry, creating a code the others create too, creating and deleting one of its own.
// Every change lands or its user is told of the conflict, the history keeps every version
// replaced, the catalogue is sound at the end. (bench/ runs the same for a minute.)
#include "support/catalogue_load.h"
#include "support/harness.h"
#include "support/server_schema.h"

#include <QTest>

using namespace velario;

class TestCatalogueLoad : public QObject {
    Q_OBJECT

private slots:
    void twentyAtOnce_data() {
        QTest::addColumn<bool>("server");
        QTest::newRow("file") << false;
        QTest::newRow("server") << true;
    }

    void twentyAtOnce() {
        QFETCH(bool, server);
        const test::CatalogueHere here(server, {{"0S", "iniziale", "select 0", "x.db", "MDB"}});
        QVERIFY2(!here.location().startsWith("failed"), qPrintable(here.location()));
        const auto rows = [&](const QString& sql) { return here.rows(sql); };
        // Every action known, none without its time or user; a file is also checked whole.
        const QString soundHistory =
            "SELECT CASE WHEN count(*) = 0 THEN 'ok' ELSE count(*) || ' bad history rows' END "
            "FROM SELEZIONI_SQL_STORIA WHERE AZIONE NOT IN ('inserita', 'modificata', "
            "'cancellata', 'ripristinata') OR QUANDO IS NULL OR UTENTE NOT LIKE 'p%'";
        const test::CatalogueLoad load = test::loadCatalogue(
            here.location(), 20, 1, 0, rows, server ? soundHistory : "PRAGMA integrity_check");
        QVERIFY2(load.faults.isEmpty(), qPrintable(load.faults.join('\n')));
        QCOMPARE(load.runs, 20);
        QCOMPARE(load.duplicates + load.overwrites, 19);
        QCOMPARE(rows(soundHistory), QStringList{"ok"});
    }
};

QTEST_MAIN(TestCatalogueLoad)
#include "tst_catalogue_load.moc"
