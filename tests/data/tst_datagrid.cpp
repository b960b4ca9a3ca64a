#include "data/database.h"
#include "data/datagrid.h"

#include <QJsonArray>
#include <QLineEdit>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTest>

using namespace velario;
using namespace velario::data;

class TestDataGrid : public QObject {
    Q_OBJECT

    QTemporaryDir dir_;
    std::unique_ptr<Database> db_;
    std::unique_ptr<QWidget> window_;
    DataGrid* grid_ = nullptr;

    void show(const QString& sql) {
        Error error;
        auto result = db_->execute(sql, &error);
        QVERIFY2(result, qPrintable(error.description));
        grid_->setResult(std::move(result));
    }

private slots:
    void initTestCase() {
        const QString path = dir_.filePath("grid.db");
        {
            QSqlDatabase db = QSqlDatabase::addDatabase("QSQLITE", "setup");
            db.setDatabaseName(path);
            QVERIFY(db.open());
            QVERIFY(QSqlQuery(db).exec("CREATE TABLE n (id INTEGER, label TEXT, extra)"));
            QVERIFY(QSqlQuery(db).exec(
                "WITH RECURSIVE s(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM s WHERE i < 100000) "
                "INSERT INTO n SELECT i, 'riga ' || i, NULL FROM s"));
        }
        QSqlDatabase::removeDatabase("setup");
        Error error;
        db_ = Database::open(path, false, false, QString(), &error);
        QVERIFY(db_);
    }

    void init() {
        window_ = std::make_unique<QWidget>();
        grid_ = new DataGrid("grid", window_.get());
        grid_->setWidth(6000);
        grid_->setHeight(3000);
        window_->resize(800, 600);
        window_->show();
        QVERIFY(QTest::qWaitForWindowExposed(window_.get()));
    }
    void cleanup() { window_.reset(); }

    void readsOnlyWhatIsShown() {
        show("SELECT * FROM n");
        ResultModel* model = grid_->resultModel();
        QCOMPARE(grid_->text(), QStringLiteral("1"));
        QVERIFY(model->fetchedRows() >= grid_->visibleRows());
        // The exact count comes from the engine, not from reading the rows.
        QCOMPARE(grid_->approxCount(), 100000);
        const qint64 before = model->fetchedRows();
        QVERIFY(before <= 1000 && !model->allFetched());
        QCOMPARE(grid_->automationScroll(5000), QString());
        QCOMPARE(grid_->firstVisibleRow(), 5000);
        QVERIFY(model->fetchedRows() > 5000 && model->fetchedRows() < 100000);
        const QJsonObject state = grid_->automationState();
        QCOMPARE(state["rows"].toInt(), 100000);
        QCOMPARE(state["firstVisibleRow"].toInt(), 5000);
        QCOMPARE(state["cells"].toArray().size(), state["visibleRows"].toInt());
        QCOMPARE(state["cells"][0][1].toString(), QStringLiteral("riga 5001"));
        // Positions count from the first row on display.
        QVERIFY(!grid_->setRow(2));
        QCOMPARE(grid_->currentResultRow(), 5002);
        QCOMPARE(grid_->row(), 2);
        QCOMPARE(grid_->columnText(1), QStringLiteral("riga 5003"));
        // The view itself asks for more when the user drags to the end of what it holds.
        const qint64 held = model->fetchedRows();
        grid_->scrollToBottom();
        QTRY_VERIFY(model->fetchedRows() > held);
        // A row chosen by number is scrolled to and selected; rows outside are refused.
        QCOMPARE(grid_->automationRow(2000), QString());
        QCOMPARE(grid_->automationState()["currentRow"].toInt(), 2000);
        QVERIFY(!grid_->automationRow(100000).isEmpty());
        QVERIFY(!grid_->automationRow(-1).isEmpty());
        QCOMPARE(grid_->currentResultRow(), 2000);
        // Read to its end, the result ends in the row of the engine's last value and its Null.
        show("SELECT id, extra FROM n WHERE id > 99000");
        QCOMPARE(grid_->resultRowCount(), 1000);
        QCOMPARE(grid_->cellText(999, 0), QStringLiteral("100000"));
        QCOMPARE(grid_->cellText(999, 1), QString());
        QVERIFY(grid_->resultModel()->isNull(999, 1));
        QVERIFY(grid_->resultModel()->allFetched());
    }

    void unusualValues() {
        QStringList columns;
        for (int c = 0; c < 58; ++c)
            columns << QStringLiteral("%1 AS k%1").arg(c);
        show("SELECT NULL AS vuoto, x'0aff' AS bin, " + columns.join(", ") +
             ", printf('%.*c', 1048576, 'y') || 'fine' AS lungo");
        QCOMPARE(grid_->columnCount(), 61);
        QCOMPARE(grid_->columnCaption(60), QStringLiteral("lungo"));
        QCOMPARE(grid_->cellText(0, 1), QStringLiteral("0AFF"));
        QCOMPARE(grid_->cellText(0, 59), QStringLiteral("57"));
        QCOMPARE(grid_->cellText(0, 60).size(), 1048576 + 4);
        // Rewriting one cell keeps the others, the Null and the long value among them.
        grid_->setCellEditing(true);
        QCOMPARE(grid_->automationEdit(0, 30, "modificata"), QString());
        QCOMPARE(grid_->cellText(0, 30), QStringLiteral("modificata"));
        QVERIFY(grid_->resultModel()->isNull(0, 0));
        QVERIFY(grid_->cellText(0, 60).endsWith("yfine"));
    }

