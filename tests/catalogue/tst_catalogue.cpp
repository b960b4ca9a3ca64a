#include "app/modulo.h"
#include "catalogue/frmts0002.h"
#include "platform/automation.h"
#include "platform/controls.h"
#include "platform/form.h"
#include "results/result_window_session.h"
#include "support/harness.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTest>
#include <QUuid>

using velario::test::ProgramRun;
using velario::test::Sandbox;

namespace {

const QString W = QStringLiteral("frmTS0002");

// Every row of the catalogue file, ordered by code: code|description|sql|database|type,
// with <NULL> for a Null.
QStringList tableRows(const QString& path, const QString& table = QStringLiteral("SELEZIONI_SQL")) {
    QStringList rows;
    const QString name = QUuid::createUuid().toString();
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
        db.setDatabaseName(path);
        db.open();
        QSqlQuery q(QStringLiteral("SELECT CODICE, DESCRIZIONE, SQL, Database, Tipo_Database "
                                   "FROM %1 ORDER BY CODICE")
                        .arg(table),
                    db);
        while (q.next()) {
            QStringList cells;
            for (int i = 0; i < 5; ++i)
                cells << (q.isNull(i) ? QStringLiteral("<NULL>") : q.value(i).toString());
            rows << cells.join('|');
        }
    }
    QSqlDatabase::removeDatabase(name);
    return rows;
}

QJsonObject control(const ProgramRun& run, const QString& name) {
    return run.lastWindowState(W).value("controls").toObject().value(name).toObject();
}

QString text(const ProgramRun& run, const QString& name) {
    return control(run, name).value("text").toString();
}

// code|description|sql|database|type as the fields show them.
QString fields(const ProgramRun& run) {
    return QStringList{text(run, "txtCOD_SQL"), text(run, "txtDESCR_SQL"),
                       text(run, "txtSELEZ_SQL"), text(run, "txtDATABASE"),
                       text(run, "txtTIPO_DATABASE")}
        .join('|');
}

// TEXT as a script's JSON string, so that blanks and line breaks survive.
QString quoted(const QString& text) {
    return QString::fromUtf8(QJsonDocument(QJsonArray{text}).toJson(QJsonDocument::Compact))
        .mid(1)
        .chopped(1);
}

bool odbcSelected(const ProgramRun& run) {
    const bool odbc = control(run, "Option1").value("value").toBool();
    const bool mdb = control(run, "Option2").value("value").toBool();
    return odbc && !mdb;
}

QStringList messages(const ProgramRun& run) {
    QStringList list;
    for (const QJsonObject& e : run.eventsOf("msgbox"))
        list << e.value("text").toString();
    return list;
}

// The catalogue's entries as stored, and as the fields show them.
const QString kA = "ALFA|Prima selezione|SELECT 1|/dati/ALFA.MDB|MDB";
const QString kB = "BETA|Seconda|<NULL>|VENDITE|ODBC";
const QString kBShown = "BETA|Seconda||VENDITE|ODBC";
const QString kG = "GAMMA|Terza|SELECT *\nFROM T|/dati/g.MDB|mdb";
const QString kCleared = "||||MDB";
const QList<QStringList> kEntries{kA.split('|'), kB.split('|'), kG.split('|')};

// A new entry with the fields code, description, database, SQL and type typed in that order
// (as many as VALUES holds), then saved.
QString saveNew(const QStringList& values) {
    static const QStringList names{"txtCOD_SQL", "txtDESCR_SQL", "txtDATABASE", "txtSELEZ_SQL",
                                   "txtTIPO_DATABASE"};
    QString script = "click frmTS0002.cmdNUOVO\n";
    for (int i = 0; i < values.size(); ++i)
        script += "type frmTS0002." + names[i] + " " + quoted(values[i]) + "\n";
    return script + "click frmTS0002.cmdAGGIORNA";
}

