#include "platform/platform.h"
#include "support/harness.h"

#include <QJsonArray>
#include <QRegularExpression>
#include <QTest>

using velario::test::ProgramRun;
using velario::test::Sandbox;

namespace {

// The catalogue's entries as stored, and as the fields show them.
const QString kA = "ALFA|Prima selezione|SELECT 1|/dati/ALFA.MDB|MDB";
const QString kB = "BETA|Seconda|<NULL>|VENDITE|ODBC";
const QString kBShown = "BETA|Seconda||VENDITE|ODBC";
const QString kG = "GAMMA|Terza|SELECT *\nFROM T|/dati/g.MDB|mdb";
const QString kCleared = "||||MDB";
const QString kAll = kA + "¶" + kB + "¶" + kG;
const QString kConfirm = "Confermi la cancellazione ?|36";
const QString kDelete = "answer 6\nclick frmTS0002.cmdCANCELLA";

const auto saveNew = velario::test::newEntryScript;

// What a check of the table below reads from a run, lists joined with "¶".
QString probe(const ProgramRun& run, const QString& catalogue, const QString& key) {
    const QString arg = key.section(':', 1);
    QStringList list;
    if (key == "fields")
        for (const char* f :
             {"txtCOD_SQL", "txtDESCR_SQL", "txtSELEZ_SQL", "txtDATABASE", "txtTIPO_DATABASE"})
            list << run.control(f)["text"].toString();
    else if (key == "msgs")
        list = run.messages();
    else if (key == "table")
        list = velario::test::catalogueRows(catalogue);
    else if (key == "list")
        for (const QJsonValue r : run.control("DBGrid1")["cells"].toArray())
            list << r[0].toString() + "|" + r[1].toString();
    else if (key == "dialogs")
        for (const QJsonObject& e : run.eventsOf("filedialog"))
            list << e["initialDir"].toString();
    const QStringList s = run.summary();
    if (key == "focus")
        return run.lastWindowState("frmTS0002")["focus"].toString();
    if (key.startsWith("c:")) // c:CONTROL.PROPERTY
        return run.control(arg.section('.', 0, 0))[arg.section('.', 1)].toVariant().toString();
    if (key.startsWith("tail:"))
        return s.mid(s.size() - arg.toInt()).join("¶");
    if (key == "busy") // the pointers from the last hourglass on
        return s.mid(s.lastIndexOf("pointer:11")).filter("pointer").join("¶");
    if (key == "beeps")
        return QString::number(run.eventsOf("beep").size());
    if (key == "file")
        return QFile::exists(catalogue) ? "yes" : "no";
    return list.join(key == "fields" ? "|" : "¶");
}

// Code and description of each row of TABLE, as the list shows them.
QString listOf(const QString& table) {
    QStringList list;
    for (const QString& r : table.split("¶", Qt::SkipEmptyParts))
        list << r.section('|', 0, 1);
    return list.join("¶");
}

void row(const QString& name, const QString& script, QStringList checks,
         const QString& entries = kAll) {
    QTest::newRow(qPrintable(name)) << script << checks << entries;
}

} // namespace

