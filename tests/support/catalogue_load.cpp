#include "support/catalogue_load.h"

#include "support/harness.h"

#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QHash>
#include <QJsonDocument>
#include <QProcess>
#include <QSet>

#include <memory>
#include <vector>

namespace velario::test {

namespace {

const QString kShared = QStringLiteral("0S");

// What one run of a copy set out to do.
struct Plan {
    QStringList saves; // descriptions given to 0S, in order
    QStringList taken; // codes the others create too
    QStringList own;   // codes only this run creates, then deletes
    QString script;
};

Plan planOf(int program, int run, int rounds) {
    Plan plan;
    QStringList steps;
    for (int k = 0; k < rounds; ++k) {
        const QString mark = QStringLiteral("p%1-%2-%3").arg(program).arg(run).arg(k);
        const QString taken = QStringLiteral("1C_%1_%2").arg(run).arg(k);
        const QString own = QStringLiteral("X%1_%2_%3").arg(program).arg(run).arg(k);
        plan.saves << mark;
        plan.taken << taken;
        plan.own << own;
        // Conflicts are answered by the default button: the user is told, then writes over.
        steps << QStringLiteral("activate frmTS0002") << QStringLiteral("row frmTS0002.DBGrid1 0")
              << QStringLiteral("type frmTS0002.txtDESCR_SQL ") + mark
              << QStringLiteral("click frmTS0002.cmdAGGIORNA");
        for (const QString& code : {taken, own})
            steps << QStringLiteral("click frmTS0002.cmdNUOVO")
                  << QStringLiteral("type frmTS0002.txtCOD_SQL ") + code
                  << QStringLiteral("type frmTS0002.txtDESCR_SQL ") + mark
                  << QStringLiteral("type frmTS0002.txtDATABASE x.db")
                  << QStringLiteral("type frmTS0002.txtSELEZ_SQL select %1").arg(program)
                  << QStringLiteral("click frmTS0002.cmdAGGIORNA");
        // A code taken meanwhile leaves the window in new mode until another row is chosen
        // (the list has the shared entry and the code taken).
        steps.insert(steps.size() - 6, QStringLiteral("row frmTS0002.DBGrid1 1"));
        steps.insert(steps.size() - 6, QStringLiteral("row frmTS0002.DBGrid1 0"));
        steps << QStringLiteral("click frmTS0002.cmdCANCELLA");
    }
    steps << QStringLiteral("quit");
    plan.script = steps.join(QLatin1Char('\n')) + QLatin1Char('\n');
    return plan;
}

QList<QJsonObject> transcript(const QString& path) {
    QList<QJsonObject> events;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return events;
    while (!file.atEnd()) {
        const QByteArray line = file.readLine().trimmed();
        if (!line.isEmpty())
            events << QJsonDocument::fromJson(line).object();
    }
    return events;
}

struct Slot {
    std::unique_ptr<Sandbox> box;
    std::unique_ptr<QProcess> process;
    int program = 0;
    int runs = 0;
    Plan plan;
    QString transcriptPath;
};

} // namespace

CatalogueLoad loadCatalogue(const QString& location, int programs, int rounds, int seconds,
                            const std::function<QStringList(const QString&)>& rows,
                            const QString& integrity) {
    CatalogueLoad load;
    QStringList saves;
    QHash<QString, int> takenAttempts;
    QHash<QString, int> duplicatesOf;
    QStringList own;
    QElapsedTimer clock;
    clock.start();
    QEventLoop loop;
    int running = 0;
    std::vector<Slot> copies(static_cast<size_t>(programs));
    std::function<void(Slot&)> start;

    start = [&](Slot& slot) {
        slot.plan = planOf(slot.program, slot.runs++, rounds);
        const QString name = QStringLiteral("script-%1").arg(slot.runs);
        slot.box->writeFile(name, slot.plan.script.toUtf8());
        slot.transcriptPath = slot.box->file(name + QStringLiteral(".jsonl"));
        QProcessEnvironment env = slot.box->environment();
        env.insert(QStringLiteral("LOGNAME"), QStringLiteral("p%1").arg(slot.program));
        slot.process = std::make_unique<QProcess>();
        slot.process->setProcessEnvironment(env);
        slot.process->setWorkingDirectory(slot.box->path());
        slot.process->setProcessChannelMode(QProcess::ForwardedErrorChannel);
        QObject::connect(slot.process.get(), &QProcess::finished, &loop, [&, s = &slot] {
            --running;
            ++load.runs;
            const QString who = QStringLiteral("p%1 run %2").arg(s->program).arg(s->runs);
            if (s->process->exitStatus() != QProcess::NormalExit || s->process->exitCode() != 0)
                load.faults << who + QStringLiteral(": exit %1").arg(s->process->exitCode());
            saves << s->plan.saves;
            own << s->plan.own;
            for (const QString& code : s->plan.taken)
                ++takenAttempts[code];
            load.saves += int(s->plan.saves.size());
            load.creations += int(s->plan.taken.size() + s->plan.own.size());
            load.deletions += int(s->plan.own.size());
            for (const QJsonObject& e : transcript(s->transcriptPath)) {
                if (e[QLatin1String("event")] != QLatin1String("msgbox"))
                    continue;
                const QString text = e[QLatin1String("text")].toString();
                if (text.startsWith(QStringLiteral("La selezione 0S è stata modificata da un "
                                                   "altro utente"))) {
                    ++load.conflicts;
                } else if (text.startsWith(QStringLiteral("Codice 1C_")) &&
                           text.endsWith(QStringLiteral(" già presente in archivio !!!"))) {
                    ++load.duplicates;
                    ++duplicatesOf[text.section(QLatin1Char(' '), 1, 1)];
                } else if (text != QStringLiteral("Confermi la cancellazione ?")) {
                    load.faults << who + QStringLiteral(": told '%1'").arg(text);
                }
            }
            if (seconds > 0 && clock.elapsed() < qint64(seconds) * 1000) {
                start(*s);
                return;
            }
            if (running == 0)
                loop.quit();
        });
        ++running;
        slot.process->start(programBinary(), {QStringLiteral("--program-dir"), slot.box->path(),
                                              QStringLiteral("--transcript"), slot.transcriptPath,
                                              QStringLiteral("--script"), slot.box->file(name)});
    };
    for (int i = 0; i < programs; ++i) {
        Slot& slot = copies[size_t(i)];
        slot.program = i;
        slot.box = std::make_unique<Sandbox>();
        slot.box->writeConfig(location);
    }
    for (Slot& slot : copies)
        start(slot);
    loop.exec();

    // The shared entry: each description given to it is there now or in the history, as the
    // version a change replaced, once.
    const QStringList now = rows(QStringLiteral("SELECT DESCRIZIONE FROM SELEZIONI_SQL WHERE "
                                                "CODICE = '0S'"));
    const QStringList replaced =
        rows(QStringLiteral("SELECT DESCRIZIONE FROM SELEZIONI_SQL_STORIA WHERE CODICE = '0S' "
                            "AND AZIONE = 'modificata'"));
    if (now.size() != 1)
        load.faults << QStringLiteral("0S: %1 rows").arg(now.size());
    QStringList versions = replaced + now;
    QStringList expected = saves + QStringList{QStringLiteral("iniziale")};
    if (QSet<QString>(replaced.begin(), replaced.end()).size() != replaced.size())
        load.faults << QStringLiteral("0S: a version replaced twice");
    versions.sort();
    expected.sort();
    if (versions != expected)
        load.faults << QStringLiteral("0S: %1 versions known, %2 written")
                           .arg(versions.size())
                           .arg(expected.size());
    // A code several created: one landed, every other told; a copy whose list showed the code
    // already writes over it, as with one user.
    for (auto it = takenAttempts.cbegin(); it != takenAttempts.cend(); ++it) {
        const QString code = it.key();
        const auto count = [&](const char* table, const char* action) {
            return int(rows(QStringLiteral("SELECT 1 FROM %1 WHERE CODICE = '%2' AND %3")
                                .arg(QLatin1String(table), code, QLatin1String(action)))
                           .size());
        };
        const int there = count("SELEZIONI_SQL", "1 = 1");
        const int inserted = count("SELEZIONI_SQL_STORIA", "AZIONE = 'inserita'");
        const int overwritten = count("SELEZIONI_SQL_STORIA", "AZIONE = 'modificata'");
        if (there != 1 || inserted != 1 || duplicatesOf.value(code) + overwritten != it.value() - 1)
            load.faults << QStringLiteral("%1: %2 rows, %3 inserted, %4 told and %5 written "
                                          "over of %6")
                               .arg(code)
                               .arg(there)
                               .arg(inserted)
                               .arg(duplicatesOf.value(code))
                               .arg(overwritten)
                               .arg(it.value() - 1);
        load.overwrites += overwritten;
    }
    // Each copy's own entry: created and deleted, both in the history.
    const QStringList left = rows(QStringLiteral("SELECT CODICE FROM SELEZIONI_SQL WHERE CODICE "
                                                 "LIKE 'X%'"));
    const QStringList deleted = rows(QStringLiteral("SELECT CODICE FROM SELEZIONI_SQL_STORIA "
                                                    "WHERE CODICE LIKE 'X%' AND AZIONE = "
                                                    "'cancellata'"));
    QStringList sortedDeleted = deleted;
    QStringList sortedOwn = own;
    sortedDeleted.sort();
    sortedOwn.sort();
    if (!left.isEmpty() || sortedDeleted != sortedOwn)
        load.faults << QStringLiteral("own entries: %1 left, %2 of %3 deleted")
                           .arg(left.size())
                           .arg(deleted.size())
                           .arg(own.size());
    const QStringList twice = rows(QStringLiteral("SELECT CODICE FROM SELEZIONI_SQL GROUP BY "
                                                  "CODICE HAVING count(*) > 1"));
    if (!twice.isEmpty())
        load.faults << QStringLiteral("codes held twice: ") + twice.join(QLatin1Char(' '));
    const QStringList sound = rows(integrity);
    if (sound != QStringList{QStringLiteral("ok")})
        load.faults << QStringLiteral("integrity: ") + sound.join(QLatin1Char(' '));
    return load;
}

} // namespace velario::test
