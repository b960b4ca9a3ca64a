#include "data/results/result_model.h"

#include <QSignalSpy>
#include <QTest>

using namespace velario;
using namespace velario::data;

namespace {

// ROWS rows, then a failure when FAILS, within the blocks a model reads.
class ScriptedSource : public ResultSource {
public:
    ScriptedSource(int rows, bool fails) : total_(rows), fails_(fails) {}
    int columnCount() const override { return 1; }
    QString columnName(int) const override { return QStringLiteral("n"); }
    int fetch(int max, RowSink& sink) override {
        int read = 0;
        for (; read < max && rows_ < total_; ++read, ++rows_)
            sink.row(std::array{QByteArrayView("x")}, true);
        if (rows_ == total_ && fails_)
            error_ = Error::make(ErrorNumber::OdbcCallFailed, QStringLiteral("Riga 3: guasto"));
        return read;
    }
    bool atEnd() const override { return rows_ == total_ || error_.isSet(); }
    Error error() const override { return error_; }
    qint64 countRows(Error*) override { return fails_ ? 8 : total_; }

private:
    int rows_ = 0;
    const int total_;
    const bool fails_;
    Error error_;
};

} // namespace

class TestResultModel : public QObject {
    Q_OBJECT

private slots:
    // Rows the count includes are shown, or a failure says why not: one in the first block,
    // read as the result opens, is said as one read later would be.
    void firstBlockFailureIsSaid() {
        for (const bool opened : {true, false}) {
            ResultModel model;
            QSignalSpy failed(&model, &ResultModel::readFailed);
            if (opened)
                QVERIFY(!model.openSource(LongOperation::Run, [](Interrupter&, Error*) {
                    return std::make_unique<ScriptedSource>(2, true);
                }));
            else
                model.setSource(std::make_unique<ScriptedSource>(2, true));
            QCOMPARE(model.rowCount(), 2);
            QCOMPARE(failed.size(), 1);
            QCOMPARE(failed[0][1].toString(), QStringLiteral("Riga 3: guasto"));
        }
    }

    // Rows read block by block are announced as they come, no more and no fewer.
    void readInBlocks() {
        ResultModel model;
        model.setSource(std::make_unique<ScriptedSource>(1000, false));
        int announced = model.rowCount();
        connect(&model, &QAbstractItemModel::rowsInserted,
                [&](const QModelIndex&, int first, int last) { announced += last - first + 1; });
        while (model.canFetchMore({}))
            model.fetchMore({});
        QCOMPARE(model.rowCount(), 1000);
        QCOMPARE(announced, 1000);
    }

    // An edited cell holds the new text, the last row read too.
    void edits() {
        ResultModel model;
        model.setSource(std::make_unique<ScriptedSource>(2, true));
        model.setEditable(true);
        QVERIFY(model.setData(model.index(1, 0), QStringLiteral("y")));
        QCOMPARE(model.text(1, 0) + model.text(0, 0), QStringLiteral("yx"));
    }
};

QTEST_GUILESS_MAIN(TestResultModel)
#include "tst_result_model.moc"
