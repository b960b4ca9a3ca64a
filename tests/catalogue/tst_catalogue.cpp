#include "app/modulo.h"
#include "catalogue/frmts0002.h"
#include "platform/automation.h"
#include "platform/controls.h"
#include "platform/form.h"
#include "results/result_window_session.h"
#include "support/harness.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QTest>

using velario::test::ProgramRun;
using velario::test::Sandbox;

namespace {

const QString W = QStringLiteral("frmTS0002");

// The catalogue's entries as stored, and as the fields show them.
const QString kA = "ALFA|Prima selezione|SELECT 1|/dati/ALFA.MDB|MDB";
const QString kB = "BETA|Seconda|<NULL>|VENDITE|ODBC";
const QString kBShown = "BETA|Seconda||VENDITE|ODBC";
const QString kG = "GAMMA|Terza|SELECT *\nFROM T|/dati/g.MDB|mdb";
const QString kCleared = "||||MDB";
const QString kAll = kA + "¶" + kB + "¶" + kG;
const QList<QStringList> kEntries{kA.split('|'), kB.split('|'), kG.split('|')};
const QString kConfirm = "Confermi la cancellazione ?|36";
const QString kDelete = "answer 6\nclick frmTS0002.cmdCANCELLA";

QString quoted(const QString& text) {
    return QString::fromUtf8(QJsonDocument(QJsonArray{text}).toJson(QJsonDocument::Compact))
        .mid(1)
        .chopped(1);
}

// A new entry with code, description, database, SQL and type typed in that order (as many
// as VALUES holds), then saved.
QString saveNew(const QStringList& values) {
    static const QStringList names{"txtCOD_SQL", "txtDESCR_SQL", "txtDATABASE", "txtSELEZ_SQL",
                                   "txtTIPO_DATABASE"};
    QString script = "click frmTS0002.cmdNUOVO\n";
    for (int i = 0; i < values.size(); ++i)
        script += "type frmTS0002." + names[i] + " " + quoted(values[i]) + "\n";
    return script + "click frmTS0002.cmdAGGIORNA";
}

QJsonObject control(const ProgramRun& run, const QString& name) {
    return run.lastWindowState(W)["controls"].toObject()[name].toObject();
}

// What a check of the table below reads from a run, lists joined with "¶".
QString probe(const ProgramRun& run, const QString& catalogue, const QString& key) {
    const QString arg = key.section(':', 1);
    QStringList list;
    if (key == "fields") {
        for (const char* f :
             {"txtCOD_SQL", "txtDESCR_SQL", "txtSELEZ_SQL", "txtDATABASE", "txtTIPO_DATABASE"})
            list << control(run, f)["text"].toString();
        return list.join('|');
    }
    if (key == "opt") {
        const bool odbc = control(run, "Option1")["value"].toBool();
        const bool mdb = control(run, "Option2")["value"].toBool();
        return odbc == mdb ? QString("%1%2").arg(int(odbc)).arg(int(mdb)) : odbc ? "ODBC" : "MDB";
    }
    if (key == "browse") { // empty in browse mode: the code locked, every command enabled
        if (control(run, "txtCOD_SQL")["enabled"].toBool())
            return "txtCOD_SQL enabled";
        for (const char* b : {"cmdNUOVO", "cmdAGGIORNA", "cmdCANCELLA", "cmdESCI", "cmdESEGUE_SQL"})
            if (!control(run, b)["enabled"].toBool())
                return QString(b) + " disabled";
        return {};
    }
    if (key == "msgs")
        for (const QJsonObject& e : run.eventsOf("msgbox"))
            list << e["text"].toString() + "|" + QString::number(e["style"].toInt());
    if (key.startsWith("table"))
        list = velario::test::catalogueRows(catalogue, arg.isEmpty() ? "SELEZIONI_SQL" : arg);
    if (key == "list")
        for (const QJsonValue r : control(run, "DBGrid1")["cells"].toArray())
            list << r[0].toString() + "|" + r[1].toString();
    if (key == "columns")
        for (const QJsonValue c : control(run, "DBGrid1")["columns"].toArray())
            list << c["caption"].toString() + ":" + QString::number(c["width"].toInt());
    if (key == "dialogs")
        for (const QJsonObject& e : run.eventsOf("filedialog"))
            list << e["initialDir"].toString();
    if (key == "focus")
        return run.lastWindowState(W)["focus"].toString();
    if (key.startsWith("sel:")) { // all, none, or where the selection is
        const QJsonObject c = control(run, arg);
        const int length = int(c["text"].toString().size()), at = c["selStart"].toInt(),
                  selected = c["selLength"].toInt();
        if (length > 0 && selected == 0)
            return "none";
        return length > 0 && at == 0 && selected == length ? "all"
                                                           : QString("%1+%2").arg(at).arg(selected);
    }
    if (key.startsWith("c:")) // c:CONTROL.PROPERTY
        return control(run, arg.section('.', 0, 0))[arg.section('.', 1)].toVariant().toString();
    const QStringList s = run.summary();
    if (key.startsWith("tail:"))
        return s.mid(s.size() - arg.toInt()).join("¶");
    if (key == "busy") // the pointers from the last hourglass on
        return s.mid(s.lastIndexOf("pointer:11")).filter("pointer").join("¶");
    if (key == "pointer")
        return s.filter("pointer").value(s.filter("pointer").size() - 1);
    if (key == "beeps")
        return QString::number(run.eventsOf("beep").size());
    if (key == "file")
        return QFile::exists(catalogue) ? "yes" : "no";
    return list.join("¶");
}

// "…" in EXPECTED stands for any text.
bool matchesItem(const QString& actual, const QString& expected) {
    const QStringList parts = expected.split("…");
    if (parts.size() == 1)
        return actual == expected;
    qsizetype at = 0;
    for (int p = 0; p < parts.size() - 1; ++p) {
        const qsizetype found =
            p == 0 ? (actual.startsWith(parts[0]) ? 0 : -1) : actual.indexOf(parts[p], at);
        if (found < 0)
            return false;
        at = found + parts[p].size();
    }
    return actual.size() - parts.last().size() >= at && actual.endsWith(parts.last());
}

// Lists joined with "¶" match item by item.
bool matches(const QString& actual, const QString& expected) {
    const QStringList a = actual.split("¶"), e = expected.split("¶");
    for (int i = 0; i < a.size() && a.size() == e.size(); ++i)
        if (!matchesItem(a[i], e[i]))
            return false;
    return a.size() == e.size();
}

// COUNT entries C00000, C00001, ... in code order.
QList<QStringList> numbered(int count) {
    QList<QStringList> rows;
    for (int i = 0; i < count; ++i) {
        const QString code = QString("C%1").arg(i, 5, 10, QLatin1Char('0'));
        rows << QStringList{code, "d " + code, "select 1", "x.MDB", "MDB"};
    }
    return rows;
}

QString joined(const QList<QStringList>& rows) {
    QStringList list;
    for (const QStringList& r : rows)
        list << r.join('|');
    return list.join("¶");
}

// Code and description of each row of TABLE, as the list shows them.
QString listOf(const QString& table) {
    QStringList list;
    for (const QString& r : table.split("¶", Qt::SkipEmptyParts))
        list << r.section('|', 0, 1);
    return list.join("¶");
}

void row(const QString& name, const QString& script, QStringList checks,
         const QList<QStringList>& entries = kEntries, const QStringList& prep = {}) {
    QTest::newRow(qPrintable(name)) << script << checks << entries << prep;
}

} // namespace

