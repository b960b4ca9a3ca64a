// The SQL field keeps its text exactly, line ends and all, through edits of what it shows.
#include "controls/controls.h"
#include "controls/folded_text.h"

#include <QTest>
#include <QTextBlock>
#include <QTextCursor>

using namespace velario;

class TestMemo : public QObject {
    Q_OBJECT

private slots:
    // TEXT shown, display positions FROM to TO (negative: from the end) replaced by INSERT.
    void editsKeepTheText_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("from");
        QTest::addColumn<int>("to");
        QTest::addColumn<QString>("insert");
        QTest::addColumn<QString>("expected");
        const QString lineEnds = QStringLiteral("a\r\nb\rc\u2028d\u2029e\nf");
        const QString kLong = QString(10000, u'a') + u'b' + QString(10000, u'c');
        QTest::newRow("typing after line ends of every kind")
            << lineEnds << -1 << -1 << "x" << lineEnds + "x";
        // The long line is shown cut at display position 4096: the text's position 4999 is
        // the display's 5000, and deleting across the cut takes the characters only.
        QTest::newRow("enter in a long line") << kLong << 5000 << 5000 << "\n"
                                              << kLong.left(4999) + "\n" + kLong.mid(4999);
        QTest::newRow("delete across a cut")
            << kLong << 4090 << 4100 << "" << kLong.left(4090) + kLong.mid(4099);
        QTest::newRow("the cut alone deleted") << kLong << 4096 << 4097 << "" << kLong;
    }

    void editsKeepTheText() {
        QFETCH(QString, text);
        QFETCH(int, from);
        QFETCH(int, to);
        QFETCH(QString, insert);
        QFETCH(QString, expected);
        MemoBox memo(QStringLiteral("txtMEMO"), nullptr);
        memo.setText(text);
        QTextCursor cursor(memo.document());
        const int end = cursor.document()->characterCount();
        cursor.setPosition(from < 0 ? end + from : from);
        cursor.setPosition(to < 0 ? end + to : to, QTextCursor::KeepAnchor);
        cursor.insertText(insert);
        QCOMPARE(memo.text(), expected);
        // Nothing the user sees is longer than a few thousand characters a paragraph.
        for (QTextBlock b = memo.document()->begin(); b.isValid(); b = b.next())
            QVERIFY(b.length() <= 2 * 4096 + 1);
    }

    // The same characters set again over the display, as a change of formats reports them,
    // leave the text as it was: the display's line ends stand for what the text holds there.
    void sameCharactersAgain() {
        const QString text = QStringLiteral("a\r\nb\rc\u2028d\ne\r\n");
        FoldedText folded;
        const QString display = folded.reset(text).replace(u'\n', QChar(0x2029));
        for (const auto& [from, to] :
             {std::pair(0, 3), std::pair(2, 9), std::pair<int, int>(0, display.size())}) {
            folded.apply(from, to - from, QStringView(display).mid(from, to - from));
            QCOMPARE(folded.text(), text);
        }
    }
};

QTEST_MAIN(TestMemo)
#include "tst_memo.moc"
