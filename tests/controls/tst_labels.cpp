// A count label that grows leftward stays clear of the caption beside it.
#include "controls/controls.h"
#include "platform/twips.h"

#include <QTest>

using namespace velario;

class TestLabels : public QObject {
    Q_OBJECT

private slots:
    void growsUpToItsNeighbour_data() {
        QTest::addColumn<QString>("caption");
        QTest::addColumn<bool>("changed");
        QTest::newRow("fits as placed") << "3.000.000" << false;
        QTest::newRow("shown of counted") << "2.671.349 di 5.000.000" << true;
    }

    void growsUpToItsNeighbour() {
        QFETCH(QString, caption);
        QFETCH(bool, changed);
        QWidget window;
        Label caption5(QStringLiteral("Label5"), QStringLiteral("N. rec. trovati"), &window);
        twips::setGeometry(&caption5, 240, 6720, 1215, 255);
        Label count(QStringLiteral("lblNUM_REC"), {}, &window);
        twips::setGeometry(&count, 1560, 6720, 975, 285);
        const int right = count.geometry().right();
        const QFont placed = count.font();
        count.setGrowsLeftward(true, &caption5);
        count.setCaption(caption);

        QVERIFY(count.x() >
                caption5.x() + caption5.fontMetrics().horizontalAdvance(caption5.text()));
        QCOMPARE(count.geometry().right(), right);
        QVERIFY(count.fontMetrics().horizontalAdvance(caption) < count.contentsRect().width());
        QCOMPARE(count.font() != placed, changed);
        // Back to a short caption, back to the face it was placed with.
        count.setCaption(QStringLiteral("12"));
        QCOMPARE(count.font(), placed);
    }
};

QTEST_MAIN(TestLabels)
#include "tst_labels.moc"
