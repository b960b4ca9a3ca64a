#include "data/odbc/odbc.h"
#include "support/harness.h"
#include "support/result_window_under_test.h"

#include <QDir>
#include <QScopeGuard>
#include <QTest>

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

const QString kDsn = QStringLiteral("velario-riga-di-comando");
const QByteArray kCsv = "id;testo\r\n1;\"a;b\"\r\n2;\r\n3;\"è \"\"q\"\"\"\r\n";
// The hostile value is data (row 2's NULL text differs from no value), the empty one NULL.
const QString kParameters = QStringLiteral(
    "SELECT id, :nota AS nota FROM v WHERE id >= :dal AND (:nota IS NULL OR testo <> :nota) "
    "ORDER BY id");
const QString kHostile = QStringLiteral("x'); DROP TABLE v; --");
const QByteArray kHostileCsv = "id;nota\r\n3;\"x'); DROP TABLE v; --\"\r\n";

} // namespace

class TestCommandLine : public QObject {
    Q_OBJECT

    velario::test::Sandbox sandbox_;
    velario::test::Sandbox access_; // its catalogue an Access file, which cannot be opened
    std::unique_ptr<velario::test::OdbcEnvironment> odbc_;
    QByteArray halfRows_; // what META writes before it fails

    // A run of the program on the sandbox's environment, with a display (Qt's offscreen one)
    // or none at all.
    velario::test::CommandRun runProgram(const QStringList& args, bool display = false) const {
        QProcessEnvironment env = sandbox_.environment();
        if (!display)
            for (const char* name : {"QT_QPA_PLATFORM", "DISPLAY", "WAYLAND_DISPLAY"})
                env.remove(name);
        return velario::test::runCommand(velario::test::programBinary(), args, env);
    }

private slots:
    void initTestCase() {
        const QString values = sandbox_.file("valori.db");
        QVERIFY(velario::test::writeSqlite(
            values, {"CREATE TABLE v (id INTEGER, testo TEXT)",
                     "INSERT INTO v VALUES (1, 'a;b'), (2, NULL), (3, 'è \"q\"')"}));
        odbc_ = std::make_unique<velario::test::OdbcEnvironment>(
            QList{velario::test::sqliteDataSource(kDsn, values)});
        QVERIFY2(odbc_->isValid(), qPrintable(odbc_->errorString()));
        // Rows of 48 bytes: the megabytes before the failure fill the writer's buffer many
        // times, each time in the middle of a row.
        const QString half = "WITH RECURSIVE s(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM s WHERE "
                             "i < 100000) SELECT i, CASE WHEN i < 90000 THEN printf('%040d', i) "
                             "ELSE abs(-9223372036854775807 - 1) END AS v FROM s";
        halfRows_ = "i;v\r\n";
        for (int i = 1; i < 90000; ++i)
            halfRows_ += QByteArray::number(i) + ';' +
                         QByteArray::number(i).rightJustified(40, '0') + "\r\n";
        const QString catalogue = sandbox_.makeCatalogue(
            "catalogo.db", {{"VALORI", "Valori", "SELECT * FROM v ORDER BY id", values, "MDB"},
                            {"TABELLA", "Tabella", " v ", values, " MDB "},
                            {"REMOTO", "Via ODBC", "SELECT * FROM v ORDER BY id", kDsn, "ODBC"},
                            {"ERRATA", "Errata", "SELECT * FROM manca", values, "MDB"},
                            {"META", "A metà", half, values, "MDB"},
                            {"SPENTO", "Assente", "SELECT 1", "velario-nessuna", "ODBC"},
                            {"PARAM", "Con parametri", kParameters, values, "MDB"},
                            {"PARAM_ODBC", "Con parametri", kParameters, kDsn, "ODBC"}});
        sandbox_.writeConfig(catalogue);
        QVERIFY(QFile::copy(qEnvironmentVariable("VELARIO_SOURCE_DIR") +
                                "/tests/data/access/ASampleDatabase.accdb",
                            access_.file("VELARIO2.mdb")));
        access_.writeConfig(access_.file("VELARIO2.mdb"));
    }

