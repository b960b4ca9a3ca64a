// The catalogue's rules, the same on a SQLite file and on the test PostgreSQL server: a change
// writes only over the version its user was shown, keeps what it replaces in the history, a
// restore brings any earlier version back, and the search finds the catalogue as it is now.
#include "app/open_catalogue.h"
#include "data/catalogue/catalogue.h"
#include "support/harness.h"
#include "support/server_schema.h"

#include <QTest>

using namespace velario;
using velario::data::CatalogueVersion;
using velario::data::ChangeOutcome;
using velario::data::Expected;
using velario::data::StoredEntry;

namespace {

const QList<QStringList> kEntries{{"A", "Prima", "select 1", "a.db", "MDB"},
                                  {"B", "<NULL>", "select 2", "DSN", "ODBC"}};
// Names the table below uses for whole entries, longest first.
const QList<std::pair<QString, QString>> kNamed{
    {"$a2", "A|Seconda|select 11|a.db|MDB"},
    {"$a3", "A|Terza|select 111|a.db|MDB"},
    {"$n2", "N|Nuova dell'altro|select 4|n.db|MDB"},
    {"$a", "A|Prima|select 1|a.db|MDB"},
    {"$b", "B|<NULL>|select 2|DSN|ODBC"},
    {"$-", "<NULL>|<NULL>|<NULL>|<NULL>"},
    // 30,000 more entries, made quickly.
    {"$grow", "sql INSERT INTO SELEZIONI_SQL (CODICE, DESCRIZIONE, SQL) WITH RECURSIVE n(i) AS "
              "(SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 30000) SELECT 'G' || i, "
              "'Generata', 'select ' || i FROM n"}};

std::optional<QString> nullable(const QString& text) {
    return text == "<NULL>" ? std::nullopt : std::optional(text);
}

StoredEntry entryOf(const QString& fields) {
    const QStringList f = fields.split('|');
    return {nullable(f.value(0)), nullable(f.value(1)), nullable(f.value(2)), nullable(f.value(3)),
            nullable(f.value(4))};
}

QString textOf(const StoredEntry& e) {
    QStringList f;
    for (const auto& field : {e.code, e.description, e.sql, e.database, e.databaseType})
        f << field.value_or("<NULL>");
    return f.join('|');
}

// One program: its catalogue, and the version of each entry it was last shown.
struct Program {
    std::unique_ptr<data::Catalogue> catalogue;
    QHash<QString, StoredEntry> seen;
    std::optional<StoredEntry> current; // what the last conflict found there
};

} // namespace

class TestCatalogue : public QObject {
    Q_OBJECT

    std::unique_ptr<test::CatalogueHere> here_;

    // Runs STEP ("[other ]VERB ARGS") on the programs; what it came to, empty for a step that
    // only prepares.
    QString runStep(const QString& step, Program& me, Program& other) {
        QStringList words = step.split(' ');
        Program& p = words.first() == "other" ? other : me;
        if (words.first() == "other")
            words.removeFirst();
        const QString verb = words.value(0), code = words.value(1);
        const QString args = words.mid(1).join(' ');
        // "seen": the version the program was shown; "current": the one a conflict found;
        // "new", "any".
        const auto expected = [&](const QString& word) {
            return word == "seen"      ? Expected::exactly(p.seen.value(code))
                   : word == "current" ? Expected::exactly(*p.current)
                   : word == "new"     ? Expected::nothing()
                                       : Expected::anything();
        };
        ChangeOutcome outcome;
        Error error;
        QList<CatalogueVersion> versions;
        QStringList shown;
        if (verb == "read") {
            std::optional<StoredEntry> e;
            error = p.catalogue->lookUp(code, &e);
            if (e)
                p.seen[code] = *e;
            return error.description;
        } else if (verb == "prepare") {
            p.catalogue->prepareSearch();
            return {};
        } else if (verb == "find") {
            QSet<QString> codes;
            error = p.catalogue->find(args, &codes);
            shown = QStringList(codes.begin(), codes.end());
            shown.sort();
            return error ? error.description : (QStringList{"found"} + shown).join(' ');
        } else if (verb == "sql") {
            return here_->schema() ? here_->schema()->run({args})
                                   : test::sqliteRows(here_->location(), args, {}, true).join(' ');
        } else if (verb == "versions") {
            error = p.catalogue->history(code, &versions);
            for (const CatalogueVersion& v : versions)
                shown << textOf(v.entry) + '|' + data::actionName(v.action) + '|' + v.user + '|' +
                             v.when.toString("yyyy-MM-dd hh:mm t");
            return error ? error.description : (QStringList{"versions"} + shown).join(',');
        } else if (verb == "has-history") {
            return here_->rows("SELECT 1 FROM SELEZIONI_SQL_STORIA").value(0).startsWith("failed")
                       ? "0"
                       : "1";
        } else if (verb == "save") {
            const StoredEntry entry = entryOf(words.mid(3).join(' '));
            error = p.catalogue->save(code, expected(words[2]), entry, &outcome);
            if (!error && outcome.kind == ChangeOutcome::Done)
                p.seen[*entry.code] = entry;
        } else if (verb == "delete") {
            error = p.catalogue->remove(code, expected(words.mid(2).join(' ')), &outcome);
        } else if (verb == "restore") {
            error = p.catalogue->history(code, &versions);
            if (!error)
                error = p.catalogue->restore(versions.value(words[2].toInt()),
                                             expected(words.value(3, "seen")), &outcome);
        } else {
            return "unknown step " + step;
        }
        if (outcome.current)
            p.current = outcome.current;
        static const char* const kinds[] = {"Done", "Changed:", "Deleted", "Exists:"};
        return error ? "error " + error.description
                     : kinds[outcome.kind] +
                           (outcome.current && outcome.kind != ChangeOutcome::Deleted
                                ? textOf(*outcome.current)
                                : QString());
    }

private slots:
    void cleanup() { here_.reset(); }

