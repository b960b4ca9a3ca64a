#include "data/datagrid.h"
#include "data/odbc.h"
#include "platform/platform.h"
#include "result_window_session.h"
#include "support/harness.h"
#include "support/odbc_fixture.h"

#include <QHeaderView>
#include <QTemporaryDir>
#include <QTest>

using namespace velario;

namespace {

const QString kPostgresDsn = QStringLiteral("velario-colonne-pg");
const QStringList kFitted{"pointer:11", "beep", "pointer:0"};
constexpr int kUntouched = -1;

// A result whose columns are headed by CAPTIONS and whose rows hold cells of the lengths in
// ROWS ("9,11,29,39" per row: "12" is twelve letters, "_3" three blanks); no rows gives an
// empty result with the same columns.
QString resultSql(const QStringList& captions, const QStringList& rows) {
    const auto select = [&](const QStringList& cells) {
        QStringList items;
        for (qsizetype c = 0; c < captions.size(); ++c)
            items << QStringLiteral("'%1' AS \"%2\"")
                         .arg(cells.value(c).startsWith('_') ? QString(cells[c].mid(1).toInt(), ' ')
                                                             : QString(cells.value(c).toInt(), 'x'),
                              captions[c]);
        return QStringLiteral("SELECT ") + items.join(", ");
    };
    if (rows.isEmpty())
        return select({}) + QStringLiteral(" WHERE 0");
    QStringList selects;
    for (const QString& row : rows)
        selects << select(row.split(','));
    return selects.join(QStringLiteral(" UNION ALL "));
}

CommandButton* button(FrmTS0003* results, const QString& name) {
    return name == "aumenta"      ? results->cmdAUMENTA_CAMPI
           : name == "diminuisce" ? results->cmdDIMINUISCE_CAMPI
                                  : results->cmdADEGUA_CAMPI;
}

} // namespace

class TestColumnFitting : public QObject {
    Q_OBJECT

    velario::test::ResultWindowData data_;
    FrmTS0002* catalogue_ = nullptr;

    FrmTS0003* open(const QString& sql, const QString& type = QStringLiteral("MDB"),
                    const QString& database = {}) {
        catalogue_ = velario::test::showCatalogue();
        velario::test::putOnScreen(
            catalogue_, {sql, database.isEmpty() ? data_.dir.filePath("dati.db") : database, type});
        return velario::test::pressRun(catalogue_);
    }

private slots:
    void initTestCase() {
        const QString error = data_.start("dati.db", {"CREATE TABLE t (x)"}, {}, kPostgresDsn);
        QVERIFY2(error.isEmpty(), qPrintable(error));
    }

    void cleanup() { velario::test::unloadAll(); }

    // Results built so that their columns measure the given widths; the widths applied to
    // the grid, in twips, and the order they were applied in.
    void fitting_data() {
        QTest::addColumn<QStringList>("captions");
        QTest::addColumn<QStringList>("rows");
        QTest::addColumn<QString>("type");   // on screen when the button is pressed
        QTest::addColumn<QString>("target"); // lblDIM_MAX before
        QTest::addColumn<QString>("button");
        QTest::addColumn<QString>("label"); // lblDIM_MAX after
        QTest::addColumn<QList<int>>("twips");
        QTest::addColumn<QList<int>>("order"); // empty: not looked at
        QTest::addColumn<QStringList>("events");
        const auto row = [](const char* name, const QStringList& captions, const QStringList& rows,
                            const char* target, const char* button, const char* label,
                            const QList<int>& twips, const QStringList& events = kFitted,
                            const char* type = "MDB", const QList<int>& order = {}) {
            QTest::newRow(name) << captions << rows << QString(type) << QString(target)
                                << QString(button) << QString(label) << twips << order << events;
        };
        const QStringList abcd{"a", "b", "c", "d"};
        const QStringList wide = QStringList(3, "9,11,29,39"); // 10, 12, 30, 40
        const QStringList ab{"a", "b"};
        const QStringList thirtyTen = QStringList(3, "29,9"); // 30, 10
        const QList<int> untouched(4, kUntouched);

        row("10 12 30 40 to 100", abcd, wide, "100", "adegua", "100", {1000, 1200, 3300, 4300},
            kFitted, "MDB", {3, 2, 1, 0});
        row("14-character caption", {"Codice cliente"}, {"5", "8"}, "100", "adegua", "100", {1500});
        row("blank caption and cells", {" ", "a"}, {"_3,4", "0,4"}, "100", "adegua", "100",
            {0, 500});
        row("one longer than the width", {" "}, {"2", "3", "4"}, "100", "adegua", "100", {500});
        // The measured total leaves 16 bits in the last row: its last column still counts.
        row("totals past 16 bits", {"a", "b", "c"},
            {"10000,10000,1", "10000,10000,1", "10000,10000,13"}, "100", "adegua", "100",
            {4300, 4300, 1400});
        row("width above 327", ab, QStringList(3, "400,4"), "400", "adegua", "400",
            {kUntouched, kUntouched});
        row("Aumenta from 100", abcd, wide, "100", "aumenta", "120", {1000, 1200, 4300, 5300});
        row("Diminuisce from 25", ab, thirtyTen, "25", "diminuisce", "5", {1500, 1000});
        row("Diminuisce at 5", ab, thirtyTen, "5", "diminuisce", "5", {1500, 1000});
        row("Diminuisce from 20: 0 fits with 100", ab, thirtyTen, "20", "diminuisce", "0",
            {8700, 1000});
        row("Diminuisce from 10", ab, thirtyTen, "10", "diminuisce", "-10", {8700, 1000});
        row("no rows", abcd, {}, "100", "adegua", "100", untouched, {"beep"});
        row("mdb now: the empty ODBC grid", abcd, wide, "100", "adegua", "100", untouched, {"beep"},
            "mdb");
        // 60 columns of 5 to 14 letters: all narrower than 16, so left as measured.
        QStringList captions, cells;
        QList<int> twips;
        for (int c = 0; c < 60; ++c) {
            captions << QStringLiteral("c%1").arg(c);
            cells << QString::number(5 + c % 10);
            twips << (c < 51 ? (6 + c % 10) * 100 : kUntouched);
        }
        row("60 columns: the first 51 fitted", captions, QStringList(2, cells.join(',')), "100",
            "adegua", "100", twips);
    }

