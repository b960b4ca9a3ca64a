#include "controls/datagrid.h"
#include "result_window_session.h"
#include "support/harness.h"

#include <QDir>
#include <QFile>
#include <QTest>

using namespace velario;

namespace {

const QString kDsn = QStringLiteral("velario-esporta");
const QString kValues = QStringLiteral("SELECT * FROM v ORDER BY id");
// Long enough to still run when the progress dialog comes, a second on.
const QString kLong = QStringLiteral("WITH RECURSIVE s(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM "
                                     "s WHERE i < 5000000) SELECT i, 'riga ' || i FROM s");

const QByteArray kSemicolon = "id;testo;altro\r\n"
                              "1;semplice;\r\n"
                              "2;\"con;punto e virgola\";a,b\r\n"
                              "3;\"virgolette \"\"dentro\"\"\";tab\tqui\r\n"
                              "4;\"riga1\nriga2\";\"cr\r\nlf\"\r\n"
                              "5;Ελληνικά 日本語;\r\n";

QByteArray readAll(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<assente>");
}

QList<QJsonObject> eventsOf(const velario::test::InProcess& capture, const QString& kind) {
    QList<QJsonObject> found;
    for (const QJsonObject& e : capture.events())
        if (e["event"] == kind)
            found << e;
    return found;
}

} // namespace

class TestExport : public QObject {
    Q_OBJECT

    QTemporaryDir dir_;
    QString values_;
    std::unique_ptr<velario::test::OdbcEnvironment> odbc_;

    // The result window on SQL, through the SQLite file or its ODBC data source.
    DataGrid* open(const QString& sql, bool odbc = false) {
        CatalogueWindow* catalogue = velario::test::openCatalogue({});
        velario::test::putOnScreen(catalogue, {sql, odbc ? kDsn : values_, odbc ? "ODBC" : "MDB"});
        ResultWindow* results = velario::test::pressRun(catalogue);
        return results ? results->activeGrid() : nullptr;
    }

private slots:
    void initTestCase() {
        values_ = dir_.filePath("valori.db");
        QVERIFY(velario::test::writeSqlite(
            values_,
            {"CREATE TABLE v (id INTEGER, testo TEXT, altro TEXT)",
             "INSERT INTO v VALUES (1, 'semplice', NULL), (2, 'con;punto e virgola', 'a,b'), "
             "(3, 'virgolette \"dentro\"', 'tab' || char(9) || 'qui'), "
             "(4, 'riga1' || char(10) || 'riga2', 'cr' || char(13, 10) || 'lf'), "
             "(5, 'Ελληνικά 日本語', '')"}));
        odbc_ = std::make_unique<velario::test::OdbcEnvironment>(
            QList{velario::test::sqliteDataSource(kDsn, values_)});
        QVERIFY2(odbc_->isValid(), qPrintable(odbc_->errorString()));
    }

    void cleanup() { velario::test::unloadAll(); }

    // The whole result in the file, bytes as stored, with the separator of the locale or the
    // one chosen in the dialog, whichever engine read it.
    void csvBytes_data() {
        QTest::addColumn<bool>("odbc");
        QTest::addColumn<QString>("separator");
        QTest::addColumn<QByteArray>("expected");
        QTest::newRow("SQLite file, Italian locale") << false << "" << kSemicolon;
        QTest::newRow("SQLite ODBC, Italian locale") << true << "" << kSemicolon;
        QTest::newRow("comma chosen")
            << false << ","
            << QByteArray("id,testo,altro\r\n1,semplice,\r\n2,con;punto e virgola,\"a,b\"\r\n"
                          "3,\"virgolette \"\"dentro\"\"\",tab\tqui\r\n"
                          "4,\"riga1\nriga2\",\"cr\r\nlf\"\r\n5,Ελληνικά 日本語,\r\n");
        QTest::newRow("tab chosen")
            << true << "tab"
            << QByteArray("id\ttesto\taltro\r\n1\tsemplice\t\r\n"
                          "2\tcon;punto e virgola\ta,b\r\n"
                          "3\t\"virgolette \"\"dentro\"\"\"\t\"tab\tqui\"\r\n"
                          "4\t\"riga1\nriga2\"\t\"cr\r\nlf\"\r\n"
                          "5\tΕλληνικά 日本語\t\r\n");
    }

