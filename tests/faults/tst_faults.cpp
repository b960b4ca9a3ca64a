// Faults the user or the system brings: input of awkward size or content, a catalogue file
// that fails under a write, the program killed during saves, a PDF folder that cannot take a
// report.
#include "controls/datagrid.h"
#include "platform/form.h"
#include "print/printer.h"
#include "support/harness.h"
#include "support/pdf_lines.h"
#include "support/result_window_under_test.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QProcess>
#include <QRegularExpression>
#include <QSaveFile>
#include <QTest>

#include <signal.h>

using namespace velario;

namespace {

const QList<QStringList> kEntries{
    {"ALFA", "Prima", "SELECT 1", "/dati/A.MDB", "MDB"},
    {"BETA", "Seconda", "SELECT 2", "VENDITE", "ODBC"},
};
const QString kNew = "NUOVA|Nuova voce|SELECT 3|/d/N.MDB|MDB";

// Writes CONTENT as a new file that takes PATH's place in one step.
bool replaceWith(const QString& path, const QByteArray& content) {
    QSaveFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(content) == content.size() &&
           file.commit();
}

// Puts the fault NAME on the catalogue file at PATH (ORIGINAL: its content), or takes it off.
bool fault(const QString& name, bool put, const QString& path, const QByteArray& original) {
    if (name == "read-only")
        return QFile::setPermissions(path, QFile::ReadOwner | QFile::ReadGroup | QFile::ReadOther |
                                               (put ? QFile::Permissions() : QFile::WriteOwner));
    if (name == "locked by another writer") { // a second connection holding the lock
        QSqlDatabase db = put ? QSqlDatabase::addDatabase("QSQLITE", "locker")
                              : QSqlDatabase::database("locker", false);
        db.setDatabaseName(path);
        return put ? db.open() && QSqlQuery(db).exec("BEGIN IMMEDIATE")
                   : QSqlQuery(db).exec("COMMIT");
    }
    if (!put)
        return replaceWith(path, original);
    return name == "deleted" ? QFile::remove(path)
                             : replaceWith(path, QByteArray(original.size(), '\xA5'));
}

// Puts VALUES on screen as putOnScreen() takes them in a new record and presses "Aggiorna".
void saveNewEntry(CatalogueWindow* window, const test::EntryOnScreen& values) {
    test::control<CommandButton>(window, "cmdNUOVO")->click();
    test::putOnScreen(window, values);
    test::control<CommandButton>(window, "cmdAGGIORNA")->click();
}

constexpr int kSaves = 5000;

QString entry(int i) {
    return QStringLiteral("K%1|Voce numero %2|SELECT %2, 'x' FROM T|/dati/VENDITE.MDB|MDB")
        .arg(i, 5, 10, QLatin1Char('0'))
        .arg(i);
}

// Saves {started, finished}, as the transcript tells: each save is the pointer turned to
// the hourglass and back, after the window's first activation did the same.
QPair<int, int> progressIn(const QString& transcript) {
    QList<int> pointers;
    bool active = false;
    for (const QByteArray& line : velario::test::fileBytes(transcript).split('\n')) {
        const QJsonObject e = QJsonDocument::fromJson(line).object(); // the last may be cut
        active = active || (e["event"] == "window" && e["action"] == "activate");
        if (active && e["event"] == "pointer")
            pointers << e["value"].toInt();
    }
    return {int(pointers.mid(2).count(11)), int(pointers.mid(2).count(0))};
}

} // namespace

class TestFaults : public QObject {
    Q_OBJECT

