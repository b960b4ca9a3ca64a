// The SQL field keeps its text exactly, line ends and all, through edits of what it shows,
// and shows a text of megabytes at once.
#include "platform/controls.h"

#include <QTest>
#include <QTextBlock>
#include <QTextCursor>

using namespace velario;

namespace {

const QString kLong = QString(10000, u'a') + QStringLiteral("b") + QString(10000, u'c');
// 3000 lines of "riga NNNN", ended by "\r\n".
QString manyLines() {
    QString text;
    for (int i = 0; i < 3000; ++i)
        text += QStringLiteral("riga %1\r\n").arg(i, 4, 10, QLatin1Char('0'));
    return text;
}

// An edit of the display: FROM to TO (display positions) replaced by TEXT; a negative FROM
// counts from the display's end.
struct Edit {
    int from = 0;
    int to = 0;
    QString text;
};

} // namespace

Q_DECLARE_METATYPE(Edit)

class TestMemo : public QObject {
    Q_OBJECT

private slots:
    void editsKeepTheText_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<Edit>("edit");
        QTest::addColumn<QString>("expected");
        const QString lineEnds = QStringLiteral("a\r\nb\rc\u2028d\u2029e\nf");
        QTest::newRow("line ends of every kind, no edit") << lineEnds << Edit{0, 0, {}} << lineEnds;
        QTest::newRow("typing after them") << lineEnds << Edit{-1, -1, "x"} << lineEnds + "x";
        QTest::newRow("a new line typed between two others")
            << QStringLiteral("a\r\nb") << Edit{2, 2, "\n"} << QStringLiteral("a\r\n\nb");
        // The long line is shown cut at display position 4096: the text's position 4999 is
        // the display's 5000, and deleting across the cut takes the characters only.
        QTest::newRow("enter in a long line")
            << kLong << Edit{5000, 5000, "\n"} << kLong.left(4999) + "\n" + kLong.mid(4999);
        QTest::newRow("delete across a cut")
            << kLong << Edit{4090, 4100, {}} << kLong.left(4090) + kLong.mid(4099);
        QTest::newRow("the cut alone deleted") << kLong << Edit{4096, 4097, {}} << kLong;
        QTest::newRow("typing at the end of a long line")
            << kLong << Edit{-1, -1, "z"} << kLong + "z";
        const QString lines = manyLines();
        // Each line and its end take 10 display positions.
        QTest::newRow("many lines, one changed")
            << lines << Edit{10 * 2000 + 5, 10 * 2000 + 9, "XXXX"}
            << QString(lines).replace(QStringLiteral("riga 2000"), QStringLiteral("riga XXXX"));
    }

    void editsKeepTheText() {
        QFETCH(QString, text);
        QFETCH(Edit, edit);
        QFETCH(QString, expected);
        MemoBox memo(QStringLiteral("txtMEMO"), nullptr);
        memo.setText(text);
        QCOMPARE(memo.text(), text);
        QTextCursor cursor(memo.document());
        const int end = cursor.document()->characterCount() - 1;
        cursor.setPosition(edit.from < 0 ? end + 1 + edit.from : edit.from);
        cursor.setPosition(edit.to < 0 ? end + 1 + edit.to : edit.to, QTextCursor::KeepAnchor);
        if (!edit.text.isEmpty() || cursor.hasSelection())
            cursor.insertText(edit.text);
        QCOMPARE(memo.text(), expected);
        // Nothing the user sees is longer than a few thousand characters a paragraph.
        for (QTextBlock b = memo.document()->begin(); b.isValid(); b = b.next())
            QVERIFY(b.length() <= 2 * 4096 + 1);
    }

    // Texts of 10 MB in one line or in lines of 80 come back exactly, and each goes in fast
    // enough for the window to move between entries freely (the figures are bench_catalogue's).
    void tenMegabytes_data() {
        QTest::addColumn<QString>("text");
        QTest::newRow("one line") << QString(10'000'000, u'x');
        QString lines;
        for (int i = 0; i < 10'000'000 / 80; ++i)
            lines += QString(79, QChar(u'a' + i % 26)) + u'\n';
        QTest::newRow("lines of 80") << lines;
    }

    void tenMegabytes() {
        QFETCH(QString, text);
        MemoBox memo(QStringLiteral("txtMEMO"), nullptr);
        memo.resize(600, 120);
        memo.show();
        memo.setText(text);
        QCOMPARE(memo.text(), text);
        memo.setText(QStringLiteral("SELECT 1"));
        QCOMPARE(memo.text(), QStringLiteral("SELECT 1"));
        QCOMPARE(memo.document()->blockCount(), 1);
    }
};

QTEST_MAIN(TestMemo)
#include "tst_memo.moc"
