#include "app/config.h"

#include <QTemporaryDir>
#include <QTest>

using velario::readConfiguration;

namespace {

enum Field { DirPrg = 2, DirDbf = 3 };

// RELEASE, UP_DATE, DIR_PRG, DIR_DBF, DIR_BTR, ANNO_DF with only FIELD set to VALUE.
QStringList only(Field field, const QString& value) {
    QStringList fields(6);
    fields[field] = value;
    return fields;
}

} // namespace

class TestConfig : public QObject {
    Q_OBJECT

    QTemporaryDir dir_;
    QString path_ = dir_.filePath("VELARIO.ini");

    void write(const QList<QByteArray>& parts) {
        QFile f(path_);
        QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        for (const QByteArray& part : parts)
            f.write(part);
    }

private slots:
    void reads_data() {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QStringList>("expected");
        QTest::newRow("all six keys")
            << QByteArray("RELEASE=2.1\nUP_DATE=01/12/2026\nDIR_PRG=C:\\PROG\\\n"
                          "DIR_DBF=/data/cat.db\nDIR_BTR=/btr/\nANNO_DF=2026\n")
            << QStringList{"2.1", "01/12/2026", "C:\\PROG\\", "/data/cat.db", "/btr/", "2026"};
        QTest::newRow("key is case-sensitive")
            << QByteArray("dir_prg=C:\\PROG\\\n") << only(DirPrg, {});
        QTest::newRow("trailing blanks stay in the value")
            << QByteArray("DIR_DBF=/a/b.db   \n") << only(DirDbf, "/a/b.db   ");
        QTest::newRow("8th character skipped whatever it is")
            << QByteArray("DIR_PRGX/x/\n") << only(DirPrg, "/x/");
        QTest::newRow("line of exactly the key empties the value")
            << QByteArray("DIR_PRG=/first/\nDIR_PRG\n") << only(DirPrg, {});
        QTest::newRow("last occurrence wins")
            << QByteArray("DIR_DBF=/one\nDIR_DBF=/two\n") << only(DirDbf, "/two");
        QTest::newRow("comments, short and empty lines ignored")
            << QByteArray("# DIR_PRG=/no\n\nDIR\n;x\nDIR_PRG=/yes/\n") << only(DirPrg, "/yes/");
        QTest::newRow("CR LF line ends belong to the line end")
            << QByteArray("DIR_PRG=/p/\r\nDIR_DBF=/c.db\r\n")
            << QStringList{{}, {}, "/p/", "/c.db", {}, {}};
        QTest::newRow("no final line break after CR")
            << QByteArray("DIR_DBF=/c.db\r") << only(DirDbf, "/c.db");
        QTest::newRow("CR inside a value stays")
            << QByteArray("DIR_DBF=a\rb\n") << only(DirDbf, "a\rb");
        QTest::newRow("UTF-8 value") << QByteArray("DIR_DBF=/dati/città \xe2\x82\xac.db\n")
                                     << only(DirDbf, "/dati/città €.db");
        QTest::newRow("binary around a good line")
            << QByteArray("\x00\xff\xfe\x01\nDIR_PRG=/p/\n\x01\x02\x00\x80", 18)
            << only(DirPrg, "/p/");
        QTest::newRow("empty file") << QByteArray() << QStringList(6);
        QTest::newRow("value holding ODBC kept as written")
            << QByteArray("DIR_DBF=ODBC;DSN=x\n") << only(DirDbf, "ODBC;DSN=x");
    }

    void reads() {
        QFETCH(QByteArray, content);
        QFETCH(QStringList, expected);
        write({content});
        const auto c = readConfiguration(path_);
        QVERIFY(c.has_value());
        QCOMPARE((QStringList{c->release, c->upDate, c->dirPrg, c->dirDbf, c->dirBtr, c->annoDf}),
                 expected);
    }

    void longLines_data() {
        QTest::addColumn<int>("length");
        QTest::addColumn<int>("megabyteLines");
        QTest::newRow("just under a chunk") << 64 * 1024 - 10 << 0;
        QTest::newRow("several chunks") << 3 * 64 * 1024 + 7 << 0;
        QTest::newRow("file of 100 MB") << 90 * 1024 * 1024 << 10;
    }

    // Lines much longer than the reader's buffer: an unknown one is skipped whole, a known
    // one keeps every character of its value.
    void longLines() {
        QFETCH(int, length);
        QFETCH(int, megabyteLines);
        const QByteArray value(qMin(length, 3 * 64 * 1024 + 7), 'v');
        QList<QByteArray> parts{"RELEASE=2.5\r\nCOMMENT", QByteArray(length, 'x'),
                                "DIR_PRG=/wrong/\nDIR_DBF=" + value + "\n"};
        for (int i = 0; i < megabyteLines; ++i)
            parts << "NOTE___=" + QByteArray(1024 * 1024, 'z') + "\n";
        write(parts << "DIR_PRG=/p/");
        const auto config = readConfiguration(path_);
        QVERIFY(config.has_value());
        QCOMPARE(config->release, QStringLiteral("2.5"));
        QCOMPARE(config->dirPrg, QStringLiteral("/p/"));
        QCOMPARE(config->dirDbf.size(), value.size());
        QCOMPARE(config->dirDbf, QString::fromLatin1(value));
    }

    void cannotOpen() {
        QFile::remove(path_);
        QVERIFY(!readConfiguration(path_).has_value()); // missing
        QVERIFY(QDir().mkdir(path_));
        QVERIFY(!readConfiguration(path_).has_value()); // a folder
        QDir().rmdir(path_);
    }
};

QTEST_GUILESS_MAIN(TestConfig)
#include "tst_config.moc"
