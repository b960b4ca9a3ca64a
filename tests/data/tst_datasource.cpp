#include "data/datagrid.h"
#include "data/datasource.h"
#include "platform/form.h"
#include "support/odbc_fixture.h"

#include <QFile>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTest>
#include <QToolButton>

using namespace velario;
using namespace velario::data;

namespace {

// What a reposition handler saw, at the moment it ran.
struct Seen {
    bool eof = false;
    int gridRow = -1;
    QString id;
};

class Watcher {
public:
    explicit Watcher(BoundDataSource* source) {
        QObject::connect(source, &DataSource::reposition, [this, source] {
            Seen seen;
            seen.eof = source->recordset().eof();
            seen.gridRow = source->grid() ? source->grid()->currentResultRow() : -1;
            if (!seen.eof)
                seen.id = source->recordset().field("ID").toString();
            calls.append(seen);
        });
    }
    QList<Seen> calls;
};

// A window that sets up its source in its load handler, as the program's windows do.
class TestWindow : public Form {
public:
    TestWindow(QString path, QString sql, bool refreshInLoad)
        : Form("frmTest"), path_(std::move(path)), sql_(std::move(sql)),
          refreshInLoad_(refreshInLoad) {}
    BoundDataSource* source = nullptr;
    DataGrid* grid = nullptr;
    std::unique_ptr<Watcher> watcher;
    int repositionsDuringLoad = -1;

protected:
    void onLoad() override {
        source = new BoundDataSource("Data1", this);
        grid = new DataGrid("DBGrid1", this);
        grid->setDataSource(source);
        watcher = std::make_unique<Watcher>(source);
        source->setDatabaseName(path_);
        source->setRecordSource(sql_);
        if (refreshInLoad_)
            QVERIFY(!source->refresh());
        repositionsDuringLoad = int(watcher->calls.size());
    }

private:
    QString path_;
    QString sql_;
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
            db.close();
        }
        QSqlDatabase::removeDatabase("writer");
        return ok;
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
        source_->bindGrid(grid_);
        source_->setDatabaseName(path_);
        window_->show();
        QVERIFY(QTest::qWaitForWindowExposed(window_.get()));
    }
    void cleanup() { window_.reset(); }

    void repositionOncePerRefresh() {
        Watcher watcher(source_);
        source_->setRecordSource("SELECT * FROM clienti ORDER BY id DESC");
        QVERIFY(!source_->refresh());
        QCOMPARE(watcher.calls.size(), 1);
        QCOMPARE(watcher.calls[0].id, QStringLiteral("2000"));
        QCOMPARE(watcher.calls[0].gridRow, 0);
        QVERIFY(!source_->refresh());
        QCOMPARE(watcher.calls.size(), 2);
        // The whole result, though only its first rows were read.
        QCOMPARE(source_->recordset().recordCount(), 2000);
    }

    void repositionInsideSetRow() {
        source_->setRecordSource("clienti");
        QVERIFY(!source_->refresh());
        Watcher watcher(source_);
        QVERIFY(!grid_->setRow(3));
        // The handler ran before setRow returned, and saw the new row.
        QCOMPARE(watcher.calls.size(), 1);
        QCOMPARE(watcher.calls[0].id, QStringLiteral("4"));
        QCOMPARE(source_->currentRow(), 3);
        // The same row again is no move; another column of it neither.
        QVERIFY(!grid_->setRow(3));
        QVERIFY(!grid_->setCol(1));
        QCOMPARE(watcher.calls.size(), 1);
        QCOMPARE(grid_->setRow(-1).number, int(ErrorNumber::InvalidRow));
        QCOMPARE(watcher.calls.size(), 1);
        QCOMPARE(grid_->automationRow(1500), QString());
        QCOMPARE(watcher.calls.size(), 2);
        QCOMPARE(watcher.calls[1].id, QStringLiteral("1501"));
        QCOMPARE(source_->recordset().recordCount(), 2000);
    }

    void navigationBar() {
        source_->setRecordSource("SELECT id, nome FROM clienti WHERE id <= 300");
        QVERIFY(!source_->refresh());
        Watcher watcher(source_);
        const QList<QToolButton*> buttons = source_->findChildren<QToolButton*>();
        QCOMPARE(buttons.size(), 4);
        buttons[2]->click(); // next
        buttons[2]->click();
        QCOMPARE(source_->currentRow(), 2);
        QCOMPARE(grid_->currentResultRow(), 2);
        buttons[1]->click(); // previous
        QCOMPARE(watcher.calls.size(), 3);
        QCOMPARE(watcher.calls.last().id, QStringLiteral("2"));
        buttons[3]->click(); // last
        QCOMPARE(watcher.calls.last().id, QStringLiteral("300"));
        QCOMPARE(watcher.calls.last().gridRow, 299);
        QCOMPARE(source_->recordset().recordCount(), 300);
        buttons[2]->click(); // next past the end stays on the last row
        QCOMPARE(source_->currentRow(), 299);
        buttons[0]->click(); // first
        QCOMPARE(watcher.calls.last().id, QStringLiteral("1"));
        QCOMPARE(grid_->currentResultRow(), 0);
    }

    void emptyResult() {
        Watcher watcher(source_);
        source_->setRecordSource("SELECT * FROM clienti WHERE id < 0");
        QVERIFY(!source_->refresh());
        QCOMPARE(watcher.calls.size(), 1);
        QVERIFY(watcher.calls[0].eof);
        QCOMPARE(source_->recordset().recordCount(), 0);
        QCOMPARE(grid_->approxCount(), 0);
        QCOMPARE(grid_->columnCount(), 2);
        Error error;
        source_->recordset().field("id", &error);
        QCOMPARE(error.number, int(ErrorNumber::NoCurrentRecord));
    }

    void refreshSeesNewData() {
        QVERIFY(exec("CREATE TABLE IF NOT EXISTS note (t TEXT)"));
        source_->setRecordSource("SELECT * FROM note");
        QVERIFY(!source_->refresh());
        const int before = grid_->approxCount();
        QVERIFY(exec("INSERT INTO note VALUES ('nuova')"));
        QVERIFY(!source_->refresh());
        QCOMPARE(grid_->approxCount(), before + 1);
    }

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
        // Something shown before must not survive a failed refresh.
        source_->setRecordSource("clienti");
        QVERIFY(!source_->refresh());
        QVERIFY(grid_->approxCount() > 0);
        Watcher watcher(source_);
        source_->setDatabaseName(path);
        source_->setRecordSource(sql);
        const Error error = source_->refresh();
        QCOMPARE(error.number, number);
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
        TestWindow window(path_, "SELECT * FROM clienti WHERE id > 10", refreshInLoad);
        window.load();
        QCOMPARE(window.repositionsDuringLoad, refreshInLoad ? 1 : 0);
        QCOMPARE(window.watcher->calls.size(), 1);
        QCOMPARE(window.watcher->calls[0].id, QStringLiteral("11"));
        QCOMPARE(window.grid->currentResultRow(), 0);
        QCOMPARE(window.grid->approxCount(), 1990);
    }

    void remoteSource() {
        test::OdbcEnvironment odbc({test::sqliteDataSource("Clienti ODBC", path_)});
        QVERIFY2(odbc.isValid(), qPrintable(odbc.errorString()));
        RemoteDataSource remote("MSRDC1", window_.get());
        remote.bindGrid(grid_);
        int repositions = 0;
        connect(&remote, &DataSource::reposition, [&] { ++repositions; });
        remote.setDataSourceName("Clienti ODBC");
        remote.setSql("SELECT id, nome FROM clienti WHERE id > 1995");
        QVERIFY(!remote.refresh());
        QCOMPARE(repositions, 1);
        QCOMPARE(grid_->approxCount(), 5);
        QCOMPARE(grid_->columnCaption(1), QStringLiteral("nome"));
        QCOMPARE(grid_->cellText(4, 1), QStringLiteral("cliente 2000"));
        remote.setDataSourceName("Sconosciuta");
        QCOMPARE(remote.refresh().number, int(ErrorNumber::OdbcConnectFailed));
        QCOMPARE(grid_->approxCount(), 0);
        QCOMPARE(repositions, 1);
    }

    void unboundSourceKeepsItsRow() {
        BoundDataSource alone("Data2", window_.get());
        alone.setDatabaseName(path_);
        alone.setRecordSource("SELECT id FROM clienti WHERE id <= 2");
        QVERIFY(!alone.refresh());
        alone.moveNext();
        QCOMPARE(alone.recordset().field("id").toString(), QStringLiteral("2"));
        alone.bindGrid(grid_);
        QCOMPARE(grid_->currentResultRow(), 1);
        QCOMPARE(source_->grid(), nullptr);
    }
};

QTEST_MAIN(TestDataSource)
#include "tst_datasource.moc"
