#include "data/column_fitting.h"
#include "print/report_text.h"
#include "print/rows_reply.h"

#include <QLocale>
#include <QtTest>

#include <algorithm>
#include <cmath>
#include <limits>
#include <numeric>
#include <vector>

using namespace velario;

using Widths = QList<int>;
Q_DECLARE_METATYPE(Widths)

class TestReportRules : public QObject {
    Q_OBJECT

private slots:
    void rowsReply_data();
    void rowsReply();
    void fitting_data();
    void fitting();
    void fittingAlwaysEnds();
    void stamp_data();
    void stamp();
};

// The value -1 in "rows" stands for a refusal, infinity for every row of the result.
void TestReportRules::rowsReply_data() {
    QTest::addColumn<QString>("reply");
    QTest::addColumn<double>("rows");
    const double refused = -1;
    const double every = std::numeric_limits<double>::infinity();

    QTest::newRow("empty") << "" << refused;
    QTest::newRow("letters") << "abc" << refused;
    QTest::newRow("zero") << "0" << refused;
    QTest::newRow("negative") << "-2" << refused;
    QTest::newRow("half rounds down to even 0") << "0.5" << refused;
    QTest::newRow("one and a half rounds up to 2") << "1.5" << 1.5;
    QTest::newRow("two and a half rounds to 2, kept as 2.5") << "2.5" << 2.5;
    QTest::newRow("blanks inside the digits") << " 1 2 " << 12.0;
    QTest::newRow("number then a word") << "12abc" << 12.0;
    QTest::newRow("sign then blank") << "- 3" << refused;
    QTest::newRow("sign then blank positive") << "+ 3" << 3.0;
    QTest::newRow("exponent is not read") << "3.7e2" << 3.7;
    QTest::newRow("comma is not a decimal point") << "4,9" << 4.0;
    QTest::newRow("second full stop ends it") << "1.2.3" << 1.2;
    QTest::newRow("largest 16-bit") << "32767" << 32767.0;
    QTest::newRow("rounds to the largest") << "32767.4" << 32767.4;
    QTest::newRow("rounds past the largest") << "32767.5" << every;
    QTest::newRow("above 16 bits") << "40000" << every;
    QTest::newRow("too long for a double") << QString(400, u'9') << every;
    QTest::newRow("below 16 bits, every row too") << "-40000" << every;
    QTest::newRow("tiny") << "0." + QString(400, u'0') + "1" << refused;
    QTest::newRow("Arabic-Indic digits are not digits") << QStringLiteral("\u0663") << refused;
}

void TestReportRules::rowsReply() {
    QFETCH(QString, reply);
    QFETCH(double, rows);
    const RowsReply read = readRowsReply(reply);
    if (rows < 0) {
        QVERIFY(read.refused);
        return;
    }
    QVERIFY(!read.refused);
    QCOMPARE(read.rows, rows);
}

void TestReportRules::fitting_data() {
    QTest::addColumn<Widths>("widths");
    QTest::addColumn<int>("startTotal");
    QTest::addColumn<int>("limit");
    QTest::addColumn<Widths>("fitted");

    QTest::newRow("narrowed then widened into 93-96")
        << Widths{10, 12, 30, 40} << 276 << 96 << Widths{10, 12, 31, 41};
    QTest::newRow("narrow widths never move") << Widths{5, 8, 10} << 46 << 96 << Widths{5, 8, 10};
    QTest::newRow("measured total already in the window")
        << Widths{30, 30, 30} << 95 << 96 << Widths{30, 30, 30};
    QTest::newRow("16 narrowed to 15 stays")
        << Widths{16, 15, 15, 15, 15, 15, 15} << 500 << 96 << Widths{15, 15, 15, 15, 15, 15, 15};
    // Five widths above 15 move the total by five: 92 and 97 alternate around 93-96.
    QTest::newRow("alternating, measured over many rows")
        << Widths{18, 18, 18, 18, 18, 7} << 291 << 96 << Widths{17, 17, 17, 17, 17, 7};
    QTest::newRow("alternating towards 100 in the result window")
        << Widths{17, 21, 21, 21, 21} << 400 << 100 << Widths{16, 20, 20, 20, 20};
    QTest::newRow("too wide even at 15") << Widths{40, 15, 15, 15, 15, 15, 15, 15} << 500 << 96
                                         << Widths{15, 15, 15, 15, 15, 15, 15, 15};
    // As a pass that changes nothing, a pass that lands on the measured total ends it.
    QTest::newRow("first pass gives the measured total back")
        << Widths{20, 20, 20, 41} << 97 << 96 << Widths{19, 19, 19, 40};
    QTest::newRow("11 columns at 6 points")
        << Widths{12, 12, 12, 12, 12, 12, 12, 12, 12, 12, 40} << 900 << 147
        << Widths{12, 12, 12, 12, 12, 12, 12, 12, 12, 12, 27};
}

void TestReportRules::fitting() {
    QFETCH(Widths, widths);
    QFETCH(int, startTotal);
    QFETCH(int, limit);
    QFETCH(Widths, fitted);
    std::vector<qint16> w(widths.begin(), widths.end());
    velario::data::fitColumnWidths(w, qint16(startTotal), qint16(limit));
    QCOMPARE(Widths(w.begin(), w.end()), fitted);
}

// The fitting ends, and it never leaves a set wider than the line when it passed through
// one that fitted. (A measured total that lies in the window, or that a pass gives back,
// ends it before that: those starts are left out.)
void TestReportRules::fittingAlwaysEnds() {
    for (int count = 1; count <= 8; ++count) {
        for (int start : {0, 3000}) {
            for (int base = 14; base <= 40; base += 3) {
                std::vector<qint16> w;
                for (int i = 0; i < count; ++i)
                    w.push_back(qint16(base + (i * 7) % 11));
                velario::data::fitColumnWidths(w, qint16(start), 96);
                const int sum = std::accumulate(w.begin(), w.end(), 0);
                const bool allNarrow =
                    std::all_of(w.begin(), w.end(), [](qint16 x) { return x <= 15; });
                QVERIFY2(sum <= 96 || allNarrow,
                         qPrintable(QStringLiteral("%1 columns from %2, base %3: sum %4")
                                        .arg(count)
                                        .arg(start)
                                        .arg(base)
                                        .arg(sum)));
            }
        }
    }
}

void TestReportRules::stamp_data() {
    QTest::addColumn<QString>("locale");
    QTest::addColumn<QDateTime>("when");
    QTest::addColumn<QString>("text");
    const QDateTime morning(QDate(2026, 12, 5), QTime(10, 55, 30));
    const QDateTime evening(QDate(2027, 1, 9), QTime(22, 5, 9));
    QTest::newRow("Italian") << "it_IT" << morning << "05/12/2026 10:55:30";
    QTest::newRow("12-hour locale, evening") << "en_US" << evening << "09/01/2027 22:05:09";
}

void TestReportRules::stamp() {
    QFETCH(QString, locale);
    QFETCH(QDateTime, when);
    QFETCH(QString, text);
    const QLocale before;
    QLocale::setDefault(QLocale(locale));
    const QString stamp = reportStamp(when);
    QLocale::setDefault(before);
    QCOMPARE(stamp, text);
}

QTEST_GUILESS_MAIN(TestReportRules)
#include "tst_report_rules.moc"
