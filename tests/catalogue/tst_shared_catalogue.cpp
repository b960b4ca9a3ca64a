// Two programs, two users, one catalogue (a SQLite file, or a database of the test PostgreSQL
// server): each sees what the other saved, neither writes over the other in silence.
#include "app/shared_state.h"
#include "catalogue/catalogue_window.h"
#include "controls/controls.h"
#include "controls/datagrid.h"
#include "platform/form.h"
#include "support/harness.h"
#include "support/server_schema.h"
#include "support/window_control.h"

#include <QApplication>
#include <QJsonArray>
#include <QKeyEvent>
#include <QTest>

using namespace velario;

namespace {

const QString kA = "A|Prima|select 1|a.db|MDB";
const QString kB = "B|Seconda|select 2|DSN|ODBC";
const QList<QStringList> kEntries{kA.split('|'), kB.split('|')};

// Names the table below uses, each for its text; the longest first.
const QString kTold = "La selezione A è stata %1 da un altro utente dopo che è stata letta.\r\r";
const QString kOptions = "\rNo: mostra la versione dell'altro utente.\rAnnulla: lascia tutto "
                         "com'è.|35";
const QList<std::pair<QString, QString>> kNamed{
    {"$changedDelete", kTold.arg("modificata") + "Sì: la cancella comunque." + kOptions},
    {"$changedRestore",
     kTold.arg("modificata") + "Sì: la sostituisce con la versione scelta." + kOptions},
    {"$changed",
     kTold.arg("modificata") + "Sì: la sostituisce con quella sullo schermo." + kOptions},
    {"$deleted", kTold.arg("cancellata") + "Salvarla di nuovo con i dati sullo schermo ?|36"},
    {"$confirm", "Confermi la cancellazione ?|36"},
    {"$saveTheirs", "other type txtDESCR_SQL Loro; other click cmdAGGIORNA"},
    {"$saveMine", "me type txtDESCR_SQL Mia; me click cmdAGGIORNA"},
    {"$theirs", "A|Loro|select 1|a.db|MDB"},
    {"$mine", "A|Mia|select 1|a.db|MDB"},
    {"$versionsA", "Versioni precedenti di A: A Prima modificata altro 05/12/2026"},
    {"$a", kA},
    {"$b", kB}};

struct Program {
    std::unique_ptr<SharedState> state;
    CatalogueWindow* window = nullptr;
};

Program start(const QString& location, const QString& user) {
    Program p{std::make_unique<SharedState>(), nullptr};
    p.state->PATH_DB = location;
    p.state->OPEN_CATALOGUE();
    if (p.state->DB)
        p.state->DB->setAuthor(user, [] { return QDateTime(QDate(2026, 12, 5), QTime(9, 0)); });
    p.window = Forms::instance().create<CatalogueWindow>(*p.state);
    p.window->load();
    p.window->showModeless();
    waitIdle();
    return p;
}

// Runs STEP on WINDOW as a person would: "row N", "type CONTROL TEXT", "click CONTROL",
// "key KEY" (in the list), "menu ITEM" (the list's context menu), "activate".
void act(CatalogueWindow* window, const QString& step) {
    const QString verb = step.section(' ', 0, 0);
    if (verb == "activate") {
        window->activateWindow();
    } else if (verb == "row") {
        test::control<DataGrid>(window, "DBGrid1")->automationRow(step.section(' ', 1).toInt());
    } else if (verb == "type") {
        auto* field = test::control<QWidget>(window, step.section(' ', 1, 1));
        field->setFocus();
        dynamic_cast<AutomationControl*>(field)->automationType(step.section(' ', 2));
    } else if (verb == "click") {
        test::control<QWidget>(window, step.section(' ', 1))->setFocus();
        test::control<QAbstractButton>(window, step.section(' ', 1))->click();
    } else if (verb == "menu") {
        QCOMPARE(test::control<DataGrid>(window, "DBGrid1")->automationMenu(step.section(' ', 1)),
                 QString());
    } else if (verb == "key") {
        QWidget* grid = test::control<QWidget>(window, "DBGrid1");
        grid->setFocus();
        const QKeyCombination key = QKeySequence::fromString(step.section(' ', 1))[0];
        QTest::keyClick(grid, key.key(), key.keyboardModifiers());
    } else {
        QFAIL(qPrintable("unknown step " + step));
    }
    waitIdle();
}

QString fields(CatalogueWindow* w) {
    return QStringList{w->entryCode(), w->entryDescription(), w->entrySql(), w->entryDatabase(),
                       w->entryType()}
        .join('|');
}

} // namespace