    void csvBytes() {
        QFETCH(bool, odbc);
        QFETCH(QString, separator);
        QFETCH(QByteArray, expected);
        velario::test::InProcess capture;
        DataGrid* grid = open(kValues, odbc);
        QVERIFY(grid);
        const QString path =
            dir_.filePath(QStringLiteral("valori %1.csv").arg(QTest::currentDataTag()));
        capture.dialogs().queueFile(path);
        if (!separator.isEmpty())
            capture.dialogs().queueSeparator(separator == "tab" ? '\t' : separator[0].toLatin1());
        QCOMPARE(grid->automationMenu("Esporta CSV…"), QString());
        QCOMPARE(readAll(path), expected);
        const QJsonObject dialog = eventsOf(capture, "filedialog").value(0);
        QCOMPARE(dialog["kind"].toString(), QStringLiteral("save"));
        QCOMPARE(dialog["separator"].toString(), separator.isEmpty() ? ";" : separator);
    }

    // Rows the grid has not read yet are exported too, and the grid keeps them.
    void wholeResult() {
        velario::test::InProcess capture;
        DataGrid* grid = open("WITH RECURSIVE s(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM s "
                              "WHERE i < 100000) SELECT i FROM s",
                              true);
        QVERIFY(grid);
        QVERIFY(grid->resultModel()->fetchedRows() < 100000);
        const QString path = dir_.filePath("tutte.csv");
        capture.dialogs().queueFile(path);
        QCOMPARE(grid->automationMenu("Esporta CSV…"), QString());
        const QByteArray csv = readAll(path);
        QCOMPARE(csv.count("\r\n"), 100001);
        QVERIFY(csv.endsWith("\r\n99999\r\n100000\r\n"));
        QCOMPARE(grid->resultModel()->fetchedRows(), 100000);
    }

    // A file is replaced only when the user says so; a stopped export writes nothing and
    // leaves an old file as it was; nothing else appears in the folder.
    void keepsOldFile_data() {
        QTest::addColumn<bool>("existing");
        QTest::addColumn<QList<int>>("answers");
        QTest::addColumn<QString>("sql");
        QTest::addColumn<QByteArray>("after");
        QTest::addColumn<QString>("message");
        const QByteArray old = "vecchio";
        const QString question = "msgbox:Il file %1 esiste già.\rSostituirlo ?|Esporta CSV|292";
        const QString stopped =
            "msgbox:Esportazione annullata: il file non è stato scritto.|Esporta CSV|0";
        QTest::newRow("declined") << true << QList{7} << kValues << old << question;
        QTest::newRow("accepted") << true << QList{6} << kValues << kSemicolon << question;
        QTest::newRow("stopped, old file") << true << QList{6, 2} << kLong << old << stopped;
        QTest::newRow("stopped, no file")
            << false << QList{2} << kLong << QByteArray("<assente>") << stopped;
    }

    void keepsOldFile() {
        QFETCH(bool, existing);
        QFETCH(QList<int>, answers);
        QFETCH(QString, sql);
        QFETCH(QByteArray, after);
        QFETCH(QString, message);
        QTemporaryDir folder;
        const QString path = folder.filePath("uscita.csv");
        if (existing) {
            QFile file(path);
            QVERIFY(file.open(QIODevice::WriteOnly) && file.write("vecchio") == 7);
        }
        velario::test::InProcess capture;
        DataGrid* grid = open(sql);
        QVERIFY(grid);
        capture.dialogs().queueFile(path);
        for (int answer : answers)
            capture.dialogs().queueAnswer(answer);
        QCOMPARE(grid->automationMenu("Esporta CSV…"), QString());
        QCOMPARE(readAll(path), after);
        QVERIFY(capture.summary().contains(QString(message).replace("%1", path)));
        QCOMPARE(QDir(folder.path()).entryList(QDir::Files | QDir::Hidden),
                 existing || after != "<assente>" ? QStringList{"uscita.csv"} : QStringList());
    }

