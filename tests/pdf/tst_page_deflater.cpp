#include "pdf/page_deflater.h"

#include <libdeflate.h>

#include <QRandomGenerator>
#include <QtTest>

#include <memory>

using namespace velario;

namespace {

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

// Lines of random hexadecimal, as codes print.
QByteArray hexLines(quint32 seed) {
    QByteArray hex;
    QRandomGenerator random(seed);
    while (hex.size() < 60000) {
        hex += "(";
        for (int cell = 0; cell < 8; ++cell)
            hex += ' ' + QByteArray::number(random.generate64(), 16).rightJustified(16, '0');
        hex += ") '\n";
    }
    return hex;
}

} // namespace

class TestPageDeflater : public QObject {
    Q_OBJECT

private slots:
    // Whatever the bytes, the Huffman-only stream inflates to them; a page takes it when it
    // is at most a tenth larger than string matching makes it, the probe page and the pages
    // after it alike.
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
        QTest::newRow("hexadecimal lines") << hexLines(17) << true;
        // The bytes are counted four at a time: one that stands only second in each four.
        QTest::newRow("a byte only second of four") << QByteArray("xAxx").repeated(4096) << false;
        QByteArray lines;
        for (int i = 0; i < 3000; ++i)
            lines += "(riga " + QByteArray::number(i) + "     ) '\n";
        QTest::newRow("lines that repeat") << lines << false;
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
    }

    // A page takes the code of the page before when it can: a byte that code lacks, on a
    // page after it, must not be lost.
    void pagesInTurn() {
        const QByteArray first = hexLines(5);
        QByteArray lacking = hexLines(6);
        lacking[1000] = 'z';
        PageDeflater deflater;
        for (const QByteArray& page : {first, lacking, first, lacking})
            QCOMPARE(inflated(deflater.deflatePage(page), page.size()), page);
    }
};

QTEST_MAIN(TestPageDeflater)
#include "tst_page_deflater.moc"
