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
#include <QUuid>

#include <functional>

using namespace velario;
using velario::test::InProcess;
using velario::test::openCatalogue;
using velario::test::Sandbox;

namespace {

const QList<QStringList> kEntries{
    {"ALFA", "Prima", "SELECT 1", "/dati/A.MDB", "MDB"},
    {"BETA", "Seconda", "SELECT 2", "VENDITE", "ODBC"},
};

QStringList tableRows(const QString& path) {
    QStringList rows;
    const QString name = QUuid::createUuid().toString();
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
        db.setDatabaseName(path);
        db.setConnectOptions(QStringLiteral("QSQLITE_OPEN_READONLY"));
        if (db.open()) {
            QSqlQuery q(QStringLiteral("SELECT CODICE, DESCRIZIONE, SQL, Database, "
                                       "Tipo_Database FROM SELEZIONI_SQL ORDER BY CODICE"),
                        db);
            while (q.next()) {
                QStringList cells;
                for (int i = 0; i < 5; ++i)
                    cells << q.value(i).toString();
                rows << cells.join('|');
            }
        }
    }
    QSqlDatabase::removeDatabase(name);
    return rows;
}

// Writes CONTENT as a new file that takes PATH's place in one step.
bool replaceWith(const QString& path, const QByteArray& content) {
    QFile next(path + QStringLiteral(".new"));
    if (!next.open(QIODevice::WriteOnly | QIODevice::Truncate) ||
        next.write(content) != content.size())
        return false;
    next.close();
    return ::rename(QFile::encodeName(next.fileName()).constData(),
                    QFile::encodeName(path).constData()) == 0;
}

QByteArray fileContent(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// A fault put on the catalogue file, and its removal.
struct Fault {
    std::function<bool(const QString& path, const QByteArray& original)> apply;
    std::function<bool(const QString& path, const QByteArray& original)> remove;
};

// A second connection that holds the write lock until it is let go.
struct Locker {
    QString name = QUuid::createUuid().toString();
    bool lock(const QString& path) {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
        db.setDatabaseName(path);
        return db.open() && QSqlQuery(db).exec(QStringLiteral("BEGIN IMMEDIATE"));
    }
    bool unlock() {
        bool ok = false;
        {
            QSqlDatabase db = QSqlDatabase::database(name, false);
            ok = QSqlQuery(db).exec(QStringLiteral("COMMIT"));
            db.close();
        }
        QSqlDatabase::removeDatabase(name);
        return ok;
    }
};

Locker locker;

Fault faultNamed(const QString& name) {
    const auto restore = [](const QString& path, const QByteArray& original) {
        return replaceWith(path, original);
    };
    if (name == QLatin1String("read-only"))
        return {[](const QString& path, const QByteArray&) {
                    return QFile::setPermissions(path, QFile::ReadOwner | QFile::ReadGroup |
                                                           QFile::ReadOther);
                },
                [](const QString& path, const QByteArray&) {
                    return QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner |
                                                           QFile::ReadGroup | QFile::ReadOther);
                }};
    if (name == QLatin1String("deleted"))
        return {[](const QString& path, const QByteArray&) { return QFile::remove(path); },
                restore};
    if (name == QLatin1String("replaced by garbage"))
        return {[](const QString& path, const QByteArray& original) {
                    QByteArray garbage(original.size(), '\0');
                    for (qsizetype i = 0; i < garbage.size(); ++i)
                        garbage[i] = char((i * 7919 + 13) % 251);
                    return replaceWith(path, garbage);
                },
                restore};
    if (name == QLatin1String("overwritten with garbage"))
        return {[](const QString& path, const QByteArray& original) {
                    QFile f(path);
                    return f.open(QIODevice::ReadWrite) &&
                           f.write(QByteArray(original.size(), '\xA5')) == original.size();
                },
                [](const QString& path, const QByteArray& original) {
                    QFile f(path);
                    return f.open(QIODevice::ReadWrite) && f.write(original) == original.size();
                }};
    return {[](const QString& path, const QByteArray&) { return locker.lock(path); },
            [](const QString&, const QByteArray&) { return locker.unlock(); }};
}

// The message boxes shown from event FROM on, less the first SKIP (a confirmation).
QStringList messageBoxes(const InProcess& capture, int from, int skip) {
    QStringList list;
    const QList<QJsonObject> events = capture.events();
    for (qsizetype i = from; i < events.size(); ++i)
        if (events[i].value("event").toString() == QLatin1String("msgbox"))
            list << QStringLiteral("%1|%2")
                        .arg(events[i].value("style").toInt())
                        .arg(events[i].value("text").toString());
    return list.mid(skip);
}