    // Tab-separated text with quoted cells where a tab, a line end or a quote would split
    // them, and an HTML table; a Null is an empty cell.
    void clipboard_data() {
        QTest::addColumn<QString>("selection");
        QTest::addColumn<QString>("action");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("html");
        QTest::newRow("block of cells")
            << "1 1 3 2"
            << "Copia"
            << "con;punto e virgola\ta,b\n\"virgolette \"\"dentro\"\"\"\t\"tab\tqui\"\n"
               "\"riga1\nriga2\"\t\"cr\r\nlf\""
            << "<table><tr><td>con;punto e virgola</td><td>a,b</td></tr><tr><td>virgolette "
               "&quot;dentro&quot;</td><td>tab\tqui</td></tr><tr><td>riga1<br>riga2</td>"
               "<td>cr<br>lf</td></tr></table>";
        QTest::newRow("row with a Null, headers")
            << "row 0"
            << "Copia con intestazioni"
            << "id\ttesto\taltro\n1\tsemplice\t"
            << "<table><tr><th>id</th><th>testo</th><th>altro</th></tr><tr><td>1</td>"
               "<td>semplice</td><td></td></tr></table>";
        QTest::newRow("column by Ctrl+C")
            << "column 2"
            << "Ctrl+C"
            << "\na,b\n\"tab\tqui\"\n\"cr\r\nlf\"\n"
            << "<table><tr><td></td></tr><tr><td>a,b</td></tr><tr><td>tab\tqui</td></tr><tr>"
               "<td>cr<br>lf</td></tr><tr><td></td></tr></table>";
    }

    void clipboard() {
        QFETCH(QString, selection);
        QFETCH(QString, action);
        QFETCH(QString, text);
        QFETCH(QString, html);
        velario::test::InProcess capture;
        DataGrid* grid = open(kValues);
        QVERIFY(grid);
        QCOMPARE(grid->automationSelect(selection), QString());
        if (action == "Ctrl+C")
            QTest::keyClick(grid, Qt::Key_C, Qt::ControlModifier);
        else
            QCOMPARE(grid->automationMenu(action), QString());
        const QList<QJsonObject> copied = eventsOf(capture, "clipboard");
        QCOMPARE(copied.size(), 1);
        QCOMPARE(copied[0]["text"].toString(), text);
        QCOMPARE(copied[0]["html"].toString(), html);
    }

    // The same through a script of the program itself: its steps and its events.
    void scripted() {
        velario::test::Sandbox sandbox;
        sandbox.writeConfig(
            sandbox.makeCatalogue("catalogo.db", {{"V", "Valori", kValues, values_, "MDB"}}));
        const QString path = sandbox.file("valori.csv");
        const velario::test::ProgramRun run =
            sandbox.run("click frmTS0002.cmdESEGUE_SQL\nselect frmTS0003.DBGrid2 3 0 4 1\n"
                        "menu frmTS0003.DBGrid2 Copia\nchoose-file " +
                        path +
                        "\nchoose-separator tab\n"
                        "menu frmTS0003.DBGrid2 \"Esporta CSV…\"\n");
        QCOMPARE(run.exitCode, 0);
        QCOMPARE(run.eventsOf("clipboard").value(0)["text"].toString(),
                 QStringLiteral("4\t\"riga1\nriga2\"\n5\tΕλληνικά 日本語"));
        const QJsonObject dialog = run.eventsOf("filedialog").value(0);
        QCOMPARE(dialog["separator"].toString() + dialog["kind"].toString() +
                     dialog["result"].toString(),
                 "tabsave" + path);
        QVERIFY(readAll(path).startsWith("id\ttesto\taltro\r\n1\tsemplice\t\r\n"));
    }

    // A selected column is the whole column: the rows not read yet are read for it.
    void wholeColumn() {
        velario::test::InProcess capture;
        DataGrid* grid = open("WITH RECURSIVE s(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM s "
                              "WHERE i < 5000) SELECT i, -i FROM s");
        QVERIFY(grid);
        QCOMPARE(grid->automationSelect("column 1"), QString());
        QCOMPARE(grid->automationMenu("Copia"), QString());
        const QList<QJsonObject> copied = eventsOf(capture, "clipboard");
        QCOMPARE(copied.size(), 1);
        const QStringList lines = copied[0]["text"].toString().split('\n');
        QCOMPARE(lines.size(), 5000);
        QCOMPARE(lines.last(), QStringLiteral("-5000"));
    }
};

QTEST_MAIN(TestExport)
#include "tst_export.moc"
