// The catalogue's rules, the same on a SQLite file and on the test PostgreSQL server: a change
// writes only over the version its user was shown, keeps what it replaces in the history, and
// a restore brings any earlier version back.
#include "data/catalogue/catalogue_store.h"
#include "data/catalogue/file_catalogue.h"
#include "data/catalogue/server_catalogue.h"
#include "data/sqlite/database.h"
#include "support/harness.h"
#include "support/server_schema.h"

#include <QTest>

using namespace velario;
using velario::data::Catalogue;
using velario::data::CatalogueVersion;
using velario::data::ChangeOutcome;
using velario::data::Expected;
using velario::data::StoredEntry;

namespace {

const QList<QStringList> kEntries{{"A", "Prima", "select 1", "a.db", "MDB"},
                                  {"B", "<NULL>", "select 2", "DSN", "ODBC"}};

std::optional<QString> nullable(const QString& text) {
    return text == QLatin1String("<NULL>") ? std::nullopt : std::optional(text);
}

StoredEntry entryOf(const QString& fields) {
    const QStringList f = fields.split('|');
    return {nullable(f.value(0)), nullable(f.value(1)), nullable(f.value(2)), nullable(f.value(3)),
            nullable(f.value(4))};
}

QString textOf(const StoredEntry& e) {
    QStringList f;
    for (const auto& field : {e.code, e.description, e.sql, e.database, e.databaseType})
        f << field.value_or(QStringLiteral("<NULL>"));
    return f.join('|');
}

// One program: its catalogue, and the version of each entry it was last shown.
struct Program {
    std::unique_ptr<Catalogue> catalogue;
    QHash<QString, StoredEntry> seen;
    std::optional<StoredEntry> current; // what the last conflict found there
};

// Opens the catalogue at LOCATION (a file, or a server URI) as USER; null after QVERIFY fails.
std::unique_ptr<Catalogue> open(const QString& location, const QString& user, QString* why) {
    Error error;
    std::unique_ptr<Catalogue> catalogue;
    if (data::isServerUri(location)) {
        const auto address = data::readServerAddress(location, &error);
        catalogue = address ? data::serverCatalogue(*address, &error) : nullptr;
    } else if (auto db = data::Database::open(location, false, &error)) {
        error = data::checkCatalogue(*db);
        catalogue = error ? nullptr : data::fileCatalogue(std::move(db));
    }
    if (catalogue)
        catalogue->setAuthor(user,
                             [] { return QDateTime(QDate(2026, 12, 5), QTime(9, 30), Qt::UTC); });
    *why = error.description;
    return catalogue;
}

QString outcomeText(const ChangeOutcome& o) {
    switch (o.kind) {
    case ChangeOutcome::Done:
        return "Done";
    case ChangeOutcome::Changed:
        return "Changed:" + textOf(*o.current);
    case ChangeOutcome::Deleted:
        return "Deleted";
    case ChangeOutcome::Exists:
        return "Exists:" + textOf(*o.current);
    }
    return {};
}

// Runs STEP ("[other ]VERB ARGS") on the programs; what it came to.
QString runStep(const QString& step, Program& me, Program& other) {
    QStringList words = step.split(' ');
    Program& p = words.first() == "other" ? other : me;
    if (words.first() == "other")
        words.removeFirst();
    const QString verb = words.value(0);
    const QString code = words.value(1);
    // "seen": the version the program was shown; "current": the one a conflict found; "new",
    // "any".
    const auto expected = [&](const QString& word) {
        if (word == "seen")
            return Expected::exactly(p.seen.value(code));
        if (word == "current")
            return Expected::exactly(*p.current);
        return word == "new" ? Expected::nothing() : Expected::anything();
    };
    ChangeOutcome outcome;
    Error error;
    if (verb == "read") {
        std::optional<StoredEntry> e;
        error = p.catalogue->lookUp(code, &e);
        if (e)
            p.seen[code] = *e;
        return error ? error.description : "read";
    }
    if (verb == "save") {
        const StoredEntry entry = entryOf(words.mid(3).join(' '));
        error = p.catalogue->save(code, expected(words[2]), entry, &outcome);
        if (!error && outcome.kind == ChangeOutcome::Done)
            p.seen[*entry.code] = entry;
    } else if (verb == "delete") {
        error = p.catalogue->remove(code, expected(words[2]), &outcome);
    } else if (verb == "restore" || verb == "restore-deleted") {
        QList<CatalogueVersion> versions;
        error = verb == "restore" ? p.catalogue->history(code, &versions)
                                  : p.catalogue->deletedEntries(&versions);
        const CatalogueVersion version = versions.value(words[2].toInt());
        if (!error)
            error = p.catalogue->restore(
                version, verb == "restore" ? expected(words.value(3, "seen")) : Expected::nothing(),
                &outcome);
    } else {
        return "unknown step " + step;
    }
    if (outcome.current)
        p.current = outcome.current;
    return error ? "error " + error.description : outcomeText(outcome);
}

} // namespace

class TestCatalogue : public QObject {
    Q_OBJECT

    std::unique_ptr<test::CatalogueHere> here_;

