#include "data/query/bound_statement.h"

#include <QLocale>
#include <QTest>

using namespace velario::data;

class TestQueryParameters : public QObject {
    Q_OBJECT
private slots:
    void find_data() {
        QTest::addColumn<QString>("sql");
        QTest::addColumn<QStringList>("names");
        QTest::addColumn<QString>("positional");
        QTest::addColumn<QList<int>>("order");

        QTest::newRow("none") << "select 1" << QStringList{} << "select 1" << QList<int>{};
        QTest::newRow("order of first use, one name twice")
            << "select * from ordini where data >= :dal and (:cliente is null or cliente = "
               ":cliente)"
            << QStringList{"dal", "cliente"}
            << "select * from ordini where data >= ? and (? is null or cliente = ?)"
            << QList<int>{0, 1, 1};
        QTest::newRow("letter case is one name")
            << "where a = :Cliente or b = :CLIENTE" << QStringList{"Cliente"}
            << "where a = ? or b = ?" << QList<int>{0, 0};
        QTest::newRow("accents, digits, underscore")
            << "x = :città_2 and y=:_z" << QStringList{"città_2", "_z"} << "x = ? and y=?"
            << QList<int>{0, 1};
        QTest::newRow("at the very end") << "x=:a" << QStringList{"a"} << "x=?" << QList<int>{0};
        QTest::newRow("a digit or a blank after the colon")
            << "x = :1 or y = : a or '12:30'" << QStringList{} << "x = :1 or y = : a or '12:30'"
            << QList<int>{};
        QTest::newRow("string literal, doubled quote")
            << "select ':a', 'it''s :b', :c" << QStringList{"c"} << "select ':a', 'it''s :b', ?"
            << QList<int>{0};
        QTest::newRow("E literal with a backslash quote")
            << "select E'x\\' :a', :b" << QStringList{"b"} << "select E'x\\' :a', ?"
            << QList<int>{0};
        QTest::newRow("a backslash elsewhere escapes nothing")
            << "select 'x\\', :b" << QStringList{"b"} << "select 'x\\', ?" << QList<int>{0};
        QTest::newRow("quoted identifiers")
            << "select \":a\", `:b`, [:c], \"x\"\":d\" from t where e = :e" << QStringList{"e"}
            << "select \":a\", `:b`, [:c], \"x\"\":d\" from t where e = ?" << QList<int>{0};
        QTest::newRow("comments") << "select 1 -- :a\n, :b /* :c */ , :d" << QStringList{"b", "d"}
                                  << "select 1 -- :a\n, ? /* :c */ , ?" << QList<int>{0, 1};
        QTest::newRow("unterminated comment and literal")
            << "select :a /* :b" << QStringList{"a"} << "select ? /* :b" << QList<int>{0};
        QTest::newRow("cast") << "select x::date, :d::date, y:::z" << QStringList{"d"}
                              << "select x::date, ?::date, y:::z" << QList<int>{0};
        QTest::newRow("dollar quotes")
            << "select $$ :a $$, $t$ :b $$ $t$, :c, $1, a$b" << QStringList{"c"}
            << "select $$ :a $$, $t$ :b $$ $t$, ?, $1, a$b" << QList<int>{0};
    }

    void find() {
        QFETCH(QString, sql);
        QFETCH(QStringList, names);
        QFETCH(QString, positional);
        QFETCH(QList<int>, order);
        const QueryParameters found = findQueryParameters(sql);
        QCOMPARE(found.names, names);
        QCOMPARE(found.positional, positional);
        QCOMPARE(QList<int>(found.order.begin(), found.order.end()), order);
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
