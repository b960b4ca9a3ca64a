#include "support/catalogue_load.h"

#include "support/harness.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QHash>
#include <QJsonDocument>
#include <QProcess>
#include <QSet>

#include <memory>
#include <vector>

namespace velario::test {

namespace {

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
        plan.saves << mark;
        plan.taken << QStringLiteral("1C_%1_%2").arg(run).arg(k);
        plan.own << QStringLiteral("X%1_%2_%3").arg(program).arg(run).arg(k);
        // Conflicts are answered by the default button: the user is told, then writes over.
        // A code taken meanwhile leaves the window in new mode until another row is chosen
        // (the list has the shared entry and the code taken).
        steps << "activate frmTS0002"
              << "row frmTS0002.DBGrid1 0"
              << "type frmTS0002.txtDESCR_SQL " + mark << "click frmTS0002.cmdAGGIORNA";
        for (const QString& code : {plan.taken.last(), plan.own.last()})
            steps << newEntryScript(
                         {code, mark, "x.db", QStringLiteral("select %1").arg(program)}) +
                         (code == plan.taken.last()
                              ? "row frmTS0002.DBGrid1 1\nrow frmTS0002.DBGrid1 0"
                              : "click frmTS0002.cmdCANCELLA");
    }
    plan.script = steps.join('\n') + "\nquit\n";
    return plan;
}

struct Slot {
    std::unique_ptr<Sandbox> box;
    std::unique_ptr<QProcess> process;
    int program = 0;
    int runs = 0;
    Plan plan;
    QString transcriptPath;
};

QStringList sorted(QStringList list) {
    list.sort();
    return list;
}

} // namespace

CatalogueLoad loadCatalogue(const QString& location, int programs, int rounds, int seconds,
                            const std::function<QStringList(const QString&)>& rows,
                            const QString& integrity) {
    CatalogueLoad load;
    QStringList saves, own;
    QHash<QString, int> takenAttempts, duplicatesOf;
    QElapsedTimer clock;
    clock.start();
    QEventLoop loop;
    int running = 0;
    std::vector<Slot> copies(static_cast<size_t>(programs));
    std::function<void(Slot&)> start = [&](Slot& slot) {
        slot.plan = planOf(slot.program, slot.runs++, rounds);
        const QString name = QStringLiteral("script-%1").arg(slot.runs);
        slot.box->writeFile(name, slot.plan.script.toUtf8());
        slot.transcriptPath = slot.box->file(name + ".jsonl");
        QProcessEnvironment env = slot.box->environment();
        env.insert("LOGNAME", QStringLiteral("p%1").arg(slot.program));
        slot.process = std::make_unique<QProcess>();
        slot.process->setProcessEnvironment(env);
        slot.process->setWorkingDirectory(slot.box->path());
        slot.process->setProcessChannelMode(QProcess::ForwardedErrorChannel);
        QObject::connect(slot.process.get(), &QProcess::finished, &loop, [&, s = &slot] {
            --running;
            ++load.runs;
            const QString who = QStringLiteral("p%1 run %2: ").arg(s->program).arg(s->runs);
            if (s->process->exitStatus() != QProcess::NormalExit || s->process->exitCode() != 0)
                load.faults << who + QStringLiteral("exit %1").arg(s->process->exitCode());
            saves << s->plan.saves;
            own << s->plan.own;
            for (const QString& code : s->plan.taken)
                ++takenAttempts[code];
            load.saves += int(s->plan.saves.size());
            load.creations += int(s->plan.taken.size() + s->plan.own.size());
            load.deletions += int(s->plan.own.size());
            for (const QByteArray& line : fileBytes(s->transcriptPath).split('\n')) {
                const QJsonObject e = QJsonDocument::fromJson(line).object();
                const QString text = e["text"].toString();
                if (e["event"] != "msgbox" || text == "Confermi la cancellazione ?")
                    continue;
                if (text.startsWith("La selezione 0S è stata modificata da un altro utente")) {
                    ++load.conflicts;
                } else if (text.startsWith("Codice 1C_") &&
                           text.endsWith(" già presente in archivio !!!")) {
                    ++load.duplicates;
                    ++duplicatesOf[text.section(' ', 1, 1)];
                } else {
                    load.faults << who + "told '" + text + "'";
                }
            }
            if (seconds > 0 && clock.elapsed() < qint64(seconds) * 1000)
                return start(*s);
            if (running == 0)
                loop.quit();
        });
        ++running;
        slot.process->start(programBinary(),
                            {"--program-dir", slot.box->path(), "--transcript", slot.transcriptPath,
                             "--script", slot.box->file(name)});
    };
    for (int i = 0; i < programs; ++i) {
        copies[size_t(i)].program = i;
        copies[size_t(i)].box = std::make_unique<Sandbox>();
        copies[size_t(i)].box->writeConfig(location);
    }
    for (Slot& slot : copies)
        start(slot);
    loop.exec();

    // The shared entry: each description given to it is there now or in the history, as the
    // version a change replaced, once.
    const QStringList now = rows("SELECT DESCRIZIONE FROM SELEZIONI_SQL WHERE CODICE = '0S'");
    const QStringList replaced = rows("SELECT DESCRIZIONE FROM SELEZIONI_SQL_STORIA WHERE CODICE "
                                      "= '0S' AND AZIONE = 'modificata'");
    if (now.size() != 1 || sorted(replaced + now) != sorted(saves + QStringList{"iniziale"}))
        load.faults << QString::asprintf("0S: %d rows, %d versions known, %d written",
                                         int(now.size()), int(replaced.size() + now.size()),
                                         int(saves.size() + 1));
    // A code several created: one landed, every other told; a copy whose list showed the code
    // already writes over it, as with one user.
    for (auto it = takenAttempts.cbegin(); it != takenAttempts.cend(); ++it) {
        // Rows there, then versions inserted and written over.
        const QStringList found = rows(
            QStringLiteral("SELECT (SELECT count(*) FROM SELEZIONI_SQL WHERE CODICE = '%1'), "
                           "count(*) FILTER (WHERE AZIONE = 'inserita'), count(*) FILTER (WHERE "
                           "AZIONE = 'modificata') FROM SELEZIONI_SQL_STORIA WHERE CODICE = '%1'")
                .arg(it.key()));
        const int overwritten = found.value(0).section('|', 2).toInt();
        if (found.value(0).section('|', 0, 1) != "1|1" ||
            duplicatesOf.value(it.key()) + overwritten != it.value() - 1)
            load.faults << it.key() + ": " + found.join(' ') +
                               QString::asprintf(", %d told, of %d", duplicatesOf.value(it.key()),
                                                 it.value() - 1);
        load.overwrites += overwritten;
    }
    // Each copy's own entry: created and deleted, both in the history.
    const QStringList left = rows("SELECT CODICE FROM SELEZIONI_SQL WHERE CODICE LIKE 'X%'");
    const QStringList deleted = rows("SELECT CODICE FROM SELEZIONI_SQL_STORIA WHERE CODICE LIKE "
                                     "'X%' AND AZIONE = 'cancellata'");
    if (!left.isEmpty() || sorted(deleted) != sorted(own))
        load.faults << QString::asprintf("own entries: %d left, %d of %d deleted", int(left.size()),
                                         int(deleted.size()), int(own.size()));
    if (const QStringList sound = rows(integrity); sound != QStringList{"ok"})
        load.faults << "integrity: " + sound.join(' ');
    return load;
}

} // namespace velario::test
