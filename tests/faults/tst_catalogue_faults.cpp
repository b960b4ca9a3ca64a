// The catalogue file taken away, made read-only, spoilt or locked while the program has it
// open: a save or a delete then tells the user once, writes nothing, and works again as soon
// as the file is back as it was.
#include "controls/datagrid.h"
#include "platform/form.h"
#include "support/harness.h"
#include "support/result_window_under_test.h"

#include <QFile>
#include <QRegularExpression>
#include <QTest>

using namespace velario;
using velario::test::catalogueRows;
using velario::test::InProcess;

namespace {

const QList<QStringList> kEntries{
    {"ALFA", "Prima", "SELECT 1", "/dati/A.MDB", "MDB"},
    {"BETA", "Seconda", "SELECT 2", "VENDITE", "ODBC"},
};
const QString kNew = "NUOVA|Nuova voce|SELECT 3|/d/N.MDB|MDB";

// Writes CONTENT as a new file that takes PATH's place in one step.
bool replaceWith(const QString& path, const QByteArray& content) {
    const QString next = path + QStringLiteral(".new");
    return velario::test::writeBytes(next, content) &&
           ::rename(QFile::encodeName(next).constData(), QFile::encodeName(path).constData()) == 0;
}

// Puts the fault NAME on the catalogue file at PATH (ORIGINAL: its content), or takes it off.
bool fault(const QString& name, bool put, const QString& path, const QByteArray& original) {
    if (name == "read-only")
        return QFile::setPermissions(path, QFile::ReadOwner | QFile::ReadGroup | QFile::ReadOther |
                                               (put ? QFile::Permissions() : QFile::WriteOwner));
    if (name == "locked by another writer") { // a second connection holding the lock
        QSqlDatabase db = put ? QSqlDatabase::addDatabase("QSQLITE", "locker")
                              : QSqlDatabase::database("locker", false);
        db.setDatabaseName(path);
        return put ? db.open() && QSqlQuery(db).exec("BEGIN IMMEDIATE")
                   : QSqlQuery(db).exec("COMMIT");
    }
    if (!put)
        return replaceWith(path, original);
    return name == "deleted" ? QFile::remove(path)
                             : replaceWith(path, QByteArray(original.size(), '\xA5'));
}

// Types the entry NUOVA into a new record and presses "Aggiorna".
void saveNewEntry(CatalogueWindow* window) {
    test::control<CommandButton>(window, "cmdNUOVO")->click();
    const QStringList v = kNew.split('|');
    test::putOnScreen(window, {v[2], v[3], v[4], v[0], v[1]});
    test::control<CommandButton>(window, "cmdAGGIORNA")->click();
}

} // namespace

class TestCatalogueFaults : public QObject {
    Q_OBJECT

private slots:
    void cleanup() {
        Forms::instance().clear();
        test::sharedState().reset();
    }

    void faultDuringWrite_data() {
        QTest::addColumn<QString>("fault");
        QTest::addColumn<QString>("action");
        QTest::addColumn<int>("number");
        for (const QString& fault :
             QStringList{"read-only|3027", "deleted|53", "replaced by garbage|3343",
                         "locked by another writer|3260"})
            for (const char* action : {"save", "delete"})
                QTest::addRow("%s, %s", qPrintable(fault), action)
                    << fault.section('|', 0, 0) << action << fault.section('|', 1).toInt();
        // A click on a row whose entry cannot be read leaves no other entry's fields.
        QTest::newRow("replaced by garbage, look-up") << "replaced by garbage"
                                                      << "look-up" << 3343;
    }

    void faultDuringWrite() {
        QFETCH(QString, fault);
        QFETCH(QString, action);
        QFETCH(int, number);
        test::Sandbox box;
        const QString path = box.makeCatalogue(QStringLiteral("VELARIO2.db"), kEntries);
        const QStringList before = catalogueRows(path);
        const QByteArray original = velario::test::fileBytes(path);
        InProcess capture;
        CatalogueWindow* window = test::openCatalogue(path);
        QCOMPARE(window->entryCode(), QStringLiteral("ALFA"));
        // The messages of a save, a delete (less its confirmation) or a click on the other row.
        const auto act = [&] {
            const qsizetype mark = capture.events().size();
            if (action == "save") {
                saveNewEntry(window);
            } else if (action == "delete") {
                capture.dialogs().queueAnswer(MsgBox::Yes);
                test::control<CommandButton>(window, "cmdCANCELLA")->click();
            } else {
                auto* list = test::control<DataGrid>(window, "DBGrid1");
                list->automationRow(1 - list->currentResultRow());
            }
            waitIdle();
            return capture.summary()
                .mid(mark)
                .filter(QRegularExpression("^msgbox:"))
                .mid(action == "delete" ? 1 : 0);
        };

        QVERIFY(::fault(fault, true, path, original));
        const QStringList shown = act();
        QCOMPARE(shown.size(), 1);
        QCOMPARE(shown[0], QString("msgbox:Errore  %1 - %2\r\rselect * from SELEZIONI_SQL where "
                                   "CODICE = '%3' |%4|0")
                               .arg(QString::number(number), standardErrorText(number),
                                    action == "save"     ? "NUOVA"
                                    : action == "delete" ? "ALFA"
                                                         : "BETA",
                                    kAppTitle));
        QCOMPARE(capture.summary().filter("pointer").last(), QStringLiteral("pointer:0"));
        if (action == "look-up")
            QCOMPARE(window->entryCode() + window->entrySql() + window->entryDatabase(), "");
        // Nothing reached the file, nor a new one in its place.
        QVERIFY(::fault(fault, false, path, original));
        QCOMPARE(catalogueRows(path), before);

        // The same request again, now that the file is back, goes through.
        QCOMPARE(act(), QStringList());
        QCOMPARE(catalogueRows(path), action == "save"     ? before + QStringList{kNew}
                                      : action == "delete" ? before.mid(1)
                                                           : before);
        if (action == "look-up")
            QCOMPARE(window->entrySql(), "SELECT 1");
    }
};

QTEST_MAIN(TestCatalogueFaults)
#include "tst_catalogue_faults.moc"