class TestCatalogue : public QObject {
    Q_OBJECT

private slots:
    // Each row runs SCRIPT on a catalogue of ENTRIES (PREP run on it first; <missing>: the
    // configuration names a file that does not exist) and checks key=value pairs read by
    // probe(). Without a msgs or tail check, no message box may come.
    void scripted_data() {
        QTest::addColumn<QString>("script");
        QTest::addColumn<QStringList>("checks");
        QTest::addColumn<QList<QStringList>>("entries");
        QTest::addColumn<QStringList>("prep");

        // The list's height follows the count; an empty catalogue clears every field.
        const QString columns = "columns=Codice:1770¶Descrizione:8300";
        row("empty", "",
            {"c:DBGrid1.height=2200", "c:DBGrid1.rows=0", columns, "fields=" + kCleared, "opt=MDB"},
            {});
        for (const int n : {4, 5}) {
            QList<QStringList> rows;
            for (int i = 0; i < n; ++i)
                rows << QStringList{QString("C0%1").arg(i), "d", "s", "x", "ODBC"};
            row(QString("%1 entries").arg(n), "",
                {QString("c:DBGrid1.height=%1").arg(n == 4 ? 2200 : 2900),
                 QString("c:DBGrid1.rows=%1").arg(n), columns, "fields=C00|d|s|x|ODBC", "opt=ODBC"},
                rows);
        }

        // What the fields show after the list moves, in browse and new-entry mode, or after
        // the database or an option changes; any repositioning returns to browse mode.
        const QString nuovo = "click frmTS0002.cmdNUOVO\n";
        const auto shows = [](const QString& fields) {
            return QStringList{"fields=" + fields,
                               "browse=", fields.endsWith("ODBC") ? "opt=ODBC" : "opt=MDB"};
        };
        row("first row at opening", "", shows(kA));
        row("row with a Null SQL and type ODBC", "row frmTS0002.DBGrid1 1", shows(kBShown));
        row("type other than the two shows as MDB", "row frmTS0002.DBGrid1 2", shows(kG));
        row("new entry, existing code typed, another row clicked",
            nuovo + "type frmTS0002.txtCOD_SQL  BETA \nrow frmTS0002.DBGrid1 2", shows(kBShown));
        row("new entry, unknown code typed, row clicked",
            nuovo + "type frmTS0002.txtCOD_SQL ZETA\ntype frmTS0002.txtDESCR_SQL x\n"
                    "row frmTS0002.DBGrid1 1",
            shows(kCleared));
        row("new entry, no code typed, row clicked", nuovo + "row frmTS0002.DBGrid1 1",
            shows(kBShown));
        // The type follows the database when it loses the focus: MDB for ".MDB" anywhere.
        const QString database = "row frmTS0002.DBGrid1 1\ntype frmTS0002.txtDATABASE %1\n"
                                 "focus frmTS0002.txtDESCR_SQL";
        row("lower-case extension is ODBC", database.arg("C:\\DATI\\vendite.mdb"),
            shows("BETA|Seconda||C:\\DATI\\vendite.mdb|ODBC"));
        row(".MDB inside the database", database.arg("A.MDB.bak"),
            shows("BETA|Seconda||A.MDB.bak|MDB"));
        row("database of blanks", database.arg("\"   \""), shows("BETA|Seconda||   |MDB"));
        // A click on an option writes its type, even on the option already selected.
        row("option already selected",
            "type frmTS0002.txtTIPO_DATABASE XY\nclick frmTS0002.Option2", shows(kA));
        row("ODBC option", "click frmTS0002.Option1", shows(kA.chopped(3) + "ODBC"));
        // The row with blanks is shown and looked up trimmed: its fields come from "AB".
        row("trimmed codes in the list", "row frmTS0002.DBGrid1 0", {"fields=AB|Descr|T|DSN|ODBC"},
            {{"  AB  ", " Descr ", "S", "/x.MDB", "MDB"}, {"AB", "other", "T", "DSN", "ODBC"}});

        // Entering a field selects all of it, except the SQL and the code in new mode.
        for (const char* f : {"txtDATABASE", "txtTIPO_DATABASE"})
            row(QString("select all on focus ") + f, QString("focus frmTS0002.") + f,
                {QString("focus=") + f, QString("sel:") + f + "=all"});
        row("tab into the description", "key frmTS0002.DBGrid1 Tab",
            {"focus=txtDESCR_SQL", "sel:txtDESCR_SQL=all"});
        row("tab into the SQL text", "key frmTS0002.Option1 Tab",
            {"focus=txtSELEZ_SQL", "sel:txtSELEZ_SQL=none"});
        row("tab into the code in new mode",
            nuovo + "type frmTS0002.txtCOD_SQL ABC\nfocus frmTS0002.txtDESCR_SQL\n"
                    "key frmTS0002.txtDESCR_SQL Shift+Tab",
            {"focus=txtCOD_SQL", "sel:txtCOD_SQL=none"});

        // The database's file dialog, in the field's folder or the program's.
        row("browse with ODBC selected: nothing",
            "click frmTS0002.Option1\nclick frmTS0002.cmdSFOGLIA",
            {"dialogs=", "c:txtDATABASE.text=/dati/ALFA.MDB"});
        row("browse from an empty field opens in the program folder",
            "type frmTS0002.txtDATABASE \nclick frmTS0002.Option2\ncancel-file\n"
            "click frmTS0002.cmdSFOGLIA",
            {"dialogs=$DIR", "c:txtDATABASE.text="});
        row("browse cancelled keeps what was typed",
            "type frmTS0002.txtDATABASE  /typed/X.MDB \ncancel-file\nclick frmTS0002.cmdSFOGLIA",
            {"dialogs=/typed/X.MDB", "c:txtDATABASE.text= /typed/X.MDB "});
        row("browse to a chosen file replaces the field",
            "choose-file /new/place/a b.mdb\nclick frmTS0002.cmdSFOGLIA",
            {"dialogs=/dati/ALFA.MDB", "c:txtDATABASE.text=/new/place/a b.mdb"});

        // The save refuses the first empty field, in the order code, description, database,
        // type, SQL; nothing is written, the window stays in new-entry mode and the focus
        // goes to that field.
        const auto refused = [](const QString& name, const QStringList& values,
                                const QString& message, const QString& focus) {
            row("save refused: " + name, saveNew(values),
                {"tail:4=beep¶msgbox:" + message + "|" + velario::kAppTitle + "|0¶state¶exit:0",
                 "focus=" + focus, "table=" + kAll, "c:txtCOD_SQL.enabled=true"});
        };
        refused("code", {"", "d", "x.MDB", "s", "MDB"}, "Indicare un codice !!!", "txtCOD_SQL");
        refused("blank code before blank description", {"   ", "  ", "x.MDB", "s", "MDB"},
                "Indicare un codice !!!", "txtCOD_SQL");
        refused("description", {"N1", " ", "x.MDB", "s", "MDB"}, "Indicare una descrizione !!!",
                "txtDESCR_SQL");
        refused("database", {"N1", "d", "", "", "MDB"}, "Indicare un Database collegato !!!",
                "txtDATABASE");
        refused("type", {"N1", "d", "x.MDB", "s", "  "}, "Indicare il tipo di Database !!!",
                "txtTIPO_DATABASE");
        refused("SQL", {"N1", "d", "x.MDB", " \n ", "MDB"}, "Nessuna stringa SQL da eseguire !!!",
                "txtSELEZ_SQL");
        // The code field is disabled: the focus stays on the button that was clicked.
        row("save in browse mode without a code",
            "focus frmTS0002.txtDESCR_SQL\nclick frmTS0002.cmdAGGIORNA",
            {"msgs=Indicare un codice !!!|0", "focus=cmdAGGIORNA", "table="}, {});

        // A new code adds a row; an existing code, in either mode, changes that row. Values
        // are stored trimmed; inner blanks and case stay. The list follows the table, its
        // first row current, and the hourglass shows from the write to the end.
        const auto saved = [](const QString& name, const QString& script, const QString& table,
                              const QString& shown) {
            row(name, script,
                {"table=" + table, "fields=" + shown, "browse=", "list=" + listOf(table),
                 QString("c:DBGrid1.rows=%1").arg(table.count("¶") + 1), "c:DBGrid1.currentRow=0",
                 "busy=pointer:11¶pointer:0"});
        };
        const QString delta = "DELTA|Quarta  voce|select 4\n from x|/d/Q.MDB|Odbc";
        saved(
            "new entry",
            saveNew({" DELTA ", " Quarta  voce ", " /d/Q.MDB ", "  select 4\n from x  ", " Odbc "}),
            kA + "¶" + kB + "¶" + delta + "¶" + kG, delta);
        const QString beta = "BETA|Rifatta|select 2|DSN2|ODBC";
        saved("new entry over an existing code", saveNew({"BETA", "Rifatta", "DSN2", "select 2"}),
              kA + "¶" + beta + "¶" + kG, beta);
        const QString changed = "BETA|Seconda|select 22|VENDITE|ODBC";
        saved("change in browse mode",
              "row frmTS0002.DBGrid1 1\ntype frmTS0002.txtSELEZ_SQL select 22\n"
              "click frmTS0002.cmdAGGIORNA",
              kA + "¶" + changed + "¶" + kG, changed);

        // A delete asks first; the last entry gone leaves the list empty at its least height.
        const QString one = "row frmTS0002.DBGrid1 1\n";
        row("delete, yes", one + kDelete,
            {"msgs=" + kConfirm, "table=" + kA + "¶" + kG, "fields=" + kA, "c:DBGrid1.rows=2"});
        row("delete, no", one + "answer 7\nclick frmTS0002.cmdCANCELLA",
            {"msgs=" + kConfirm, "table=" + kAll, "fields=" + kBShown, "c:DBGrid1.rows=3"});
        row("delete the last entry", "row frmTS0002.DBGrid1 0\n" + kDelete,
            {"msgs=" + kConfirm, "table=", "fields=" + kCleared, "c:DBGrid1.rows=0",
             "c:DBGrid1.height=2200"},
            {{"SOLO", "unica", "s", "x.MDB", "MDB"}});

        // Codes that would break a statement built from text are saved, listed, found and
        // deleted like any other.
        for (const QString code : {"O'HARA", "C:\\%_x", "say \"hi\""}) {
            const QString entry = code + "|d|select 9|x.MDB|MDB";
            QStringList table = kAll.split("¶") << entry;
            table.sort();
            const QString at = QString("row frmTS0002.DBGrid1 %1\n").arg(table.indexOf(entry));
            row("saved and found: " + code, saveNew({code, "d", "x.MDB", "select 9"}) + "\n" + at,
                {"table=" + table.join("¶"), "fields=" + entry});
            row("deleted: " + code, at + kDelete, {"msgs=" + kConfirm, "table=" + kAll},
                kEntries + QList<QStringList>{entry.split('|')});
        }

        // A lookup that cannot run, or a write the engine refuses: the error is shown once
        // with the statement, nothing is written or deleted, and the window stays as it was
        // with the default pointer. A column that fails when read makes every lookup fail
        // (those of the opening and first activation too), and the list does not.
        const QStringList failing{"ALTER TABLE SELEZIONI_SQL RENAME TO REAL_TABLE",
                                  "CREATE VIEW SELEZIONI_SQL AS SELECT CODICE, DESCRIZIONE, "
                                  "json(SQL) AS SQL, Database, Tipo_Database FROM REAL_TABLE"};
        const QStringList readOnly{failing[0], "CREATE VIEW SELEZIONI_SQL AS SELECT * FROM "
                                               "REAL_TABLE"};
        const QString where = "\r\rselect * from SELEZIONI_SQL where CODICE = ";
        const QString save = saveNew({"NEW'1", "d", "x.MDB", "s"});
        const QStringList saveKept{"table:REAL_TABLE=" + kAll, "pointer=pointer:0",
                                   "c:txtCOD_SQL.enabled=true", "c:cmdNUOVO.enabled=false",
                                   "c:txtCOD_SQL.text=NEW'1"};
        const QStringList deleteKept{"table:REAL_TABLE=" + kAll, "pointer=pointer:0",
                                     "c:txtCOD_SQL.enabled=false", "c:cmdNUOVO.enabled=true"};
        row("save, lookup fails", save,
            saveKept + QStringList{"msgs=…¶…¶Errore …" + where + "'NEW'1' |0"}, kEntries, failing);
        row("delete, lookup fails", kDelete,
            deleteKept + QStringList{"msgs=…¶…¶…¶Errore …" + where + "'ALFA' |0"}, kEntries,
            failing);
        row("save, write refused", save,
            saveKept + QStringList{"msgs=Errore …" + where + "'NEW'1' |0"}, kEntries, readOnly);
        row("delete, write refused", kDelete,
            deleteKept + QStringList{"msgs=" + kConfirm + "¶Errore …" + where + "'ALFA' |0"},
            kEntries, readOnly);
        row("catalogue not opened", saveNew({"A", "d", "x.MDB", "s"}),
            {"msgs=ERRORE IN APERTURA DATABASE !!!…|16¶Errore  91 - …|0", "c:DBGrid1.rows=0",
             "file=no"},
            {}, {"<missing>"});

        // In-place editing of the list writes the entry; refused values beep and go back.
        // Codes and descriptions are as long as the fields are, and no longer.
        const auto edited = [](const QString& name, const QString& edit, const QString& table,
                               int beeps) {
            row("grid edit: " + name, "edit frmTS0002.DBGrid1 " + edit,
                {"table=" + table, QString("beeps=%1").arg(beeps), "list=" + listOf(table)});
        };
        edited("description trimmed", "1 1  Nuova  descr ",
               kA + "¶BETA|Nuova  descr|<NULL>|VENDITE|ODBC¶" + kG, 0);
        edited("new code", "0 0 ALFA2", "ALFA2" + kA.mid(4) + "¶" + kB + "¶" + kG, 0);
        edited("code of another entry refused", "0 0 GAMMA", kAll, 1);
        edited("empty description refused", "2 1 \"  \"", kAll, 1);
        edited("code of 15", "0 0 ALFA56789012345",
               "ALFA56789012345" + kA.mid(4) + "¶" + kB + "¶" + kG, 0);
        edited("code of 16 refused", "0 0 ALFA567890123456", kAll, 1);
        edited("description of 46 refused", "1 1 " + QString(46, u'd'), kAll, 1);

        row("exit ends the program", "click frmTS0002.cmdESCI",
            {"tail:2=window:frmTS0002:unload¶exit:0"});

        // Saves, new entries and deletes at the start, middle and end of catalogues larger
        // than the rows a list reads at a time, with the list as opened or scrolled to its end.
        for (const int entries : {257, 10000})
            for (const int at : {0, entries / 2, entries - 1})
                for (const QString action : {"save", "new", "delete"})
                    for (const bool scrolled : {false, true}) {
                        QList<QStringList> rows = numbered(entries);
                        const QString code = rows[at][0];
                        QString script =
                            scrolled ? QString("scroll frmTS0002.DBGrid1 %1\n").arg(entries - 1)
                                     : QString();
                        script += QString("row frmTS0002.DBGrid1 %1\n").arg(at);
                        QList<QStringList> table = rows;
                        QStringList checks;
                        if (action == "save") {
                            script += "type frmTS0002.txtSELEZ_SQL select 2\n"
                                      "click frmTS0002.cmdAGGIORNA";
                            table[at][2] = "select 2";
                            checks << "fields=" + table[at].join('|');
                        } else if (action == "new") {
                            script += saveNew({code + "A", "d " + code + "A", "x.MDB", "select 3"});
                            table.insert(at + 1, {code + "A", "d " + code + "A", "select 3",
                                                  "x.MDB", "MDB"});
                            checks << "fields=" + table[at + 1].join('|');
                        } else {
                            script += kDelete;
                            table.removeAt(at);
                            checks << "fields=" + table[0].join('|') << "msgs=" + kConfirm;
                        }
                        checks << "table=" + joined(table)
                               << QString("c:DBGrid1.rows=%1").arg(table.size());
                        row(QString("%1 entries, row %2, %3%4")
                                .arg(entries)
                                .arg(at)
                                .arg(action)
                                .arg(scrolled ? ", scrolled" : ""),
                            script, checks, rows);
                    }
    }

