#pragma once

#include "data/query/bound_statement.h"

#include <QString>

class QTextStream;

namespace velario {

// What the program does without windows, from the command line. Each reads the configuration
// in the program folder (Platform::programDir) and the catalogue it names as start-up does,
// says on ERR what went wrong in the windows' words, and returns the exit status: 0 done, 1
// the entry could not run (unknown code, SQL error, target unreachable), 2 the
// configuration, the catalogue or the output file could not be used (or the command line).
namespace command_line {

enum Status : int { Done = 0, EntryFailed = 1, SetupFailed = 2 };

// Prints the catalogue, one entry a line: code, type, database and description, tab-separated,
// then, for an entry whose statement has parameters, their names separated by ", ".
int listCatalogue(QTextStream& out, QTextStream& err);

// Runs the entry CODE against its target, read-only, and writes its result as CSV to FILE, as
// data::OutputFile writes (an ordinary file appears only once the whole result is in it), or
// to standard output when FILE is empty. When the result fails part way, a stream has had
// every whole row read before the failure. PARAMETERS give the values of the statement's
// parameters: each must be given one, and name one of them (SetupFailed, nothing asked).
int runEntry(const QString& code, const QString& file, const data::ParameterAnswers& parameters,
             QTextStream& err);

} // namespace command_line

} // namespace velario
