#include "controls/datagrid.h"
#include "controls/datasource.h"
#include "platform/twips.h"
#include "support/result_window_under_test.h"

#include <QApplication>
#include <QHeaderView>
#include <QJsonArray>
#include <QLineEdit>
#include <QMouseEvent>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QTest>
#include <QToolButton>

using namespace velario;
using namespace velario::data;

// A grid bound to a data source on one file: clienti holds 2000 rows, n 100000.
class TestDataGrid : public QObject {
    Q_OBJECT

    QTemporaryDir dir_;
    QString path_;
    std::unique_ptr<QWidget> window_;
    BoundDataSource* source_ = nullptr;
    DataGrid* grid_ = nullptr;

    bool exec(const QString& sql) { return test::writeSqlite(path_, {sql}); }
    Error show(const QString& sql) {
        source_->setRecordSource(sql);
        return source_->refresh();
    }
    static void click(QWidget* widget, QPoint at, Qt::MouseButton button, bool release = true) {
        const QPoint global = widget->mapToGlobal(at);
        QMouseEvent press(QEvent::MouseButtonPress, at, global, button, button, {});
        QApplication::sendEvent(widget, &press);
        QMouseEvent up(QEvent::MouseButtonRelease, at, global, button, {}, {});
        if (release)
            QApplication::sendEvent(widget, &up);
    }

private slots:
    void initTestCase() {
        path_ = dir_.filePath("grid.db");
        const QString rows = "WITH RECURSIVE s(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM s "
                             "WHERE i < %1) INSERT INTO %2 SELECT i, '%3 ' || i%4 FROM s";
        QVERIFY(test::writeSqlite(path_, {"CREATE TABLE clienti (id INTEGER, nome TEXT)",
                                          rows.arg(2000).arg("clienti", "cliente", ""),
                                          "CREATE TABLE n (id INTEGER, label TEXT, extra)",
                                          rows.arg(100000).arg("n", "riga", ", NULL")}));
    }

    void init() {
        window_ = std::make_unique<QWidget>();
        source_ = new BoundDataSource("Data1", window_.get());
        grid_ = new DataGrid("DBGrid1", window_.get());
        twips::setGeometry(grid_, 0, 0, 5000, 2500);
        twips::setGeometry(source_, 0, 2600, 5000, 400);
        grid_->setDataSource(source_);
        source_->setDatabaseName(path_);
        window_->show();
        QVERIFY(QTest::qWaitForWindowExposed(window_.get()));
    }
    void cleanup() { window_.reset(); }

    void readsOnlyWhatIsShown() {
        QVERIFY(!show("SELECT * FROM n"));
        ResultModel* model = grid_->resultModel();
        QCOMPARE(grid_->text(), QStringLiteral("1"));
        // The exact count comes from the engine, not from reading the rows. Once counted, every
        // row is on the scroll bar, though the view has only the rows near those shown.
        QCOMPARE(grid_->approxCount(), 100000);
        QVERIFY(model->fetchedRows() >= grid_->visibleRows() && model->fetchedRows() <= 1000 &&
                !model->allFetched() && grid_->verticalHeader()->count() < 1000);
        // Positions count from the first row on display.
        QCOMPARE((QStringList{grid_->automationScroll(5000),
                              grid_->automationState()["cells"][0][1].toString(),
                              QString::number(grid_->setRow(2).number),
                              QString::number(grid_->currentResultRow()), grid_->columnText(1)}),
                 (QStringList{"", "riga 5001", "0", "5002", "riga 5003"}));
        QVERIFY(model->fetchedRows() > 5000 &&
                model->fetchedRows() <= 5000 + 2 * grid_->visibleRows());
        const qint64 held = model->fetchedRows();
        grid_->scrollToBottom();
        QTRY_VERIFY(model->fetchedRows() > held);
        QCOMPARE(grid_->automationState()["cells"].toArray().last()[1].toString(), "riga 100000");
        QTest::keyClick(grid_, Qt::Key_End, Qt::ControlModifier);
        QCOMPARE(source_->recordset().field("ID").toString(), QStringLiteral("100000"));
        QVERIFY(!grid_->automationRow(100000).isEmpty() && !grid_->automationRow(-1).isEmpty());
        // Read to its end, the result ends in the row of the engine's last value and its Null.
        QVERIFY(!show("SELECT id, extra FROM n WHERE id > 99000"));
        QCOMPARE(grid_->resultRowCount(), 1000);
        QCOMPARE(grid_->cellText(999, 0), QStringLiteral("100000"));
        QVERIFY(grid_->resultModel()->isNull(999, 1) && grid_->resultModel()->allFetched());
    }

