#pragma once

#include <QString>

class QTextStream;

namespace velario {

// What the program does without windows, from the command line. Each reads the configuration
// in PROGRAMDIR and the catalogue it names as start-up does, says on ERR what went wrong in
// the windows' words, and returns the exit status: 0 done, 1 the entry could not run (unknown
// code, SQL error, target unreachable), 2 the configuration, the catalogue or the output file
// could not be used.
namespace command_line {

enum Status : int { Done = 0, EntryFailed = 1, SetupFailed = 2 };

// Prints the catalogue, one entry a line: code, type, database and description, tab-separated.
int listCatalogue(const QString& programDir, QTextStream& out, QTextStream& err);

// Runs the entry CODE against its target, read-only, and writes its result as CSV to FILE
// (replaced only once the whole result is written), or to standard output when FILE is empty.
int runEntry(const QString& programDir, const QString& code, const QString& file, QTextStream& err);

// The Italian help text, every option of the program.
QString helpText();

} // namespace command_line

} // namespace velario