// Empty when the window is in browse mode: the code locked, every command enabled.
QString notBrowsing(const ProgramRun& run) {
    if (control(run, "txtCOD_SQL")["enabled"].toBool())
        return "txtCOD_SQL enabled";
    for (const char* b : {"cmdNUOVO", "cmdAGGIORNA", "cmdCANCELLA", "cmdESCI", "cmdESEGUE_SQL"})
        if (!control(run, b)["enabled"].toBool())
            return QString(b) + " disabled";
    return {};
}

// Column COLUMN of every row of the list.
QStringList listed(const ProgramRun& run, int column) {
    QStringList cells;
    for (const QJsonValue r : control(run, "DBGrid1")["cells"].toArray())
        cells << r.toArray()[column].toString();
    return cells;
}

// A program folder whose catalogue holds ENTRIES.
struct Setup {
    Sandbox box;
    QString catalogue;
    explicit Setup(const QList<QStringList>& entries = kEntries) {
        catalogue = box.makeCatalogue("VELARIO2.db", entries);
        box.writeConfig(catalogue);
    }
    ProgramRun run(const QString& script) const {
        ProgramRun r = box.run(script + "\ndump\n");
        if (r.crashed || r.exitCode != 0)
            qWarning() << r.standardError;
        return r;
    }
};

} // namespace

class TestCatalogue : public QObject {
    Q_OBJECT

private slots:
    void listHeight_data() {
        QTest::addColumn<int>("entries");
        QTest::addColumn<int>("height");
        QTest::newRow("empty") << 0 << 2200;
        QTest::newRow("4 entries") << 4 << 2200;
        QTest::newRow("5 entries") << 5 << 2900;
    }

    // The list's height follows the count; an empty catalogue clears every field.
    void listHeight() {
        QFETCH(int, entries);
        QFETCH(int, height);
        QList<QStringList> rows;
        for (int i = 0; i < entries; ++i)
            rows << QStringList{QStringLiteral("C%1").arg(i, 2, 10, QLatin1Char('0')), "d", "s",
                                "x", "ODBC"};
        const Setup setup(rows);
        const ProgramRun run = setup.run("");
        const QJsonObject grid = control(run, "DBGrid1");
        QCOMPARE(grid["height"].toInt(), height);
        QCOMPARE(grid["rows"].toInt(), entries);
        const QJsonArray columns = grid["columns"].toArray();
        QCOMPARE(columns.size(), 2);
        QCOMPARE(columns[0].toObject()["caption"].toString(), QStringLiteral("Codice"));
        QCOMPARE(columns[0].toObject()["width"].toInt(), 1770);
        QCOMPARE(columns[1].toObject()["caption"].toString(), QStringLiteral("Descrizione"));
        QCOMPARE(columns[1].toObject()["width"].toInt(), 8300);
        QCOMPARE(fields(run), entries ? QStringLiteral("C00|d|s|x|ODBC") : kCleared);
        QCOMPARE(odbcSelected(run), entries != 0);
        QVERIFY(messages(run).isEmpty());
    }

    // What the fields show after the list moves, in browse and new-entry mode, or after the
    // database or an option changes.
    void positioning_data() {
        QTest::addColumn<QString>("script");
        QTest::addColumn<QString>("expected");
        const QString nuovo = "click frmTS0002.cmdNUOVO\n";
        QTest::newRow("first row at opening") << "" << kA;
        QTest::newRow("row with a Null SQL and type ODBC") << "row frmTS0002.DBGrid1 1" << kBShown;
        QTest::newRow("type other than the two shows as MDB") << "row frmTS0002.DBGrid1 2" << kG;
        QTest::newRow("new entry, existing code typed, another row clicked")
            << nuovo + "type frmTS0002.txtCOD_SQL  BETA \nrow frmTS0002.DBGrid1 2" << kBShown;
        QTest::newRow("new entry, unknown code typed, row clicked")
            << nuovo + "type frmTS0002.txtCOD_SQL ZETA\ntype frmTS0002.txtDESCR_SQL x\n"
                       "row frmTS0002.DBGrid1 1"
            << kCleared;
        QTest::newRow("new entry, no code typed, row clicked")
            << nuovo + "row frmTS0002.DBGrid1 1" << kBShown;
        // The type follows the database when it loses the focus: MDB for ".MDB" anywhere in it.
        const QString database = "row frmTS0002.DBGrid1 1\ntype frmTS0002.txtDATABASE %1\n"
                                 "focus frmTS0002.txtDESCR_SQL";
        QTest::newRow("lower-case extension is ODBC")
            << database.arg("C:\\DATI\\vendite.mdb") << "BETA|Seconda||C:\\DATI\\vendite.mdb|ODBC";
        QTest::newRow(".MDB inside the database")
            << database.arg("A.MDB.bak") << "BETA|Seconda||A.MDB.bak|MDB";
        QTest::newRow("database of blanks") << database.arg("\"   \"") << "BETA|Seconda||   |MDB";
        // A click on an option writes its type, even on the option already selected.
        QTest::newRow("option already selected")
            << "type frmTS0002.txtTIPO_DATABASE XY\nclick frmTS0002.Option2" << kA;
        QTest::newRow("ODBC option") << "click frmTS0002.Option1" << kA.chopped(3) + "ODBC";
    }