    void fitting() {
        QFETCH(QStringList, captions);
        QFETCH(QStringList, rows);
        QFETCH(QString, type);
        QFETCH(QString, target);
        QFETCH(QString, button);
        QFETCH(QString, label);
        QFETCH(QList<int>, twips);
        QFETCH(QList<int>, order);
        QFETCH(QStringList, events);

        velario::test::InProcess capture;
        FrmTS0003* results = open(resultSql(captions, rows));
        QVERIFY(results);
        data::DataGrid* grid = results->DBGrid2;
        QCOMPARE(grid->columnCount(), captions.size());
        QCOMPARE(grid->approxCount(), rows.size());
        QVERIFY(grid->visibleRows() >= rows.size());
        QList<double> before;
        for (int c = 0; c < grid->columnCount(); ++c)
            before << grid->columnWidthTwips(c);
        QList<int> applied;
        connect(grid->horizontalHeader(), &QHeaderView::sectionResized, this,
                [&](int column) { applied << column; });

        catalogue_->txtTIPO_DATABASE->setText(type);
        results->lblDIM_MAX->setCaption(target);
        const qsizetype mark = capture.summary().size();
        ::button(results, button)->click();

        QCOMPARE(capture.summary().mid(mark), events);
        QCOMPARE(results->lblDIM_MAX->caption(), label);
        for (int c = 0; c < grid->columnCount(); ++c) {
            const double expected = twips[c] == kUntouched ? before[c] : twips[c];
            QVERIFY2(grid->columnWidthTwips(c) == expected,
                     qPrintable(QStringLiteral("column %1: %2 twips, expected %3")
                                    .arg(c)
                                    .arg(grid->columnWidthTwips(c))
                                    .arg(expected)));
        }
        if (!order.isEmpty())
            QCOMPARE(applied, order);
        QCOMPARE(platform().mousePointer(), 0);
    }

    // The row count says 3 while the grid shows many more rows: rows 0 to 3 are measured.
    // The statement gives 300 rows when it runs and 3 when it runs again to be counted: a
    // setting of the session, which a read-only transaction may still change, counts the runs.
    void countedRowsAndOne() {
        const QString sql =
            QStringLiteral("SELECT CASE WHEN g = 4 THEN '%1' WHEN g = 5 THEN '%2' ELSE 'xx' END "
                           "AS v FROM generate_series(1, CASE WHEN set_config('velario.runs', "
                           "coalesce(nullif(current_setting('velario.runs', true), ''), 'x') || "
                           "'x', false) = 'xx' THEN 300 ELSE 3 END) AS g ORDER BY g")
                .arg(QString(9, 'x'), QString(19, 'x'));
        FrmTS0003* results = open(sql, "ODBC", kPostgresDsn);
        QVERIFY(results);
        data::DataGrid* grid = results->DBGrid1;
        QCOMPARE(grid->approxCount(), 3);
        QCOMPARE(results->lblNUM_REC->caption(), QStringLiteral("       3"));
        QVERIFY(grid->visibleRows() > 5);
        results->cmdADEGUA_CAMPI->click();
        QCOMPARE(grid->columnWidthTwips(0), 1000.0);
    }

    // While the measurement lets events run, a click on a button that starts a fitting does
    // nothing; the measurement says so.
    void busyButtons_data() {
        QTest::addColumn<QString>("button");
        QTest::newRow("Adegua") << "adegua";
        QTest::newRow("Aumenta") << "aumenta";
        QTest::newRow("Diminuisce") << "diminuisce";
    }

    void busyButtons() {
        QFETCH(QString, button);
        velario::test::InProcess capture;
        FrmTS0003* results = open(resultSql({"a", "b"}, QStringList(3, "29,9")));
        QVERIFY(results);
        CommandButton* other = ::button(results, button);
        bool clicked = false;
        QMetaObject::invokeMethod(
            results,
            [&] {
                other->click();
                clicked = true;
            },
            Qt::QueuedConnection);
        const qsizetype mark = capture.summary().size();
        results->cmdADEGUA_CAMPI->click();
        QVERIFY(clicked);
        QCOMPARE(capture.summary().mid(mark), kFitted);
        QCOMPARE(results->lblDIM_MAX->caption(), QStringLiteral("100"));
        QCOMPARE(results->DBGrid2->columnWidthTwips(0), 8700.0);
    }

    // Closing the window while its columns are measured ends the fitting there.
    void closedWhileMeasuring() {
        velario::test::InProcess capture;
        FrmTS0003* results = open(resultSql({"a"}, QStringList(8, "9")));
        QVERIFY(results);
        QMetaObject::invokeMethod(
            results, [results] { results->cmdESCI->click(); }, Qt::QueuedConnection);
        const qsizetype mark = capture.summary().size();
        results->cmdADEGUA_CAMPI->click();
        waitIdle();
        QVERIFY(!velario::test::resultWindow());
        QCOMPARE(capture.summary().mid(mark),
                 (QStringList{"pointer:11", "window:frmTS0002:restore", "window:frmTS0003:unload",
                              "pointer:0"}));
    }
};

QTEST_MAIN(TestColumnFitting)
#include "tst_column_fitting.moc"