    // Exit status, standard output and error, and the file, with neither a display nor a Qt
    // platform. A failed run leaves no file and the old one as it was; to standard output, it
    // has written every whole row read before the failure.
    void runs_data() {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QByteArray>("out");
        QTest::addColumn<QString>("err");
        QTest::addColumn<QByteArray>("file"); // what FILE holds afterwards
        const auto row = [](const char* name, const QString& args, int code, const QString& err,
                            const QByteArray& file = "vecchio", const QByteArray& out = {}) {
            QTest::newRow(name) << args.split(' ', Qt::SkipEmptyParts) << code << out << err
                                << file;
        };
        const QString toFile = "--csv FILE --run ";
        const QString overflow = "Errore SQL: integer overflow\n";
        row("to standard output", "--run VALORI", 0, "", "vecchio", kCsv);
        row("to a file", toFile + "VALORI", 0, "", kCsv);
        row("table name", toFile + "TABELLA", 0, "", kCsv);
        row("through ODBC", toFile + "REMOTO", 0, "", kCsv);
        row("unknown code", toFile + "NESSUNO", 1, "Codice NESSUNO non presente in archivio !!!\n");
        row("failing statement", toFile + "ERRATA", 1, "Errore SQL: no such table: manca\n");
        row("failing after many rows", toFile + "META", 1, overflow);
        row("failing after many rows, to standard output", "--run META", 1, overflow, "vecchio",
            "<half>");
        row("unreachable data source", toFile + "SPENTO", 1, "<odbc>");
        row("no configuration", toFile + "VALORI --program-dir /nessuna", 2,
            "File di configurazione  VELARIO.INI  assente !!!\n\nCercato nella cartella:\n"
            "/nessuna\n");
        for (const char* code : {"PARAM", "PARAM_ODBC"})
            QTest::addRow("%s: values bound", code)
                << QStringList{"--run", code, "--param", "DAL=2", "--param=nota=" + kHostile} << 0
                << kHostileCsv << "" << QByteArray("vecchio");
        row("empty is NULL", toFile + "PARAM --param dal=1,5 --param nota=", 0, "",
            "id;nota\r\n2;\r\n3;\r\n");
        row("a value missing", toFile + "PARAM --param dal=1", 2,
            "Manca il valore del parametro :nota (--param nota=VALORE)\n");
        row("a parameter it has not", toFile + "PARAM --param dal=1 --param nota= --param al=3", 2,
            "La selezione PARAM non ha il parametro :al\n");
        // The windowless commands say what the window says.
        row("catalogue that cannot be opened", "--list --program-dir <access>", 2,
            "ERRORE IN APERTURA DATABASE !!!\n\n 3343 - …velario-newcat --from <acc>…\n\n<acc>\n");
        row("list", "--list", 0, "", "vecchio",
            "ERRATA\tMDB\t<db>\tErrata\nMETA\tMDB\t<db>\tA metà\n"
            "PARAM\tMDB\t<db>\tCon parametri\tnota, dal\nPARAM_ODBC\tODBC\t" +
                kDsn.toUtf8() + "\tCon parametri\tnota, dal\nREMOTO\tODBC\t" + kDsn.toUtf8() +
                "\tVia ODBC\nSPENTO\tODBC\tvelario-nessuna\tAssente\n"
                "TABELLA\tMDB\t<db>\tTabella\nVALORI\tMDB\t<db>\tValori\n");
        // What already is at the path of --csv and is not an ordinary file is never replaced:
        // standard output takes the CSV as a stream, a socket or a folder is refused; through a
        // symbolic link its target is written. (Pipes and devices: the export's tests.)
        row("standard output by name", "--csv /dev/stdout --run VALORI", 0, "", "vecchio", kCsv);
        row("through a link", "--csv <link> --run VALORI", 0, "", kCsv);
        const QString cannot = "Impossibile scrivere il file <nodes>/";
        row("a socket", "--csv <socket> --run VALORI", 2,
            cannot + "socket: è un socket, non un file\n");
        row("a folder", "--csv <folder> --run VALORI", 2, cannot + "folder: è una cartella\n");
        row("in a missing folder", "--csv <missing> --run VALORI", 2,
            cannot + "nessuna/uscita.csv: la cartella <nodes>/nessuna non esiste\n");
        row("version", "--version", 0, "", "vecchio", "velario 0.1\n");
        row("windows without a display", "", 2,
            "velario: nessuno schermo su cui aprire le finestre (DISPLAY e WAYLAND_DISPLAY "
            "non sono impostate); senza finestre: velario --run CODICE, velario --list\n");
    }

