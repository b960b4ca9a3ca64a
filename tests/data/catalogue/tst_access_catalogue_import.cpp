// velario-newcat --from names the codes longer than the code field, each once.
#include "support/harness.h"

#include <QProcess>
#include <QTest>

namespace {

// ASampleDatabase.accdb made an Access catalogue whose codes are its "Asset Category", 16 and
// 17 characters long: the table "Asset Items" (named on page 0x11, defined on page 0x2a) and
// five of its text columns take the catalogue's names, as Jet 4 compressed text (FF FE, a
// byte a character) padded with zero bytes, which stand for no character.
QByteArray longCodeCatalogue(QByteArray bytes) {
    const auto rename = [&](int page, const QString& from, const QByteArray& to) {
        const QByteArray old(reinterpret_cast<const char*>(from.utf16()), from.size() * 2);
        const qsizetype at = bytes.indexOf(old, page * 4096);
        if (at < page * 4096 || at >= (page + 1) * 4096)
            return false;
        bytes.replace(at, old.size(), ("\xff\xfe" + to).leftJustified(old.size(), '\0'));
        return true;
    };
    const bool renamed =
        rename(0x11, "Asset Items", "SELEZIONI_SQL") && rename(0x2a, "Asset Category", "CODICE") &&
        rename(0x2a, "Description", "DESCRIZIONE") && rename(0x2a, "Model", "SQL") &&
        rename(0x2a, "Owner", "Database") && rename(0x2a, "Comments", "Tipo_Database");
    return renamed ? bytes : QByteArray();
}

} // namespace

class TestAccessCatalogueImport : public QObject {
    Q_OBJECT

private slots:
    void longCodesAreNamed() {
        const QByteArray source =
            longCodeCatalogue(velario::test::fileBytes(qEnvironmentVariable("VELARIO_SOURCE_DIR") +
                                                       "/tests/data/access/ASampleDatabase.accdb"));
        QVERIFY(!source.isEmpty());
        velario::test::Sandbox box;
        box.writeFile("VECCHIO.accdb", source);
        QProcess newcat;
        newcat.start(qEnvironmentVariable("VELARIO_NEWCAT"),
                     {"--from", box.file("VECCHIO.accdb"), box.file("NUOVO.db")});
        QVERIFY(newcat.waitForFinished(60000));
        QCOMPARE(newcat.readAllStandardError(), QByteArray());
        QCOMPARE(newcat.exitCode(), 0);
        QCOMPARE(QString::fromUtf8(newcat.readAllStandardOutput()),
                 "65 selezioni copiate in '" + box.file("NUOVO.db") +
                     "'.\nCodici più lunghi dei 15 caratteri del campo Codice (la finestra li "
                     "mostra interi; non si possono digitare):\n  Computer Hardware\n"
                     "  Office Furniture\n  Computer Software\n  General Equipment\n");
        QCOMPARE(velario::test::sqliteRows(box.file("NUOVO.db"),
                                           "SELECT count(DISTINCT CODICE) FROM SELEZIONI_SQL"),
                 QStringList{"4"});
    }
};

QTEST_GUILESS_MAIN(TestAccessCatalogueImport)
#include "tst_access_catalogue_import.moc"
