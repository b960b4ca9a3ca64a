#include "pdf/page_deflater.h"
#include "pdf/pdf_writer.h"
#include "support/pdf_lines.h"

#include <libdeflate.h>

#include <QRawFont>
#include <QtTest>

#include <memory>

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

// The SIZE bytes a zlib stream inflates to; "<invalid>" when it is not a stream of as many.
QByteArray inflated(const QByteArray& stream, qsizetype size) {
    const std::unique_ptr<libdeflate_decompressor, void (*)(libdeflate_decompressor*)> inflater(
        libdeflate_alloc_decompressor(), libdeflate_free_decompressor);
    QByteArray out(size, Qt::Uninitialized);
    const auto result =
        libdeflate_zlib_decompress(inflater.get(), stream.constData(), size_t(stream.size()),
                                   out.data(), size_t(size), nullptr);
    return result == LIBDEFLATE_SUCCESS ? out : QByteArray("<invalid>");
}

} // namespace

class TestPdfWriter : public QObject {
    Q_OBJECT

private slots:
    // A file that cannot be made is said so at once, not only when the document ends.
    void fileThatCannotBeMade() {
        QTemporaryDir dir;
        PdfWriter writer;
        QVERIFY(!writer.begin(dir.filePath("missing/x.pdf"), kA4, QRectF(QPointF(), kA4), "t") &&
                writer.failed() && !writer.finish());
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
        for (const quint8 low : QByteArrayView(")(\\\r"))
            codes += characterWithGlyphEnding(mono, low) + u' ';
        QVERIFY2(codes.size() == 8, qPrintable(codes));
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
        for (int line = 0; ascii && line < 60; ++line)
            writer.drawAscii(font, 9, 36, 700, QByteArray(100, 'x'));
        if (ascii)
            writer.newPage();
        ascii ? writer.drawAscii(font, 9, 36, 100, text.toLatin1())
              : writer.drawText(font, 9, 36, 100, text);
        writer.drawText(font, 9, 36, 120, u"fine");
        QVERIFY(writer.finish());
        const QString read = test::tool("pdftotext", {path, "-"});
        QVERIFY2(read.contains(text + "\nfine") || read.contains(text + "\n\nfine"),
                 qPrintable(read));
        // The face's name as its own name table gives it, whichever platform's record is met.
        QVERIFY(test::tool("pdffonts", {path})
                    .contains(QRegularExpression("[A-Z]{6}\\+LiberationMono ")));
    }

    // Whatever the bytes, the Huffman-only stream inflates to them; a page takes it when it
    // is at most a tenth larger than string matching makes it, the probe page and the pages
    // after it alike. A page takes the code of the page before when it can: a byte that code
    // lacks, on the page after it, must not be lost.
    void roundTrip_data() {
        QTest::addColumn<QByteArray>("data");
        QTest::addColumn<bool>("huffmanChosen");
        QTest::newRow("empty") << QByteArray() << false;
        QTest::newRow("one byte repeated") << QByteArray(100000, 'a') << false;
        QByteArray every;
        QRandomGenerator bytes(3);
        for (int i = 0; i < 4096; ++i)
            every += char(bytes.bounded(256));
        QTest::newRow("every byte value") << every << true;
        // Counts growing as the Fibonacci numbers make a Huffman code deeper than 15 bits.
        QByteArray skewed;
        for (qsizetype s = 0, a = 1, b = 1; s < 26; ++s, b = std::exchange(a, a + b))
            skewed += QByteArray(a, char('A' + s));
        QTest::newRow("code lengths past 15 bits") << skewed << false;
        // Lines of random hexadecimal, as codes print.
        QByteArray hex;
        while (hex.size() < 60000) {
            hex += "(";
            for (int cell = 0; cell < 8; ++cell)
                hex += ' ' + QByteArray::number(bytes.generate64(), 16).rightJustified(16, '0');
            hex += ") '\n";
        }
        QTest::newRow("hexadecimal lines") << hex << true;
        // The bytes are counted four at a time: one that stands only second in each four.
        QTest::newRow("a byte only second of four") << QByteArray("xAxx").repeated(4096) << false;
    }

    void roundTrip() {
        QFETCH(QByteArray, data);
        QFETCH(bool, huffmanChosen);
        const QByteArray huffman = huffmanOnlyZlib(data);
        QCOMPARE(inflated(huffman, data.size()), data);
        PageDeflater deflater;
        for (int page = 0; page < 3; ++page) {
            const QByteArray chosen = deflater.deflatePage(data);
            QCOMPARE(inflated(chosen, data.size()), data);
            const QByteArray matched = deflater.deflateOther(data);
            QCOMPARE(chosen == huffman, huffmanChosen);
            QVERIFY(chosen ==
                    (huffman.size() <= PageDeflater::kSlack * matched.size() ? huffman : matched));
        }
        const QByteArray lacking = data + 'z';
        QCOMPARE(inflated(deflater.deflatePage(lacking), lacking.size()), lacking);
    }
};

QTEST_MAIN(TestPdfWriter)
#include "tst_pdf_writer.moc"