    void scripted() {
        QFETCH(QString, script);
        QFETCH(QStringList, checks);
        QFETCH(QList<QStringList>, entries);
        QFETCH(QStringList, prep);
        Sandbox box;
        QString catalogue = box.file("missing.db");
        if (prep != QStringList{"<missing>"}) {
            catalogue = box.makeCatalogue("VELARIO2.db", entries);
            QVERIFY(prep.isEmpty() || velario::test::writeSqlite(catalogue, prep));
        }
        box.writeConfig(catalogue);
        const ProgramRun run = box.run(script + "\ndump\n");
        QVERIFY2(!run.crashed && run.exitCode == 0, run.standardError.constData());
        if (checks.filter("msgs=").isEmpty() && checks.filter("tail:").isEmpty())
            checks << "msgs=";
        for (const QString& check : checks) {
            const QString key = check.section('=', 0, 0);
            const QString expected = check.section('=', 1).replace("$DIR", box.path());
            const QString actual = probe(run, catalogue, key);
            QVERIFY2(matches(actual, expected),
                     qPrintable(key + ":\n  actual   " + QString(actual).left(2000) +
                                "\n  expected " + QString(expected).left(2000)));
        }
    }

    // Only the first activation fills the fields; coming back to the window later keeps
    // what the user typed.
    void laterActivations() {
        Sandbox box;
        velario::FrmTS0002* window =
            velario::test::openCatalogue(box.makeCatalogue("VELARIO2.db", kEntries));
        velario::test::InProcess capture;
        QCOMPARE(window->FLAG_ACTIVATE, QStringLiteral("N"));
        QCOMPARE(window->txtCOD_SQL->text(), QStringLiteral("ALFA"));
        velario::Forms::instance()
            .create<velario::Form>(QStringLiteral("frmOther"))
            ->showModeless();
        velario::waitIdle();
        window->txtSELEZ_SQL->setText(QStringLiteral("edited"));
        const qsizetype before = capture.events().size();
        window->activateWindow();
        velario::waitIdle();
        QVERIFY(window->isActiveWindow());
        QCOMPARE(capture.summary().mid(before), QStringList{"window:frmTS0002:activate"});
        QCOMPARE(window->txtSELEZ_SQL->text(), QStringLiteral("edited"));
        velario::Forms::instance().clear();
        velario::Modulo::reset();
    }
};

QTEST_MAIN(TestCatalogue)
#include "tst_catalogue.moc"