    void positioning() {
        QFETCH(QString, script);
        QFETCH(QString, expected);
        static const Setup setup;
        const ProgramRun run = setup.run(script);
        QCOMPARE(fields(run), expected);
        QCOMPARE(odbcSelected(run), expected.endsWith("ODBC"));
        // Any repositioning brings the window back to browse mode.
        QCOMPARE(notBrowsing(run), QString());
        QVERIFY(messages(run).isEmpty());
    }

    void trimmedCodesInTheList() {
        const Setup setup(
            {{"  AB  ", " Descr ", "S", "/x.MDB", "MDB"}, {"AB", "other", "T", "DSN", "ODBC"}});
        // The row with blanks is shown and looked up trimmed: its fields come from "AB".
        const ProgramRun run = setup.run("row frmTS0002.DBGrid1 0");
        QCOMPARE(fields(run), QStringLiteral("AB|Descr|T|DSN|ODBC"));
    }

    void selectAllOnFocus_data() {
        QTest::addColumn<QString>("script");
        QTest::addColumn<QString>("field");
        QTest::addColumn<bool>("all");
        for (const char* f : {"txtDATABASE", "txtTIPO_DATABASE"})
            QTest::newRow(f) << QStringLiteral("focus frmTS0002.") + f << QString(f) << true;
        QTest::newRow("tab into the description") << "key frmTS0002.DBGrid1 Tab"
                                                  << "txtDESCR_SQL" << true;
        QTest::newRow("tab into the SQL text") << "key frmTS0002.Option1 Tab"
                                               << "txtSELEZ_SQL" << false;
        QTest::newRow("tab into the code in new mode")
            << "click frmTS0002.cmdNUOVO\ntype frmTS0002.txtCOD_SQL ABC\n"
               "focus frmTS0002.txtDESCR_SQL\nkey frmTS0002.txtDESCR_SQL Shift+Tab"
            << "txtCOD_SQL" << false;
    }

    void selectAllOnFocus() {
        QFETCH(QString, script);
        QFETCH(QString, field);
        QFETCH(bool, all);
        static const Setup setup;
        const ProgramRun run = setup.run(script);
        QCOMPARE(run.lastWindowState(W)["focus"].toString(), field);
        const QJsonObject c = control(run, field);
        const int length = int(c["text"].toString().size());
        QVERIFY(length > 0);
        QCOMPARE(c["selLength"].toInt(), all ? length : 0);
        if (all)
            QCOMPARE(c["selStart"].toInt(), 0);
    }

