#include "support/harness.h"
#include "support/result_window_under_test.h"

#include <QDir>
#include <QJsonArray>
#include <QRegularExpression>
#include <QTest>

using velario::test::Sandbox;

namespace {

const QString kDsn = QStringLiteral("velario-esporta");
const QString kSeries = QStringLiteral("WITH RECURSIVE s(i) AS (SELECT 1 UNION ALL SELECT i + 1 "
                                       "FROM s WHERE i < %1) SELECT i, 'riga ' || i AS r FROM s");
const QByteArray kSemicolon = "id;testo;altro\r\n1;semplice;\r\n2;\"con;punto e virgola\";a,b\r\n"
                              "3;\"virgolette \"\"dentro\"\"\";tab\tqui\r\n"
                              "4;\"riga1\nriga2\";\"cr\r\nlf\"\r\n5;Ελληνικά 日本語;\r\n";
// The catalogue's entries, by their row in its list, and the grids that show them.
const QString kValues = "row frmTS0002.DBGrid1 0\nclick frmTS0002.cmdESEGUE_SQL\n";
const QString kValuesOdbc = "row frmTS0002.DBGrid1 1\nclick frmTS0002.cmdESEGUE_SQL\n";
const QString kRows3000 = "row frmTS0002.DBGrid1 2\nclick frmTS0002.cmdESEGUE_SQL\n";
const QString kLong = "row frmTS0002.DBGrid1 3\nclick frmTS0002.cmdESEGUE_SQL\n";
const QString kOdbcRows = "row frmTS0002.DBGrid1 4\nclick frmTS0002.cmdESEGUE_SQL\n";
// Rows that take a while each: the reading to the end runs for seconds, the count does not.
const QString kSlow = "row frmTS0002.DBGrid1 5\nclick frmTS0002.cmdESEGUE_SQL\n";
constexpr int kSlowRows = 40000;
const QString kExport = "choose-file FILE\nmenu frmTS0003.DBGrid2 Esporta CSV…\n";
const QString kExportOdbc = "choose-file FILE\nmenu frmTS0003.DBGrid1 Esporta CSV…\n";

QByteArray series(int rows, const char* separator) {
    QByteArray csv = QByteArray("i") + separator + "r\r\n";
    for (int i = 1; i <= rows; ++i)
        csv += QByteArray::number(i) + separator + "riga " + QByteArray::number(i) + "\r\n";
    return csv;
}

} // namespace

class TestExport : public QObject {
    Q_OBJECT

    Sandbox sandbox_;
    std::unique_ptr<velario::test::OdbcEnvironment> odbc_;

private slots:
    void initTestCase() {
        const QString values = sandbox_.file("valori.db");
        QVERIFY(velario::test::writeSqlite(
            values, {"CREATE TABLE v (id INTEGER, testo TEXT, altro TEXT)",
                     "INSERT INTO v VALUES (1, 'semplice', NULL), (2, 'con;punto e virgola', "
                     "'a,b'), (3, 'virgolette \"dentro\"', 'tab' || char(9) || 'qui'), (4, "
                     "'riga1' || char(10) || 'riga2', 'cr' || char(13, 10) || 'lf'), (5, "
                     "'Ελληνικά 日本語', '')"}));
        odbc_ = std::make_unique<velario::test::OdbcEnvironment>(
            QList{velario::test::sqliteDataSource(kDsn, values)});
        QVERIFY2(odbc_->isValid(), qPrintable(odbc_->errorString()));
        const QString all = "SELECT * FROM v ORDER BY id";
        sandbox_.writeConfig(sandbox_.makeCatalogue(
            "catalogo.db", {{"A", "Valori", all, values, "MDB"},
                            {"B", "Valori via ODBC", all, kDsn, "ODBC"},
                            {"C", "3000 righe", kSeries.arg(3000), values, "MDB"},
                            // Still running when the progress dialog comes, a second on.
                            {"D", "5000000 righe", kSeries.arg(5000000), values, "MDB"},
                            {"E", "100000 righe via ODBC", kSeries.arg(100000), kDsn, "ODBC"},
                            {"F", "Righe lente",
                             QString("WITH RECURSIVE s(i) AS (SELECT 1 UNION ALL SELECT i + 1 "
                                     "FROM s WHERE i < %1) SELECT i, "
                                     "length(hex(randomblob(20000))) AS n FROM s")
                                 .arg(kSlowRows),
                             values, "MDB"}}));
    }

