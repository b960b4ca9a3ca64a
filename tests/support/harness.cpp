#include "harness.h"

#include "data/catalogue/catalogue_schema.h"
#include "platform/automation.h"
#include "platform/platform.h"
#include "platform/transcript.h"
#include "print/printer.h"
#include "support/result_window_under_test.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QProcess>
#include <QRegularExpression>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QTest>
#include <QUuid>

namespace velario::test {

QString programBinary() {
    return qEnvironmentVariable("VELARIO_BIN");
}

CommandRun runCommand(const QString& program, const QStringList& args,
                      const QProcessEnvironment& env, const QString& dir, int wait) {
    QProcess process;
    process.setProcessEnvironment(env);
    process.setWorkingDirectory(dir);
    process.start(program, args);
    if (!process.waitForFinished(wait)) {
        process.kill();
        process.waitForFinished();
        return {};
    }
    return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
            process.readAllStandardOutput(), QString::fromUtf8(process.readAllStandardError())};
}

QByteArray fileBytes(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool writeBytes(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) &&
           file.write(bytes) == bytes.size();
}

namespace {

QList<QJsonObject> readTranscript(const QString& path) {
    QList<QJsonObject> events;
    for (const QByteArray& line : fileBytes(path).split('\n'))
        if (!line.trimmed().isEmpty())
            events.append(QJsonDocument::fromJson(line).object());
    return events;
}

} // namespace

InProcess::InProcess() {
    Transcript::instance().open(dir_.filePath(QStringLiteral("transcript.jsonl")));
    auto dialogs = std::make_unique<ScriptedDialogs>();
    dialogs_ = dialogs.get();
    platform().setDialogs(std::move(dialogs));
    Printer::instance().setRecordLines(true);
}

InProcess::~InProcess() {
    Printer::instance().setRecordLines(false);
    Transcript::instance().close();
    platform().setDialogs(nullptr);
}

QList<QJsonObject> InProcess::events() const {
    return readTranscript(dir_.filePath(QStringLiteral("transcript.jsonl")));
}

QStringList InProcess::summary() const {
    return ProgramRun{-1, false, events(), {}}.summary();
}

QList<QJsonObject> ProgramRun::eventsOf(const QString& kind) const {
    QList<QJsonObject> list;
    for (const QJsonObject& e : events)
        if (e.value("event").toString() == kind)
            list.append(e);
    return list;
}

QJsonObject ProgramRun::lastWindowState(const QString& window) const {
    const QList<QJsonObject> states = eventsOf(QStringLiteral("state"));
    for (const QJsonValue w : states.value(states.size() - 1)["windows"].toArray())
        if (w["name"] == window)
            return w.toObject();
    return {};
}

QStringList ProgramRun::summary() const {
    QStringList list;
    for (const QJsonObject& e : events) {
        const QString kind = e.value("event").toString();
        const auto number = [&](const char* key) {
            return e.value(key).isNull() ? QStringLiteral("null")
                                         : QString::number(e.value(key).toInt());
        };
        const QString text = e["text"].toString();
        list << (kind == "msgbox"
                     ? "msgbox:" + text + "|" + e["title"].toString() + "|" + number("style")
                 : kind == "pointer" ? "pointer:" + number("value")
                 : kind == "window"
                     ? "window:" + e["name"].toString() + ":" + e["action"].toString()
                 : kind == "progress" ? "progress:" + text + "|" + number("answer")
                 : kind == "exit"     ? "exit:" + number("code")
                                      : kind);
    }
    return list;
}

QStringList ProgramRun::messages() const {
    QStringList list;
    for (const QJsonObject& e : eventsOf(QStringLiteral("msgbox")))
        list << e["text"].toString() + "|" + QString::number(e["style"].toInt());
    return list;
}

QJsonObject ProgramRun::control(const QString& name) const {
    return lastWindowState(QStringLiteral("frmTS0002"))["controls"][name].toObject();
}

QString newEntryScript(const QStringList& values) {
    static const QStringList names{"txtCOD_SQL", "txtDESCR_SQL", "txtDATABASE", "txtSELEZ_SQL",
                                   "txtTIPO_DATABASE"};
    QString script = "click frmTS0002.cmdNUOVO\n";
    for (int i = 0; i < values.size(); ++i)
        script +=
            "type frmTS0002." + names[i] + " " +
            QJsonDocument(QJsonArray{values[i]}).toJson(QJsonDocument::Compact).mid(1).chopped(1) +
            "\n";
    return script + "click frmTS0002.cmdAGGIORNA\n";
}