// Types the entry NUOVA into a new record and presses "Aggiorna".
void saveNewEntry(FrmTS0002* window) {
    window->cmdNUOVO->click();
    window->txtCOD_SQL->setText(QStringLiteral("NUOVA"));
    window->txtDESCR_SQL->setText(QStringLiteral("Nuova voce"));
    window->txtDATABASE->setText(QStringLiteral("/d/N.MDB"));
    window->txtSELEZ_SQL->setText(QStringLiteral("SELECT 3"));
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
        for (const auto& [fault, number] : faults) {
            QTest::newRow(qPrintable(fault + ", save")) << fault << true << number;
            QTest::newRow(qPrintable(fault + ", delete")) << fault << false << number;
        }
    }

    void faultDuringWrite() {
        QFETCH(QString, fault);
        QFETCH(bool, save);
        QFETCH(QString, number);
        Sandbox box;
        const QString path = box.makeCatalogue(QStringLiteral("VELARIO2.db"), kEntries);
        const QStringList before = tableRows(path);
        const QByteArray original = fileContent(path);

        InProcess capture;
        FrmTS0002* window = openCatalogue(path);
        QCOMPARE(window->txtCOD_SQL->text(), QStringLiteral("ALFA"));

        const auto act = [&] {
            if (save) {
                saveNewEntry(window);
            } else {
                capture.dialogs().queueAnswer(MsgBox::Yes);
                window->cmdCANCELLA->click();
            }
            waitIdle();
        };

        const Fault f = faultNamed(fault);
        QVERIFY(f.apply(path, original));
        const int mark = int(capture.events().size());
        act();
        const QStringList shown = messageBoxes(capture, mark, save ? 0 : 1);
        QCOMPARE(shown.size(), 1);
        QVERIFY2(shown[0].startsWith("0|Errore " + number + " - "), qPrintable(shown[0]));
        QVERIFY2(shown[0].contains("\r\rselect * from SELEZIONI_SQL where CODICE = '"),
                 qPrintable(shown[0]));
        QCOMPARE(capture.summary().filter("pointer").last(), QStringLiteral("pointer:0"));

        // Nothing reached the file, nor a new one in its place.
        QVERIFY(f.remove(path, original));
        QCOMPARE(tableRows(path), before);

        // The same request again, now that the file is back, goes through.
        const int again = int(capture.events().size());
        act();
        const QStringList later = messageBoxes(capture, again, save ? 0 : 1);
        QVERIFY2(later.isEmpty(), qPrintable(later.join('\n')));
        QStringList expected = before;
        if (save)
            expected.append("NUOVA|Nuova voce|SELECT 3|/d/N.MDB|MDB");
        else
            expected.removeFirst();
        QCOMPARE(tableRows(path), expected);

        Forms::instance().clear();
        Modulo::reset();
    }

    // Another catalogue put in the file's place while the program has it open: the next
    // catalogue operation says so once and reads nothing from it; the ones after use it.
    void replacedByAnotherCatalogue() {
        Sandbox box;
        const QString path = box.makeCatalogue(QStringLiteral("VELARIO2.db"), kEntries);
        const QString other = box.makeCatalogue(QStringLiteral("ALTRO.db"),
                                                {{"ZETA", "Altra", "SELECT 9", "/d/Z.MDB", "MDB"}});
        InProcess capture;
        FrmTS0002* window = openCatalogue(path);
        QVERIFY(replaceWith(path, fileContent(other)));

        const int mark = int(capture.events().size());
        QCOMPARE(window->DBGrid1->automationRow(1), QString());
        waitIdle();
        const QStringList shown = messageBoxes(capture, mark, 0);
        QCOMPARE(shown.size(), 1);
        QVERIFY2(shown[0].startsWith("0|Errore  3044 - "), qPrintable(shown[0]));
        QVERIFY2(shown[0].endsWith("where CODICE = 'BETA' "), qPrintable(shown[0]));
        QCOMPARE(window->txtSELEZ_SQL->text(), QStringLiteral("SELECT 1")); // ALFA's, kept

        saveNewEntry(window);
        waitIdle();
        QCOMPARE(messageBoxes(capture, mark, 1), QStringList());
        QCOMPARE(tableRows(path), (QStringList{"NUOVA|Nuova voce|SELECT 3|/d/N.MDB|MDB",
                                               "ZETA|Altra|SELECT 9|/d/Z.MDB|MDB"}));
        Forms::instance().clear();
        Modulo::reset();
    }
};

QTEST_MAIN(TestCatalogueFaults)
#include "tst_catalogue_faults.moc"