class TestCatalogue : public QObject {
    Q_OBJECT

private slots:
    // Each row runs SCRIPT on a catalogue of ENTRIES, rows joined with "¶" ("<missing>": the
    // configuration names a file that does not exist) and checks key=value pairs read by
    // probe(). Without a msgs or tail check, no message box may come.
    void scripted_data() {
        QTest::addColumn<QString>("script");
        QTest::addColumn<QStringList>("checks");
        QTest::addColumn<QString>("entries");

        // What the fields show after the list moves, in browse and new-entry mode, or after
        // the database or an option changes; any repositioning returns to browse mode.
        const QString nuovo = "click frmTS0002.cmdNUOVO\n";
        const auto shows = [](const QString& fields) {
            const QString odbc = fields.endsWith("ODBC") ? "true" : "false";
            return QStringList{"fields=" + fields, "c:txtCOD_SQL.enabled=false",
                               "c:cmdNUOVO.enabled=true", "c:Option1.value=" + odbc,
                               "c:Option2.value=" + QString(odbc == "true" ? "false" : "true")};
        };
        row("row with a Null SQL and type ODBC", "row frmTS0002.DBGrid1 1", shows(kBShown));
        row("new entry, unknown code typed, row clicked",
            nuovo + "type frmTS0002.txtCOD_SQL ZETA\nrow frmTS0002.DBGrid1 1", shows(kCleared));
        // A click on an option writes its type.
        row("ODBC option", "click frmTS0002.Option1", shows(kA.chopped(3) + "ODBC"));
        // The fields show a row's own entry or none. A code with blanks around it is shown
        // trimmed and found as stored, and a save writes over that entry, never over the one
        // the trimmed code names.
        const QString blanks = "  AB  | Descr |S|/x.MDB|MDB¶AB|other|T|DSN|ODBC";
        row("code with blanks: its own fields, saved over itself",
            "row frmTS0002.DBGrid1 1\nrow frmTS0002.DBGrid1 0\n"
            "type frmTS0002.txtSELEZ_SQL S2\nclick frmTS0002.cmdAGGIORNA",
            {"fields=AB|Descr|S2|/x.MDB|MDB",
             "table=  AB  |Descr|S2|/x.MDB|MDB¶AB|other|T|DSN|ODBC"},
            blanks);
        // A code longer than the field is shown whole, and saved as itself.
        const QString a1 = "A1|Prima|select 'A1'|a.MDB|MDB";
        const QString longCode = a1 + "¶B2_CODICE_LUNGO_20|Seconda|select 'B2'|DSN|ODBC";
        row("long code saved over itself",
            "row frmTS0002.DBGrid1 1\ntype frmTS0002.txtSELEZ_SQL select 'B3'\n"
            "click frmTS0002.cmdAGGIORNA",
            {"table=" + a1 + "¶B2_CODICE_LUNGO_20|Seconda|select 'B3'|DSN|ODBC",
             "fields=B2_CODICE_LUNGO_20|Seconda|select 'B3'|DSN|ODBC"},
            longCode);
        // A row the catalogue cannot find clears the fields, says so, and leaves nothing for
        // "Aggiorna" to save.
        const QString noCode = "La selezione dell'elenco non ha un codice: non si può mostrare.|0";
        row("row without a code",
            "row frmTS0002.DBGrid1 1\nrow frmTS0002.DBGrid1 0\nclick frmTS0002.cmdAGGIORNA",
            {"fields=" + kCleared, "msgs=" + noCode + "¶" + noCode + "¶Indicare un codice !!!|0",
             "table=<NULL>|senza codice|select 0|x.MDB|MDB¶" + a1, "beeps=3"},
            "<NULL>|senza codice|select 0|x.MDB|MDB¶" + a1);
        // Leaving the database field sets the type: MDB for ".MDB" anywhere or a SQLite or
        // Access file whatever its name; ODBC for anything else. "Sfoglia ..." then browses.
        // (Which files are Access files of either kind: the Access tests.)
        const auto typed = [&](const QString& database, const QString& type) {
            row("database " + database,
                "type frmTS0002.txtDATABASE " + database +
                    "\nfocus frmTS0002.txtDESCR_SQL\nchoose-file /f.db\nclick frmTS0002.cmdSFOGLIA",
                {"c:txtTIPO_DATABASE.text=" + type,
                 "c:Option2.value=" + QString(type == "MDB" ? "true" : "false"),
                 "dialogs=" + QString(type == "MDB" ? database : "")});
        };
        typed("A.MDB.bak", "MDB");
        typed("$BOX/VELARIO2.db", "MDB");
        typed("$SRC/tests/data/access/DateTestDatabase.mdb", "MDB");
        typed("$SRC/tests/CMakeLists.txt", "ODBC");
        typed("$BOX/manca.db", "ODBC");

        // Entering a field selects all of it.
        row("tab into the description", "key frmTS0002.DBGrid1 Tab",
            {"focus=txtDESCR_SQL", "c:txtDESCR_SQL.selStart=0", "c:txtDESCR_SQL.selLength=15"});
        // The database's file dialog opens in the field's folder.
        row("browse to a chosen file replaces the field",
            "choose-file /new/place/a b.mdb\nclick frmTS0002.cmdSFOGLIA",
            {"dialogs=/dati/ALFA.MDB", "c:txtDATABASE.text=/new/place/a b.mdb"});

        // The save refuses the first empty field, in the order code, description, database,
        // type, SQL; nothing is written, the window stays in new-entry mode and the focus
        // goes to that field.
        const auto refused = [](const QStringList& values, const QString& message,
                                const QString& focus) {
            row("save refused: " + focus, saveNew(values),
                {"tail:4=beep¶msgbox:" + message + "|" + velario::kAppTitle + "|0¶state¶exit:0",
                 "focus=" + focus, "table=" + kAll, "c:txtCOD_SQL.enabled=true"});
        };
        refused({"   ", "  ", "x.MDB", "s", "MDB"}, "Indicare un codice !!!", "txtCOD_SQL");
        refused({"N1", " ", "x.MDB", "s", "MDB"}, "Indicare una descrizione !!!", "txtDESCR_SQL");
        refused({"N1", "d", "", "", "MDB"}, "Indicare un Database collegato !!!", "txtDATABASE");
        refused({"N1", "d", "x.MDB", "s", "  "}, "Indicare il tipo di Database !!!",
                "txtTIPO_DATABASE");
        refused({"N1", "d", "x.MDB", " \n ", "MDB"}, "Nessuna stringa SQL da eseguire !!!",
                "txtSELEZ_SQL");

        // A new code adds a row; an existing code, in either mode, changes that row. Values are
        // stored trimmed; inner blanks and case stay. The list follows the table, its first row
        // current, and the hourglass shows from the write to the end.
        const auto saved = [](const QString& name, const QString& script, const QString& table,
                              const QString& shown) {
            row(name, script,
                {"table=" + table, "fields=" + shown, "c:txtCOD_SQL.enabled=false",
                 "c:cmdNUOVO.enabled=true", "list=" + listOf(table), "c:DBGrid1.currentRow=0",
                 "busy=pointer:11¶pointer:0"});
        };
        const QString delta = "DELTA|Quarta  voce|select 4\n from x|/d/Q.MDB|Odbc";
        saved(
            "new entry",
            saveNew({" DELTA ", " Quarta  voce ", " /d/Q.MDB ", "  select 4\n from x  ", " Odbc "}),
            kA + "¶" + kB + "¶" + delta + "¶" + kG, delta);
        // Once saved, the window leaves new-entry mode: a row clicked shows its own entry.
        row("new entry saved, then another row clicked",
            saveNew({"DELTA", "d", "x.MDB", "s", "MDB"}) + "\nrow frmTS0002.DBGrid1 1",
            shows(kBShown));
        const QString beta = "BETA|Rifatta|select 22|DSN2|ODBC";
        saved("new entry over an existing code, then changed in browse mode",
              saveNew({"BETA", "Rifatta", "DSN2", "select 2"}) +
                  "\nrow frmTS0002.DBGrid1 1\ntype frmTS0002.txtSELEZ_SQL select 22\n"
                  "click frmTS0002.cmdAGGIORNA",
              kA + "¶" + beta + "¶" + kG, beta);

        // A delete asks first; the last entry gone leaves the list empty.
        row("delete, no", "answer 7\nrow frmTS0002.DBGrid1 1\nclick frmTS0002.cmdCANCELLA",
            {"msgs=" + kConfirm, "table=" + kAll, "c:DBGrid1.rows=3"});
        row("delete the last entry", "row frmTS0002.DBGrid1 0\n" + kDelete,
            {"msgs=" + kConfirm, "table=", "fields=" + kCleared, "c:DBGrid1.rows=0"},
            "SOLO|unica|s|x.MDB|MDB");

        // A code that would break a statement built from text is saved, found and deleted
        // like any other.
        const QString entry = "O'H\\%_\"x|d|select 9|x.MDB|MDB";
        QStringList withIt = kAll.split("¶") << entry;
        withIt.sort();
        const QString at = QString("row frmTS0002.DBGrid1 %1\n").arg(withIt.indexOf(entry));
        row("quotes and wildcards: saved and found",
            saveNew({entry.section('|', 0, 0), "d", "x.MDB", "select 9"}) + "\n" + at,
            {"table=" + withIt.join("¶"), "fields=" + entry});
        row("quotes and wildcards: deleted", at + kDelete, {"msgs=" + kConfirm, "table=" + kAll},
            kAll + "¶" + entry);

        row("catalogue not opened", saveNew({"A", "d", "x.MDB", "s"}),
            {"msgs=ERRORE IN APERTURA DATABASE !!!…|16¶Errore  91 - …|0", "c:DBGrid1.rows=0",
             "file=no"},
            "<missing>");

        // In-place editing of the list writes the entry; refused values beep and go back.
        // Codes and descriptions are as long as the fields are, and no longer.
        const auto edited = [](const QString& edit, const QString& table, int beeps) {
            row("grid edit " + edit, "edit frmTS0002.DBGrid1 " + edit,
                {"table=" + table, QString("beeps=%1").arg(beeps), "list=" + listOf(table)});
        };
        edited("1 1  Nuova  descr ", kA + "¶BETA|Nuova  descr|<NULL>|VENDITE|ODBC¶" + kG, 0);
        edited("0 0 ALFA56789012345", "ALFA56789012345" + kA.mid(4) + "¶" + kB + "¶" + kG, 0);
        edited("0 0 ALFA567890123456", kAll, 1);
        edited("0 0 BETA", kAll, 1);
        edited("1 1 " + QString(46, u'd'), kAll, 1);

        row("exit ends the program", "click frmTS0002.cmdESCI",
            {"tail:2=window:frmTS0002:unload¶exit:0"});

        // A new entry and a delete at the last row of a catalogue much larger than
        // the rows a list reads at a time, with the list scrolled to its end.
        const int n = 10000;
        QStringList table;
        for (int i = 0; i < n; ++i)
            table << QString("C%1|d|select 1|x.MDB|MDB").arg(i, 5, 10, QLatin1Char('0'));
        const QString last =
            QString("scroll frmTS0002.DBGrid1 %1\nrow frmTS0002.DBGrid1 %1\n").arg(n - 1);
        const QString added = "C09999A|d|select 3|x.MDB|MDB";
        const auto big = [&](const char* name, const QString& script, const QStringList& after,
                             const QString& current) {
            row(name, last + script,
                {"fields=" + current, "table=" + after.join("¶"),
                 QString("c:DBGrid1.rows=%1").arg(after.size()),
                 "msgs=" + QString(script == kDelete ? kConfirm : "")},
                table.join("¶"));
        };
        big("large, new", saveNew({"C09999A", "d", "x.MDB", "select 3"}),
            table + QStringList{added}, added);
        big("large, delete", kDelete, table.mid(0, n - 1), table[0]);
    }

