#include "data/column_fitting.h"
#include "print/rows_reply.h"

#include <QtTest>

#include <algorithm>
#include <limits>
#include <numeric>
#include <vector>

using namespace velario;

using Widths = QList<int>;
Q_DECLARE_METATYPE(Widths)

class TestReportRules : public QObject {
    Q_OBJECT

private slots:
    // The value -1 in "rows" stands for a refusal, infinity for every row of the result.
    void rowsReply_data() {
        QTest::addColumn<QString>("reply");
        QTest::addColumn<double>("rows");
        const double no = -1, every = std::numeric_limits<double>::infinity();
        // clang-format off
        const std::pair<QString, double> rows[] = {
            {"", no}, {"abc", no}, {"0", no}, {"-2", no}, {"0.5", no}, {"1.5", 1.5}, {"2.5", 2.5},
            {" 1 2 ", 12}, {"12abc", 12}, {"- 3", no}, {"+ 3", 3}, {"3.7e2", 3.7}, {"4,9", 4},
            {"1.2.3", 1.2}, {"32767", 32767}, {"32767.4", 32767.4}, {"32767.5", every},
            {"40000", every}, {"-40000", every}, {QString(QChar(0x663)), no},
            {QString(400, u'9'), every}, {"0." + QString(400, u'0') + "1", no}};
        // clang-format on
        for (const auto& [reply, count] : rows)
            QTest::newRow(qPrintable("[" + reply.left(12) + "]")) << reply << count;
    }

    void rowsReply() {
        QFETCH(QString, reply);
        QFETCH(double, rows);
        const RowsReply read = readRowsReply(reply);
        QCOMPARE(read.refused, rows < 0);
        if (rows >= 0)
            QCOMPARE(read.rows, rows);
    }

    // Passes the grid report's printed columns do not reach.
    void fitting_data() {
        QTest::addColumn<Widths>("widths");
        QTest::addColumn<int>("startTotal");
        QTest::addColumn<int>("limit");
        QTest::addColumn<Widths>("fitted");

        QTest::newRow("narrow widths never move")
            << Widths{5, 8, 10} << 46 << 96 << Widths{5, 8, 10};
        QTest::newRow("measured total in the window")
            << Widths{30, 30, 30} << 95 << 96 << Widths{30, 30, 30};
        QTest::newRow("16 narrowed to 15 stays") << Widths{16, 15, 15, 15, 15, 15, 15} << 500 << 96
                                                 << Widths{15, 15, 15, 15, 15, 15, 15};
        // Five widths above 15 move the total by five: 92 and 97 alternate around 93-96.
        QTest::newRow("alternating, measured over many rows")
            << Widths{18, 18, 18, 18, 18, 7} << 291 << 96 << Widths{17, 17, 17, 17, 17, 7};
        QTest::newRow("alternating towards 100 in the result window")
            << Widths{17, 21, 21, 21, 21} << 400 << 100 << Widths{16, 20, 20, 20, 20};
        QTest::newRow("too wide even at 15")
            << Widths{40, 15, 15, 15, 15, 15, 15, 15} << 500 << 96 << Widths(8, 15);
        // As a pass that changes nothing, a pass that lands on the measured total ends it.
        QTest::newRow("first pass gives the measured total back")
            << Widths{20, 20, 20, 41} << 97 << 96 << Widths{19, 19, 19, 40};
    }

    void fitting() {
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
    void fittingAlwaysEnds() {
        for (int count = 1; count <= 8; ++count)
            for (int start : {0, 3000})
                for (int base = 14; base <= 40; base += 3) {
                    std::vector<qint16> w;
                    for (int i = 0; i < count; ++i)
                        w.push_back(qint16(base + (i * 7) % 11));
                    velario::data::fitColumnWidths(w, qint16(start), 96);
                    QVERIFY2(std::accumulate(w.begin(), w.end(), 0) <= 96 ||
                                 std::all_of(w.begin(), w.end(), [](qint16 x) { return x <= 15; }),
                             qPrintable(QStringLiteral("%1 columns from %2, base %3")
                                            .arg(count)
                                            .arg(start)
                                            .arg(base)));
                }
    }
};

QTEST_GUILESS_MAIN(TestReportRules)
#include "tst_report_rules.moc"
