// The program killed outright in the middle of a long run of saves: the catalogue file is
// whole and holds every save the program had finished.
#include "support/harness.h"

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTest>

#include <signal.h>

namespace test = velario::test;

namespace {

constexpr int kSaves = 5000;

QString entry(int i) {
    return QStringLiteral("K%1|Voce numero %2|SELECT %2, 'x' FROM T|/dati/VENDITE.MDB|MDB")
        .arg(i, 5, 10, QLatin1Char('0'))
        .arg(i);
}

// Saves {started, finished}, as the transcript tells: each save is the pointer turned to
// the hourglass and back, after the window's first activation did the same.
QPair<int, int> progressIn(const QString& transcript) {
    QPair<int, int> p{0, 0};
    int pointers = -1; // from the first activation on
    for (const QByteArray& line : velario::test::fileBytes(transcript).split('\n')) {
        const QJsonObject e = QJsonDocument::fromJson(line).object(); // the last may be cut
        if (e["event"] == "window" && e["action"] == "activate" && pointers < 0)
            pointers = 0;
        if (pointers < 0 || e["event"] != "pointer" || ++pointers <= 2)
            continue;
        if (e["value"].toInt() == 11)
            ++p.first;
        else if (p.first > p.second)
            ++p.second;
    }
    return p;
}

} // namespace

class TestKilled : public QObject {
    Q_OBJECT

private slots:
    void killedDuringSaves() {
        const int after = 20; // saves finished before the kill
        test::Sandbox box;
        const QString catalogue = box.makeCatalogue(QStringLiteral("VELARIO2.db"));
        box.writeConfig(catalogue);
        QString script;
        for (int i = 1; i <= kSaves; ++i) {
            const QStringList v = entry(i).split('|');
            script += "click frmTS0002.cmdNUOVO\ntype frmTS0002.txtCOD_SQL " + v[0] +
                      "\ntype frmTS0002.txtDESCR_SQL " + v[1] + "\ntype frmTS0002.txtDATABASE " +
                      v[3] + "\ntype frmTS0002.txtSELEZ_SQL " + v[2] +
                      "\nclick frmTS0002.cmdAGGIORNA\n";
        }
        box.writeFile(QStringLiteral("saves.txt"), script.toUtf8());
        const QString transcript = box.file(QStringLiteral("saves.jsonl"));

        QProcess program;
        program.setProcessEnvironment(box.environment());
        program.setWorkingDirectory(box.path());
        program.start(test::programBinary(), {"--program-dir", box.path(), "--transcript",
                                              transcript, "--script", box.file("saves.txt")});
        QTRY_VERIFY2_WITH_TIMEOUT(progressIn(transcript).second >= after,
                                  program.readAllStandardError().constData(), 120000);
        ::kill(pid_t(program.processId()), SIGKILL);
        QVERIFY(program.waitForFinished());
        QCOMPARE(program.exitStatus(), QProcess::CrashExit);
        const auto [started, finished] = progressIn(transcript);
        QVERIFY(started < kSaves); // killed in the middle, not after the last save

        // Whole, and every finished save there; the one under way at the kill may be too. The
        // save cut short leaves a hot journal, which only a connection that may write rolls
        // back, as the program's next start does.
        QCOMPARE(test::sqliteRows(catalogue, "PRAGMA integrity_check", {}, true),
                 QStringList{"ok"});
        const QStringList rows = test::catalogueRows(catalogue);
        QVERIFY2(rows.size() >= finished && rows.size() <= started,
                 qPrintable(QString("%1 rows, %2 saves finished, %3 started")
                                .arg(rows.size())
                                .arg(finished)
                                .arg(started)));
        for (int i = 0; i < rows.size(); ++i)
            QCOMPARE(rows[i], entry(i + 1));
    }
};

QTEST_MAIN(TestKilled)
#include "tst_killed.moc"
