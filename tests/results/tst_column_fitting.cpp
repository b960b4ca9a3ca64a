#include "controls/datagrid.h"
#include "controls/datasource.h"
#include "support/harness.h"
#include "support/result_window_under_test.h"

#include <QFontInfo>
#include <QHeaderView>
#include <QLabel>
#include <QtTest>

using namespace velario;
using namespace velario::test;

namespace {

// A result whose columns are headed by CAPTIONS and whose rows hold cells of the lengths in
// ROWS ("9,11,29,39" per row: "12" is twelve letters, "_3" three blanks); no rows gives an
// empty result with the same columns.
QString resultSql(const QStringList& captions, const QStringList& rows) {
    QStringList selects;
    for (const QString& row : rows.isEmpty() ? QStringList{""} : rows) {
        QStringList items;
        for (qsizetype c = 0; c < captions.size(); ++c) {
            const QString cell = row.split(',').value(c);
            const bool blanks = cell.startsWith('_');
            items << QStringLiteral("'%1' AS \"%2\"")
                         .arg(QString(cell.mid(blanks).toInt(), blanks ? ' ' : 'x'), captions[c]);
        }
        selects << "SELECT " + items.join(", ");
    }
    return selects.join(" UNION ALL ") + (rows.isEmpty() ? " WHERE 0" : "");
}

} // namespace

class TestColumnFitting : public QObject {
    Q_OBJECT

    QTemporaryDir dir_;
    CatalogueWindow* catalogue_ = nullptr;

    ResultWindow* open(const QString& sql) {
        catalogue_ = openCatalogue({});
        putOnScreen(catalogue_, {sql, dir_.filePath("dati.db")});
        return pressRun(catalogue_);
    }

private slots:
    void initTestCase() { QVERIFY(writeSqlite(dir_.filePath("dati.db"), {"CREATE TABLE t (x)"})); }

    void cleanup() { unloadAll(); }

    // Results built so that their columns measure the given widths; the widths applied to
    // the grid, in twips (none: every column left as it was).
    void fitting_data() {
        QTest::addColumn<QStringList>("captions");
        QTest::addColumn<QStringList>("rows");
        // lblDIM_MAX before, the button cmd…_CAMPI pressed, lblDIM_MAX after; then the type on
        // screen, when not MDB
        QTest::addColumn<QString>("press");
        QTest::addColumn<QList<int>>("twips");
        QTest::addColumn<QStringList>("events");
        const auto row = [](const char* name, const QStringList& captions, const QStringList& rows,
                            const char* press, const QList<int>& twips,
                            const QStringList& events = {"pointer:11", "beep", "pointer:0"}) {
            QTest::newRow(name) << captions << rows << QString(press) << twips << events;
        };
        const QStringList abcd{"a", "b", "c", "d"};
        const QStringList wide = QStringList(3, "9,11,29,39"); // 10, 12, 30, 40
        const QStringList ab{"a", "b"};
        const QStringList thirtyTen = QStringList(3, "29,9"); // 30, 10

        row("10 12 30 40 to 100", abcd, wide, "100 ADEGUA 100", {1000, 1200, 3300, 4300});
        row("blank caption and cells", {" ", "a"}, {"_3,4", "0,4"}, "100 ADEGUA 100", {0, 500});
        // The measured total leaves 16 bits in the last row: its last column still counts.
        row("totals past 16 bits", {"a", "b", "c"},
            {"10000,10000,1", "10000,10000,1", "10000,10000,13"}, "100 ADEGUA 100",
            {4300, 4300, 1400});
        row("width above 327", ab, QStringList(3, "400,4"), "400 ADEGUA 400", {});
        row("Aumenta from 100", abcd, wide, "100 AUMENTA 120", {1000, 1200, 4300, 5300});
        row("Diminuisce at 5", ab, thirtyTen, "5 DIMINUISCE 5", {1500, 1000});
        row("Diminuisce from 10: below 1 fits with 100", ab, thirtyTen, "10 DIMINUISCE -10",
            {8700, 1000});
        row("no rows", abcd, {}, "100 ADEGUA 100", {}, {"beep"});
        row("mdb now: the empty ODBC grid", abcd, wide, "100 ADEGUA 100 mdb", {}, {"beep"});
        QStringList captions;
        for (int c = 0; c < 52; ++c)
            captions << QStringLiteral("c%1").arg(c);
        row("52 columns: the first 51 fitted", captions, {QStringList(52, "5").join(',')},
            "100 ADEGUA 100", QList<int>(51, 600));
    }

