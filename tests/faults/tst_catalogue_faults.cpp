// The catalogue file taken away, made read-only, spoilt or locked while the program has it
// open: a save or a delete then tells the user once, writes nothing, and works again as soon
// as the file is back as it was.
#include "app/modulo.h"
#include "catalogue/frmts0002.h"
#include "data/datagrid.h"
#include "platform/automation.h"
#include "platform/controls.h"
#include "platform/form.h"
#include "results/result_window_session.h"
#include "support/harness.h"

#include <QFile>
#include <QJsonObject>
#include <QSqlDatabase>
#include <QSqlQuery>
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
    QFile next(path + QStringLiteral(".new"));
    if (!next.open(QIODevice::WriteOnly) || next.write(content) != content.size())
        return false;
    next.close();
    return ::rename(QFile::encodeName(next.fileName()).constData(),
                    QFile::encodeName(path).constData()) == 0;
}

QByteArray fileContent(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// Puts the fault NAME on the catalogue file at PATH (ORIGINAL: its content), or takes it off.
bool fault(const QString& name, bool put, const QString& path, const QByteArray& original) {
    const QString locker = QStringLiteral("locker"); // a second connection holding the lock
    if (name == "read-only")
        return QFile::setPermissions(path, QFile::ReadOwner | QFile::ReadGroup | QFile::ReadOther |
                                               (put ? QFile::Permissions() : QFile::WriteOwner));
    if (name == "overwritten with garbage") {
        QFile f(path);
        const QByteArray content = put ? QByteArray(original.size(), '\xA5') : original;
        return f.open(QIODevice::ReadWrite) && f.write(content) == content.size();
    }
    if (name.startsWith("locked") && put) {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), locker);
        db.setDatabaseName(path);
        return db.open() && QSqlQuery(db).exec(QStringLiteral("BEGIN IMMEDIATE"));
    }
    if (name.startsWith("locked")) {
        bool ok = false;
        {
            QSqlDatabase db = QSqlDatabase::database(locker, false);
            ok = QSqlQuery(db).exec(QStringLiteral("COMMIT"));
            db.close();
        }
        QSqlDatabase::removeDatabase(locker);
        return ok;
    }
    if (!put)
        return replaceWith(path, original);
    if (name == "deleted")
        return QFile::remove(path);
    QByteArray garbage(original.size(), '\0');
    for (qsizetype i = 0; i < garbage.size(); ++i)
        garbage[i] = char((i * 7919 + 13) % 251);
    return replaceWith(path, garbage);
}

// "STYLE|TEXT" of the message boxes shown from event FROM on, less the first SKIP.
QStringList messageBoxes(const InProcess& capture, qsizetype from, int skip) {
    QStringList list;
    for (const QJsonObject& e : capture.events().mid(from))
        if (e.value("event").toString() == QLatin1String("msgbox"))
            list << QString::number(e["style"].toInt()) + "|" + e["text"].toString();
    return list.mid(skip);
}

// Types the entry NUOVA into a new record and presses "Aggiorna".
void saveNewEntry(FrmTS0002* window) {
    window->cmdNUOVO->click();
    const QStringList v = kNew.split('|');
    window->txtCOD_SQL->setText(v[0]);
    window->txtDESCR_SQL->setText(v[1]);
    window->txtDATABASE->setText(v[3]);
    window->txtSELEZ_SQL->setText(v[2]);
    window->cmdAGGIORNA->click();
}

} // namespace

class TestCatalogueFaults : public QObject {
    Q_OBJECT

private slots:
    void faultDuringWrite_data() {
        QTest::addColumn<QString>("fault");
        QTest::addColumn<bool>("save");
        QTest::addColumn<QString>("number"); // as the message writes it
        const QList<QPair<QString, QString>> faults{
            {"read-only", " 3027"},
            {"deleted", " 53"},
            {"replaced by garbage", " 3343"},
            {"overwritten with garbage", " 3343"},
            {"locked by another writer", " 3260"},
        };
        for (const auto& [fault, number] : faults)
            for (const bool save : {true, false})
                QTest::addRow("%s, %s", qPrintable(fault), save ? "save" : "delete")
                    << fault << save << number;
    }

    void faultDuringWrite() {
        QFETCH(QString, fault);
        QFETCH(bool, save);
        QFETCH(QString, number);
        test::Sandbox box;
        const QString path = box.makeCatalogue(QStringLiteral("VELARIO2.db"), kEntries);
        const QStringList before = catalogueRows(path);
        const QByteArray original = fileContent(path);
        InProcess capture;
        FrmTS0002* window = test::openCatalogue(path);
        QCOMPARE(window->txtCOD_SQL->text(), QStringLiteral("ALFA"));
        // The messages of a save or a delete (less its confirmation).
        const auto act = [&] {
            const qsizetype mark = capture.events().size();
            if (save) {
                saveNewEntry(window);
            } else {
                capture.dialogs().queueAnswer(MsgBox::Yes);
                window->cmdCANCELLA->click();
            }
            waitIdle();
            return messageBoxes(capture, mark, save ? 0 : 1);
        };

        QVERIFY(::fault(fault, true, path, original));
        const QStringList shown = act();
        QCOMPARE(shown.size(), 1);
        QVERIFY2(shown[0].startsWith("0|Errore " + number + " - ") &&
                     shown[0].contains("\r\rselect * from SELEZIONI_SQL where CODICE = '"),
                 qPrintable(shown[0]));
        QCOMPARE(capture.summary().filter("pointer").last(), QStringLiteral("pointer:0"));
        // Nothing reached the file, nor a new one in its place.
        QVERIFY(::fault(fault, false, path, original));
        QCOMPARE(catalogueRows(path), before);

        // The same request again, now that the file is back, goes through.
        QCOMPARE(act(), QStringList());
        QCOMPARE(catalogueRows(path), save ? before + QStringList{kNew} : before.mid(1));
        Forms::instance().clear();
        Modulo::reset();
    }

    // Another catalogue put in the file's place while the program has it open: the next
    // catalogue operation says so once and reads nothing from it; the ones after use it.
    void replacedByAnotherCatalogue() {
        test::Sandbox box;
        const QString path = box.makeCatalogue(QStringLiteral("VELARIO2.db"), kEntries);
        const QString zeta = "ZETA|Altra|SELECT 9|/d/Z.MDB|MDB";
        const QString other = box.makeCatalogue(QStringLiteral("ALTRO.db"), {zeta.split('|')});
        InProcess capture;
        FrmTS0002* window = test::openCatalogue(path);
        QVERIFY(replaceWith(path, fileContent(other)));

        const qsizetype mark = capture.events().size();
        QCOMPARE(window->DBGrid1->automationRow(1), QString());
        waitIdle();
        const QStringList shown = messageBoxes(capture, mark, 0);
        QCOMPARE(shown.size(), 1);
        QVERIFY2(shown[0].startsWith("0|Errore  3044 - ") &&
                     shown[0].endsWith("where CODICE = 'BETA' "),
                 qPrintable(shown[0]));
        QCOMPARE(window->txtSELEZ_SQL->text(), QStringLiteral("SELECT 1")); // ALFA's, kept

        saveNewEntry(window);
        waitIdle();
        QCOMPARE(messageBoxes(capture, mark, 1), QStringList());
        QCOMPARE(catalogueRows(path), (QStringList{kNew, zeta}));
        Forms::instance().clear();
        Modulo::reset();
    }
};

QTEST_MAIN(TestCatalogueFaults)
#include "tst_catalogue_faults.moc"
