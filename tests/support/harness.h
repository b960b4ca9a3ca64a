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
};

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