    QTemporaryDir dir_;
    QString target_;

private slots:
    void initTestCase() {
        QVERIFY(dir_.isValid());
        target_ = dir_.filePath("valori.db");
        QStringList names, values;
        for (int c = 1; c <= 300; ++c)
            names << QStringLiteral("c%1").arg(c), values << QString::number(c);
        QVERIFY(
            test::writeSqlite(target_, {"CREATE TABLE larga (" + names.join(", ") + ")",
                                        "INSERT INTO larga VALUES (" + values.join(", ") + ")",
                                        "INSERT INTO larga (c1, c300) VALUES ('ultima', NULL)"}));
        Printer::instance().reset();
        Printer::instance().setPdfFolder(dir_.filePath("stampe"));
        QVERIFY(QDir().mkpath(dir_.filePath("stampe")));
    }

    void cleanup() { test::unloadAll(); }

    // A result of 300 columns on screen is counted, its columns fitted and printed, its cells
    // kept whole, whatever the database file name that quoting or parsing could break.
    void results() {
        const QString file = "l'a \"v\"#b?c=d&e%20f%.db";
        // The field holds 80 characters: a short folder leaves room for the name.
        QTemporaryDir folder(dir_.filePath("d 'è' XXXXXX"));
        QVERIFY(folder.isValid() && QFile::copy(target_, folder.filePath(file)));
        test::InProcess capture;
        CatalogueWindow* catalogue = test::openCatalogue({});
        test::putOnScreen(catalogue, {"SELECT * FROM larga", folder.filePath(file)});
        ResultWindow* results = test::pressRun(catalogue);
        QVERIFY(results);
        DataGrid* grid = results->activeGrid();
        QCOMPARE((QStringList{velario::test::control<Label>(results, "lblNUM_REC")->caption(),
                              QString::number(grid->columnCount()), grid->cellText(0, 299),
                              grid->cellText(1, 0)}),
                 (QStringList{"       2", "300", "300", "ultima"}));

        capture.dialogs().queueReply(QStringLiteral("10"));
        for (const char* button :
             {"cmdADEGUA_CAMPI", "cmdAUMENTA_CAMPI", "cmdDIMINUISCE_CAMPI", "cmdSTAMPA"})
            test::control<CommandButton>(results, button)->click();
        waitIdle();
        QCOMPARE(capture.summary().filter("msgbox"), QStringList());
        QCOMPARE(capture.summary().count("document"), 1);
        test::unloadAll();
        // Reading never made a file of its own beside the target.
        QCOMPARE(QDir(folder.path()).entryList(QDir::Files).size(), 1);
    }

    // Codes and descriptions in any script, with control characters, are saved as typed,
    // listed, printed in both catalogue reports (as far as their fields take them), and
    // carried back by a run.
    void awkwardText() {
        const QString code = QStringLiteral("日本語😀A\u0001e\u0301\u200B");
        const QString description = QStringLiteral(
            "שלום مرحبا 中文 😀👍🏽\tx\u001b\u0007 \u202Eal contrario\u202C");
        test::Sandbox box;
        CatalogueWindow* window = test::openCatalogue(box.makeCatalogue("VELARIO2.db"));
        test::InProcess capture;
        saveNewEntry(window, {"SELECT '" + description + "'", target_, "MDB", code, description});
        for (const char* button : {"cmdSTAMPA_Elenco_SQL", "cmdSTAMPA_SQL"})
            test::control<CommandButton>(window, button)->click();
        waitIdle();
        QCOMPARE(capture.summary().filter("msgbox"), QStringList());
        const auto* list = test::control<DataGrid>(window, "DBGrid1");
        QCOMPARE((QStringList{list->cellText(0, 0), list->cellText(0, 1)}),
                 (QStringList{code, description}));
        QStringList docs; // the texts of each document's lines
        for (const QJsonObject& e :
             test::ProgramRun{-1, false, capture.events(), {}}.eventsOf("document")) {
            docs << QString();
            for (const QJsonValue line : e["lines"].toArray())
                docs.last() += test::lineText(line) + u'\n';
        }
        QCOMPARE(docs.size(), 2);
        // The list's code field takes 10 columns, a wide character two: the code goes as far
        // as its control character, printed as a blank; the sheet's field takes it whole.
        const QString printed = QString(code).replace(QChar(0x0001), u' ');
        QVERIFY2(docs[0].contains(printed.left(7)) && !docs[0].contains(printed.left(8)),
                 qPrintable(docs[0]));
        QVERIFY2(docs[1].contains(printed), qPrintable(docs[1]));
        ResultWindow* results = test::pressRun(window);
        QVERIFY(results);
        QCOMPARE(results->activeGrid()->cellText(0, 0), description);
    }