    // Rows are refused outside the result and outside the display, columns outside the result.
    void setRowAndCol_data() {
        QTest::addColumn<QString>("sql");
        QTest::addColumn<int>("scrollTo");
        QTest::addColumn<int>("position"); // -1000: one past the rows on display
        QTest::addColumn<bool>("rowAccepted");
        QTest::addColumn<int>("column");
        QTest::addColumn<bool>("columnAccepted");
        const QString all = "SELECT * FROM n", three = "SELECT * FROM n WHERE id <= 3";
        QTest::newRow("negative") << all << 0 << -1 << false << -1 << false;
        QTest::newRow("past rows on display, result has more")
            << all << 0 << -1000 << false << 2 << true;
        QTest::newRow("after scrolling") << all << 300 << -1000 << false << 3 << false;
        QTest::newRow("past the last row of a short result")
            << three << 0 << 3 << false << 0 << true;
        QTest::newRow("last row and column of a short result")
            << three << 0 << 2 << true << 2 << true;
        QTest::newRow("empty result")
            << "SELECT * FROM n WHERE id < 0" << 0 << 0 << false << 2 << true;
    }
    void setRowAndCol() {
        QFETCH(QString, sql);
        QFETCH(int, scrollTo);
        QFETCH(int, position);
        QFETCH(bool, rowAccepted);
        QFETCH(int, column);
        QFETCH(bool, columnAccepted);
        show(sql);
        if (scrollTo > 0)
            QCOMPARE(grid_->automationScroll(scrollTo), QString());
        if (position == -1000)
            position = grid_->visibleRows();
        const int before = grid_->currentResultRow();
        QCOMPARE(grid_->setRow(position).number, rowAccepted ? 0 : int(ErrorNumber::InvalidRow));
        QCOMPARE(grid_->currentResultRow(), rowAccepted ? scrollTo + position : before);
        if (rowAccepted)
            QCOMPARE(grid_->columnText(0), QString::number(scrollTo + position + 1));
        QVERIFY(grid_->visibleRows() <= 3 || grid_->approxCount() > grid_->visibleRows());
        QVERIFY(!grid_->setCol(1));
        QCOMPARE(grid_->setCol(column).number,
                 columnAccepted ? 0 : int(ErrorNumber::InvalidColumn));
        QCOMPARE(grid_->col(), columnAccepted ? column : 1);
        QCOMPARE(grid_->text(), grid_->columnText(grid_->col()));
    }

    void columnCaptionsAndWidths() {
        show("SELECT id AS Codice, label FROM n LIMIT 2");
        QCOMPARE(grid_->columnCaption(0), QStringLiteral("Codice"));
        QVERIFY(!grid_->setColumnCaption(1, QStringLiteral("Descrizione")));
        QCOMPARE(grid_->setColumnCaption(2, "x").number, int(ErrorNumber::InvalidColumn));
        QVERIFY(!grid_->setColumnWidth(1, 1234.5f));
        QCOMPARE(grid_->setColumnWidth(-1, 10).number, int(ErrorNumber::InvalidColumn));
        const QJsonArray columns = grid_->automationState()["columns"].toArray();
        QCOMPARE(columns[1]["caption"].toString(), QStringLiteral("Descrizione"));
        QCOMPARE(columns[1]["width"].toDouble(), 1234.5);
        // A new result brings its own columns.
        show("SELECT label FROM n LIMIT 1");
        QCOMPARE(grid_->columnCaption(0), QStringLiteral("label"));
        QVERIFY(grid_->columnWidthTwips(0) != 1234.5);
    }

    void editingInPlace() {
        show("SELECT * FROM n WHERE id <= 5");
        QVERIFY(!grid_->automationEdit(1, 1, "x").isEmpty());
        grid_->setCellEditing(true);
        QStringList calls;
        grid_->setCellEditHandler([&](int row, int column, const QString& text) {
            calls << QStringLiteral("%1,%2,%3").arg(row).arg(column).arg(text);
            return text == "rifiuta" ? std::nullopt : std::optional<QString>(text.toUpper());
        });
        QCOMPARE(grid_->automationEdit(1, 1, "rifiuta"), QString());
        QCOMPARE(grid_->cellText(1, 1), QStringLiteral("riga 2"));
        QCOMPARE(grid_->automationEdit(3, 2, "nuovo"), QString());
        QCOMPARE(calls, QStringList({"1,1,rifiuta", "3,2,nuovo"}));
        // The cell keeps what the handler made of the text; the rest of the row is untouched.
        QCOMPARE(grid_->automationState()["cells"][3][2].toString(), QStringLiteral("NUOVO"));
        QCOMPARE(grid_->cellText(3, 1), QStringLiteral("riga 4"));
        QCOMPARE(grid_->currentResultRow(), 3);
        QVERIFY(!grid_->automationEdit(1, 3, "x").isEmpty());
        // A person types no more into a cell than its column allows.
        grid_->setColumnMaxLength(1, 7);
        const QModelIndex cell = grid_->resultModel()->index(0, 1);
        grid_->setCurrentIndex(cell);
        grid_->edit(cell);
        auto* editor = qobject_cast<QLineEdit*>(grid_->indexWidget(cell));
        QVERIFY(editor);
        QCOMPARE(editor->maxLength(), 7);
        QTest::keyClick(editor, Qt::Key_Escape);
    }
};

QTEST_MAIN(TestDataGrid)
#include "tst_datagrid.moc"
