#include "data/datagrid.h"
#include "data/datasource.h"
#include "platform/form.h"

#include <QFile>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTest>
#include <QToolButton>

using namespace velario;
using namespace velario::data;

namespace {

// What the reposition handlers saw, at the moment they ran: the ID of the current row (or
// "eof") and the grid's current row.
struct Watcher {
    QStringList calls;
    explicit Watcher(DataSource* source) {
        QObject::connect(source, &DataSource::reposition, [this, source] {
            const int gridRow = source->grid() ? source->grid()->currentResultRow() : -1;
            calls << (source->recordset().eof() ? QStringLiteral("eof")
                                                : source->recordset().field("ID").toString()) +
                         '@' + QString::number(gridRow);
        });
    }
};

// A window that sets up its source in its load handler, as the program's windows do.
struct TestWindow : Form {
    TestWindow(QString path, bool refreshInLoad)
        : Form("frmTest"), path_(std::move(path)), refreshInLoad_(refreshInLoad) {}
    DataGrid* grid = nullptr;
    std::unique_ptr<Watcher> watcher;
    qsizetype repositionsDuringLoad = -1;

protected:
    void onLoad() override {
        auto* source = new BoundDataSource("Data1", this);
        grid = new DataGrid("DBGrid1", this);
        grid->setDataSource(source);
        watcher = std::make_unique<Watcher>(source);
        source->setDatabaseName(path_);
        source->setRecordSource("SELECT * FROM clienti WHERE id > 10");
        if (refreshInLoad_)
            QVERIFY(!source->refresh());
        repositionsDuringLoad = watcher->calls.size();
    }

private:
    QString path_;
    bool refreshInLoad_;
};

} // namespace

class TestDataSource : public QObject {
    Q_OBJECT

    QTemporaryDir dir_;
    QString path_;
    std::unique_ptr<QWidget> window_;
    BoundDataSource* source_ = nullptr;
    DataGrid* grid_ = nullptr;

    bool exec(const QString& sql) {
        bool ok = false;
        {
            QSqlDatabase db = QSqlDatabase::addDatabase("QSQLITE", "writer");
            db.setDatabaseName(path_);
            ok = db.open() && QSqlQuery(db).exec(sql);
        }
        QSqlDatabase::removeDatabase("writer");
        return ok;
    }
    Error show(const QString& sql) {
        source_->setRecordSource(sql);
        return source_->refresh();
    }

private slots:
    void initTestCase() {
        path_ = dir_.filePath("source.db");
        QVERIFY(exec("CREATE TABLE clienti (id INTEGER, nome TEXT)"));
        QVERIFY(exec("WITH RECURSIVE s(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM s "
                     "WHERE i < 2000) INSERT INTO clienti SELECT i, 'cliente ' || i FROM s"));
    }

    void init() {
        window_ = std::make_unique<QWidget>();
        source_ = new BoundDataSource("Data1", window_.get());
        grid_ = new DataGrid("DBGrid1", window_.get());
        grid_->setHeight(2500);
        grid_->setWidth(5000);
        source_->setTop(2600);
        source_->setWidth(5000);
        source_->setHeight(400);
        grid_->setDataSource(source_);
        source_->setDatabaseName(path_);
        window_->show();
        QVERIFY(QTest::qWaitForWindowExposed(window_.get()));
    }
    void cleanup() { window_.reset(); }

    // Each refresh repositions once and sees what was written since; the count is the whole
    // result's, though only its first rows were read.
    void repositionOncePerRefresh() {
        Watcher watcher(source_);
        QVERIFY(!show("SELECT * FROM clienti ORDER BY id DESC"));
        QVERIFY(!source_->refresh());
        QCOMPARE(source_->recordset().recordCount(), 2000);
        QVERIFY(!show("SELECT * FROM clienti WHERE id >= 2000"));
        QVERIFY(exec("INSERT INTO clienti VALUES (2001, 'nuovo')"));
        QVERIFY(!source_->refresh());
        QVERIFY(exec("DELETE FROM clienti WHERE id > 2000"));
        QCOMPARE(watcher.calls, QStringList({"2000@0", "2000@0", "2000@0", "2000@0"}));
        QCOMPARE(source_->recordset().recordCount(), 2);
    }