    // Ctrl+F and F3 end as the clicks on the rows they find do: same fields, list and events.
    // The catalogue holds "città" in a description, "FORLÌ" in an SQL text and "citta" with
    // a combining accent in another; nothing found beeps, Cancel does nothing.
    void find_data() {
        QTest::addColumn<QString>("control");   // where the keys are pressed
        QTest::addColumn<QString>("keys");      // a first click on a row, replies and keys
        QTest::addColumn<QList<int>>("clicks"); // the rows the keys should move to
        QTest::addColumn<int>("beeps");
        const auto add = [](const char* name, const char* control, const char* keys,
                            const QList<int>& clicks, int beeps = 0) {
            QTest::newRow(name) << QString(control) << QString(keys) << clicks << beeps;
        };
        add("code", "DBGrid1", "reply zet|Ctrl+F", {4});
        add("description, case, accent, from the SQL", "txtSELEZ_SQL", "reply CITTA|Ctrl+F", {1});
        add("SQL, accented capital, from a field", "txtDESCR_SQL", "reply forli|Ctrl+F", {2});
        add("F3 goes on, then from the top", "DBGrid1", "reply select|Ctrl+F|F3|F3|F3",
            {1, 2, 4, 0});
        add("F3 first asks", "DBGrid1", "reply quinta|F3", {4});
        add("found nowhere", "DBGrid1", "row 2|reply nessuna|Ctrl+F", {}, 1);
        add("cancelled", "DBGrid1", "row 2|reply-cancel|Ctrl+F", {});
    }

