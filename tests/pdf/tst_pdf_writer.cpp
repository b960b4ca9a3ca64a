#include "pdf/pdf_writer.h"
#include "support/pdf_lines.h"

#include <QRawFont>
#include <QTemporaryDir>
#include <QtTest>

using namespace velario;

namespace {

const QSizeF kA4(595.276, 841.89);

// A character of FACE's own whose glyph number ends in the byte LOW, as a page shows it in
// two bytes; none when the face has no such character in the ranges drawn glyph for glyph.
QString characterWithGlyphEnding(const QFont& face, quint8 low) {
    const QRawFont raw = QRawFont::fromFont(face);
    for (char16_t c = 0x00C0; c < 0x2000; ++c) {
        if (c >= 0x0300 && c < 0x0370)
            continue;
        const QChar ch(c);
        quint32 index = 0;
        int count = 1;
        if (raw.glyphIndexesForChars(&ch, 1, &index, &count) && count == 1 && index > 0xFF &&
            (index & 0xFF) == low)
            return QString(ch);
    }
    return {};
}

} // namespace

class TestPdfWriter : public QObject {
    Q_OBJECT

private slots:
    // A file that cannot be made is said so at once, not only when the document ends.
    void fileThatCannotBeMade() {
        QTemporaryDir dir;
        PdfWriter writer;
        QVERIFY(!writer.begin(dir.filePath("missing/x.pdf"), kA4, QRectF(QPointF(), kA4), "t"));
        QVERIFY(writer.failed());
        QVERIFY(!writer.finish());
    }

    // The bytes a PDF string cannot hold as they are: parentheses (an unbalanced one would end
    // the string, or leave it open), the backslash and the carriage return (read back as a
    // line feed), in ASCII text before and after the face takes ASCII the short way, and as
    // the second byte of a glyph's two-byte code.
    void escapedBytes_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("ascii");
        const QFont mono(QStringLiteral("Courier New"));
        QString codes;
        for (const quint8 low : {quint8(')'), quint8('('), quint8('\\'), quint8('\r')}) {
            const QString c = characterWithGlyphEnding(mono, low);
            QVERIFY2(!c.isEmpty(), qPrintable(QString::number(low, 16)));
            codes += c + u' ';
        }
        QTest::newRow("unbalanced parentheses, a backslash") << QString("a) b ( c \\ d") << false;
        QTest::newRow("the same, ASCII the short way") << QString("a) b ( c \\ d") << true;
        QTest::newRow("glyph codes ending in those bytes") << codes.trimmed() << false;
    }

    void escapedBytes() {
        QFETCH(QString, text);
        QFETCH(bool, ascii);
        QTemporaryDir dir;
        const QString path = dir.filePath("t.pdf");
        PdfWriter writer;
        QVERIFY(writer.begin(path, kA4, QRectF(QPointF(), kA4), "t"));
        PdfFont* font = writer.font(QFont(QStringLiteral("Courier New")));
        // The face takes ASCII the short way once it has drawn a few kilobytes of it.
        const QByteArray filler(100, 'x');
        for (int line = 0; ascii && line < 60; ++line)
            writer.drawAscii(font, 9, 36, 700, filler);
        if (ascii)
            writer.newPage();
        const QByteArray latin1 = text.toLatin1();
        if (ascii)
            writer.drawAscii(font, 9, 36, 100, latin1);
        else
            writer.drawText(font, 9, 36, 100, text);
        writer.drawText(font, 9, 36, 120, u"fine");
        QVERIFY(writer.finish());
        const QString read = test::tool("pdftotext", {path, "-"});
        QVERIFY2(read.contains(text + "\nfine") || read.contains(text + "\n\nfine"),
                 qPrintable(read));
    }
};

QTEST_MAIN(TestPdfWriter)
#include "tst_pdf_writer.moc"
