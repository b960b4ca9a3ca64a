#pragma once

#include "data/query/bound_statement.h"

#include <QString>

namespace velario::data {

// The answers a user last gave to each entry's parameters, kept in a file of that user's own
// (never in the catalogue, which others share): a JSON object with an object for each entry's
// code, which gives each parameter's name (in lower case) the answer as it was typed. A file
// that cannot be read gives no answers and one that cannot be written keeps the old ones:
// neither stops a run.
class RememberedAnswers {
public:
    explicit RememberedAnswers(QString file) : file_(std::move(file)) {}

    // What was answered last for NAME of the entry CODE; empty when nothing was.
    QString answer(const QString& code, const QString& name) const;
    // ANSWERS are the entry CODE's last; false when the file could not be written.
    bool remember(const QString& code, const ParameterAnswers& answers) const;

private:
    QString file_;
};

} // namespace velario::data
