#include "data/query/bound_statement.h"

namespace velario::data {

std::optional<QString> answerFor(const ParameterAnswers& answers, const QString& name) {
    for (const auto& [given, answer] : answers)
        if (given.compare(name, Qt::CaseInsensitive) == 0)
            return answer;
    return std::nullopt;
}

BoundStatement bindAnswers(const QString& sql, const ParameterAnswers& answers,
                           const QLocale& locale, Error* error) {
    const QueryParameters found = findQueryParameters(sql);
    if (found.isEmpty())
        return {sql, {}};
    if (found.ownMarkers > 0) {
        if (error)
            *error = Error::make(ErrorNumber::SyntaxError,
                                 QStringLiteral("Il testo SQL usa sia parametri con nome (:%1) sia "
                                                "il segnaposto ?: si usino solo i parametri con "
                                                "nome.")
                                     .arg(found.names.first()));
        return {sql, {}};
    }
    std::vector<ParameterValue> byName;
    for (const QString& name : found.names)
        byName.push_back(parameterValue(answerFor(answers, name).value_or(QString()), locale));
    BoundStatement bound{found.positional, {}};
    for (const int slot : found.order)
        bound.values.push_back(byName[size_t(slot)]);
    return bound;
}

QString bareStatement(const QString& sql) {
    qsizetype end = sql.size();
    while (end > 0 && (sql.at(end - 1).isSpace() || sql.at(end - 1) == QLatin1Char(';')))
        --end;
    return sql.left(end);
}

BoundStatement sortedStatement(const BoundStatement& statement, int column, bool descending) {
    // The line ends keep a closing "--" comment of the statement inside the parentheses.
    return {QStringLiteral("SELECT * FROM (\n%1\n) AS velario_sorted ORDER BY %2%3")
                .arg(bareStatement(statement.text))
                .arg(column + 1)
                .arg(descending ? QStringLiteral(" DESC") : QString()),
            statement.values};
}

} // namespace velario::data