bool matches(const QString& actual, const QString& expected) {
    if (!expected.contains("…")) // a pattern as long as a large table would be too large
        return actual == expected;
    const QString pattern = QRegularExpression::escape(expected).replace("\\…", "[^¶]*");
    return QRegularExpression(QRegularExpression::anchoredPattern(pattern),
                              QRegularExpression::DotMatchesEverythingOption)
        .match(actual)
        .hasMatch();
}

QStringList sqliteRows(const QString& path, const QString& sql, const QVariantList& values,
                       bool write) {
    QStringList rows{"failed"};
    const QString name = QUuid::createUuid().toString();
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
        db.setDatabaseName(path);
        db.setConnectOptions(write ? QString() : QStringLiteral("QSQLITE_OPEN_READONLY"));
        QSqlQuery q(db);
        if (db.open() && q.prepare(sql)) {
            for (const QVariant& value : values)
                q.addBindValue(value);
            if (q.exec())
                rows.clear();
        }
        while (q.next()) {
            QStringList cells;
            for (int i = 0; i < q.record().count(); ++i)
                cells << (q.isNull(i) ? QStringLiteral("<NULL>") : q.value(i).toString());
            rows << cells.join('|');
        }
    }
    QSqlDatabase::removeDatabase(name);
    return rows;
}

QStringList catalogueRows(const QString& path) {
    return sqliteRows(path, "SELECT CODICE, DESCRIZIONE, SQL, Database, Tipo_Database FROM "
                            "SELEZIONI_SQL ORDER BY CODICE");
}

QString insertEntry(const QStringList& entry) {
    QStringList values;
    for (int i = 0; i < 5; ++i)
        values << (entry.value(i) == "<NULL>"
                       ? "NULL"
                       : "'" + QString(entry.value(i)).replace("'", "''") + "'");
    return "INSERT INTO SELEZIONI_SQL (CODICE, DESCRIZIONE, SQL, Database, Tipo_Database) VALUES "
           "(" +
           values.join(',') + ")";
}

QList<QStringList> entriesOf(const QStringList& rows) {
    QList<QStringList> entries;
    for (const QString& row : rows)
        entries << row.split('|');
    return entries;
}

Sandbox::Sandbox() {
    QDir().mkpath(runtimeDir());
    QFile::setPermissions(runtimeDir(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}

void Sandbox::writeFile(const QString& name, const QByteArray& content) const {
    QVERIFY2(writeBytes(file(name), content), qPrintable(file(name)));
}

void Sandbox::writeConfig(const QString& catalogue) const {
    writeFile(
        QStringLiteral("VELARIO.ini"),
        QStringLiteral("RELEASE=1.0\nDIR_PRG=%1/\nDIR_DBF=%2\n").arg(path(), catalogue).toUtf8());
}

QString Sandbox::makeCatalogue(const QString& name, const QList<QStringList>& entries) const {
    const QString target = file(name);
    // One transaction: a catalogue of thousands of entries is made in moments.
    QStringList sql{"BEGIN"};
    for (const QStringList& row : entries)
        sql << insertEntry(row);
    if (data::createCatalogueFile(target) || !writeSqlite(target, sql << "COMMIT"))
        qFatal("cannot make catalogue %s", qPrintable(target));
    return target;
}

QProcessEnvironment Sandbox::environment() const {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    env.insert(QStringLiteral("LC_ALL"), QStringLiteral("it_IT.UTF-8"));
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtimeDir());
    env.insert(QStringLiteral("XDG_CACHE_HOME"), file(QStringLiteral(".cache")));
    // The answers a user gives to parameters are kept there, not in the user's own folder.
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), file(QStringLiteral(".config")));
    return env;
}

ProgramRun Sandbox::run(const QString& script, const QStringList& extraArgs,
                        const QProcessEnvironment& env) const {
    const QString scriptPath = file(
        QStringLiteral("script-%1.txt").arg(QUuid::createUuid().toString(QUuid::WithoutBraces)));
    const QString transcriptPath = scriptPath + QStringLiteral(".jsonl");
    writeFile(QFileInfo(scriptPath).fileName(), script.toUtf8());
    const CommandRun run = runCommand(programBinary(),
                                      QStringList{"--program-dir", path(), "--transcript",
                                                  transcriptPath, "--script", scriptPath} +
                                          extraArgs,
                                      env.isEmpty() ? environment() : env, path(), 120000);
    return {run.exitCode, run.exitCode == -1, readTranscript(transcriptPath), run.err.toUtf8()};
}

} // namespace velario::test