    // A stored value longer than its column allows ("cliente 1" where 5 are allowed) opens
    // in the in-place editor whole, and confirming it unchanged changes nothing; the user may
    // shorten it, but typing never takes a value past the limit.
    void storedValueOpensWhole_data() {
        QTest::addColumn<QString>("keys");      // End as >, Backspace as <, select all as *
        QTest::addColumn<QString>("confirmed"); // what the handler saw > what the cell holds
        QTest::newRow("unchanged") << QString() << ">cliente 1";
        QTest::newRow("shortened, then typed") << QString("><<<<<xyz") << "cliex>cliex";
        QTest::newRow("typed over") << QString("*abcdefgh") << "abcde>abcde";
    }
    void storedValueOpensWhole() {
        QFETCH(QString, keys);
        QFETCH(QString, confirmed);
        QVERIFY(!show("SELECT * FROM clienti"));
        grid_->setCellEditing(true);
        grid_->setColumnMaxLength(1, 5);
        // Shared with the handler, which an editor left open may call as the test ends.
        const auto handed = std::make_shared<QStringList>();
        grid_->setCellEditHandler([handed](int, int, const QString& text) {
            *handed << text;
            return std::optional<QString>(text);
        });
        const QModelIndex cell = grid_->model()->index(0, 1);
        grid_->setCurrentIndex(cell);
        grid_->edit(cell);
        auto* editor = qobject_cast<QLineEdit*>(grid_->indexWidget(cell));
        QVERIFY(editor && editor->text() == "cliente 1");
        for (const QChar key : keys)
            key == u'*' ? editor->selectAll()
                        : QTest::keyClick(editor, key == u'>'   ? Qt::Key_End
                                                  : key == u'<' ? Qt::Key_Backspace
                                                                : Qt::Key(key.toUpper().unicode()));
        QTest::keyClick(editor, Qt::Key_Return);
        QCoreApplication::sendPostedEvents(grid_->itemDelegate(), QEvent::MetaCall);
        QCOMPARE(handed->join('|') + '>' + cell.data().toString(), confirmed);
    }