    void find() {
        QFETCH(QString, control);
        QFETCH(QString, keys);
        QFETCH(QList<int>, clicks);
        QFETCH(int, beeps);
        const QString row = "row frmTS0002.DBGrid1 %1\n";
        QString found = keys.startsWith("row ") ? row.arg(keys.section('|', 0, 0).mid(4)) : "";
        QString clicked = found + "focus frmTS0002." + control + "\n";
        for (const QString& key : keys.split('|').mid(found.isEmpty() ? 0 : 1))
            found +=
                (key.startsWith("reply") ? key : "key frmTS0002." + control + " " + key) + "\n";
        for (const int r : clicks)
            clicked += row.arg(r);
        Sandbox box;
        box.writeConfig(box.makeCatalogue(
            "VELARIO2.db", {{"A1", "Prima", "select 1", "x.MDB", "MDB"},
                            {"B2", "Vendite di Città", "select 2", "x.MDB", "MDB"},
                            {"C3", "Terza", "SELECT * FROM T WHERE Zona = 'FORLÌ'", "DSN", "ODBC"},
                            {"D4", "Quarta", "select 4 -- citta\u0300 nuova", "x.MDB", "MDB"},
                            {"ZETA", "Quinta", "<NULL>", "x.MDB", "MDB"}}));
        const ProgramRun byKeys = box.run(found + "dump\n");
        const ProgramRun byClicks = box.run(clicked + "dump\n");
        QVERIFY2(byKeys.exitCode == 0 && byClicks.exitCode == 0, byKeys.standardError.constData());
        QCOMPARE(byKeys.eventsOf("beep").size(), beeps);
        QCOMPARE(byKeys.eventsOf("inputbox").value(0)["title"], "Cerca selezione SQL");
        QCOMPARE(byKeys.summary().filter(QRegularExpression("^(?!inputbox|beep)")),
                 byClicks.summary());
        QCOMPARE(byKeys.lastWindowState("frmTS0002"), byClicks.lastWindowState("frmTS0002"));
    }

    void scripted() {
        QFETCH(QString, script);
        QFETCH(QStringList, checks);
        QFETCH(QString, entries);
        Sandbox box;
        const QString catalogue =
            entries == "<missing>"
                ? box.file("missing.db")
                : box.makeCatalogue("VELARIO2.db", velario::test::entriesOf(entries.split("¶")));
        box.writeConfig(catalogue);
        const auto paths = [&](QString text) {
            return text.replace("$BOX", box.path())
                .replace("$SRC", qEnvironmentVariable("VELARIO_SOURCE_DIR"));
        };
        const ProgramRun run = box.run(paths(script) + "\ndump\n");
        QVERIFY2(!run.crashed && run.exitCode == 0, run.standardError.constData());
        if (checks.filter("msgs=").isEmpty() && checks.filter("tail:").isEmpty())
            checks << "msgs=";
        for (const QString& check : checks) {
            const QString key = check.section('=', 0, 0);
            const QString expected = paths(check.section('=', 1));
            const QString actual = probe(run, catalogue, key);
            QVERIFY2(velario::test::matches(actual, expected),
                     qPrintable(key + ": " + actual.left(2000)));
        }
    }
};

QTEST_MAIN(TestCatalogue)
#include "tst_catalogue.moc"