    void browse_data() {
        QTest::addColumn<QString>("script");
        QTest::addColumn<QString>("initialDir"); // <none>: no dialog
        QTest::addColumn<QString>("database");
        const auto row = [](const char* name, const char* script, const char* dir,
                            const char* database) {
            QTest::newRow(name) << QString(script) << QString(dir) << QString(database);
        };
        row("ODBC selected: nothing", "click frmTS0002.Option1\nclick frmTS0002.cmdSFOGLIA",
            "<none>", "/dati/ALFA.MDB");
        row("empty field opens in the program folder, cancel keeps it",
            "type frmTS0002.txtDATABASE \nclick frmTS0002.Option2\ncancel-file\n"
            "click frmTS0002.cmdSFOGLIA",
            "<program>", "");
        row("cancel keeps what was typed",
            "type frmTS0002.txtDATABASE  /typed/X.MDB \ncancel-file\nclick frmTS0002.cmdSFOGLIA",
            "/typed/X.MDB", " /typed/X.MDB ");
        row("a chosen file replaces the field",
            "choose-file /new/place/a b.mdb\nclick frmTS0002.cmdSFOGLIA", "/dati/ALFA.MDB",
            "/new/place/a b.mdb");
    }

    void browse() {
        QFETCH(QString, script);
        QFETCH(QString, initialDir);
        QFETCH(QString, database);
        static const Setup setup;
        const ProgramRun run = setup.run(script);
        const QList<QJsonObject> dialogs = run.eventsOf("filedialog");
        if (initialDir == "<none>") {
            QVERIFY(dialogs.isEmpty());
        } else {
            QCOMPARE(dialogs.size(), 1);
            QCOMPARE(dialogs[0]["initialDir"].toString(),
                     initialDir == "<program>" ? setup.box.path() : initialDir);
        }
        QCOMPARE(text(run, "txtDATABASE"), database);
    }

    // The save refuses the first empty field, in the order code, description, database,
    // type, SQL; nothing is written and the focus goes to that field.
    void saveChecks_data() {
        QTest::addColumn<QStringList>("values"); // code, description, database, sql, type
        QTest::addColumn<QString>("message");
        QTest::addColumn<QString>("focus");
        const auto row = [](const char* name, QStringList v, const char* message, const char* f) {
            QTest::newRow(name) << v << QString(message) << QString(f);
        };
        row("code", {"", "d", "x.MDB", "s", "MDB"}, "Indicare un codice !!!", "txtCOD_SQL");
        row("blank code before blank description", {"   ", "  ", "x.MDB", "s", "MDB"},
            "Indicare un codice !!!", "txtCOD_SQL");
        row("description", {"N1", " ", "x.MDB", "s", "MDB"}, "Indicare una descrizione !!!",
            "txtDESCR_SQL");
        row("database", {"N1", "d", "", "", "MDB"}, "Indicare un Database collegato !!!",
            "txtDATABASE");
        row("type", {"N1", "d", "x.MDB", "s", "  "}, "Indicare il tipo di Database !!!",
            "txtTIPO_DATABASE");
        row("SQL", {"N1", "d", "x.MDB", " \n ", "MDB"}, "Nessuna stringa SQL da eseguire !!!",
            "txtSELEZ_SQL");
    }

    void saveChecks() {
        QFETCH(QStringList, values);
        QFETCH(QString, message);
        QFETCH(QString, focus);
        const Setup setup;
        const ProgramRun run = setup.run(saveNew(values));
        const QStringList tail = run.summary().mid(run.summary().lastIndexOf("state") - 2);
        QCOMPARE(tail, (QStringList{"beep", "msgbox:" + message + "|" + velario::kAppTitle + "|0",
                                    "state", "exit:0"}));
        QCOMPARE(run.lastWindowState(W)["focus"].toString(), focus);
        QCOMPARE(tableRows(setup.catalogue).size(), kEntries.size());
        QVERIFY(control(run, "txtCOD_SQL")["enabled"].toBool()); // still new-entry mode
    }

    void saveInBrowseModeWithoutCode() {
        const Setup setup(QList<QStringList>{});
        const ProgramRun run =
            setup.run("focus frmTS0002.txtDESCR_SQL\nclick frmTS0002.cmdAGGIORNA");
        QCOMPARE(messages(run), QStringList{"Indicare un codice !!!"});
        // The code field is disabled: the focus stays on the button that was clicked.
        QCOMPARE(run.lastWindowState(W)["focus"].toString(), QStringLiteral("cmdAGGIORNA"));
        QVERIFY(tableRows(setup.catalogue).isEmpty());
    }