    // What the file and the clipboard hold, and what the user was asked or told. Files hold
    // the cells' bytes, every row of the result, the locale's separator or the one chosen;
    // the clipboard tab-separated text, a cell quoted where a tab, a line end or a quote would
    // split it, and an HTML table; a Null is an empty cell.
    void exports_data() {
        QTest::addColumn<QString>("steps"); // FILE: a file in a new folder
        QTest::addColumn<bool>("existing"); // FILE holds "vecchio" first
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<QString>("clipboard"); // text, then html; not compared when empty
        QTest::addColumn<QString>("message");   // shown, in the summary's form
        const QByteArray old = "vecchio";
        const QString replace = "msgbox:Il file FILE esiste già.\rSostituirlo ?|Esporta CSV|292";
        const QString stopped =
            "msgbox:Esportazione annullata: il file non è stato scritto.|Esporta CSV|0";
        QTest::newRow("SQLite file") << kValues + kExport << false << kSemicolon << ""
                                     << "";
        QTest::newRow("SQLite ODBC, rows not read yet")
            << kOdbcRows + kExportOdbc << false << series(100000, ";") << ""
            << "";
        QTest::newRow("comma chosen, ODBC")
            << kValuesOdbc + "choose-separator ,\n" + kExportOdbc << false
            << QByteArray("id,testo,altro\r\n1,semplice,\r\n2,con;punto e virgola,\"a,b\"\r\n"
                          "3,\"virgolette \"\"dentro\"\"\",tab\tqui\r\n"
                          "4,\"riga1\nriga2\",\"cr\r\nlf\"\r\n5,Ελληνικά 日本語,\r\n")
            << ""
            << "";
        QTest::newRow("replacing declined")
            << kValues + "answer 7\n" + kExport << true << old << "" << replace;
        QTest::newRow("replacing accepted")
            << kValues + "answer 6\n" + kExport << true << kSemicolon << "" << replace;
        QTest::newRow("stopped, old file")
            << kLong + "answer 6\nanswer 2\n" + kExport << true << old << "" << stopped;
        QTest::newRow("stopped, no file")
            << kLong + "answer 2\n" + kExport << false << QByteArray() << "" << stopped;
        QTest::newRow("block of cells")
            << kValues + "select frmTS0003.DBGrid2 1 1 3 2\nmenu frmTS0003.DBGrid2 Copia\n"
            << false << QByteArray()
            << "con;punto e virgola\ta,b\n\"virgolette \"\"dentro\"\"\"\t"
               "\"tab\tqui\"\n\"riga1\nriga2\"\t\"cr\r\nlf\"\n<table><tr><td>con;punto e "
               "virgola</td>"
               "<td>a,b</td></tr><tr><td>virgolette &quot;dentro&quot;</td><td>tab\tqui</td></tr>"
               "<tr><td>riga1<br>riga2</td><td>cr<br>lf</td></tr></table>"
            << "";
        QTest::newRow("row with a Null, headers")
            << kValues + "select frmTS0003.DBGrid2 row 0\nmenu frmTS0003.DBGrid2 Copia con "
                         "intestazioni\n"
            << false << QByteArray()
            << "id\ttesto\taltro\n1\tsemplice\t\n<table><tr><th>id</th><th>testo</th><th>altro</th>"
               "</tr><tr><td>1</td><td>semplice</td><td></td></tr></table>"
            << "";
        QTest::newRow("a cell with headers, by the keys")
            << kValues + "select frmTS0003.DBGrid2 1 0 1 0\nkey frmTS0003.DBGrid2 Ctrl+Shift+C\n"
            << false << QByteArray()
            << "id\n2\n<table><tr><th>id</th></tr><tr><td>2</td></tr></table>"
            << "";
        QTest::newRow("everything")
            << kValues + "select frmTS0003.DBGrid2 all\nmenu frmTS0003.DBGrid2 Copia\n"
            << false << QByteArray()
            << "1\tsemplice\t\n2\tcon;punto e virgola\ta,b\n3\t\"virgolette "
               "\"\"dentro\"\"\"\t\"tab\tqui\""
               "\n4\t\"riga1\nriga2\"\t\"cr\r\nlf\"\n5\tΕλληνικά 日本語\t\n"
            << "";
        QStringList numbers;
        for (int i = 1; i <= 3000; ++i)
            numbers << QString::number(i);
        QTest::newRow("a whole column, rows not read yet")
            << kRows3000 + "select frmTS0003.DBGrid2 column 0\nkey frmTS0003.DBGrid2 Ctrl+C\n"
            << false << QByteArray() << numbers.join('\n') + '\n'
            << "";
    }