    // The handler runs before setRow returns; the same row again, or another column of it,
    // is no move.
    void repositionInsideSetRow() {
        QVERIFY(!show("clienti"));
        Watcher watcher(source_);
        QVERIFY(!grid_->setRow(3));
        QCOMPARE(watcher.calls, QStringList({"4@3"}));
        QCOMPARE(source_->currentRow(), 3);
        QVERIFY(!grid_->setRow(3));
        QVERIFY(!grid_->setCol(1));
        QCOMPARE(grid_->automationRow(1500), QString());
        QCOMPARE(watcher.calls, QStringList({"4@3", "1501@1500"}));
        QCOMPARE(source_->recordset().recordCount(), 2000);
    }

    void navigationBar() {
        QVERIFY(!show("SELECT id, nome FROM clienti WHERE id <= 300"));
        Watcher watcher(source_);
        const QList<QToolButton*> buttons = source_->findChildren<QToolButton*>();
        QCOMPARE(buttons.size(), 4);
        // next, next, previous, last, next past the end (no move), first
        for (const int b : {2, 2, 1, 3, 2, 0})
            buttons[b]->click();
        QCOMPARE(watcher.calls, QStringList({"2@1", "3@2", "2@1", "300@299", "300@299", "1@0"}));
        QCOMPARE(source_->recordset().recordCount(), 300);
    }

    void emptyResult() {
        Watcher watcher(source_);
        QVERIFY(!show("SELECT * FROM clienti WHERE id < 0"));
        QCOMPARE(watcher.calls, QStringList({"eof@-1"}));
        QCOMPARE(source_->recordset().recordCount(), 0);
        QCOMPARE(grid_->approxCount(), 0);
        QCOMPARE(grid_->columnCount(), 2);
        Error error;
        source_->recordset().field("id", &error);
        QCOMPARE(error.number, int(ErrorNumber::NoCurrentRecord));
    }

    // A failed refresh leaves nothing of what was shown before, and creates or changes no file.
    void failingOpen_data() {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("sql");
        QTest::addColumn<int>("number");
        QTest::newRow("missing file")
            << dir_.filePath("manca.db") << "clienti" << int(ErrorNumber::FileNotFound);
        QTest::newRow("folder") << dir_.path() << "clienti" << int(ErrorNumber::FileOpenFailed);
        QTest::newRow("garbage file")
            << dir_.filePath("garbage.db") << "clienti" << int(ErrorNumber::UnrecognizedFormat);
        QTest::newRow("missing table")
            << path_ << "SELECT * FROM manca" << int(ErrorNumber::TableNotFound);
    }
    void failingOpen() {
        QFETCH(QString, path);
        QFETCH(QString, sql);
        QFETCH(int, number);
        QFile garbage(dir_.filePath("garbage.db"));
        QVERIFY(garbage.open(QIODevice::WriteOnly));
        garbage.write(QByteArray(4096, 'z'));
        garbage.close();
        QVERIFY(!show("clienti"));
        QVERIFY(grid_->approxCount() > 0);
        Watcher watcher(source_);
        source_->setDatabaseName(path);
        QCOMPARE(show(sql).number, number);
        QCOMPARE(grid_->approxCount(), 0);
        QCOMPARE(grid_->resultModel()->rowCount(), 0);
        QVERIFY(source_->recordset().eof());
        QVERIFY(watcher.calls.isEmpty());
        QVERIFY(!QFile::exists(dir_.filePath("manca.db")));
        QCOMPARE(QFileInfo(garbage).size(), 4096);
    }

    void opensByItselfAfterLoad_data() {
        QTest::addColumn<bool>("refreshInLoad");
        QTest::newRow("left to the source") << false;
        QTest::newRow("refreshed by the load handler") << true;
    }
    void opensByItselfAfterLoad() {
        QFETCH(bool, refreshInLoad);
        TestWindow window(path_, refreshInLoad);
        window.load();
        QCOMPARE(window.repositionsDuringLoad, refreshInLoad ? 1 : 0);
        QCOMPARE(window.watcher->calls, QStringList({"11@0"}));
        QCOMPARE(window.grid->approxCount(), 1990);
    }

    // A grid given a source that has moved already shows its row; the source it leaves
    // loses it.
    void gridJoinsAMovedSource() {
        BoundDataSource alone("Data2", window_.get());
        alone.setDatabaseName(path_);
        alone.setRecordSource("SELECT id FROM clienti WHERE id <= 2");
        QVERIFY(!alone.refresh());
        alone.moveNext();
        grid_->setDataSource(&alone);
        QCOMPARE(grid_->currentResultRow(), 1);
        QCOMPARE(source_->grid(), nullptr);
    }
};

QTEST_MAIN(TestDataSource)
#include "tst_datasource.moc"