    // A new code adds a row; an existing code, in either mode, changes that row and no
    // second row is made. Values are stored trimmed; inner blanks and case stay.
    void save_data() {
        QTest::addColumn<QString>("script");
        QTest::addColumn<QStringList>("table");
        QTest::addColumn<QString>("shown");
        const QString delta = "DELTA|Quarta  voce|select 4\n from x|/d/Q.MDB|Odbc";
        QTest::newRow("new entry") << saveNew({" DELTA ", " Quarta  voce ", " /d/Q.MDB ",
                                               "  select 4\n from x  ", " Odbc "})
                                   << QStringList{kA, kB, delta, kG} << delta;
        const QString beta = "BETA|Rifatta|select 2|DSN2|ODBC";
        QTest::newRow("new entry over an existing code")
            << saveNew({"BETA", "Rifatta", "DSN2", "select 2"}) << QStringList{kA, beta, kG}
            << beta;
        const QString changed = "BETA|Seconda|select 22|VENDITE|ODBC";
        QTest::newRow("change in browse mode")
            << "row frmTS0002.DBGrid1 1\ntype frmTS0002.txtSELEZ_SQL select 22\n"
               "click frmTS0002.cmdAGGIORNA"
            << QStringList{kA, changed, kG} << changed;
    }

    void save() {
        QFETCH(QString, script);
        QFETCH(QStringList, table);
        QFETCH(QString, shown);
        const Setup setup;
        const ProgramRun run = setup.run(script);
        QCOMPARE(tableRows(setup.catalogue), table);
        QCOMPARE(fields(run), shown);
        QVERIFY(messages(run).isEmpty());
        QCOMPARE(notBrowsing(run), QString());
        // The list follows the table, in code order, its first row current.
        const QJsonObject grid = control(run, "DBGrid1");
        QCOMPARE(grid["rows"].toInt(), table.size());
        QCOMPARE(grid["currentRow"].toInt(), 0);
        QStringList codes;
        for (const QString& r : table)
            codes << r.section('|', 0, 0);
        QCOMPARE(listed(run, 0), codes);
        // The hourglass from the write to the end.
        const QStringList s = run.summary();
        QCOMPARE(s.mid(s.lastIndexOf("pointer:11")).filter("pointer"),
                 (QStringList{"pointer:11", "pointer:0"}));
    }

    // Saves, new entries and deletes at the start, middle and end of catalogues larger than
    // the rows a list reads at a time, with the list as opened or scrolled to its end.
    void writesAtAnySize_data() {
        QTest::addColumn<int>("entries");
        QTest::addColumn<int>("row");
        QTest::addColumn<QString>("action");
        QTest::addColumn<bool>("scrolled");
        for (const int entries : {257, 10000})
            for (const int row : {0, entries / 2, entries - 1})
                for (const char* action : {"save", "new", "delete"})
                    for (const bool scrolled : {false, true})
                        QTest::addRow("%d entries, row %d, %s%s", entries, row, action,
                                      scrolled ? ", scrolled" : "")
                            << entries << row << QString(action) << scrolled;
    }