    // Ctrl+End on a long result, then "Annulla": the grid shows the rows read, the count
    // says of how many, and what comes next reads on from there: Ctrl+End again (stopped
    // once more, further on), then an export with its own progress, never told it was stopped.
    void afterAStoppedReading() {
        QTemporaryDir folder;
        const QString path = folder.filePath("lente.csv");
        const QString stop = "answer 2\nkey frmTS0003.DBGrid2 Ctrl+End\ndump\n";
        const velario::test::ProgramRun run =
            sandbox_.run(kSlow + stop + stop + QString(kExport).replace("FILE", path) + "dump\n");
        QCOMPARE(run.exitCode, 0);
        const QString reading = "progress:Lettura dei record in corso...|2";
        const QString stopped = "msgbox:Errore SQL: Operazione annullata dall'utente.|Velario|0";
        QCOMPARE(run.summary().filter(QRegularExpression("^(msgbox|progress:Lettura)")),
                 QStringList({reading, stopped, reading, stopped}));
        QList<int> shown;
        QStringList counts;
        for (const QJsonObject& state : run.eventsOf("state"))
            for (const QJsonValue window : state["windows"].toArray())
                if (window["name"] == "frmTS0003") {
                    const QJsonValue grid = window["controls"]["DBGrid2"];
                    shown << grid["cells"].toArray().last()[0].toString().toInt();
                    counts << window["controls"]["lblNUM_REC"]["caption"].toString();
                }
        QCOMPARE(shown.size(), 3);
        QVERIFY2(0 < shown[0] && shown[0] < shown[1] && shown[1] < kSlowRows,
                 qPrintable(counts.join('|')));
        const QLocale italian(QLocale::Italian);
        QCOMPARE(counts, QStringList({italian.toString(shown[0]) + " di 40.000",
                                      italian.toString(shown[1]) + " di 40.000", "  40.000"}));
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray csv = file.readAll();
        QCOMPARE(csv.count('\n'), kSlowRows + 1);
        QVERIFY(csv.startsWith("i;n\r\n1;40000\r\n") && csv.endsWith("\r\n40000;40000\r\n"));
    }

    void exports() {
        QFETCH(QString, steps);
        QFETCH(bool, existing);
        QFETCH(QByteArray, file);
        QFETCH(QString, clipboard);
        QFETCH(QString, message);
        QTemporaryDir folder;
        QFile out(folder.filePath("uscita.csv"));
        QVERIFY(!existing || (out.open(QIODevice::WriteOnly) && out.write("vecchio") == 7));
        out.close();
        const velario::test::ProgramRun run = sandbox_.run(steps.replace("FILE", out.fileName()));
        QCOMPARE(run.exitCode, 0);
        QCOMPARE(out.exists() && out.open(QIODevice::ReadOnly) ? out.readAll() : QByteArray(),
                 file);
        QCOMPARE(QDir(folder.path()).entryList(QDir::Files | QDir::Hidden).size(),
                 int(out.exists()));
        QVERIFY(message.isEmpty() ||
                run.summary().contains(message.replace("FILE", out.fileName())));
        const QJsonObject copied = run.eventsOf("clipboard").value(0);
        const bool html = clipboard.endsWith("</table>");
        QVERIFY(clipboard.isEmpty() ||
                clipboard == copied["text"].toString() + copied[html ? "html" : "-"].toString());
    }
};

QTEST_MAIN(TestExport)
#include "tst_export.moc"
