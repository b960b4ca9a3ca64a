// The program killed outright in the middle of a long run of saves: the catalogue file is
// whole and holds every save the program had finished.
#include "results/result_window_session.h"
#include "support/harness.h"

#include <QElapsedTimer>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTest>

#include <signal.h>

namespace test = velario::test;

namespace {

constexpr int kSaves = 5000;

QString code(int i) {
    return QStringLiteral("K%1").arg(i, 5, 10, QLatin1Char('0'));
}

// Saves started and finished, as the transcript tells: each save is the pointer turned to
// the hourglass and back, after the window's first activation did the same.
struct Progress {
    int started = 0, finished = 0;
};

Progress progressIn(const QString& transcript) {
    Progress p;
    QFile file(transcript);
    int pointers = -1; // from the first activation on
    for (const QByteArray& line :
         file.open(QIODevice::ReadOnly) ? file.readAll().split('\n') : QByteArrayList()) {
        const QJsonObject e = QJsonDocument::fromJson(line).object(); // the last may be cut
        if (e["event"] == "window" && e["action"] == "activate" && pointers < 0)
            pointers = 0;
        if (pointers < 0 || e["event"] != "pointer" || ++pointers <= 2)
            continue;
        if (e["value"].toInt() == 11)
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
        test::Sandbox box;
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
        program.start(test::programBinary(), {"--program-dir", box.path(), "--transcript",
                                              transcript, "--script", box.file("saves.txt")});
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

        // Whole, and every finished save there; the one under way at the kill may be too.
        QCOMPARE(test::catalogueRows(catalogue, "(SELECT integrity_check AS CODICE, 1 AS "
                                                "DESCRIZIONE, 2 AS SQL, 3 AS Database, 4 AS "
                                                "Tipo_Database FROM pragma_integrity_check)"),
                 QStringList{"ok|1|2|3|4"});
        const QStringList rows = test::catalogueRows(catalogue);
        QVERIFY2(rows.size() >= done.finished && rows.size() <= done.started,
                 qPrintable(QStringLiteral("%1 rows, %2 saves finished, %3 started")
                                .arg(rows.size())
                                .arg(done.finished)
                                .arg(done.started)));
        for (int i = 0; i < rows.size(); ++i)
            QCOMPARE(rows[i], QStringLiteral("%1|Voce numero %2|SELECT %2, 'x' FROM T|"
                                             "/dati/VENDITE.MDB|MDB")
                                  .arg(code(i + 1))
                                  .arg(i + 1));
    }
};

QTEST_MAIN(TestKilled)
#include "tst_killed.moc"
