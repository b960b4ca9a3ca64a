#include "data/results/column_fitting.h"
#include "print/rows_reply.h"

#include <QtTest>

#include <limits>
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

        // Five widths above 15 move the total by five: 92 and 97 alternate around 93-96. As a
        // pass that changes nothing, a pass that lands on the measured total ends it.
        // clang-format off
        const std::tuple<const char*, Widths, int, int, Widths> rows[] = {
            {"narrow widths never move", {5, 8, 10}, 46, 96, {5, 8, 10}},
            {"measured total in the window", {30, 30, 30}, 95, 96, {30, 30, 30}},
            {"16 narrowed to 15 stays", {16, 15, 15, 15, 15, 15, 15}, 500, 96, Widths(7, 15)},
            {"alternating, measured over many rows", {18, 18, 18, 18, 18, 7}, 291, 96, {17, 17, 17, 17, 17, 7}},
            {"alternating towards 100 in the result window", {17, 21, 21, 21, 21}, 400, 100, {16, 20, 20, 20, 20}},
            {"too wide even at 15", {40, 15, 15, 15, 15, 15, 15, 15}, 500, 96, Widths(8, 15)},
            {"first pass gives the measured total back", {20, 20, 20, 41}, 97, 96, {19, 19, 19, 40}}};
        // clang-format on
        for (const auto& [name, widths, start, limit, fitted] : rows)
            QTest::newRow(name) << widths << start << limit << fitted;
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
};

QTEST_GUILESS_MAIN(TestReportRules)
#include "tst_report_rules.moc"