    // A catalogue of ENTRIES of the kind the test row names: its location.
    QString make(const QList<QStringList>& entries) {
        here_ = std::make_unique<test::CatalogueHere>(
            QString(QTest::currentDataTag()).startsWith("server"), entries);
        return here_->location();
    }

    bool hasHistory() {
        return here_->rows(here_->schema() ? "SELECT count(to_regclass('selezioni_sql_storia'))"
                                           : "SELECT count(*) FROM sqlite_master WHERE name = "
                                             "'SELEZIONI_SQL_STORIA'") == QStringList{"1"};
    }

    static void kinds() {
        QTest::addColumn<int>("unused");
        QTest::newRow("file") << 0;
        QTest::newRow("server") << 0;
    }

private slots:
    void cleanup() { here_.reset(); }

    // Each row runs STEPS in order, "me" and "other" being two programs on one catalogue that
    // were each shown every entry when they started, then checks what each step came to, the
    // table and the history (code, the other four fields, what was done, by whom).
    void changes_data() {
        QTest::addColumn<QStringList>("steps");
        QTest::addColumn<QStringList>("outcomes");
        QTest::addColumn<QStringList>("table");
        QTest::addColumn<QStringList>("history");
        const QString a = "A|Prima|select 1|a.db|MDB";
        const QString b = "B|<NULL>|select 2|DSN|ODBC";
        const QString a2 = "A|Seconda|select 11|a.db|MDB";
        const QString a3 = "A|Terza|select 111|a.db|MDB";
        const QString n1 = "N|Nuova di me|select 3|n.db|MDB";
        const QString n2 = "N|Nuova dell'altro|select 4|n.db|MDB";
        struct Case {
            const char* name;
            QStringList steps, outcomes, table, history;
        };
        const QList<Case> cases{
            {"change the version shown",
             {"save A seen " + a2},
             {"Done"},
             {a2, b},
             {a + "|modificata|io"}},
            {"another changed it first",
             {"other save A seen " + a2, "save A seen " + a3},
             {"Done", "Changed:" + a2},
             {a2, b},
             {a + "|modificata|altro"}},
            {"overwrite the other version once told",
             {"other save A seen " + a2, "save A seen " + a3, "save A current " + a3},
             {"Done", "Changed:" + a2, "Done"},
             {a3, b},
             {a + "|modificata|altro", a2 + "|modificata|io"}},
            {"another deleted it",
             {"other delete A seen", "save A seen " + a3},
             {"Done", "Deleted"},
             {b},
             {a + "|cancellata|altro"}},
            {"delete only the version shown",
             {"other save A seen " + a2, "delete A seen"},
             {"Done", "Changed:" + a2},
             {a2, b},
             {a + "|modificata|altro"}},
            {"delete what another deleted",
             {"other delete A seen", "delete A seen"},
             {"Done", "Deleted"},
             {b},
             {a + "|cancellata|altro"}},
            {"two users make one code",
             {"other save N new " + n2, "save N new " + n1},
             {"Done", "Exists:" + n2},
             {a, b, n2},
             {"N|<NULL>|<NULL>|<NULL>|<NULL>|inserita|altro"}},
            {"a new entry over a code the user was shown",
             {"save A any " + a3},
             {"Done"},
             {a3, b},
             {a + "|modificata|io"}},
            {"a Null compared as Null",
             {"save B seen B|Seconda|select 2|DSN|ODBC"},
             {"Done"},
             {a, "B|Seconda|select 2|DSN|ODBC"},
             {b + "|modificata|io"}},
            {"a code changed to one that is taken",
             {"save A seen B|Prima|select 1|a.db|MDB"},
             {"Exists:" + b},
             {a, b},
             {}},
            {"a code changed",
             {"save A seen C|Prima|select 1|a.db|MDB"},
             {"Done"},
             {b, "C|Prima|select 1|a.db|MDB"},
             {a + "|modificata|io"}},
            {"delete a code that is not there", {"delete Z any"}, {"Done"}, {a, b}, {}},
            {"restore an earlier version",
             {"save A seen " + a2, "restore A 0"},
             {"Done", "Done"},
             {a, b},
             {a + "|modificata|io", a2 + "|ripristinata|io"}},
            {"restore over a version changed since",
             {"save A seen " + a2, "other read A", "other save A seen " + a3, "restore A 0"},
             {"Done", "read", "Done", "Changed:" + a3},
             {a3, b},
             {a + "|modificata|io", a2 + "|modificata|altro"}},
            {"restore a deleted entry",
             {"delete A seen", "other restore-deleted A 0"},
             {"Done", "Done"},
             {a, b},
             {a + "|cancellata|io", "A|<NULL>|<NULL>|<NULL>|<NULL>|inserita|altro"}},
        };
        for (const char* kind : {"file", "server"})
            for (const Case& c : cases)
                QTest::addRow("%s: %s", kind, c.name)
                    << c.steps << c.outcomes << c.table << c.history;
    }

