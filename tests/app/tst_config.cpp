#include "app/config.h"

#include <QTemporaryDir>
#include <QTest>

using velario::Configuration;
using velario::readConfiguration;

namespace {

QStringList fields(const Configuration& c) {
    return {c.release, c.upDate, c.dirPrg, c.dirDbf, c.dirBtr, c.annoDf};
}

// RELEASE, UP_DATE, DIR_PRG, DIR_DBF, DIR_BTR, ANNO_DF
QStringList expect(const QString& release, const QString& upDate, const QString& dirPrg,
                   const QString& dirDbf, const QString& dirBtr, const QString& annoDf) {
    return {release, upDate, dirPrg, dirDbf, dirBtr, annoDf};
}

QStringList onlyPrg(const QString& v) {
    return expect({}, {}, v, {}, {}, {});
}
QStringList onlyDbf(const QString& v) {
    return expect({}, {}, {}, v, {}, {});
}

} // namespace

class TestConfig : public QObject {
    Q_OBJECT

private slots:
    void reads_data() {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QStringList>("expected");

        QTest::newRow("all six keys")
            << QByteArray("RELEASE=2.1\nUP_DATE=01/12/2026\nDIR_PRG=C:\\PROG\\\n"
                          "DIR_DBF=/data/cat.db\nDIR_BTR=/btr/\nANNO_DF=2026\n")
            << expect("2.1", "01/12/2026", "C:\\PROG\\", "/data/cat.db", "/btr/", "2026");
        QTest::newRow("key is case-sensitive") << QByteArray("dir_prg=C:\\PROG\\\n") << onlyPrg({});
        QTest::newRow("trailing blanks stay in the value")
            << QByteArray("DIR_DBF=/a/b.db   \n") << onlyDbf("/a/b.db   ");
        QTest::newRow("8th character skipped whatever it is")
            << QByteArray("DIR_PRGX/x/\n") << onlyPrg("/x/");
        QTest::newRow("line of exactly the key empties the value")
            << QByteArray("DIR_PRG=/first/\nDIR_PRG\n") << onlyPrg({});
        QTest::newRow("last occurrence wins")
            << QByteArray("DIR_DBF=/one\nDIR_DBF=/two\n") << onlyDbf("/two");
        QTest::newRow("comments, short and empty lines ignored")
            << QByteArray("# DIR_PRG=/no\n\nDIR\n;x\nDIR_PRG=/yes/\n") << onlyPrg("/yes/");
        QTest::newRow("CR LF line ends belong to the line end")
            << QByteArray("DIR_PRG=/p/\r\nDIR_DBF=/c.db\r\n")
            << expect({}, {}, "/p/", "/c.db", {}, {});
        QTest::newRow("no final line break after CR")
            << QByteArray("DIR_DBF=/c.db\r") << onlyDbf("/c.db");
        QTest::newRow("CR inside a value stays") << QByteArray("DIR_DBF=a\rb\n") << onlyDbf("a\rb");
        QTest::newRow("UTF-8 value")
            << QByteArray("DIR_DBF=/dati/città \xe2\x82\xac.db\n") << onlyDbf("/dati/città €.db");
        QTest::newRow("binary around a good line")
            << QByteArray("\x00\xff\xfe\x01\nDIR_PRG=/p/\n\x01\x02\x00\x80", 18) << onlyPrg("/p/");
        QTest::newRow("empty file") << QByteArray() << expect({}, {}, {}, {}, {}, {});
        QTest::newRow("value holding ODBC kept as written")
            << QByteArray("DIR_DBF=ODBC;DSN=x\n") << onlyDbf("ODBC;DSN=x");
    }

    void reads() {
        QFETCH(QByteArray, content);
        QFETCH(QStringList, expected);
        QTemporaryDir dir;
        QFile f(dir.filePath("VELARIO.ini"));
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(content);
        f.close();
        const auto config = readConfiguration(f.fileName());
        QVERIFY(config.has_value());
        QCOMPARE(fields(*config), expected);
    }

    void longLines_data() {
        QTest::addColumn<int>("length");
        QTest::newRow("just under a chunk") << 64 * 1024 - 10;
        QTest::newRow("several chunks") << 3 * 64 * 1024 + 7;
    }

    // Lines much longer than the reader's buffer: an unknown one is skipped whole, a known
    // one keeps every character of its value.
    void longLines() {
        QFETCH(int, length);
        QTemporaryDir dir;
        const QByteArray value(length, 'v');
        QFile f(dir.filePath("VELARIO.ini"));
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("COMMENT" + QByteArray(length, 'x') + "DIR_PRG=/wrong/\n");
        f.write("DIR_DBF=" + value + "\n");
        f.write("DIR_PRG=/p/");
        f.close();
        const auto config = readConfiguration(f.fileName());
        QVERIFY(config.has_value());
        QCOMPARE(config->dirPrg, QStringLiteral("/p/"));
        QCOMPARE(config->dirDbf.size(), qsizetype(length));
        QCOMPARE(config->dirDbf, QString::fromLatin1(value));
    }

    void cannotOpen() {
        QTemporaryDir dir;
        const QString path = dir.filePath("VELARIO.ini");
        QVERIFY(!readConfiguration(path).has_value()); // missing
        QVERIFY(QDir().mkdir(path));
        QVERIFY(!readConfiguration(path).has_value()); // a folder
    }
};

QTEST_GUILESS_MAIN(TestConfig)
#include "tst_config.moc"
