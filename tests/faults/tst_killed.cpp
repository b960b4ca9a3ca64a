// The program killed outright in the middle of a long run of saves: the catalogue file is
// whole and holds every save the program had finished.
#include "support/harness.h"

#include <QElapsedTimer>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTest>
#include <QUuid>

#include <signal.h>

using velario::test::Sandbox;

namespace {

constexpr int kSaves = 5000;

QString code(int i) {
    return QStringLiteral("K%1").arg(i, 5, 10, QLatin1Char('0'));
}

// Saves started and finished, as the transcript tells: each save is the pointer turned to
// the hourglass and back, after the window's first activation did the same.
struct Progress {
    int started = 0;
    int finished = 0;
};

Progress progressIn(const QString& transcript) {
    Progress p;
    QFile file(transcript);
    if (!file.open(QIODevice::ReadOnly))
        return p;
    bool activated = false;
    int pointers = 0;
    for (const QByteArray& line : file.readAll().split('\n')) {
        const QJsonObject e = QJsonDocument::fromJson(line).object();
        if (e.isEmpty()) // the last line, cut short by the kill
            continue;
        const QString kind = e.value("event").toString();
        if (kind == QLatin1String("window") && e.value("action").toString() == "activate")
            activated = true;
        if (!activated || kind != QLatin1String("pointer"))
            continue;
        if (++pointers <= 2)
            continue;
        if (e.value("value").toInt() == 11)
            ++p.started;
        else if (p.started > p.finished)
            ++p.finished;
    }
    return p;
}

} // namespace

class TestKilled : public QObject {
    Q_OBJECT

private slots:
    void killedDuringSaves_data() {
        QTest::addColumn<int>("after"); // saves finished before the kill
        QTest::newRow("early") << 3;
        QTest::newRow("later") << 60;
    }

    void killedDuringSaves() {
        QFETCH(int, after);
        Sandbox box;
        const QString catalogue = box.makeCatalogue(QStringLiteral("VELARIO2.db"));
        box.writeConfig(catalogue);
        QByteArray script;
        for (int i = 1; i <= kSaves; ++i)
            script += QStringLiteral("click frmTS0002.cmdNUOVO\n"
                                     "type frmTS0002.txtCOD_SQL %1\n"
                                     "type frmTS0002.txtDESCR_SQL Voce numero %2\n"
                                     "type frmTS0002.txtDATABASE /dati/VENDITE.MDB\n"
                                     "type frmTS0002.txtSELEZ_SQL SELECT %2, 'x' FROM T\n"
                                     "click frmTS0002.cmdAGGIORNA\n")
                          .arg(code(i))
                          .arg(i)
                          .toUtf8();
        box.writeFile(QStringLiteral("saves.txt"), script);
        const QString transcript = box.file(QStringLiteral("saves.jsonl"));

        QProcess program;
        program.setProcessEnvironment(box.environment());
        program.setWorkingDirectory(box.path());
        program.start(velario::test::programBinary(),
                      {QStringLiteral("--program-dir"), box.path(), QStringLiteral("--transcript"),
                       transcript, QStringLiteral("--script"),
                       box.file(QStringLiteral("saves.txt"))});
        QVERIFY(program.waitForStarted());
        QElapsedTimer waited;
        waited.start();
        while (progressIn(transcript).finished < after) {
            QVERIFY2(program.state() == QProcess::Running,
                     program.readAllStandardError().constData());
            QVERIFY2(waited.elapsed() < 120000, "the saves do not advance");
            QTest::qWait(5);
        }
        ::kill(pid_t(program.processId()), SIGKILL);
        QVERIFY(program.waitForFinished());
        QCOMPARE(program.exitStatus(), QProcess::CrashExit);
        const Progress done = progressIn(transcript);
        QVERIFY(done.finished >= after);
        QVERIFY(done.started < kSaves); // killed in the middle, not after the last save

        const QString name = QUuid::createUuid().toString();
        QStringList codes;
        QString integrity;
        {
            QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
            db.setDatabaseName(catalogue);
            QVERIFY(db.open());
            QSqlQuery check(QStringLiteral("PRAGMA integrity_check"), db);
            QVERIFY(check.next());
            integrity = check.value(0).toString();
            QSqlQuery q(
                QStringLiteral("SELECT CODICE, DESCRIZIONE FROM SELEZIONI_SQL ORDER BY CODICE"),
                db);
            while (q.next()) {
                codes << q.value(0).toString();
                QCOMPARE(
                    q.value(1).toString(),
                    QStringLiteral("Voce numero %1").arg(q.value(0).toString().mid(1).toInt()));
            }
        }
        QSqlDatabase::removeDatabase(name);
        QCOMPARE(integrity, QStringLiteral("ok"));
        // Every finished save is there; the one under way when the kill came may be too.
        QVERIFY2(codes.size() >= done.finished && codes.size() <= done.started,
                 qPrintable(QStringLiteral("%1 rows, %2 saves finished, %3 started")
                                .arg(codes.size())
                                .arg(done.finished)
                                .arg(done.started)));
        for (int i = 0; i < codes.size(); ++i)
            QCOMPARE(codes[i], code(i + 1));
    }
};

QTEST_MAIN(TestKilled)
#include "tst_killed.moc"