    void changes() {
        QFETCH(QStringList, steps);
        QFETCH(QStringList, outcomes);
        QFETCH(QStringList, table);
        QFETCH(QStringList, history);
        const QString location = make(kEntries);
        QVERIFY2(!location.startsWith("failed"), qPrintable(location));
        QString why;
        Program me{open(location, "io", &why), {}, {}};
        QVERIFY2(me.catalogue, qPrintable(why));
        Program other{open(location, "altro", &why), {}, {}};
        QVERIFY2(other.catalogue, qPrintable(why));
        for (Program* p : {&me, &other})
            for (const QStringList& e : kEntries)
                QCOMPARE(runStep("read " + e[0], *p, *p), "read");
        QStringList came;
        for (const QString& step : steps)
            came << runStep(step, me, other);
        QCOMPARE(came, outcomes);
        QCOMPARE(here_->table(), table);
        QCOMPARE(here_->rows("SELECT CODICE, DESCRIZIONE, SQL, Database, Tipo_Database, AZIONE, "
                             "UTENTE FROM SELEZIONI_SQL_STORIA ORDER BY ID"),
                 history);
    }

    // A catalogue made without the history table (an older one, or one made by hand) gets it
    // from its first change, not from reading.
    void historyAtFirstWrite_data() { kinds(); }
    void historyAtFirstWrite() {
        const QString location = make(kEntries);
        QVERIFY2(!location.startsWith("failed"), qPrintable(location));
        if (here_->schema())
            QCOMPARE(here_->schema()->run({"DROP TABLE SELEZIONI_SQL_STORIA"}), QString());
        QString why;
        const std::unique_ptr<Catalogue> catalogue = open(location, "io", &why);
        QVERIFY2(catalogue, qPrintable(why));
        std::optional<StoredEntry> a;
        QSet<QString> found;
        QList<CatalogueVersion> versions;
        QVERIFY(!catalogue->lookUp("A", &a) && a && !catalogue->find("prima", &found) &&
                !catalogue->history("A", &versions) && !catalogue->deletedEntries(&versions));
        QCOMPARE(found, QSet<QString>{"A"});
        QVERIFY(versions.isEmpty());
        QVERIFY(!hasHistory());
        ChangeOutcome outcome;
        QVERIFY(!catalogue->save("A", Expected::exactly(*a), entryOf("A|Nuova|s|d|MDB"), &outcome));
        QVERIFY(hasHistory());
        QVERIFY(!catalogue->history("A", &versions));
        QCOMPARE(versions.size(), 1);
        QCOMPARE(textOf(versions[0].entry), "A|Prima|select 1|a.db|MDB");
        QCOMPARE(versions[0].user, "io");
        QCOMPARE(versions[0].when, QDateTime(QDate(2026, 12, 5), QTime(9, 30), Qt::UTC));
    }

    // The search finds the catalogue as it is now, whoever changed it: case and accents aside,
    // in code, description and SQL, never across two of them.
    void search_data() { kinds(); }
    void search() {
        const QString location =
            make({{"A", "Vendite di Città", "select 1", "x.db", "MDB"},
                  {"B", "Seconda", "SELECT * FROM T WHERE Zona = 'FORLÌ'", "DSN", "ODBC"},
                  {"C", "Terza", "<NULL>", "x.db", "MDB"}});
        QVERIFY2(!location.startsWith("failed"), qPrintable(location));
        QString why;
        const std::unique_ptr<Catalogue> me = open(location, "io", &why);
        QVERIFY2(me, qPrintable(why));
        const std::unique_ptr<Catalogue> other = open(location, "altro", &why);
        QVERIFY2(other, qPrintable(why));
        const auto find = [&](const QString& text) {
            QSet<QString> codes;
            const Error error = me->find(text, &codes);
            QStringList sorted(codes.begin(), codes.end());
            sorted.sort();
            return error ? error.description : sorted.join(',');
        };
        QCOMPARE(find("CITTA"), "A");
        QCOMPARE(find("forli"), "B");
        QCOMPARE(find("terzaselect"), "");
        QCOMPARE(find("a"), "A,B,C");
        ChangeOutcome outcome;
        const auto change = [&](Catalogue& who, const QString& key, const QString& to) {
            std::optional<StoredEntry> now;
            return !who.lookUp(key, &now) &&
                   !(to.isEmpty()
                         ? who.remove(key, Expected::exactly(*now), &outcome)
                         : who.save(key, now ? Expected::exactly(*now) : Expected::nothing(),
                                    entryOf(to), &outcome)) &&
                   outcome.kind == ChangeOutcome::Done;
        };
        QVERIFY(change(*other, "B", "B|Seconda|select 2|DSN|ODBC"));
        QCOMPARE(find("forli"), "");
        QVERIFY(change(*other, "D", "D|Quarta|select 'forlì'|DSN|ODBC"));
        QCOMPARE(find("forli"), "D");
        QVERIFY(change(*me, "D", "D|Quarta|select 4|DSN|ODBC"));
        QCOMPARE(find("forli"), "");
        QVERIFY(change(*other, "A", ""));
        QCOMPARE(find("citta"), "");
    }
};

QTEST_GUILESS_MAIN(TestCatalogue)
#include "tst_catalogue.moc"
