#include "app/modulo.h"
#include "catalogue/frmts0002.h"
#include "platform/automation.h"
#include "platform/controls.h"
#include "platform/form.h"
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

const QList<QStringList> kEntries{
    {"ALFA", "Prima selezione", "SELECT 1", "/dati/ALFA.MDB", "MDB"},
    {"BETA", "Seconda", "<NULL>", "VENDITE", "ODBC"},
    {"GAMMA", "Terza", "SELECT *\nFROM T", "/dati/g.MDB", "mdb"},
};

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
    void layout_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QList<int>>("geometry");
        QTest::addColumn<QString>("caption");
        QTest::addColumn<int>("maxLength"); // -1: not a text field

        const auto row = [](const char* n, QList<int> g, const char* c, int m = -1) {
            QTest::newRow(n) << QString(n) << g << QString::fromUtf8(c) << m;
        };
        row("Label1", {240, 3720, 1215, 255}, "Codice");
        row("Label4", {1800, 3720, 2175, 255}, "Descrizione selezione SQL");
        row("Label2", {120, 4440, 1815, 255}, "Database (.Mdb/Odbc)");
        row("Label5", {8760, 4440, 1095, 255}, "Tipo Database");
        row("Label3", {1800, 5040, 1215, 255}, "Selezione SQL");
        row("txtCOD_SQL", {120, 3960, 1455, 285}, "", 15);
        row("txtDESCR_SQL", {1800, 3960, 8895, 285}, "", 45);
        row("txtDATABASE", {1800, 4440, 5775, 285}, "", 80);
        row("txtTIPO_DATABASE", {9960, 4440, 735, 285}, "", 5);
        row("txtSELEZ_SQL", {1800, 5280, 8895, 1815}, "", 0);
        row("cmdSFOGLIA", {7680, 4440, 975, 285}, "Sfoglia ...");
        row("cmdSTAMPA_Elenco_SQL", {3480, 4800, 1695, 375}, "Stampa elenco SQL");
        row("cmdSTAMPA_SQL", {5640, 4800, 1695, 375}, "Stampa SQL");
        row("MSRDC1", {7440, 4800, 1215, 345}, "");
        row("Option2", {8880, 4800, 735, 255}, ".MDB");
        row("Option1", {9960, 4800, 855, 255}, "ODBC");
        row("cmdESEGUE_SQL", {120, 5040, 1455, 375}, "Esegue SQL");
        row("cmdNUOVO", {120, 5640, 1455, 375}, "Nuovo");
        row("cmdAGGIORNA", {120, 6000, 1455, 375}, "Aggiorna");
        row("cmdCANCELLA", {120, 6360, 1455, 375}, "Cancella");
        row("cmdESCI", {120, 6720, 1455, 375}, "Annulla / Esci");
    }

    void layout() {
        QFETCH(QString, name);
        QFETCH(QList<int>, geometry);
        QFETCH(QString, caption);
        QFETCH(int, maxLength);
        static const Setup setup;
        static const ProgramRun run = setup.run("");
        const QJsonObject c = control(run, name);
        QVERIFY2(!c.isEmpty(), qPrintable(name));
        QCOMPARE((QList<int>{c["left"].toInt(), c["top"].toInt(), c["width"].toInt(),
                             c["height"].toInt()}),
                 geometry);
        if (!caption.isEmpty())
            QCOMPARE(c["caption"].toString(), caption);
        if (maxLength >= 0)
            QCOMPARE(c["maxLength"].toInt(), maxLength);
    }

    void listHeight_data() {
        QTest::addColumn<int>("entries");
        QTest::addColumn<int>("height");
        QTest::newRow("empty") << 0 << 2200;
        QTest::newRow("4 entries") << 4 << 2200;
        QTest::newRow("5 entries") << 5 << 2900;
        QTest::newRow("40 entries") << 40 << 2900;
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
        if (entries == 0) {
            QCOMPARE(fields(run), QStringLiteral("||||MDB"));
            QVERIFY(!odbcSelected(run));
        } else {
            QCOMPARE(fields(run), QStringLiteral("C00|d|s|x|ODBC"));
            QVERIFY(odbcSelected(run));
        }
        QVERIFY(messages(run).isEmpty());
    }

    // Where the fields come from when the list moves, in browse and new-entry mode.
    void positioning_data() {
        QTest::addColumn<QString>("script");
        QTest::addColumn<QString>("expected");
        QTest::addColumn<bool>("odbc");

        QTest::newRow("first row at opening")
            << ""
            << "ALFA|Prima selezione|SELECT 1|/dati/ALFA.MDB|MDB" << false;
        QTest::newRow("row with a Null SQL and type ODBC") << "row frmTS0002.DBGrid1 1"
                                                           << "BETA|Seconda||VENDITE|ODBC" << true;
        QTest::newRow("type other than the two shows as MDB")
            << "row frmTS0002.DBGrid1 2"
            << "GAMMA|Terza|SELECT *\nFROM T|/dati/g.MDB|mdb" << false;
        QTest::newRow("new entry, existing code typed, another row clicked")
            << "click frmTS0002.cmdNUOVO\ntype frmTS0002.txtCOD_SQL  BETA \nrow frmTS0002.DBGrid1 2"
            << "BETA|Seconda||VENDITE|ODBC" << true;
        QTest::newRow("new entry, unknown code typed, row clicked")
            << "click frmTS0002.cmdNUOVO\ntype frmTS0002.txtCOD_SQL ZETA\n"
               "type frmTS0002.txtDESCR_SQL x\nrow frmTS0002.DBGrid1 1"
            << "||||MDB" << false;
        QTest::newRow("new entry, no code typed, row clicked")
            << "click frmTS0002.cmdNUOVO\nrow frmTS0002.DBGrid1 1"
            << "BETA|Seconda||VENDITE|ODBC" << true;
    }

    void positioning() {
        QFETCH(QString, script);
        QFETCH(QString, expected);
        QFETCH(bool, odbc);
        static const Setup setup;
        const ProgramRun run = setup.run(script);
        QCOMPARE(fields(run), expected);
        QCOMPARE(odbcSelected(run), odbc);
        // Any repositioning brings the window back to browse mode.
        QCOMPARE(control(run, "txtCOD_SQL")["enabled"].toBool(), false);
        for (const char* b : {"cmdNUOVO", "cmdAGGIORNA", "cmdCANCELLA", "cmdESCI", "cmdESEGUE_SQL"})
            QVERIFY2(control(run, b)["enabled"].toBool(), b);
        QVERIFY(messages(run).isEmpty());
    }

    void trimmedCodesInTheList() {
        const Setup setup(
            {{"  AB  ", " Descr ", "S", "/x.MDB", "MDB"}, {"AB", "other", "T", "DSN", "ODBC"}});
        // The row with blanks is shown and looked up trimmed: its fields come from "AB".
        const ProgramRun run = setup.run("row frmTS0002.DBGrid1 0");
        QCOMPARE(fields(run), QStringLiteral("AB|Descr|T|DSN|ODBC"));
    }

    void typeInference_data() {
        QTest::addColumn<QString>("database");
        QTest::addColumn<QString>("type");
        QTest::newRow("upper-case extension") << "C:\\DATI\\VENDITE.MDB"
                                              << "MDB";
        QTest::newRow("lower-case extension") << "C:\\DATI\\vendite.mdb"
                                              << "ODBC";
        QTest::newRow("data source name") << "VENDITE_ODBC"
                                          << "ODBC";
        QTest::newRow(".MDB inside the text") << "A.MDB.bak"
                                              << "MDB";
        QTest::newRow("empty") << ""
                               << "MDB";
        QTest::newRow("blanks only") << "\"   \""
                                     << "MDB";
    }

    void typeInference() {
        QFETCH(QString, database);
        QFETCH(QString, type);
        static const Setup setup;
        // Start from the ODBC entry, so that MDB is a change.
        const ProgramRun run = setup.run("row frmTS0002.DBGrid1 1\ntype frmTS0002.txtDATABASE " +
                                         database + "\nfocus frmTS0002.txtDESCR_SQL");
        QCOMPARE(text(run, "txtTIPO_DATABASE"), type);
        QCOMPARE(odbcSelected(run), type == "ODBC");
    }

    void optionClicks() {
        static const Setup setup;
        const ProgramRun run =
            setup.run("type frmTS0002.txtTIPO_DATABASE XY\nclick frmTS0002.Option2\n"
                      "dump\nclick frmTS0002.Option1");
        const QList<QJsonObject> states = run.eventsOf("state");
        QCOMPARE(states.size(), 2);
        const auto typeIn = [](const QJsonObject& state) {
            return state["windows"]
                .toArray()[0]
                .toObject()["controls"]
                .toObject()["txtTIPO_DATABASE"]
                .toObject()["text"]
                .toString();
        };
        // A click on the option already selected writes its type again.
        QCOMPARE(typeIn(states[0]), QStringLiteral("MDB"));
        QCOMPARE(typeIn(states[1]), QStringLiteral("ODBC"));
    }

    void selectAllOnFocus_data() {
        QTest::addColumn<QString>("script");
        QTest::addColumn<QString>("field");
        QTest::addColumn<bool>("all");
        QTest::newRow("description") << "focus frmTS0002.txtDESCR_SQL"
                                     << "txtDESCR_SQL" << true;
        QTest::newRow("database") << "focus frmTS0002.txtDATABASE"
                                  << "txtDATABASE" << true;
        QTest::newRow("type") << "focus frmTS0002.txtTIPO_DATABASE"
                              << "txtTIPO_DATABASE" << true;
        QTest::newRow("tab into the description") << "key frmTS0002.DBGrid1 Tab"
                                                  << "txtDESCR_SQL" << true;
        QTest::newRow("tab into the SQL text") << "key frmTS0002.Option1 Tab"
                                               << "txtSELEZ_SQL" << false;
        QTest::newRow("tab into the code in new mode")
            << "click frmTS0002.cmdNUOVO\ntype frmTS0002.txtCOD_SQL ABC\nfocus "
               "frmTS0002.txtDESCR_SQL\nkey frmTS0002.txtDESCR_SQL Shift+Tab"
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
        QTest::newRow("ODBC selected: nothing")
            << "click frmTS0002.Option1\nclick frmTS0002.cmdSFOGLIA"
            << "<none>"
            << "/dati/ALFA.MDB";
        QTest::newRow("empty field opens in the program folder, cancel keeps it")
            << "type frmTS0002.txtDATABASE \nclick frmTS0002.Option2\ncancel-file\nclick "
               "frmTS0002.cmdSFOGLIA"
            << "<program>"
            << "";
        QTest::newRow("cancel keeps what was typed")
            << "type frmTS0002.txtDATABASE  /typed/X.MDB \ncancel-file\nclick frmTS0002.cmdSFOGLIA"
            << "/typed/X.MDB"
            << " /typed/X.MDB ";
        QTest::newRow("a chosen file replaces the field")
            << "choose-file /new/place/a b.mdb\nclick frmTS0002.cmdSFOGLIA"
            << "/dati/ALFA.MDB"
            << "/new/place/a b.mdb";
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
        QTest::newRow("code") << QStringList{"", "d", "x.MDB", "s", "MDB"}
                              << "Indicare un codice !!!"
                              << "txtCOD_SQL";
        QTest::newRow("blank code before blank description")
            << QStringList{"   ", "  ", "x.MDB", "s", "MDB"} << "Indicare un codice !!!"
            << "txtCOD_SQL";
        QTest::newRow("description")
            << QStringList{"N1", " ", "x.MDB", "s", "MDB"} << "Indicare una descrizione !!!"
            << "txtDESCR_SQL";
        QTest::newRow("database") << QStringList{"N1", "d", "", "", "MDB"}
                                  << "Indicare un Database collegato !!!"
                                  << "txtDATABASE";
        QTest::newRow("type") << QStringList{"N1", "d", "x.MDB", "s", "  "}
                              << "Indicare il tipo di Database !!!"
                              << "txtTIPO_DATABASE";
        QTest::newRow("SQL") << QStringList{"N1", "d", "x.MDB", " \n ", "MDB"}
                             << "Nessuna stringa SQL da eseguire !!!"
                             << "txtSELEZ_SQL";
    }

    void saveChecks() {
        QFETCH(QStringList, values);
        QFETCH(QString, message);
        QFETCH(QString, focus);
        const Setup setup;
        const ProgramRun run = setup.run("click frmTS0002.cmdNUOVO\ntype frmTS0002.txtCOD_SQL " +
                                         quoted(values[0]) + "\ntype frmTS0002.txtDESCR_SQL " +
                                         quoted(values[1]) + "\ntype frmTS0002.txtDATABASE " +
                                         quoted(values[2]) + "\ntype frmTS0002.txtSELEZ_SQL " +
                                         quoted(values[3]) + "\ntype frmTS0002.txtTIPO_DATABASE " +
                                         quoted(values[4]) + "\nclick frmTS0002.cmdAGGIORNA");
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

        QTest::newRow("new entry")
            << "click frmTS0002.cmdNUOVO\ntype frmTS0002.txtCOD_SQL  DELTA \n"
               "type frmTS0002.txtDESCR_SQL  Quarta  voce \ntype frmTS0002.txtDATABASE  /d/Q.MDB \n"
               "type frmTS0002.txtSELEZ_SQL \"  select 4\\n from x  \"\n"
               "type frmTS0002.txtTIPO_DATABASE  Odbc \nclick frmTS0002.cmdAGGIORNA"
            << QStringList{"ALFA|Prima selezione|SELECT 1|/dati/ALFA.MDB|MDB",
                           "BETA|Seconda|<NULL>|VENDITE|ODBC",
                           "DELTA|Quarta  voce|select 4\n from x|/d/Q.MDB|Odbc",
                           "GAMMA|Terza|SELECT *\nFROM T|/dati/g.MDB|mdb"}
            << "DELTA|Quarta  voce|select 4\n from x|/d/Q.MDB|Odbc";
        QTest::newRow("new entry over an existing code")
            << "click frmTS0002.cmdNUOVO\ntype frmTS0002.txtCOD_SQL BETA\n"
               "type frmTS0002.txtDESCR_SQL Rifatta\ntype frmTS0002.txtDATABASE DSN2\n"
               "type frmTS0002.txtSELEZ_SQL select 2\nclick frmTS0002.cmdAGGIORNA"
            << QStringList{"ALFA|Prima selezione|SELECT 1|/dati/ALFA.MDB|MDB",
                           "BETA|Rifatta|select 2|DSN2|ODBC",
                           "GAMMA|Terza|SELECT *\nFROM T|/dati/g.MDB|mdb"}
            << "BETA|Rifatta|select 2|DSN2|ODBC";
        QTest::newRow("change in browse mode")
            << "row frmTS0002.DBGrid1 1\ntype frmTS0002.txtSELEZ_SQL select 22\nclick "
               "frmTS0002.cmdAGGIORNA"
            << QStringList{"ALFA|Prima selezione|SELECT 1|/dati/ALFA.MDB|MDB",
                           "BETA|Seconda|select 22|VENDITE|ODBC",
                           "GAMMA|Terza|SELECT *\nFROM T|/dati/g.MDB|mdb"}
            << "BETA|Seconda|select 22|VENDITE|ODBC";
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
        QVERIFY(!control(run, "txtCOD_SQL")["enabled"].toBool());
        for (const char* b : {"cmdNUOVO", "cmdAGGIORNA", "cmdCANCELLA", "cmdESCI", "cmdESEGUE_SQL"})
            QVERIFY2(control(run, b)["enabled"].toBool(), b);
        // The list follows the table, in code order, its first row current.
        const QJsonObject grid = control(run, "DBGrid1");
        QCOMPARE(grid["rows"].toInt(), table.size());
        QCOMPARE(grid["currentRow"].toInt(), 0);
        QStringList listed;
        for (const QJsonValue r : grid["cells"].toArray())
            listed << r.toArray()[0].toString();
        QStringList codes;
        for (const QString& r : table)
            codes << r.section('|', 0, 0);
        QCOMPARE(listed, codes);
        // The hourglass from the write to the end.
        const QStringList s = run.summary();
        QCOMPARE(s.mid(s.lastIndexOf("pointer:11")).filter("pointer"),
                 (QStringList{"pointer:11", "pointer:0"}));
    }

    void deleteEntry_data() {
        QTest::addColumn<int>("answer");
        QTest::addColumn<QStringList>("table");
        QTest::addColumn<QString>("shown");
        QTest::newRow("yes") << 6
                             << QStringList{"ALFA|Prima selezione|SELECT 1|/dati/ALFA.MDB|MDB",
                                            "GAMMA|Terza|SELECT *\nFROM T|/dati/g.MDB|mdb"}
                             << "ALFA|Prima selezione|SELECT 1|/dati/ALFA.MDB|MDB";
        QTest::newRow("no") << 7
                            << QStringList{"ALFA|Prima selezione|SELECT 1|/dati/ALFA.MDB|MDB",
                                           "BETA|Seconda|<NULL>|VENDITE|ODBC",
                                           "GAMMA|Terza|SELECT *\nFROM T|/dati/g.MDB|mdb"}
                            << "BETA|Seconda||VENDITE|ODBC";
    }

    void deleteEntry() {
        QFETCH(int, answer);
        QFETCH(QStringList, table);
        QFETCH(QString, shown);
        const Setup setup;
        const ProgramRun run = setup.run(QStringLiteral("row frmTS0002.DBGrid1 1\nanswer %1\n"
                                                        "click frmTS0002.cmdCANCELLA")
                                             .arg(answer));
        const QList<QJsonObject> boxes = run.eventsOf("msgbox");
        QCOMPARE(boxes.size(), 1);
        QCOMPARE(boxes[0]["text"].toString(), QStringLiteral("Confermi la cancellazione ?"));
        QCOMPARE(boxes[0]["style"].toInt(), 36);
        QCOMPARE(tableRows(setup.catalogue), table);
        QCOMPARE(fields(run), shown);
        QCOMPARE(control(run, "DBGrid1")["rows"].toInt(), table.size());
    }

    void deleteTheLastEntry() {
        const Setup setup({{"SOLO", "unica", "s", "x.MDB", "MDB"}});
        const ProgramRun run = setup.run("answer 6\nclick frmTS0002.cmdCANCELLA");
        QVERIFY(tableRows(setup.catalogue).isEmpty());
        QCOMPARE(fields(run), QStringLiteral("||||MDB"));
        QCOMPARE(control(run, "DBGrid1")["height"].toInt(), 2200);
    }

    // Codes that would break a statement built from text are saved, listed, found and
    // deleted like any other.
    void awkwardCodes_data() {
        QTest::addColumn<QString>("code");
        QTest::newRow("quote") << "O'HARA";
        QTest::newRow("quotes and semicolon") << "A';DROP--";
        QTest::newRow("backslash and percent") << "C:\\%_x";
        QTest::newRow("non-Latin") << "Ωмега日本";
        QTest::newRow("double quote") << "say \"hi\"";
    }

    void awkwardCodes() {
        QFETCH(QString, code);
        const Setup setup;
        const ProgramRun saved =
            setup.run("click frmTS0002.cmdNUOVO\ntype frmTS0002.txtCOD_SQL " + quoted(code) +
                      "\ntype frmTS0002.txtDESCR_SQL d\ntype frmTS0002.txtDATABASE x.MDB\n"
                      "type frmTS0002.txtSELEZ_SQL select 9\nclick frmTS0002.cmdAGGIORNA");
        QVERIFY2(messages(saved).isEmpty(), qPrintable(messages(saved).join('\n')));
        QVERIFY(tableRows(setup.catalogue).contains(code + "|d|select 9|x.MDB|MDB"));
        QCOMPARE(fields(saved), code + "|d|select 9|x.MDB|MDB");

        // Found from the list, then deleted.
        int row = -1;
        const QJsonArray cells = control(saved, "DBGrid1")["cells"].toArray();
        for (int i = 0; i < cells.size(); ++i)
            if (cells[i].toArray()[0].toString() == code)
                row = i;
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
        const QString save = "click frmTS0002.cmdNUOVO\ntype frmTS0002.txtCOD_SQL NEW'1\n"
                             "type frmTS0002.txtDESCR_SQL d\ntype frmTS0002.txtDATABASE x.MDB\n"
                             "type frmTS0002.txtSELEZ_SQL s\nclick frmTS0002.cmdAGGIORNA";
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
        {
            QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), "view");
            db.setDatabaseName(base);
            db.open();
            QSqlQuery q(db);
            QVERIFY(q.exec("ALTER TABLE SELEZIONI_SQL RENAME TO REAL_TABLE"));
            QVERIFY(q.exec("CREATE VIEW SELEZIONI_SQL AS " + view));
        }
        QSqlDatabase::removeDatabase("view");
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
        const ProgramRun run =
            box.run("click frmTS0002.cmdNUOVO\ntype frmTS0002.txtCOD_SQL A\n"
                    "type frmTS0002.txtDESCR_SQL d\ntype frmTS0002.txtDATABASE x.MDB\n"
                    "type frmTS0002.txtSELEZ_SQL s\nclick frmTS0002.cmdAGGIORNA\ndump\n");
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
            << QStringList{"ALFA|Prima selezione|SELECT 1|/dati/ALFA.MDB|MDB",
                           "BETA|Nuova  descr|<NULL>|VENDITE|ODBC",
                           "GAMMA|Terza|SELECT *\nFROM T|/dati/g.MDB|mdb"}
            << 0;
        QTest::newRow("new code")
            << "edit frmTS0002.DBGrid1 0 0 ALFA2"
            << QStringList{"ALFA2|Prima selezione|SELECT 1|/dati/ALFA.MDB|MDB",
                           "BETA|Seconda|<NULL>|VENDITE|ODBC",
                           "GAMMA|Terza|SELECT *\nFROM T|/dati/g.MDB|mdb"}
            << 0;
        QTest::newRow("code of another entry refused")
            << "edit frmTS0002.DBGrid1 0 0 GAMMA"
            << QStringList{"ALFA|Prima selezione|SELECT 1|/dati/ALFA.MDB|MDB",
                           "BETA|Seconda|<NULL>|VENDITE|ODBC",
                           "GAMMA|Terza|SELECT *\nFROM T|/dati/g.MDB|mdb"}
            << 1;
        QTest::newRow("empty description refused")
            << "edit frmTS0002.DBGrid1 2 1 \"  \""
            << QStringList{"ALFA|Prima selezione|SELECT 1|/dati/ALFA.MDB|MDB",
                           "BETA|Seconda|<NULL>|VENDITE|ODBC",
                           "GAMMA|Terza|SELECT *\nFROM T|/dati/g.MDB|mdb"}
            << 1;
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
        QStringList cells;
        for (const QJsonValue r : control(run, "DBGrid1")["cells"].toArray())
            cells << r.toArray()[0].toString() + "|" + r.toArray()[1].toString();
        QStringList stored;
        for (const QString& r : table)
            stored << r.section('|', 0, 1);
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
        const QStringList after = capture.summary().mid(before);
        QCOMPARE(after, QStringList{"window:frmTS0002:activate"});
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
