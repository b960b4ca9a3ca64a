#include "app/config.h"
#include "support/harness.h"

#include <QTemporaryDir>
#include <QTest>

using velario::readConfiguration;

class TestConfig : public QObject {
    Q_OBJECT

    QTemporaryDir dir_;
    QString path_ = dir_.filePath("VELARIO.ini");

private slots:
    void reads_data() {
        QTest::addColumn<QByteArray>("content");
        // RELEASE, UP_DATE, DIR_PRG, DIR_DBF, DIR_BTR, ANNO_DF as read
        QTest::addColumn<QStringList>("expected");
        // Values as written: blanks, CR inside, UTF-8, ODBC; CR LF and a last CR end lines.
        QTest::newRow("all six keys")
            << QByteArray("RELEASE=2.1\r\nUP_DATE=01/12/2026\nDIR_PRG=ODBC;DSN=x\n"
                          "DIR_DBF=/dati/città \xe2\x82\xac.db   \nDIR_BTR=a\rb\nANNO_DF=2026\r")
            << QStringList{"2.1",  "01/12/2026", "ODBC;DSN=x", "/dati/città €.db   ",
                           "a\rb", "2026"};
        // Keys are case-sensitive, the 8th character is skipped whatever it is, the last
        // occurrence wins, a line of just the key empties the value; the rest is ignored.
        static const char skipped[] =
            "# DIR_PRG=/no\n\nDIR\n;x\ndir_prg=C:\\\nDIR_PRGX/x/\n\x00\xff\xfe\x01\n"
            "DIR_DBF=/one\nDIR_DBF=/two\nRELEASE=1\nRELEASE\n\x01\x02\x00\x80";
        QTest::newRow("lines skipped or overridden") << QByteArray(skipped, sizeof(skipped) - 1)
                                                     << QStringList{"", "", "/x/", "/two", "", ""};
        // Lines much longer than the reader's buffer: an unknown one is skipped whole, a
        // known one keeps every character of its value.
        const QByteArray value(3 * 64 * 1024 + 7, 'v');
        QTest::newRow("long lines")
            << "RELEASE=2.5\r\nCOMMENT" + QByteArray(3 * 64 * 1024 + 7, 'x') +
                   "DIR_PRG=/wrong/\nDIR_DBF=" + value + "\nDIR_PRG=/p/"
            << QStringList{"2.5", "", "/p/", QString::fromLatin1(value), "", ""};
    }

    void reads() {
        QFETCH(QByteArray, content);
        QFETCH(QStringList, expected);
        QVERIFY(velario::test::writeBytes(path_, content));
        const auto c = readConfiguration(path_);
        QVERIFY(c);
        QCOMPARE((QStringList{c->release, c->upDate, c->dirPrg, c->dirDbf, c->dirBtr, c->annoDf}),
                 expected);
    }
};

QTEST_GUILESS_MAIN(TestConfig)
#include "tst_config.moc"