class TestSharedCatalogue : public QObject {
    Q_OBJECT

    std::unique_ptr<test::CatalogueHere> here_;

private slots:
    void cleanup() {
        Forms::instance().clear();
        here_.reset();
    }

    // STEPS run on "me" and "other" (each step starts with the program's name), both of
    // which showed the entry A when they started; then the messages shown, each program's
    // fields, the table and its history are checked ("-": not checked).
    void twoPrograms_data() {
        QTest::addColumn<QStringList>("steps");
        QTest::addColumn<QStringList>("messages");
        QTest::addColumn<QString>("mine");
        QTest::addColumn<QString>("theirs");
        QTest::addColumn<QStringList>("table");
        QTest::addColumn<QStringList>("history");
        struct Case {
            const char *name, *steps, *messages, *mine, *theirs, *table, *history;
        };
        const Case cases[] = {
            {"overwrite once told", "$saveTheirs; answer 6; $saveMine", "$changed", "$mine",
             "$theirs", "$mine;$b", "A|Prima|modificata|altro;A|Loro|modificata|io"},
            {"load the other version", "$saveTheirs; answer 7; $saveMine", "$changed", "$theirs",
             "$theirs", "$theirs;$b", "A|Prima|modificata|altro"},
            {"cancel keeps what was typed", "$saveTheirs; answer 2; $saveMine", "$changed", "$mine",
             "$theirs", "$theirs;$b", "A|Prima|modificata|altro"},
            {"saved again after the other deleted it",
             "answer 6; other click cmdCANCELLA; answer 6; $saveMine", "$confirm;$deleted", "$mine",
             "-", "$mine;$b", "A|Prima|cancellata|altro;A|<NULL>|inserita|io"},
            {"delete only what was shown", "$saveTheirs; answer 6; answer 2; me click cmdCANCELLA",
             "$confirm;$changedDelete", "$a", "$theirs", "$theirs;$b", "A|Prima|modificata|altro"},
            {"two users create one code",
             "other click cmdNUOVO; other type txtCOD_SQL N; other type txtDESCR_SQL Loro; other "
             "type txtDATABASE N.MDB; other type txtSELEZ_SQL select 3; other click cmdAGGIORNA; "
             "me click cmdNUOVO; me type txtCOD_SQL N; me type txtDESCR_SQL Mia; me type "
             "txtDATABASE N.MDB; me type txtSELEZ_SQL select 4; me click cmdAGGIORNA",
             "Codice N già presente in archivio !!!|0", "N|Mia|select 4|N.MDB|MDB",
             "N|Loro|select 3|N.MDB|MDB", "$a;$b;N|Loro|select 3|N.MDB|MDB",
             "N|<NULL>|inserita|altro"},
            // Read again on activation and on F5, the list shows the other's entries; the
            // fields keep what was typed.
            {"seen on activation", "$saveTheirs; me type txtSELEZ_SQL non salvato; me activate", "",
             "A|Prima|non salvato|a.db|MDB", "$theirs", "$theirs;$b", "A|Prima|modificata|altro"},
            {"seen on F5", "me activate; $saveTheirs; me type txtSELEZ_SQL non salvato; me key F5",
             "", "A|Prima|non salvato|a.db|MDB", "$theirs", "$theirs;$b",
             "A|Prima|modificata|altro"},
            // "Versioni precedenti…" and "Selezioni cancellate…": a version chosen is written
            // back over the one shown, itself a change the history keeps.
            {"restore an earlier version", "$saveTheirs; version 0; other key Ctrl+H", "$versionsA",
             "$a", "$a", "$a;$b", "A|Prima|modificata|altro;A|Loro|ripristinata|altro"},
            {"restore from the context menu over a version not shown",
             "$saveTheirs; version 0; answer 6; me menu Versioni precedenti…",
             "$versionsA;$changedRestore", "$a", "$theirs", "$a;$b",
             "A|Prima|modificata|altro;A|Loro|ripristinata|io"},
            {"versions cancelled", "$saveTheirs; version cancel; other key Ctrl+H", "$versionsA",
             "$a", "$theirs", "$theirs;$b", "A|Prima|modificata|altro"},
            {"no earlier versions", "me key Ctrl+H", "La selezione A non ha versioni precedenti.|0",
             "$a", "$a", "$a;$b", "-"},
            {"restore a deleted entry",
             "answer 6; other click cmdCANCELLA; version 0; me activate; me key Ctrl+Shift+H",
             "$confirm;Selezioni cancellate: A Prima cancellata altro 05/12/2026", "$a", "-",
             "$a;$b", "A|Prima|cancellata|altro;A|<NULL>|inserita|io"},
        };
        const auto x = [](const char* items) { return test::namedItems(items, kNamed); };
        for (const char* kind : {"file", "server"})
            for (const Case& c : cases)
                QTest::addRow("%s: %s", kind, c.name)
                    << x(c.steps) << x(c.messages) << x(c.mine).value(0) << x(c.theirs).value(0)
                    << x(c.table) << x(c.history);
    }