    void runs() {
        QFETCH(QStringList, args);
        QFETCH(int, exitCode);
        QFETCH(QByteArray, out);
        QFETCH(QString, err);
        QFETCH(QByteArray, file);
        QTemporaryDir folder;
        const QString written = folder.filePath("uscita.csv");
        QVERIFY(velario::test::writeBytes(written, "vecchio"));
        velario::Error error;
        if (err == "<odbc>" && !velario::data::OdbcConnection::connect("velario-nessuna", &error))
            err = "Errore SQL: " + error.description + "\n";
        // Besides files, what --csv may name: a link to FILE, a socket, a folder, none at all.
        QTemporaryDir nodes;
        QVERIFY(QFile::link(written, nodes.filePath("link")) && QDir(nodes.path()).mkdir("folder"));
        const int socket = ::socket(AF_UNIX, SOCK_STREAM, 0);
        const auto closeSocket = qScopeGuard([socket] { ::close(socket); });
        const QByteArray name = QFile::encodeName(nodes.filePath("socket"));
        sockaddr_un address{AF_UNIX, {}};
        QVERIFY(size_t(name.size()) < sizeof address.sun_path);
        std::copy(name.begin(), name.end(), address.sun_path);
        QVERIFY(::bind(socket, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0);
        const auto nodeIds = [&] { // never replaced by what a run writes
            QStringList ids;
            for (const char* node : {"link", "socket", "folder"}) {
                struct stat st {};
                ::lstat(QFile::encodeName(nodes.filePath(node)), &st);
                ids << QString("%1:%2").arg(st.st_mode).arg(st.st_ino);
            }
            return ids;
        };
        const QStringList before = nodeIds();
        if (!args.contains("--program-dir"))
            args = QStringList{"--program-dir", sandbox_.path()} + args;
        for (const char* node : {"link", "socket", "folder"})
            args.replaceInStrings(QString("<%1>").arg(node), nodes.filePath(node));
        args.replaceInStrings("FILE", written).replaceInStrings("<access>", access_.path());
        const velario::test::CommandRun run =
            runProgram(args.replaceInStrings("<missing>", nodes.filePath("nessuna/uscita.csv")));
        QCOMPARE(run.exitCode, exitCode);
        QVERIFY2(velario::test::matches(run.err, err.replace("<acc>", access_.file("VELARIO2.mdb"))
                                                     .replace("<nodes>", nodes.path())),
                 qPrintable(run.err));
        QCOMPARE(run.out, out == "<half>"
                              ? halfRows_
                              : out.replace("<db>", sandbox_.file("valori.db").toUtf8()));
        QCOMPARE(velario::test::fileBytes(written), file);
        QCOMPARE(QDir(folder.path()).entryList(QDir::Files | QDir::Hidden).size(), 1);
        QCOMPARE(nodeIds(), before);
    }

    // A command line the program cannot take is told in Italian, naming the option, with
    // status 2, before any display is needed, and opens no window (one would wait for its
    // user): the same with a display as without.
    void optionErrors_data() {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QString>("err");
        const auto row = [](const char* args, const QString& err) {
            QTest::newRow(args) << QString(args).split(' ') << err;
        };
        row("--bogus", "opzione sconosciuta: --bogus");
        row("-v", "opzione sconosciuta: -v");
        row("--run --program-dir demo",
            "all'opzione --run manca il valore CODICE: segue l'opzione --program-dir");
        row("--list --run", "all'opzione --run manca il valore CODICE");
        row("--run=", "il valore CODICE dell'opzione --run è vuoto");
        row("--list=tutto", "l'opzione --list non vuole un valore");
        row("--run A --run B", "l'opzione --run è data più di una volta");
        row("--list --csv x.csv", "l'opzione --csv vale solo con --run");
        row("--run A --list", "le opzioni --run e --list non vanno insieme");
        row("--print-to pdf --run A",
            "l'opzione --print-to vale solo con le finestre, non con --run");
        row("--clock ieri",
            "l'opzione --clock vuole una data e un'ora come 2026-12-05T10:55:30, non 'ieri'");
        row("--run A --param dal", "l'opzione --param vuole NOME=VALORE, non 'dal'");
        row("--run A --param dal=1 --param DAL=2", "il parametro DAL è dato più di una volta");
        row("--list tutto", "argomento inatteso: tutto (ogni valore segue la sua opzione)");
    }

    void optionErrors() {
        QFETCH(QStringList, args);
        QFETCH(QString, err);
        for (const bool display : {true, false}) {
            const velario::test::CommandRun run = runProgram(args, display);
            QCOMPARE(QString::number(run.exitCode) + '|' + run.out + '|' + run.err,
                     "2||velario: " + err + "\nPer l'elenco delle opzioni: velario --help\n");
        }
    }

    // The help names every option.
    void help() {
        const QByteArray text = runProgram({"--help"}, true).out;
        QVERIFY(text.startsWith("Uso: velario"));
        for (const char* option :
             {"--program-dir", "--transcript", "--script", "--print-to", "--clock", "--run",
              "--param", "--csv", "--list", "--version", "--help"})
            QVERIFY2(text.contains(QByteArray(option) + ' '), option);
    }
};

QTEST_MAIN(TestCommandLine)
#include "tst_command_line.moc"