    // The catalogue file taken away, made read-only, spoilt or locked while the program has it
    // open: a save or a delete then tells the user once, writes nothing, and works again as soon
    // as the file is back as it was.
    void faultDuringWrite_data() {
        QTest::addColumn<QString>("fault");
        QTest::addColumn<QString>("action");
        QTest::addColumn<int>("number");
        for (const QString& fault :
             QStringList{"read-only|3027", "deleted|53", "replaced by garbage|3343",
                         "locked by another writer|3260"})
            for (const char* action : {"save NUOVA", "delete ALFA"}) // the code in the message
                QTest::addRow("%s, %s", qPrintable(fault), action)
                    << fault.section('|', 0, 0) << action << fault.section('|', 1).toInt();
        // A click on a row whose entry cannot be read leaves no other entry's fields.
        QTest::newRow("replaced by garbage, look-up") << "replaced by garbage"
                                                      << "look-up BETA" << 3343;
    }

    void faultDuringWrite() {
        QFETCH(QString, fault);
        QFETCH(QString, action);
        QFETCH(int, number);
        const QString code = action.section(' ', 1);
        action = action.section(' ', 0, 0);
        test::Sandbox box;
        const QString path = box.makeCatalogue(QStringLiteral("VELARIO2.db"), kEntries);
        const QStringList before = test::catalogueRows(path);
        const QByteArray original = velario::test::fileBytes(path);
        test::InProcess capture;
        CatalogueWindow* window = test::openCatalogue(path);
        QCOMPARE(window->entryCode(), QStringLiteral("ALFA"));
        // The messages of a save, a delete (less its confirmation) or a click on the other row.
        const auto act = [&] {
            const qsizetype mark = capture.events().size();
            if (action == "save") {
                saveNewEntry(window, {"SELECT 3", "/d/N.MDB", "MDB", "NUOVA", "Nuova voce"});
            } else if (action == "delete") {
                capture.dialogs().queueAnswer(MsgBox::Yes);
                test::control<CommandButton>(window, "cmdCANCELLA")->click();
            } else {
                auto* list = test::control<DataGrid>(window, "DBGrid1");
                list->automationRow(1 - list->currentResultRow());
            }
            waitIdle();
            return capture.summary()
                .mid(mark)
                .filter(QRegularExpression("^msgbox:"))
                .mid(action == "delete" ? 1 : 0);
        };

        QVERIFY(::fault(fault, true, path, original));
        QCOMPARE(act(), QStringList{QString("msgbox:Errore  %1 - %2\r\rselect * from SELEZIONI_SQL "
                                            "where CODICE = '%3' |%4|0")
                                        .arg(QString::number(number), standardErrorText(number),
                                             code, kAppTitle)});
        QCOMPARE(capture.summary().filter("pointer").last(), QStringLiteral("pointer:0"));
        if (action == "look-up")
            QCOMPARE(window->entryCode() + window->entrySql() + window->entryDatabase(), "");
        // Nothing reached the file, nor a new one in its place.
        QVERIFY(::fault(fault, false, path, original));
        QCOMPARE(test::catalogueRows(path), before);

        // The same request again, now that the file is back, goes through.
        QCOMPARE(act(), QStringList());
        QCOMPARE(test::catalogueRows(path), action == "save"     ? before + QStringList{kNew}
                                            : action == "delete" ? before.mid(1)
                                                                 : before);
        if (action == "look-up")
            QCOMPARE(window->entrySql(), "SELECT 1");
    }