    // Whatever reaches past the rows the view has takes it there: the scroll bar (held, the
    // rows showing empty until it is let go), the keys, the data control's last-row button,
    // and every selection that stands for whole columns, so that a copy has every row.
    void everyCountedRowIsReached_data() {
        QTest::addColumn<QString>("action");
        // first row shown|current row|last row selected|its first cell|the view's rows
        QTest::addColumn<QString>("reached");
        QTest::newRow("scroll bar") << QString("value 50000") << "50000|0|0|riga 50001|some";
        QTest::newRow("thumb held") << QString("hold 80000") << "80000|0|0||some";
        QTest::newRow("thumb let go") << QString("release 80000") << "80000|0|0|riga 80001|some";
        QTest::newRow("Ctrl+A") << QString("Ctrl+A") << "0|0|99999|riga 1|all";
        QTest::newRow("caption") << QString("caption") << "0|0|99999|riga 1|all";
        QTest::newRow("select column") << QString("column") << "0|0|99999|riga 1|all";
        QTest::newRow("Ctrl+End") << QString("Ctrl+End") << "END|99999|99999|riga END+1|all";
        QTest::newRow("last row button") << QString("last") << "END|99999|99999|riga END+1|all";
        QTest::newRow("page down") << QString("PageDown") << "-|-|-|-|some";
    }
    void everyCountedRowIsReached() {
        QFETCH(QString, action);
        QFETCH(QString, reached);
        QVERIFY(!show("SELECT * FROM n"));
        QCOMPARE(grid_->approxCount(), 100000);
        QScrollBar* bar = grid_->verticalScrollBar();
        const QString number = action.section(' ', 1);
        if (action.startsWith("value")) {
            bar->setValue(number.toInt());
        } else if (action.startsWith("hold") || action.startsWith("release")) {
            bar->setSliderDown(true);
            bar->setSliderPosition(number.toInt());
            bar->setSliderDown(!action.startsWith("release"));
        } else if (action == "caption") {
            const QHeaderView* header = grid_->horizontalHeader();
            click(header->viewport(),
                  {header->sectionViewportPosition(1) + header->sectionSize(1) / 2, 3},
                  Qt::LeftButton, false);
        } else if (action == "last") {
            source_->findChildren<QToolButton*>()[3]->click();
        } else if (action == "column") {
            QCOMPARE(grid_->automationSelect("column 1"), QString());
        } else if (action == "PageDown") {
            // Each press goes a page on, far past the rows the view had at first.
            for (int press = 0, row = 0; press < 80; ++press) {
                QTest::keyClick(grid_, Qt::Key_PageDown);
                QVERIFY2(grid_->currentResultRow() > row, qPrintable(QString::number(row)));
                row = grid_->currentResultRow();
            }
        } else {
            QTest::keySequence(grid_, QKeySequence(action == "Ctrl+A" ? "Ctrl+A" : "Ctrl+End"));
        }
        const int first = grid_->firstVisibleRow();
        int selected = -1;
        for (const QItemSelectionRange& range : grid_->selectionModel()->selection())
            selected = std::max(selected, range.bottom());
        QStringList got{QString::number(first), QString::number(grid_->currentResultRow()),
                        selected < 0 ? "-" : QString::number(selected),
                        grid_->model()->index(first, 1).data().toString(),
                        grid_->verticalHeader()->count() == 100000 ? "all" : "some"};
        if (action == "PageDown")
            got = QStringList{"-", "-", "-", "-"} << got.last();
        // The last row at the bottom, the one above the page partly shown.
        const QString end = QString::number(99999 - bar->pageStep());
        QCOMPARE(got.join('|'), QString(reached)
                                    .replace("END+1", QString::number(end.toInt() + 1))
                                    .replace("END", end));
        QCOMPARE(bar->maximum() + bar->pageStep(), 100000);
    }

    // Rows are refused outside the result and outside the display, columns outside the
    // result; a refused row or column leaves the current one as it was.
    void setRowAndCol() {
        const auto tryAt = [this](const QString& where, int scrollTo, int row, int column) {
            show("SELECT * FROM n" + where);
            grid_->automationScroll(scrollTo);
            const int before = grid_->currentResultRow();
            QStringList got{QString::number(grid_->setCol(1).number)};
            got << QString::number(grid_->setRow(row < 0 ? grid_->visibleRows() : row).number);
            got << QString::number(grid_->setCol(column).number);
            got << QString::number(grid_->currentResultRow() - before)
                << QString::number(grid_->col());
            return got << (grid_->text() == grid_->columnText(grid_->col()) ? grid_->text() : "?");
        };
        const QString row = QString::number(int(ErrorNumber::InvalidRow));
        const QString col = QString::number(int(ErrorNumber::InvalidColumn));
        QCOMPARE(tryAt("", 300, -1, 3), QStringList({"0", row, col, "0", "1", "riga 1"}));
        QCOMPARE(tryAt(" WHERE id <= 3", 0, 3, -1),
                 QStringList({"0", row, col, "0", "1", "riga 1"}));
        QCOMPARE(tryAt(" WHERE id <= 3", 0, 2, 2), QStringList({"0", "0", "0", "2", "2", ""}));
        QCOMPARE(tryAt(" WHERE id < 0", 0, 0, 2), QStringList({"0", row, "0", "0", "2", ""}));
        // The current row just below those on display has no position.
        QVERIFY(!show("SELECT * FROM n"));
        QVERIFY(grid_->automationRow(9).isEmpty() && grid_->automationScroll(0).isEmpty());
        QCOMPARE(QList<int>({grid_->currentResultRow() - grid_->visibleRows(), grid_->row()}),
                 QList<int>({0, -1}));
    }