    void writesAtAnySize() {
        QFETCH(int, entries);
        QFETCH(int, row);
        QFETCH(QString, action);
        QFETCH(bool, scrolled);
        QList<QStringList> rows;
        QStringList table;
        const auto entry = [](const QString& code, const QString& sql) {
            return QStringList{code, "d " + code, sql, "x.MDB", "MDB"};
        };
        for (int i = 0; i < entries; ++i) {
            rows << entry(QStringLiteral("C%1").arg(i, 5, 10, QLatin1Char('0')), "select 1");
            table << rows.last().join('|');
        }
        const Setup setup(rows);
        const QString code = rows[row][0];
        QString script =
            scrolled ? QStringLiteral("scroll frmTS0002.DBGrid1 %1\n").arg(entries - 1) : QString();
        script += QStringLiteral("row frmTS0002.DBGrid1 %1\n").arg(row);
        QString shown;
        if (action == "save") {
            script += "type frmTS0002.txtSELEZ_SQL select 2\nclick frmTS0002.cmdAGGIORNA";
            table[row] = shown = entry(code, "select 2").join('|');
        } else if (action == "new") {
            script += saveNew({code + "A", "d " + code + "A", "x.MDB", "select 3"});
            shown = entry(code + "A", "select 3").join('|');
            table.insert(row + 1, shown);
        } else {
            script += "answer 6\nclick frmTS0002.cmdCANCELLA";
            table.removeAt(row);
            shown = table.first();
        }
        const ProgramRun run = setup.run(script);
        QCOMPARE(messages(run).filter(QStringLiteral("Errore")), QStringList());
        QCOMPARE(tableRows(setup.catalogue), table);
        QCOMPARE(fields(run), shown);
        QCOMPARE(control(run, "DBGrid1")["rows"].toInt(), table.size());
    }

    void deleteEntry_data() {
        QTest::addColumn<QList<QStringList>>("entries");
        QTest::addColumn<int>("answer");
        QTest::addColumn<QStringList>("table");
        QTest::addColumn<QString>("shown");
        QTest::newRow("yes") << kEntries << 6 << QStringList{kA, kG} << kA;
        QTest::newRow("no") << kEntries << 7 << QStringList{kA, kB, kG} << kBShown;
        QTest::newRow("the last entry")
            << QList<QStringList>{{"SOLO", "unica", "s", "x.MDB", "MDB"}} << 6 << QStringList{}
            << kCleared;
    }

    void deleteEntry() {
        QFETCH(QList<QStringList>, entries);
        QFETCH(int, answer);
        QFETCH(QStringList, table);
        QFETCH(QString, shown);
        const Setup setup(entries);
        const ProgramRun run = setup.run(
            QStringLiteral("row frmTS0002.DBGrid1 %1\nanswer %2\nclick frmTS0002.cmdCANCELLA")
                .arg(entries.size() > 1 ? 1 : 0)
                .arg(answer));
        const QList<QJsonObject> boxes = run.eventsOf("msgbox");
        QCOMPARE(boxes.size(), 1);
        QCOMPARE(boxes[0]["text"].toString(), QStringLiteral("Confermi la cancellazione ?"));
        QCOMPARE(boxes[0]["style"].toInt(), 36);
        QCOMPARE(tableRows(setup.catalogue), table);
        QCOMPARE(fields(run), shown);
        QCOMPARE(control(run, "DBGrid1")["rows"].toInt(), table.size());
        if (table.isEmpty())
            QCOMPARE(control(run, "DBGrid1")["height"].toInt(), 2200);
    }

    // Codes that would break a statement built from text are saved, listed, found and
    // deleted like any other.
    void awkwardCodes_data() {
        QTest::addColumn<QString>("code");
        QTest::newRow("quote") << "O'HARA";
        QTest::newRow("backslash and percent") << "C:\\%_x";
        QTest::newRow("double quote") << "say \"hi\"";
    }

    void awkwardCodes() {
        QFETCH(QString, code);
        const Setup setup;
        const ProgramRun saved = setup.run(saveNew({code, "d", "x.MDB", "select 9"}));
        QVERIFY2(messages(saved).isEmpty(), qPrintable(messages(saved).join('\n')));
        QVERIFY(tableRows(setup.catalogue).contains(code + "|d|select 9|x.MDB|MDB"));
        QCOMPARE(fields(saved), code + "|d|select 9|x.MDB|MDB");

        // Found from the list, then deleted.
        const int row = int(listed(saved, 0).lastIndexOf(code));
        QVERIFY(row >= 0);
        const ProgramRun found = setup.run(QStringLiteral("row frmTS0002.DBGrid1 %1").arg(row));
        QCOMPARE(fields(found), code + "|d|select 9|x.MDB|MDB");
        const ProgramRun deleted = setup.run(
            QStringLiteral("row frmTS0002.DBGrid1 %1\nanswer 6\nclick frmTS0002.cmdCANCELLA")
                .arg(row));
        QVERIFY(messages(deleted).size() == 1);
        QCOMPARE(tableRows(setup.catalogue).size(), kEntries.size());
    }

