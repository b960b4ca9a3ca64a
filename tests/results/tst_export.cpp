#include "support/harness.h"
#include "support/result_window_under_test.h"

#include <QDir>
#include <QJsonArray>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QTest>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

using namespace velario::test;

namespace {

const QString kDsn = QStringLiteral("velario-esporta");
const QString kSeries = QStringLiteral("WITH RECURSIVE s(i) AS (SELECT 1 UNION ALL SELECT i + 1 "
                                       "FROM s WHERE i < %1) SELECT i, 'riga ' || i AS r FROM s");
const QByteArray kSemicolon = "id;testo;altro\r\n1;semplice;\r\n2;\"con;punto e virgola\";a,b\r\n"
                              "3;\"virgolette \"\"dentro\"\"\";tab\tqui\r\n"
                              "4;\"riga1\nriga2\";\"cr\r\nlf\"\r\n5;Ελληνικά 日本語;\r\n";
// The catalogue's entries, by their row in its list, run.
QString entry(int row) {
    return QString("row frmTS0002.DBGrid1 %1\nclick frmTS0002.cmdESEGUE_SQL\n").arg(row);
}
const QString kValues = entry(0), kRows3000 = entry(1), kLong = entry(2), kOdbcRows = entry(3),
              kSlow = entry(4), kNumbers = entry(5);
// Rows that take a while each: the reading to the end runs for seconds, the count does not.
constexpr int kSlowRows = 40000;
// Numbers as the engine writes them, and digits a spreadsheet would change.
const QByteArray kNumbersForItaly =
    "testo;reale;intero\r\n1234,5;1234,5;1234\r\n1,0e+20;1,0e+20;-7\r\n"
    "\"=\"\"12345678901234567890\"\"\";0,5;\"=\"\"12345678901234567\"\"\"\r\n"
    "\"=\"\"00184\"\"\";-0,25;0\r\n1,234;1,0e-05;\r\nabc;;1\r\n";
const QString kExport = "choose-file FILE\nmenu frmTS0003.DBGrid2 Esporta CSV…\n";

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
    std::unique_ptr<OdbcEnvironment> odbc_;

private slots:
    void initTestCase() {
        const QString values = sandbox_.file("valori.db");
        QVERIFY(writeSqlite(
            values, {"CREATE TABLE v (id INTEGER, testo TEXT, altro TEXT)",
                     "INSERT INTO v VALUES (1, 'semplice', NULL), (2, 'con;punto e virgola', "
                     "'a,b'), (3, 'virgolette \"dentro\"', 'tab' || char(9) || 'qui'), (4, "
                     "'riga1' || char(10) || 'riga2', 'cr' || char(13, 10) || 'lf'), (5, "
                     "'Ελληνικά 日本語', '')",
                     "CREATE TABLE numeri (n INTEGER, testo TEXT, reale REAL, intero INTEGER)",
                     "INSERT INTO numeri VALUES (1, '1234.5', 1234.5, 1234), (2, '1.0e+20', 1e20, "
                     "-7), (3, '12345678901234567890', 0.5, 12345678901234567), (4, '00184', "
                     "-0.25, 0), (5, '1.234', 1e-5, NULL), (6, 'abc', NULL, 1)"}));
        odbc_ = std::make_unique<OdbcEnvironment>(QList{sqliteDataSource(kDsn, values)});
        QVERIFY2(odbc_->isValid(), qPrintable(odbc_->errorString()));
        sandbox_.writeConfig(sandbox_.makeCatalogue(
            "catalogo.db", {{"A", "Valori", "SELECT * FROM v ORDER BY id", values, "MDB"},
                            {"C", "3000 righe", kSeries.arg(3000), values, "MDB"},
                            // Still running when the progress dialog comes, a second on.
                            {"D", "5000000 righe", kSeries.arg(5000000), values, "MDB"},
                            {"E", "100000 righe via ODBC", kSeries.arg(100000), kDsn, "ODBC"},
                            {"F", "Righe lente",
                             kSeries.arg(kSlowRows).replace("'riga ' || i AS r",
                                                            "length(hex(randomblob(60000))) AS n"),
                             values, "MDB"},
                            {"G", "Numeri", "SELECT testo, reale, intero FROM numeri ORDER BY n",
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
        const auto row = [](const char* name, const QString& steps, bool existing,
                            const QByteArray& file, const QString& clipboard = {},
                            const QString& message = {}) {
            QTest::newRow(name) << steps << existing << file << clipboard << message;
        };
        const QByteArray old = "vecchio";
        const QString replace = "msgbox:Il file FILE esiste già.\rSostituirlo ?|Esporta CSV|292";
        const QString stopped =
            "msgbox:Esportazione annullata: il file non è stato scritto.|Esporta CSV|0";
        row("comma chosen, ODBC, rows not read yet",
            kOdbcRows + "choose-separator ,\n" + QString(kExport).replace("DBGrid2", "DBGrid1"),
            false, series(100000, ","));
        row("numbers for an Italian spreadsheet", kNumbers + kExport, false, kNumbersForItaly);
        row("numbers as stored", kNumbers + "choose-separator ; stored\n" + kExport, false,
            QByteArray("testo;reale;intero\r\n1234.5;1234.5;1234\r\n1.0e+20;1.0e+20;-7\r\n"
                       "12345678901234567890;0.5;12345678901234567\r\n00184;-0.25;0\r\n"
                       "1.234;1.0e-05;\r\nabc;;1\r\n"));
        row("numbers copied",
            kNumbers + "select frmTS0003.DBGrid2 2 0 3 2\nmenu frmTS0003.DBGrid2 Copia\n", false,
            QByteArray(),
            QString("\"=\"\"12345678901234567890\"\"\"\t0,5\t\"=\"\"12345678901234567\"\"\"\n"
                    "\"=\"\"00184\"\"\"\t-0,25\t0\n<table><tr><T>12345678901234567890</td>"
                    "<td>0,5</td><T>12345678901234567</td></tr><tr><T>00184</td><td>-0,25</td>"
                    "<td>0</td></tr></table>")
                .replace("<T>", R"(<td sdnum="1033;0;@" style="mso-number-format:'\@'">)"));
        row("replacing declined", kValues + "answer 7\n" + kExport, true, old, "", replace);
        row("replacing accepted", kValues + "answer 6\n" + kExport, true, kSemicolon, "", replace);
        row("stopped, old file", kLong + "answer 6\nanswer 2\n" + kExport, true, old, "", stopped);
        row("stopped, no file", kLong + "answer 2\n" + kExport, false, QByteArray(), "", stopped);
        row("block of cells",
            kValues + "select frmTS0003.DBGrid2 1 1 3 2\nmenu frmTS0003.DBGrid2 Copia\n", false,
            QByteArray(),
            "con;punto e virgola\ta,b\n\"virgolette \"\"dentro\"\"\"\t"
            "\"tab\tqui\"\n\"riga1\nriga2\"\t\"cr\r\nlf\"\n<table><tr><td>con;punto e "
            "virgola</td>"
            "<td>a,b</td></tr><tr><td>virgolette &quot;dentro&quot;</td><td>tab\tqui</td></tr>"
            "<tr><td>riga1<br>riga2</td><td>cr<br>lf</td></tr></table>");
        row("row with a Null, headers",
            kValues + "select frmTS0003.DBGrid2 row 0\nmenu frmTS0003.DBGrid2 Copia con "
                      "intestazioni\n",
            false, QByteArray(),
            "id\ttesto\taltro\n1\tsemplice\t\n<table><tr><th>id</th><th>testo</th><th>altro</th>"
            "</tr><tr><td>1</td><td>semplice</td><td></td></tr></table>");
        row("a cell with headers, by the keys",
            kValues + "select frmTS0003.DBGrid2 1 0 1 0\nkey frmTS0003.DBGrid2 Ctrl+Shift+C\n",
            false, QByteArray(), "id\n2\n<table><tr><th>id</th></tr><tr><td>2</td></tr></table>");
        QStringList numbers;
        for (int i = 1; i <= 3000; ++i)
            numbers << QString::number(i);
        row("a whole column, rows not read yet",
            kRows3000 + "select frmTS0003.DBGrid2 column 0\nkey frmTS0003.DBGrid2 Ctrl+C\n", false,
            QByteArray(), numbers.join('\n') + '\n');
        // Every row read so far is not every row of the column.
        row("the rows read, not the whole column",
            kRows3000 + "select frmTS0003.DBGrid2 0 0 255 0\nkey frmTS0003.DBGrid2 Ctrl+C\n", false,
            QByteArray(), numbers.mid(0, 256).join('\n') + '\n');
    }

    // Ctrl+End on a long result, then "Annulla": the grid shows the rows read, the count
    // says of how many, and what comes next reads on from there: Ctrl+End again (stopped
    // once more, further on), then an export with its own progress, never told it was stopped.
    void afterAStoppedReading() {
        const QString path = sandbox_.file("lente.csv");
        const QString stop = "answer 2\nkey frmTS0003.DBGrid2 Ctrl+End\ndump\n";
        const ProgramRun run =
            sandbox_.run(kSlow + stop + stop + QString(kExport).replace("FILE", path) + "dump\n");
        QCOMPARE(run.exitCode, 0);
        const QString reading = "progress:Lettura dei record in corso...|2";
        const QString stopped = "msgbox:Errore SQL: Operazione annullata dall'utente.|Velario|0";
        QCOMPARE(run.summary().filter(QRegularExpression("^(msgbox|progress:Lettura)")),
                 QStringList({reading, stopped, reading, stopped}));
        // The last row shown and the count, after each stop and at the end.
        QList<int> shown;
        for (const QJsonObject& state : run.eventsOf("state"))
            for (const QJsonValue window : state["windows"].toArray())
                if (window["name"] == "frmTS0003") {
                    const QJsonValue controls = window["controls"];
                    shown << controls["DBGrid2"]["cells"].toArray().last()[0].toString().toInt();
                    QCOMPARE(controls["lblNUM_REC"]["caption"].toString(),
                             shown.size() < 3
                                 ? QLocale(QLocale::Italian).toString(shown.last()) + " di 40.000"
                                 : "  40.000");
                }
        QCOMPARE(shown.size(), 3);
        QVERIFY(0 < shown[0] && shown[0] < shown[1] && shown[1] < kSlowRows);
        const QByteArray csv = fileBytes(path);
        QCOMPARE(csv.count('\n'), kSlowRows + 1);
        QVERIFY(csv.startsWith("i;n\r\n1;120000\r\n") && csv.endsWith("\r\n40000;120000\r\n"));
    }

    // "Esporta CSV…" proposes the entry's code as the file's name, in the home folder first,
    // then in the folder of the last export.
    void proposedFile() {
        const ProgramRun run =
            sandbox_.run(kValues + QString(kExport).replace("FILE", sandbox_.file("primo.csv")) +
                         QString(kExport).replace("FILE", sandbox_.file("secondo.csv")));
        QStringList starts;
        for (const QJsonObject& dialog : run.eventsOf("filedialog"))
            starts << dialog["initialDir"].toString();
        QCOMPARE(starts, QStringList({QDir::home().filePath("A.csv"), sandbox_.file("A.csv")}));
    }

    void exports() {
        QFETCH(QString, steps);
        QFETCH(bool, existing);
        QFETCH(QByteArray, file);
        QFETCH(QString, clipboard);
        QFETCH(QString, message);
        QTemporaryDir folder;
        const QString out = folder.filePath("uscita.csv");
        QVERIFY(!existing || writeBytes(out, "vecchio"));
        const ProgramRun run = sandbox_.run(steps.replace("FILE", out));
        QCOMPARE(run.exitCode, 0);
        QCOMPARE(fileBytes(out), file);
        QCOMPARE(QDir(folder.path()).entryList(QDir::Files | QDir::Hidden).size(),
                 int(QFile::exists(out)));
        QVERIFY(message.isEmpty() || run.summary().contains(message.replace("FILE", out)));
        const QJsonObject copied = run.eventsOf("clipboard").value(0);
        const bool html = clipboard.endsWith("</table>");
        if (html)
            clipboard
                .replace("<table>", R"(<html><head><meta charset="utf-8"></head><body><table>)")
                .append("</body></html>");
        QVERIFY(clipboard.isEmpty() ||
                clipboard == copied["text"].toString() + copied[html ? "html" : "-"].toString());
    }

    // "Esporta CSV…" never replaces what is not an ordinary file: a named pipe takes the rows
    // without the question for an existing file, a device is refused. The test makes its own.
    void notAFile_data() {
        QTest::addColumn<bool>("pipe");
        QTest::newRow("named pipe") << true;
        QTest::newRow("device") << false;
    }

    void notAFile() {
        QFETCH(bool, pipe);
        QTemporaryDir folder;
        const QString path = folder.filePath("uscita.csv");
        const QByteArray name = QFile::encodeName(path);
        // A reader is there before the export starts, and the rows fit in the pipe.
        QVERIFY(pipe ? ::mkfifo(name, 0600) == 0
                     : ::mknod(name, S_IFCHR | 0600, makedev(1, 3)) == 0);
        const int reader = pipe ? ::open(name, O_RDONLY | O_NONBLOCK) : -1;
        const auto closeReader = qScopeGuard([reader] { ::close(reader); });
        const ProgramRun run = sandbox_.run(QString(kValues + kExport).replace("FILE", path));
        QCOMPARE(run.exitCode, 0);
        QCOMPARE(run.summary().filter(QRegularExpression("^msgbox:")).join(""),
                 pipe ? ""
                      : "msgbox:Impossibile scrivere il file " + path +
                            ": è un dispositivo, non un file|Esporta CSV|0");
        QByteArray received(4096, '\0');
        received.truncate(pipe ? std::max<qsizetype>(0, ::read(reader, received.data(), 4096)) : 0);
        QCOMPARE(received, pipe ? kSemicolon : QByteArray());
        struct stat after {};
        QVERIFY(::stat(name, &after) == 0 &&
                (pipe ? S_ISFIFO(after.st_mode) : S_ISCHR(after.st_mode)));
    }
};

QTEST_MAIN(TestExport)
#include "tst_export.moc"