    // A grid without a result says so, whatever is asked of it; captions and blocks outside
    // the result's columns and rows are refused, those at its edges taken.
    void refusals() {
        const QString none = QStringLiteral("the grid shows no result");
        QCOMPARE(QStringList({grid_->automationRow(0), grid_->automationSelect("all")}),
                 QStringList({none, none}));
        QVERIFY(!show("SELECT id, nome FROM clienti WHERE id <= 3"));
        const int invalid = int(ErrorNumber::InvalidColumn);
        QCOMPARE(QList<int>({grid_->setColumnCaption(-1, "x").number,
                             grid_->setColumnCaption(0, "primo").number,
                             grid_->setColumnCaption(1, "ultimo").number,
                             grid_->setColumnCaption(2, "x").number}),
                 QList<int>({invalid, 0, 0, invalid}));
        QCOMPARE(grid_->columnCaption(0) + ' ' + grid_->columnCaption(1), "primo ultimo");
        const auto select = [this](const char* what) {
            const QString why = grid_->automationSelect(what);
            if (!why.isEmpty())
                return why;
            QStringList cells;
            for (const QModelIndex& index : grid_->selectionModel()->selectedIndexes())
                cells << QStringLiteral("%1,%2").arg(index.row()).arg(index.column());
            cells.sort();
            return cells.join(' ');
        };
        QCOMPARE(select("all"), "0,0 0,1 1,0 1,1 2,0 2,1");
        QCOMPARE(select("2 1 2 1"), "2,1");
        QCOMPARE(select("0 0 1 1"), "0,0 0,1 1,0 1,1");
        // A right click inside the block, away from the current cell, keeps it for the context
        // menu; outside it, it selects the cell clicked.
        for (const auto& [row, column, selected] : {std::tuple(1, 1, 4), std::tuple(2, 0, 1)}) {
            click(grid_->viewport(), grid_->visualRect(grid_->model()->index(row, column)).center(),
                  Qt::RightButton);
            QCOMPARE(grid_->selectionModel()->selectedIndexes().size(), selected);
        }
        for (const QString bad : {"0 0 0 2", "0 1 0 0", "1 0 0 0", "0 x 0 0"})
            QCOMPARE(select(qPrintable(bad)), "bad selection '" + bad + "'");
        QCOMPARE(select("0 0 3 0"), "row 3 is outside the result (3 rows)");
    }

    // Each refresh repositions once, on the grid's row too, and sees what was written since;
    // setRow repositions before it returns, the same row again does not; the navigation bar
    // moves within the result; the count is the whole result's; an empty result has no
    // current row.
    void reposition() {
        // What the handlers saw as they ran: the current row's ID (or "eof"), and the grid's.
        QStringList calls;
        const QObject watcher;
        connect(source_, &DataSource::reposition, &watcher, [&] {
            const auto& rs = source_->recordset();
            calls << (rs.eof() ? QStringLiteral("eof") : rs.field("ID").toString()) + '@' +
                         QString::number(grid_->currentResultRow());
        });
        QVERIFY(!show("SELECT * FROM clienti WHERE id >= 2000"));
        QVERIFY(exec("INSERT INTO clienti VALUES (2001, 'nuovo')") && !source_->refresh() &&
                exec("DELETE FROM clienti WHERE id > 2000"));
        QCOMPARE(source_->recordset().recordCount(), 2);
        QVERIFY(!show("clienti") && !grid_->setRow(3));
        QCOMPARE(
            QString("%1 %2").arg(source_->recordset().recordCount()).arg(source_->currentRow()),
            "2000 3");
        QVERIFY(!grid_->setRow(3) && !grid_->setCol(1) && grid_->automationRow(1500).isEmpty());
        QVERIFY(!show("SELECT id, nome FROM clienti WHERE id <= 300"));
        const QList<QToolButton*> buttons = source_->findChildren<QToolButton*>();
        // next, next, previous, last, next past the end (no move), first
        for (const int b : {2, 2, 1, 3, 2, 0})
            buttons[b]->click();
        QVERIFY(!show("SELECT * FROM clienti WHERE id < 0"));
        QCOMPARE(calls, QStringList({"2000@0", "2000@0", "1@0", "4@3", "1501@1500", "1@0", "2@1",
                                     "3@2", "2@1", "300@299", "300@299", "1@0", "eof@-1"}));
        Error error;
        source_->recordset().field("id", &error);
        QCOMPARE((QList<qint64>{source_->recordset().recordCount(), grid_->approxCount(),
                                grid_->columnCount(), error.number}),
                 (QList<qint64>{0, 0, 2, int(ErrorNumber::NoCurrentRecord)}));
    }
};

QTEST_MAIN(TestDataGrid)
#include "tst_datagrid.moc"