    void fitting() {
        QFETCH(QStringList, captions);
        QFETCH(QStringList, rows);
        QFETCH(QString, press);
        const QStringList step = (press + " MDB").split(' ');
        QFETCH(QList<int>, twips);
        QFETCH(QStringList, events);

        InProcess capture;
        ResultWindow* results = open(resultSql(captions, rows));
        QVERIFY(results);
        DataGrid* grid = control<DataGrid>(results, "DBGrid2");
        const auto widths = [grid] {
            QList<double> all;
            for (int c = 0; c < grid->columnCount(); ++c)
                all << grid->columnWidthTwips(c);
            return all;
        };
        QList<double> expected = widths();
        std::copy(twips.begin(), twips.end(), expected.begin());
        control<TextBox>(catalogue_, "txtTIPO_DATABASE")->setText(step[3]);
        control<Label>(results, "lblDIM_MAX")->setCaption(step[0]);
        const qsizetype mark = capture.summary().size();
        // What waits meanwhile runs once the fitting is over: it never lets other events in.
        std::optional<QStringList> waited;
        QMetaObject::invokeMethod(
            results, [&] { waited = capture.summary().mid(mark); }, Qt::QueuedConnection);
        control<CommandButton>(results, "cmd" + step[1] + "_CAMPI")->click();
        QVERIFY(!waited);
        waitIdle();

        QCOMPARE(capture.summary().mid(mark), events);
        QCOMPARE(waited, events);
        QCOMPARE(control<Label>(results, "lblDIM_MAX")->caption(), step[2]);
        QCOMPARE(widths(), expected);
    }

    // Fitted columns show their widest text whole in the grid's own faces and the style's
    // padding, numbers on the right; the windows' controls reach the client area's bottom
    // (the design lets one hang a few pixels over) and the data controls' captions show whole.
    void asShown_data() {
        QTest::addColumn<QString>("sql");
        QTest::addColumn<QList<bool>>("numeric");
        QTest::newRow("digits, bold capitals")
            << "SELECT 10000 AS NUMERO, 'x' AS CODICE, -12.5 AS IMPORTO, 'z' AS DESCRIZIONE"
            << QList<bool>{true, false, true, false};
        QTest::newRow("lower case, Nulls, a text among numbers")
            << "SELECT 'rossi' AS c, 'città' AS t, 1.5e3 AS a, '1E5' AS e, '7e' AS f "
               "UNION ALL SELECT NULL, '12', NULL, '-2.5e-3', '8'"
            << QList<bool>{false, false, true, true, false};
    }

    void asShown() {
        QFETCH(QString, sql);
        QFETCH(QList<bool>, numeric);
        ResultWindow* results = open(sql);
        QVERIFY(results);
        control<CommandButton>(results, "cmdADEGUA_CAMPI")->click();
        DataGrid* grid = control<DataGrid>(results, "DBGrid2");
        QVERIFY2(QFontInfo(grid->font()).family().contains("Narrow"), "fonts-liberation missing");
        for (int c = 0; c < numeric.size(); ++c) {
            QVERIFY(grid->QTableView::columnWidth(c) >=
                    std::max(static_cast<QAbstractItemView*>(grid)->sizeHintForColumn(c),
                             grid->horizontalHeader()->sectionSizeHint(c)));
            const QVariant align = grid->model()->index(0, c).data(Qt::TextAlignmentRole);
            QCOMPARE(align.value<Qt::Alignment>().testFlag(Qt::AlignRight), numeric[c]);
        }
        for (Form* window : QList<Form*>{catalogue_, results}) {
            int bottom = 0;
            for (QWidget* control : window->findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
                bottom = std::max(bottom, control->isHidden() ? 0 : control->geometry().bottom());
            QVERIFY(window->height() - bottom < 16 && bottom - window->height() < 8);
            for (DataSource* source : window->findChildren<DataSource*>()) {
                const QLabel* caption = source->findChild<QLabel*>();
                QVERIFY(source->isHidden() ||
                        caption->contentsRect().width() - caption->indent() >=
                            caption->fontMetrics().horizontalAdvance(source->caption()));
            }
        }
    }
};

QTEST_MAIN(TestColumnFitting)
#include "tst_column_fitting.moc"