    // A lookup that cannot run, or a write the engine refuses: the error is shown once with
    // the statement, nothing is written or deleted, and the window stays as it was with the
    // default pointer.
    void failedLookupOrWrite_data() {
        QTest::addColumn<QString>("view");
        QTest::addColumn<QString>("script");
        QTest::addColumn<int>("reports"); // message boxes in all
        QTest::addColumn<bool>("newMode");
        const QString save = saveNew({"NEW'1", "d", "x.MDB", "s"});
        const QString remove = "answer 6\nclick frmTS0002.cmdCANCELLA";
        // A column that fails when it is read: every lookup fails, the list does not.
        const QString failing = "SELECT CODICE, DESCRIZIONE, json(SQL) AS SQL, Database, "
                                "Tipo_Database FROM REAL_TABLE";
        const QString readOnly = "SELECT * FROM REAL_TABLE";
        // The lookups of the list's opening and of the first activation fail too; a delete
        // first asks for confirmation.
        QTest::newRow("save, lookup fails") << failing << save << 3 << true;
        QTest::newRow("delete, lookup fails") << failing << remove << 4 << false;
        QTest::newRow("save, write refused") << readOnly << save << 1 << true;
        QTest::newRow("delete, write refused") << readOnly << remove << 2 << false;
    }

    void failedLookupOrWrite() {
        QFETCH(QString, view);
        QFETCH(QString, script);
        QFETCH(int, reports);
        QFETCH(bool, newMode);
        Sandbox box;
        const QString base = box.makeCatalogue("base.db", kEntries);
        QVERIFY(velario::test::writeSqlite(base, {"ALTER TABLE SELEZIONI_SQL RENAME TO REAL_TABLE",
                                                  "CREATE VIEW SELEZIONI_SQL AS " + view}));
        box.writeConfig(base);
        const ProgramRun run = box.run(script + "\ndump\n");
        QVERIFY(!run.crashed);
        const QStringList shown = messages(run);
        QCOMPARE(shown.size(), reports);
        QVERIFY2(shown.last().startsWith("Errore "), qPrintable(shown.last()));
        const QString statement = newMode ? "select * from SELEZIONI_SQL where CODICE = 'NEW'1' "
                                          : "select * from SELEZIONI_SQL where CODICE = 'ALFA' ";
        QVERIFY2(shown.last().endsWith("\r\r" + statement), qPrintable(shown.last()));
        QCOMPARE(tableRows(base, "REAL_TABLE").size(), kEntries.size());
        QCOMPARE(run.summary().filter("pointer").last(), QStringLiteral("pointer:0"));
        QCOMPARE(control(run, "txtCOD_SQL")["enabled"].toBool(), newMode);
        QCOMPARE(control(run, "cmdNUOVO")["enabled"].toBool(), !newMode);
        if (newMode)
            QCOMPARE(text(run, "txtCOD_SQL"), QStringLiteral("NEW'1"));
    }

    void catalogueNotOpened() {
        Sandbox box;
        box.writeConfig(box.file("missing.db"));
        const ProgramRun run = box.run(saveNew({"A", "d", "x.MDB", "s"}) + "\ndump\n");
        QVERIFY(!run.crashed);
        QCOMPARE(run.exitCode, 0);
        const QStringList shown = messages(run);
        QCOMPARE(shown.size(), 2);
        QVERIFY(shown[0].startsWith("ERRORE IN APERTURA DATABASE !!!"));
        QVERIFY2(shown[1].startsWith("Errore  91 - "), qPrintable(shown[1]));
        QCOMPARE(control(run, "DBGrid1")["rows"].toInt(), 0);
        QVERIFY(!QFile::exists(box.file("missing.db")));
    }