    // The program killed outright in the middle of a long run of saves: the catalogue file is
    // whole and holds every save the program had finished.
    void killedDuringSaves() {
        const int after = 20; // saves finished before the kill
        test::Sandbox box;
        const QString catalogue = box.makeCatalogue(QStringLiteral("VELARIO2.db"));
        box.writeConfig(catalogue);
        QString script;
        for (int i = 1; i <= kSaves; ++i) {
            const QStringList v = entry(i).split('|');
            script += test::newEntryScript({v[0], v[1], v[3], v[2]});
        }
        box.writeFile(QStringLiteral("saves.txt"), script.toUtf8());
        const QString transcript = box.file(QStringLiteral("saves.jsonl"));

        QProcess program;
        program.setProcessEnvironment(box.environment());
        program.setWorkingDirectory(box.path());
        program.start(test::programBinary(), {"--program-dir", box.path(), "--transcript",
                                              transcript, "--script", box.file("saves.txt")});
        QTRY_VERIFY2_WITH_TIMEOUT(progressIn(transcript).second >= after,
                                  program.readAllStandardError().constData(), 120000);
        ::kill(pid_t(program.processId()), SIGKILL);
        QVERIFY(program.waitForFinished());
        QCOMPARE(program.exitStatus(), QProcess::CrashExit);
        const auto [started, finished] = progressIn(transcript);

        // Whole, and every finished save there; the one under way at the kill may be too. The
        // save cut short leaves a hot journal, which only a connection that may write rolls
        // back, as the program's next start does.
        QCOMPARE(test::sqliteRows(catalogue, "PRAGMA integrity_check", {}, true),
                 QStringList{"ok"});
        const QStringList rows = test::catalogueRows(catalogue);
        // Killed in the middle, not after the last save.
        QVERIFY(rows.size() >= finished && rows.size() <= started && started < kSaves);
        for (int i = 0; i < rows.size(); ++i)
            QCOMPARE(rows[i], entry(i + 1));
    }

    // Each report sent to a PDF folder that cannot take it, through the program: one message
    // box of style 0 says the document was not printed and where it was to go, no document is
    // reported as delivered. Each report once, each way a folder fails at least once.
    void folderCannotTakeTheDocument_data() {
        QTest::addColumn<QString>("folder"); // made from the sandbox's path
        QTest::addColumn<QString>("script");
        for (const char* row :
             {"catalogue list, missing folder|manca/stampe|click frmTS0002.cmdSTAMPA_Elenco_SQL",
              "query sheet, a file|un-file|click frmTS0002.cmdSTAMPA_SQL",
              "result grid, missing folder|manca/stampe|click frmTS0002.cmdESEGUE_SQL\nreply 2\n"
              "click frmTS0003.cmdSTAMPA"})
            QTest::newRow(qPrintable(QString(row).section('|', 0, 0)))
                << QString(row).section('|', 1, 1) << QString(row).section('|', 2) + "\n";
    }

    void folderCannotTakeTheDocument() {
        QFETCH(QString, folder);
        QFETCH(QString, script);
        test::Sandbox box;
        box.writeFile("un-file", "non una cartella");
        const QString catalogue = box.file("VELARIO2.db");
        box.makeCatalogue("VELARIO2.db", {{"ALFA", "Prima", "SELECT 'a' AS x UNION ALL SELECT 'b'",
                                           catalogue, "MDB"}});
        box.writeConfig(catalogue);
        const QString destination = box.file(folder);

        const test::ProgramRun failed = box.run(script, {"--print-to", destination});
        QVERIFY(!failed.crashed && failed.exitCode == 0 && failed.eventsOf("document").isEmpty());
        QVERIFY2(test::matches(failed.messages().join("¶"),
                               "Documento non stampato…" + destination + "…|0"),
                 qPrintable(failed.messages().join('\n')));
        QVERIFY(!QFileInfo(destination).isDir());
    }
};

QTEST_MAIN(TestFaults)
#include "tst_faults.moc"
