#include "data/query/bound_statement.h"

#include <QLocale>
#include <QTest>

using namespace velario::data;

class TestQueryParameters : public QObject {
    Q_OBJECT
private slots:
    // USES: the names as the markers take them, in the letter case of their first use.
    void find_data() {
        QTest::addColumn<QString>("sql");
        QTest::addColumn<QStringList>("uses");
        const auto row = [](const char* tag, const char* sql, const QStringList& uses) {
            QTest::newRow(tag) << QString(sql) << uses;
        };
        row("none", "select 1", {});
        row("order of first use, one name twice",
            "select * from ordini where data >= :dal and (:cliente is null or cliente = :cliente)",
            {"dal", "cliente", "cliente"});
        row("letter case is one name", "where a = :Cliente or b = :CLIENTE",
            {"Cliente", "Cliente"});
        row("accents, digits, underscore", "x = :città_2 and y=:_z", {"città_2", "_z"});
        row("at the very end", "x=:a", {"a"});
        row("a digit or a blank after the colon", "x = :1 or y = : a or '12:30'", {});
        row("string literal, doubled quote", "select ':a', 'it''s :b', :c", {"c"});
        row("E literal with a backslash quote", "select E'x\\' :a', :b", {"b"});
        row("a backslash elsewhere escapes nothing", "select 'x\\', :b", {"b"});
        row("quoted identifiers", "select \":a\", `:b`, [:c], \"x\"\":d\" from t where e = :e",
            {"e"});
        row("comments", "select 1 -- :a\n, :b /* :c */ , :d", {"b", "d"});
        row("unterminated comment and literal", "select :a /* :b", {"a"});
        row("cast", "select :d::date, x::date, y:::z", {"d"});
        row("dollar quotes", "select $$ :a $$, $t$ :b $$ $t$, :c, $1, a$b", {"c"});
    }

    void find() {
        QFETCH(QString, sql);
        QFETCH(QStringList, uses);
        const QueryParameters found = findQueryParameters(sql);
        QStringList used;
        for (const int i : found.order)
            used << found.names.value(i);
        QCOMPARE(used, uses);
        // Each use, the first left in the text, in turn a marker.
        for (const QString& name : uses)
            sql.replace(sql.indexOf(':' + name, 0, Qt::CaseInsensitive), name.size() + 1, "?");
        QCOMPARE(found.positional, sql);
        uses.removeDuplicates();
        QCOMPARE(found.names, uses);
    }

    void value_data() {
        QTest::addColumn<QString>("answer");
        QTest::addColumn<QString>("locale");
        QTest::addColumn<int>("kind");
        QTest::addColumn<QString>("expected"); // integer, decimal, date (ISO) or nothing

        const int null = int(ParameterKind::Null), integer = int(ParameterKind::Integer),
                  decimal = int(ParameterKind::Decimal), date = int(ParameterKind::Date),
                  text = int(ParameterKind::Text);
        const auto row = [](const char* name, const char* answer, const char* locale, int kind,
                            const char* expected) {
            QTest::newRow(name) << QString(answer) << QString(locale) << kind << QString(expected);
        };
        row("empty", "", "it_IT", null, "");
        row("blanks", "   ", "it_IT", null, "");
        row("integer", " -42 ", "it_IT", integer, "-42");
        row("largest integer", "9223372036854775807", "it_IT", integer, "9223372036854775807");
        row("beyond 64 bits", "9223372036854775808", "it_IT", decimal, "9223372036854775808");
        row("decimal comma", "1234,5", "it_IT", decimal, "1234.5");
        row("decimal point", "+1234.5", "it_IT", decimal, "1234.5");
        row("comma where the point is the separator", "1,5", "C", text, "");
        row("exponent", "1,0e+20", "it_IT", decimal, "1.0e+20");
        row("two separators", "1.234,5", "it_IT", text, "");
        row("day first", "31/12/2026", "it_IT", date, "2026-12-31");
        row("short day and month", "1/2/2026", "it_IT", date, "2026-02-01");
        row("ISO", "2026-12-31", "C", date, "2026-12-31");
        row("a code with a leading zero", "007", "it_IT", text, "");
        row("no such day", "31/02/2026", "it_IT", text, "");
        row("hostile text", "x'); DROP TABLE t; --", "it_IT", text, "");
    }

    void value() {
        QFETCH(QString, answer);
        QFETCH(QString, locale);
        QFETCH(int, kind);
        QFETCH(QString, expected);
        const ParameterValue value = parameterValue(answer, QLocale(locale));
        QCOMPARE(int(value.kind), kind);
        QCOMPARE(value.answer, answer);
        QCOMPARE(value.kind == ParameterKind::Integer   ? QString::number(value.integer)
                 : value.kind == ParameterKind::Decimal ? value.decimal
                                                        : value.date.toString(Qt::ISODate),
                 expected);
    }

    // The `?` a text has of its own, which no named parameter may share a statement with, and
    // where MariaDB, reading backslashes and # comments its own way, finds them.
    void markers_data() {
        QTest::addColumn<QString>("sql");
        QTest::addColumn<int>("own");
        QTest::addColumn<QList<qsizetype>>("mariadb");

        QTest::newRow("none") << "select ':a?', \"b?\" -- ?" << 0 << QList<qsizetype>{};
        QTest::newRow("outside quotes") << "x = ? or y = '?'" << 1 << QList<qsizetype>{4};
        QTest::newRow("backslash in a literal") << "'a\\' ?'" << 1 << QList<qsizetype>{};
        QTest::newRow("hash comment") << "x # ?\n= ?" << 2 << QList<qsizetype>{8};
    }

    void markers() {
        QFETCH(QString, sql);
        QFETCH(int, own);
        QFETCH(QList<qsizetype>, mariadb);
        QCOMPARE(findQueryParameters(sql).ownMarkers, own);
        const std::vector<qsizetype> found = mariadbMarkers(sql);
        QCOMPARE(QList<qsizetype>(found.begin(), found.end()), mariadb);
        if (own > 0) {
            velario::Error error;
            const BoundStatement bound =
                bindAnswers(QStringLiteral(":z and ") + sql, {}, QLocale("it_IT"), &error);
            QCOMPARE(error.number, int(velario::ErrorNumber::SyntaxError));
            QVERIFY(!bound.hasValues());
        }
    }
};

QTEST_GUILESS_MAIN(TestQueryParameters)
#include "tst_query_parameters.moc"
