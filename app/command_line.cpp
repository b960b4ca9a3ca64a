#include "command_line.h"

#include "config.h"
#include "data/catalogue/catalogue.h"
#include "data/odbc/odbc.h"
#include "data/query/query_parameters.h"
#include "data/results/csv_writer.h"
#include "data/results/output_file.h"
#include "data/sqlite/database.h"
#include "open_catalogue.h"
#include "platform/platform.h"

#include <QDir>
#include <QLocale>
#include <QTextStream>

#include <memory>

namespace velario::command_line {

namespace {

// Messages of the windows separate their parts with CR; a terminal wants LF.
void say(QTextStream& err, const QString& message) {
    err << QString(message).replace(QLatin1Char('\r'), QLatin1Char('\n')) << '\n';
    err.flush();
}

// FILE empty: standard output.
QString cannotWrite(const QString& file, const QString& why) {
    if (file.isEmpty())
        return QStringLiteral("Impossibile scrivere sullo standard output: ") + why;
    return QStringLiteral("Impossibile scrivere il file %1: %2")
        .arg(QDir::toNativeSeparators(file), why);
}

// The catalogue as start-up finds it, a file opened only for reading; null after telling ERR
// why.
std::unique_ptr<data::Catalogue> readCatalogue(QTextStream& err) {
    const QString file = configurationFileIn(platform().programDir());
    const std::optional<Configuration> config =
        file.isEmpty() ? std::nullopt : readConfiguration(file);
    if (!config) {
        say(err, missingConfigurationMessage(platform().programDirSearched()));
        return nullptr;
    }
    if (config->dirPrg.trimmed().isEmpty()) {
        say(err, QStringLiteral("Manca Directory Programma"));
        return nullptr;
    }
    const QString location = catalogueLocation(config->dirDbf);
    Error error;
    std::unique_ptr<data::Catalogue> catalogue = openCatalogue(location, true, &error);
    if (!catalogue)
        say(err, catalogueOpeningMessage(error, location));
    return catalogue;
}

// The names of SQL's parameters as --list shows them; empty without any.
QString parameterNames(const QString& sql) {
    return data::findQueryParameters(sql.trimmed()).names.join(QStringLiteral(", "));
}

// An entry's field as --list writes it: blanks trimmed, a tab or line end a blank, so that an
// entry stays one line.
QString listField(const std::optional<QString>& field) {
    QString text = field.value_or(QString()).trimmed();
    for (QChar& c : text)
        if (c == QLatin1Char('\t') || c == QLatin1Char('\n') || c == QLatin1Char('\r'))
            c = QLatin1Char(' ');
    return text;
}

// The result of ENTRY, as the result window opens it; the engine objects it needs are kept in
// DATABASE or CONNECTION, which must outlive it.
std::unique_ptr<data::ResultSource> openEntry(const data::CatalogueEntry& entry,
                                              const data::ParameterAnswers& answers,
                                              std::unique_ptr<data::Database>& database,
                                              std::unique_ptr<data::OdbcConnection>& connection,
                                              Error* error) {
    const QString sql = entry.sql.trimmed();
    const QString target = entry.database.trimmed();
    const bool file = entry.databaseType.trimmed() == QLatin1String("MDB");
    const data::BoundStatement statement = data::bindAnswers(
        file ? data::recordSourceStatement(sql) : sql, answers, QLocale::system(), error);
    if (*error)
        return nullptr;
    if (file) {
        database = data::Database::open(target, true, error);
        return database ? database->execute(statement, error) : nullptr;
    }
    connection = data::OdbcConnection::connect(target, error, statement.hasValues());
    return connection ? connection->execute(statement, error) : nullptr;
}

// A message naming the first parameter of SQL that PARAMETERS give no value, or the first of
// PARAMETERS that SQL does not have; empty when each has its value.
QString unmatchedParameter(const QString& code, const QString& sql,
                           const data::ParameterAnswers& parameters) {
    const QStringList names = data::findQueryParameters(sql.trimmed()).names;
    for (const QString& name : names)
        if (!data::answerFor(parameters, name))
            return QStringLiteral("Manca il valore del parametro :%1 (--param %1=VALORE)")
                .arg(name);
    for (const auto& [name, value] : parameters)
        if (!names.contains(name, Qt::CaseInsensitive))
            return QStringLiteral("La selezione %1 non ha il parametro :%2").arg(code, name);
    return {};
}

} // namespace

int listCatalogue(QTextStream& out, QTextStream& err) {
    const std::unique_ptr<data::Catalogue> catalogue = readCatalogue(err);
    if (!catalogue)
        return SetupFailed;
    const Error error = catalogue->forEachEntry([&](const data::StoredEntry& entry) {
        out << listField(entry.code) << '\t' << listField(entry.databaseType) << '\t'
            << listField(entry.database) << '\t' << listField(entry.description);
        // The statement itself is not shown: its parameters' names are, when it has any.
        if (const QString names = parameterNames(entry.sql.value_or(QString())); !names.isEmpty())
            out << '\t' << names;
        out << '\n';
        return true;
    });
    out.flush();
    if (error) {
        say(err, QStringLiteral("Errore SQL: ") + error.description);
        return SetupFailed;
    }
    return Done;
}

int runEntry(const QString& code, const QString& file, const data::ParameterAnswers& parameters,
             QTextStream& err) {
    const std::unique_ptr<data::Catalogue> catalogue = readCatalogue(err);
    if (!catalogue)
        return SetupFailed;
    std::optional<data::StoredEntry> stored;
    Error error = catalogue->lookUp(code.trimmed(), &stored);
    if (error) {
        say(err, QStringLiteral("Errore SQL: ") + error.description);
        return SetupFailed;
    }
    if (!stored) {
        say(err, QStringLiteral("Codice %1 non presente in archivio !!!").arg(code.trimmed()));
        return EntryFailed;
    }
    const data::CatalogueEntry entry = stored->shown();
    if (entry.sql.isEmpty()) {
        say(err, QStringLiteral("Nessuna stringa SQL da eseguire !!!"));
        return EntryFailed;
    }
    if (const QString unmatched = unmatchedParameter(code.trimmed(), entry.sql, parameters);
        !unmatched.isEmpty()) {
        say(err, unmatched);
        return SetupFailed;
    }

    std::unique_ptr<data::Database> database;
    std::unique_ptr<data::OdbcConnection> connection;
    std::unique_ptr<data::ResultSource> result =
        openEntry(entry, parameters, database, connection, &error);
    if (!result) {
        say(err, QStringLiteral("Errore SQL: ") + error.description);
        return EntryFailed;
    }

    const std::unique_ptr<data::OutputFile> output =
        file.isEmpty() ? data::OutputFile::standardOutput(&error)
                       : data::OutputFile::open(file, true, &error);
    if (!output) {
        say(err, cannotWrite(file, error.description));
        return SetupFailed;
    }
    data::CsvWriter writer(*output, data::localeCsvSeparator());
    error = data::writeCsv(*result, writer);
    result.reset();
    if (error && !writer.error()) {
        say(err, QStringLiteral("Errore SQL: ") + error.description);
        return EntryFailed;
    }
    if (!error)
        error = output->commit();
    if (error) {
        say(err,
            cannotWrite(file, writer.error() ? writer.error().description : error.description));
        return SetupFailed;
    }
    return Done;
}

} // namespace velario::command_line
