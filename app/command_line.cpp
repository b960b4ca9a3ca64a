#include "command_line.h"

#include "config.h"
#include "data/catalogue/catalogue_store.h"
#include "data/odbc/odbc.h"
#include "data/results/csv_writer.h"
#include "data/sqlite/database.h"

#include <QDir>
#include <QFile>
#include <QSaveFile>
#include <QTextStream>

#include <memory>

namespace velario::command_line {

namespace {

const QString kConfigFile = QStringLiteral("VELARIO.ini");
const QString kFallbackCatalogue = QStringLiteral("C:\\BASE\\VELARIO\\VELARIO2.MDB");

// Messages of the windows separate their parts with CR; a terminal wants LF.
void say(QTextStream& err, const QString& message) {
    err << QString(message).replace(QLatin1Char('\r'), QLatin1Char('\n')) << '\n';
    err.flush();
}

QString errorNumberText(int number) {
    return number >= 0 ? QStringLiteral(" %1").arg(number) : QString::number(number);
}

// The catalogue as start-up finds it, opened only for reading; null after telling ERR why.
std::unique_ptr<data::Database> openCatalogue(const QString& programDir, QTextStream& err) {
    const std::optional<Configuration> config =
        readConfiguration(programDir + QDir::separator() + kConfigFile);
    if (!config) {
        say(err, QStringLiteral("File di configurazione  VELARIO.INI  assente !!!"));
        return nullptr;
    }
    if (config->dirPrg.trimmed().isEmpty()) {
        say(err, QStringLiteral("Manca Directory Programma"));
        return nullptr;
    }
    const QString path =
        config->dirDbf.contains(QLatin1String("ODBC")) ? kFallbackCatalogue : config->dirDbf;
    Error error;
    std::unique_ptr<data::Database> catalogue = data::Database::open(path, true, &error);
    if (catalogue)
        error = data::checkCatalogue(*catalogue);
    if (error) {
        say(err, QStringLiteral("ERRORE IN APERTURA DATABASE !!!\r\r") +
                     errorNumberText(error.number) + QStringLiteral(" - ") + error.description +
                     QStringLiteral("\r\r") + path);
        return nullptr;
    }
    return catalogue;
}

// Writes each row as its cells, blanks trimmed, tab-separated; a tab or line end inside a
// value becomes a blank, so that an entry stays one line.
class ListLines final : public data::RowSink {
public:
    explicit ListLines(QTextStream& out) : out_(out) {}
    void beginRow() override { first_ = true; }
    void cell(const char* utf8, qsizetype length) override {
        QString text = QString::fromUtf8(utf8, length).trimmed();
        for (QChar& c : text)
            if (c == QLatin1Char('\t') || c == QLatin1Char('\n') || c == QLatin1Char('\r'))
                c = QLatin1Char(' ');
        separate();
        out_ << text;
    }
    void nullCell() override { separate(); }
    void endRow() override { out_ << '\n'; }

private:
    void separate() {
        if (!first_)
            out_ << '\t';
        first_ = false;
    }
    QTextStream& out_;
    bool first_ = true;
};

// The result of ENTRY, as the result window opens it; the engine objects it needs are kept in
// DATABASE or CONNECTION, which must outlive it.
std::unique_ptr<data::ResultSource> openEntry(const data::CatalogueEntry& entry,
                                              std::unique_ptr<data::Database>& database,
                                              std::unique_ptr<data::OdbcConnection>& connection,
                                              Error* error) {
    const QString sql = entry.sql.trimmed();
    const QString target = entry.database.trimmed();
    if (entry.databaseType.trimmed() == QLatin1String("MDB")) {
        database = data::Database::open(target, true, error);
        return database ? database->execute(data::recordSourceStatement(sql), error) : nullptr;
    }
    connection = data::OdbcConnection::connect(target, error);
    return connection ? connection->execute(sql, error) : nullptr;
}

} // namespace

int listCatalogue(const QString& programDir, QTextStream& out, QTextStream& err) {
    const std::unique_ptr<data::Database> catalogue = openCatalogue(programDir, err);
    if (!catalogue)
        return SetupFailed;
    Error error;
    const std::unique_ptr<data::ResultSource> list = catalogue->execute(
        QStringLiteral("SELECT CODICE, Tipo_Database, Database, DESCRIZIONE FROM SELEZIONI_SQL "
                       "ORDER BY CODICE"),
        &error);
    ListLines lines(out);
    while (list && !list->atEnd() && list->fetch(1024, lines) > 0) {
    }
    out.flush();
    if (list && !error)
        error = list->error();
    if (error) {
        say(err, QStringLiteral("Errore SQL: ") + error.description);
        return SetupFailed;
    }
    return Done;
}

int runEntry(const QString& programDir, const QString& code, const QString& file,
             QTextStream& err) {
    const std::unique_ptr<data::Database> catalogue = openCatalogue(programDir, err);
    if (!catalogue)
        return SetupFailed;
    Error error;
    data::CatalogueEntry entry;
    {
        const std::unique_ptr<data::Recordset> lookup =
            data::openCatalogueLookup(catalogue.get(), code.trimmed(), &error);
        if (lookup && !error && lookup->recordCount() == 0) {
            say(err, QStringLiteral("Codice %1 non presente in archivio !!!").arg(code.trimmed()));
            return EntryFailed;
        }
        if (lookup && !error)
            error = data::readCatalogueEntry(*lookup, &entry);
    }
    if (error) {
        say(err, QStringLiteral("Errore SQL: ") + error.description);
        return SetupFailed;
    }
    if (entry.sql.trimmed().isEmpty()) {
        say(err, QStringLiteral("Nessuna stringa SQL da eseguire !!!"));
        return EntryFailed;
    }

    std::unique_ptr<data::Database> database;
    std::unique_ptr<data::OdbcConnection> connection;
    std::unique_ptr<data::ResultSource> result = openEntry(entry, database, connection, &error);
    if (!result) {
        say(err, QStringLiteral("Errore SQL: ") + error.description);
        return EntryFailed;
    }

    // A file is written under another name and takes its own only once the whole result is
    // in it.
    QSaveFile saved(file);
    QFile standardOutput;
    QFileDevice& device = file.isEmpty() ? static_cast<QFileDevice&>(standardOutput) : saved;
    const bool opened = file.isEmpty() ? standardOutput.open(stdout, QIODevice::WriteOnly)
                                       : saved.open(QIODevice::WriteOnly);
    if (!opened) {
        say(err, QStringLiteral("Impossibile scrivere il file %1: %2")
                     .arg(QDir::toNativeSeparators(file), device.errorString()));
        return SetupFailed;
    }
    data::CsvWriter writer(device, data::localeCsvSeparator());
    error = data::writeCsv(*result, writer);
    result.reset();
    if (error) {
        say(err, writer.error() ? QStringLiteral("Impossibile scrivere il file %1: %2")
                                      .arg(QDir::toNativeSeparators(file), error.description)
                                : QStringLiteral("Errore SQL: ") + error.description);
        return writer.error() ? SetupFailed : EntryFailed;
    }
    if (!file.isEmpty() && !saved.commit()) {
        say(err, QStringLiteral("Impossibile scrivere il file %1: %2")
                     .arg(QDir::toNativeSeparators(file), saved.errorString()));
        return SetupFailed;
    }
    return Done;
}

QString helpText() {
    return QStringLiteral(
        "Uso: velario [opzioni]\n"
        "     velario --run CODICE [--csv FILE] [--program-dir CARTELLA]\n"
        "     velario --list [--program-dir CARTELLA]\n"
        "\n"
        "Senza --run e --list apre la finestra del catalogo delle selezioni SQL.\n"
        "\n"
        "Opzioni:\n"
        "  --program-dir CARTELLA  cartella del programma, dove si legge VELARIO.ini\n"
        "                          (predefinita: quella dell'eseguibile se contiene\n"
        "                          VELARIO.ini, altrimenti ~/.config/velario o\n"
        "                          /etc/xdg/velario, la prima che lo contiene)\n"
        "  --run CODICE            esegue la selezione CODICE del catalogo, senza finestre, e\n"
        "                          ne scrive il risultato in formato CSV\n"
        "  --csv FILE              con --run: scrive il CSV in FILE invece che sullo standard\n"
        "                          output; il file appare solo a risultato completo\n"
        "  --list                  elenca il catalogo, una selezione per riga: codice, tipo,\n"
        "                          database e descrizione separati da tabulazioni\n"
        "  --transcript FILE       aggiunge a FILE ogni evento che l'utente vedrebbe\n"
        "  --script FILE           esegue i passi di FILE dopo l'avvio, poi termina\n"
        "  --print-to CARTELLA     scrive le stampe come file PDF in CARTELLA\n"
        "  --clock QUANDO          usa questa data e ora (ISO 8601) come attuali\n"
        "  --version               mostra il nome e la versione del programma\n"
        "  --help                  mostra questo aiuto\n"
        "\n"
        "Il CSV separa le celle con ';' dove i decimali si scrivono con la virgola (come in\n"
        "italiano), altrimenti con ','. Stato di uscita di --run e --list: 0 riuscito,\n"
        "1 selezione non eseguibile (codice sconosciuto, errore SQL, database non\n"
        "raggiungibile), 2 configurazione, catalogo o file di uscita non utilizzabili.\n");
}

} // namespace velario::command_line