    // In-place editing of the list writes the entry; refused values go back.
    void gridEdit_data() {
        QTest::addColumn<QString>("script");
        QTest::addColumn<QStringList>("table");
        QTest::addColumn<int>("beeps");
        QTest::newRow("description trimmed")
            << "edit frmTS0002.DBGrid1 1 1  Nuova  descr "
            << QStringList{kA, "BETA|Nuova  descr|<NULL>|VENDITE|ODBC", kG} << 0;
        QTest::newRow("new code") << "edit frmTS0002.DBGrid1 0 0 ALFA2"
                                  << QStringList{"ALFA2" + kA.mid(4), kB, kG} << 0;
        QTest::newRow("code of another entry refused")
            << "edit frmTS0002.DBGrid1 0 0 GAMMA" << QStringList{kA, kB, kG} << 1;
        QTest::newRow("empty description refused")
            << "edit frmTS0002.DBGrid1 2 1 \"  \"" << QStringList{kA, kB, kG} << 1;
        // As long as the fields are, and no longer.
        QTest::newRow("code of 15") << "edit frmTS0002.DBGrid1 0 0 ALFA56789012345"
                                    << QStringList{"ALFA56789012345" + kA.mid(4), kB, kG} << 0;
        QTest::newRow("code of 16 refused")
            << "edit frmTS0002.DBGrid1 0 0 ALFA567890123456" << QStringList{kA, kB, kG} << 1;
        QTest::newRow("description of 46 refused")
            << "edit frmTS0002.DBGrid1 1 1 " + QString(46, u'd') << QStringList{kA, kB, kG} << 1;
    }

    void gridEdit() {
        QFETCH(QString, script);
        QFETCH(QStringList, table);
        QFETCH(int, beeps);
        const Setup setup;
        const ProgramRun run = setup.run(script);
        QCOMPARE(tableRows(setup.catalogue), table);
        QCOMPARE(run.eventsOf("beep").size(), beeps);
        // The cell shows what is stored.
        QStringList stored, cells;
        for (const QString& r : table)
            stored << r.section('|', 0, 1);
        const QStringList codes = listed(run, 0), descriptions = listed(run, 1);
        for (int i = 0; i < codes.size(); ++i)
            cells << codes[i] + "|" + descriptions[i];
        QCOMPARE(cells, stored);
    }

    // Only the first activation fills the fields; coming back to the window later keeps
    // what the user typed.
    void laterActivations() {
        const Setup setup;
        velario::Modulo::reset();
        velario::Modulo::PATH_DB = setup.catalogue;
        velario::Modulo::OPEN_CATALOGUE();
        velario::test::InProcess capture;
        auto& forms = velario::Forms::instance();
        auto* window = forms.create<velario::FrmTS0002>();
        window->load();
        window->showModeless();
        velario::waitIdle();
        QCOMPARE(window->FLAG_ACTIVATE, QStringLiteral("N"));
        QCOMPARE(window->txtCOD_SQL->text(), QStringLiteral("ALFA"));
        auto* other = forms.create<velario::Form>(QStringLiteral("frmOther"));
        other->showModeless();
        velario::waitIdle();
        window->txtSELEZ_SQL->setText(QStringLiteral("edited"));
        const int before = int(capture.events().size());
        window->activateWindow();
        velario::waitIdle();
        QVERIFY(window->isActiveWindow());
        QCOMPARE(capture.summary().mid(before), QStringList{"window:frmTS0002:activate"});
        QCOMPARE(window->txtSELEZ_SQL->text(), QStringLiteral("edited"));
        forms.clear();
        velario::Modulo::reset();
    }

    void exitEndsTheProgram() {
        static const Setup setup;
        const ProgramRun run = setup.box.run("click frmTS0002.cmdESCI\ndump\n");
        QCOMPARE(run.summary().mid(run.summary().size() - 2),
                 (QStringList{"window:frmTS0002:unload", "exit:0"}));
    }
};

QTEST_MAIN(TestCatalogue)
#include "tst_catalogue.moc"
