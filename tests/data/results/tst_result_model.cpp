#include "data/results/result_model.h"

#include <QSignalSpy>
#include <QTest>

using namespace velario;
using namespace velario::data;

namespace {

// Two rows, then a failure, within the first block a model reads.
class FailingSource : public ResultSource {
public:
    int columnCount() const override { return 1; }
    QString columnName(int) const override { return QStringLiteral("n"); }
    int fetch(int max, RowSink& sink) override {
        int read = 0;
        for (; read < max && rows_ < 2; ++read, ++rows_)
            sink.row(std::array{QByteArrayView("x")}, true);
        if (rows_ == 2)
            error_ = Error::make(ErrorNumber::OdbcCallFailed, QStringLiteral("Riga 3: guasto"));
        return read;
    }
    bool atEnd() const override { return error_.isSet(); }
    Error error() const override { return error_; }
    qint64 countRows(Error*) override { return 8; }

private:
    int rows_ = 0;
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
                    return std::make_unique<FailingSource>();
                }));
            else
                model.setSource(std::make_unique<FailingSource>());
            QCOMPARE(model.rowCount(), 2);
            QCOMPARE(QList<QVariantList>(failed),
                     QList<QVariantList>({{int(ErrorNumber::OdbcCallFailed), "Riga 3: guasto"}}));
        }
    }

    // An edited cell holds the new text, the last row read too.
    void edits() {
        ResultModel model;
        model.setSource(std::make_unique<FailingSource>());
        model.setEditable(true);
        QVERIFY(model.setData(model.index(1, 0), QStringLiteral("y")));
        QCOMPARE(model.text(1, 0) + model.text(0, 0), QStringLiteral("yx"));
    }
};

QTEST_GUILESS_MAIN(TestResultModel)
#include "tst_result_model.moc"