    // Each row runs STEPS in order, "me" and "other" being two programs on one catalogue that
    // were each shown every entry when they started, then checks what each step came to, the
    // table and the history (code, the other four fields, what was done, by whom); "-" leaves
    // the table and the history unchecked.
    void changes_data() {
        QTest::addColumn<QStringList>("steps");
        QTest::addColumn<QStringList>("outcomes");
        QTest::addColumn<QStringList>("table");
        QTest::addColumn<QStringList>("history");
        struct Case {
            const char *name, *steps, *outcomes, *table, *history;
        };
        const Case cases[] = {
            {"overwrite the other version once told",
             "other save A seen $a2; save A seen $a3; save A current $a3", "Done;Changed:$a2;Done",
             "$a3;$b", "$a|modificata|altro;$a2|modificata|io"},
            {"delete what another deleted", "other delete A seen; delete A seen", "Done;Deleted",
             "$b", "$a|cancellata|altro"},
            {"a new entry over a code the user was shown", "save A any $a3", "Done", "$a3;$b",
             "$a|modificata|io"},
            {"a Null compared as Null", "save B seen B|Seconda|select 2|DSN|ODBC", "Done",
             "$a;B|Seconda|select 2|DSN|ODBC", "$b|modificata|io"},
            {"a code changed to one that is taken", "save A seen B|Prima|select 1|a.db|MDB",
             "Exists:$b", "$a;$b", ""},
            {"a code changed", "save A seen C|Prima|select 1|a.db|MDB", "Done",
             "$b;C|Prima|select 1|a.db|MDB", "$a|modificata|io"},
            {"delete a code that is not there", "delete Z any", "Done", "$a;$b", ""},
            {"restore an earlier version", "save A seen $a2; restore A 0", "Done;Done", "$a;$b",
             "$a|modificata|io;$a2|ripristinata|io"},
            // A catalogue made without the history table (an older one, or one made by hand)
            // gets it from its first change, not from reading.
            {"history made at the first write",
             "sql DROP TABLE IF EXISTS SELEZIONI_SQL_STORIA; find prima; versions A; has-history;"
             "save A seen $a2; has-history; versions A",
             "found A;versions;0;Done;1;versions,$a|modificata|io|2026-12-05 09:30 UTC", "$a2;$b",
             "$a|modificata|io"},
            // Case and accents aside, in code, description and SQL, never across two of them;
            // whoever changed the catalogue, before or after the index was made.
            {"search",
             "other save C new C|Città|select 'FORLÌ'|x.db|MDB; find CITTA; find forli; find "
             "cittaselect; find select; prepare; other save C seen C|Terza|<NULL>|x.db|MDB; find "
             "forli; find terza; prepare; find prima; save A seen $a2; find prima; other delete C "
             "seen; prepare; find terza",
             "Done;found C;found C;found;found A B C;Done;found;found C;found A;Done;found;Done;"
             "found",
             "-", "-"},
            {"a search waits for the index",
             "$grow; prepare; find g29999; other read G29999; other delete G29999 seen; prepare;"
             "find g2999; other save N new $n2; prepare; find nuova",
             "found G29999;Done;found G2999 G29990 G29991 G29992 G29993 G29994 G29995 G29996 "
             "G29997 G29998;Done;found N",
             "-", "-"},
        };
        const auto x = [](const char* items) { return test::namedItems(items, kNamed); };
        for (const char* kind : {"file", "server"})
            for (const Case& c : cases)
                QTest::addRow("%s: %s", kind, c.name)
                    << x(c.steps) << x(c.outcomes) << x(c.table) << x(c.history);
    }

    void changes() {
        QFETCH(QStringList, steps);
        QFETCH(QStringList, outcomes);
        QFETCH(QStringList, table);
        QFETCH(QStringList, history);
        here_ = std::make_unique<test::CatalogueHere>(
            QString(QTest::currentDataTag()).startsWith("server"), kEntries);
        QVERIFY2(!here_->location().startsWith("failed"), qPrintable(here_->location()));
        Program me, other;
        for (auto [p, user] : {std::pair{&me, "io"}, std::pair{&other, "altro"}}) {
            Error error;
            p->catalogue = openCatalogue(here_->location(), false, &error);
            QVERIFY2(p->catalogue, qPrintable(error.description));
            p->catalogue->setAuthor(
                user, [] { return QDateTime(QDate(2026, 12, 5), QTime(9, 30), Qt::UTC); });
            for (const QStringList& e : kEntries)
                QCOMPARE(runStep("read " + e[0], *p, *p), QString());
        }
        QStringList came;
        for (const QString& step : steps)
            if (const QString result = runStep(step, me, other); !result.isEmpty())
                came << result;
        QCOMPARE(came, outcomes);
        if (table == QStringList{"-"})
            return;
        QCOMPARE(here_->table(), table);
        QCOMPARE(here_->rows("SELECT CODICE, DESCRIZIONE, SQL, Database, Tipo_Database, AZIONE, "
                             "UTENTE FROM SELEZIONI_SQL_STORIA ORDER BY ID"),
                 history);
    }
};

QTEST_GUILESS_MAIN(TestCatalogue)
#include "tst_catalogue.moc"