    void twoPrograms() {
        QFETCH(QStringList, steps);
        QFETCH(QStringList, messages);
        QFETCH(QString, mine);
        QFETCH(QString, theirs);
        QFETCH(QStringList, table);
        QFETCH(QStringList, history);
        here_ = std::make_unique<test::CatalogueHere>(
            QString(QTest::currentDataTag()).startsWith("server"), kEntries);
        const QString location = here_->location();
        QVERIFY2(!location.startsWith("failed"), qPrintable(location));
        test::InProcess capture;
        const Program me = start(location, "io");
        const Program other = start(location, "altro");
        QCOMPARE(fields(me.window), kA);
        for (const QString& step : steps) {
            if (step.startsWith("answer "))
                capture.dialogs().queueAnswer(step.section(' ', 1).toInt());
            else if (step.startsWith("version "))
                capture.dialogs().queueVersion(step.section(' ', 1) == "cancel"
                                                   ? std::nullopt
                                                   : std::optional(step.section(' ', 1).toInt()));
            else
                act(step.startsWith("me ") ? me.window : other.window, step.section(' ', 1));
        }
        QStringList shown;
        for (const QJsonObject& e : capture.events())
            if (e["event"] == "msgbox") {
                shown << e["text"].toString() + "|" + QString::number(e["style"].toInt());
            } else if (e["event"] == "versions") {
                QStringList items;
                for (const QJsonValue item : e["items"].toArray())
                    items << item["code"].toString() + " " + item["description"].toString() + " " +
                                 item["action"].toString() + " " + item["user"].toString() + " " +
                                 item["when"].toString().section(' ', 0, 0);
                shown << e["title"].toString() + ": " + items.join(", ");
            }
        QCOMPARE(shown, messages);
        QCOMPARE(fields(me.window), mine);
        if (theirs != "-")
            QCOMPARE(fields(other.window), theirs);
        QCOMPARE(here_->table(), table);
        if (history != QStringList{"-"})
            QCOMPARE(here_->rows("SELECT CODICE, DESCRIZIONE, AZIONE, UTENTE FROM "
                                 "SELEZIONI_SQL_STORIA ORDER BY ID"),
                     history);
        // Whatever either did, the list shows the table once read again.
        act(other.window, "activate");
        act(me.window, "activate");
        auto* grid = test::control<DataGrid>(me.window, "DBGrid1");
        QCOMPARE(grid->resultRowCount(), table.size());
        for (qint64 r = 0; r < grid->resultRowCount(); ++r)
            QCOMPARE(grid->cellText(r, 0) + "|" + grid->cellText(r, 1),
                     table[r].section('|', 0, 1));
    }
};

QTEST_MAIN(TestSharedCatalogue)
#include "tst_shared_catalogue.moc"
