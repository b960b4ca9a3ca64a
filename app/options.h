#pragma once

#include <QDateTime>
#include <QList>
#include <QPair>
#include <QString>
#include <QStringList>

#include <optional>

namespace velario {

// What the command line asks of the program, read before anything else (no display, no
// configuration): an option the program does not take is refused here, whatever it asks.
struct Options {
    enum class Mode {
        Windows, // the catalogue window
        Run,     // --run CODE: the entry's result as CSV, without windows
        List,    // --list: the catalogue, without windows
        Help,
        Version,
    };
    Mode mode = Mode::Windows;
    std::optional<QString> programDir; // --program-dir; else the folders searched by default

    // With windows only.
    QString transcript;
    QString script;
    QString printTo;
    QDateTime clock; // invalid: the real clock

    // With --run only.
    QString code;
    QString csvFile; // empty: standard output
    // --param NAME=VALUE, in the order given: the values of the entry's parameters.
    QList<QPair<QString, QString>> parameters;

    bool needsWindows() const { return mode == Mode::Windows; }
};

// Reads ARGUMENTS (the program's name left out). Nullopt, and in ERROR the Italian text that
// names the option at fault, when they cannot be taken as they are: an option the program
// does not know, one given twice, a value missing (an option where the value should be is
// not taken as the value), a value given to an option that takes none, options that do not
// go together (--csv without --run, --run with --list, the windows' options with either), a
// --param without NAME= or naming a parameter again. --param alone may be given more than once.
// A value that starts with "-" is given as --option=value.
std::optional<Options> parseOptions(const QStringList& arguments, QString* error);

// The Italian help text, every option of the program.
QString helpText();

} // namespace velario
