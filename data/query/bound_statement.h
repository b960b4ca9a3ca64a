#pragma once

#include "data/errors.h"
#include "data/query/query_parameters.h"

#include <QList>
#include <QPair>
#include <QString>

#include <optional>
#include <vector>

class QLocale;

namespace velario::data {

// What the user answered for each parameter, by its name (any letter case), as typed.
using ParameterAnswers = QList<QPair<QString, QString>>;

// The answer ANSWERS give NAME, in any letter case; nullopt when they give none.
std::optional<QString> answerFor(const ParameterAnswers& answers, const QString& name);

// A statement as an engine runs it: the text with `?` where each value goes, and the values
// in the order of the `?`. Without values it is the entry's text as it is.
struct BoundStatement {
    QString text;
    std::vector<ParameterValue> values;

    bool hasValues() const { return !values.empty(); }
};

// SQL with its parameters' answers bound, decimals read in LOCALE; a parameter ANSWERS do not
// name is NULL. SQL without parameters stays as it is. A text with `?` of its own besides its
// parameters is refused (ERROR set, the text unbound): no engine could tell which value is
// whose.
BoundStatement bindAnswers(const QString& sql, const ParameterAnswers& answers,
                           const QLocale& locale, Error* error);

// STATEMENT wrapped so that the engine orders its rows by COLUMN (0-based) of its result,
// DESCENDING or not: any statement the engine can run as a derived table can be ordered.
// The values stay as they are: the wrapping adds no `?`.
BoundStatement sortedStatement(const BoundStatement& statement, int column, bool descending);

// SQL without the blanks and semicolons that close it, so that it can stand inside
// parentheses.
QString bareStatement(const QString& sql);

} // namespace velario::data
