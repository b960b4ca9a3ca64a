#pragma once

#include "platform/automation.h"

#include <QJsonObject>
#include <QList>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <memory>

namespace velario::test {

// What one run of the program left behind.
struct ProgramRun {
    int exitCode = -1;
    bool crashed = false;
    QList<QJsonObject> events;
    QByteArray standardError;

    QList<QJsonObject> eventsOf(const QString& kind) const;
    // The controls of WINDOW in the last "state" event.
    QJsonObject lastWindowState(const QString& window) const;
    // "msgbox:TEXT|TITLE|STYLE", "progress:TEXT|ANSWER", "beep", "pointer:11",
    // "window:frmTS0002:load", ... in order: a compact
    // view to compare sequences with.
    QStringList summary() const;
    // "TEXT|STYLE" of each message box, in order.
    QStringList messages() const;
    // The control NAME of the catalogue window in the last "state" event.
    QJsonObject control(const QString& name) const;
};

// The script of a new entry in the catalogue window: code, description, database, SQL and
// type typed in that order (as many as VALUES holds), then "Aggiorna".
QString newEntryScript(const QStringList& values);

// Whether ACTUAL is EXPECTED, in which "…" stands for any text without a "¶" (the separator of
// lists joined into one text).
bool matches(const QString& actual, const QString& expected);

// A program folder in a temporary place, with its own runtime folder (so that copies of the
// program started by different tests never see each other's instance lock) and cache.
class Sandbox {
public:
    Sandbox();
    QString path() const { return dir_.path(); }
    QString file(const QString& name) const { return dir_.filePath(name); }

    void writeFile(const QString& name, const QByteArray& content) const;
    // A configuration whose DIR_PRG is the sandbox and DIR_DBF is CATALOGUE.
    void writeConfig(const QString& catalogue) const;
    // A new catalogue file with ENTRIES rows of (code, description, sql, database, type).
    QString makeCatalogue(const QString& name, const QList<QStringList>& entries = {}) const;

    QProcessEnvironment environment() const;
    QString runtimeDir() const { return dir_.filePath(QStringLiteral(".runtime")); }

    ProgramRun run(const QString& script, const QStringList& extraArgs = {},
                   const QProcessEnvironment& env = {}) const;

private:
    QTemporaryDir dir_;
};

QString programBinary();

// What a run of PROGRAM that is to end by itself within WAIT milliseconds wrote and its status;
// -1 when it crashed or did not end (a window waiting for its user, say).
struct CommandRun {
    int exitCode = -1;
    QByteArray out;
    QString err;
};
CommandRun runCommand(const QString& program, const QStringList& args,
                      const QProcessEnvironment& env = QProcessEnvironment::systemEnvironment(),
                      const QString& dir = {}, int wait = 60000);

// The bytes of the file at PATH; empty when it cannot be read.
QByteArray fileBytes(const QString& path);
// Replaces the content of the file at PATH with BYTES.
bool writeBytes(const QString& path, const QByteArray& bytes);

// The rows of SQL, bound to VALUES, on the SQLite file at PATH through a connection of the
// test's own, each as its cells joined by "|" with <NULL> for a Null; "failed" first when the
// statement did not run. Read-only unless WRITE, so that a missing file stays missing.
QStringList sqliteRows(const QString& path, const QString& sql, const QVariantList& values = {},
                       bool write = false);
// Every entry of the catalogue file at PATH, ordered by code, as
// code|description|sql|database|type.
QStringList catalogueRows(const QString& path);
// The statement that adds ENTRY (code, description, sql, database, type; "<NULL>" for a Null)
// to a catalogue's table.
QString insertEntry(const QStringList& entry);
// ROWS, each split at "|": entries as makeCatalogue() takes them.
QList<QStringList> entriesOf(const QStringList& rows);

// Points the program's transcript at a private file for the life of this object, and
// installs scripted dialogs, so that code run inside a test can be checked as the user
// would see it.
class InProcess {
public:
    InProcess();
    ~InProcess();
    QList<QJsonObject> events() const;
    QStringList summary() const;
    QString transcriptPath() const { return dir_.filePath(QStringLiteral("transcript.jsonl")); }
    velario::ScriptedDialogs& dialogs() const { return *dialogs_; }

private:
    QTemporaryDir dir_;
    velario::ScriptedDialogs* dialogs_ = nullptr;
};

} // namespace velario::test
