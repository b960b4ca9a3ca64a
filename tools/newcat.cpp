// Creates a catalogue: a file, empty (velario-newcat FILE) or with the entries of an Access
// catalogue (velario-newcat --from OLD.mdb NEW.db); or the tables of a catalogue on a
// PostgreSQL server, empty (velario-newcat --to URI) or with the entries of a local catalogue
// (velario-newcat --from FILE --to URI).
#include "data/catalogue/access_catalogue_import.h"
#include "data/catalogue/catalogue_schema.h"
#include "data/catalogue/catalogue_store.h"
#include "data/catalogue/server_catalogue.h"
#include "data/postgres/pg_connection.h"
#include "data/system_error.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QTextStream>

#include <cerrno>
#include <unistd.h>

namespace {

const char* const kUsage = "Uso: velario-newcat FILE\n"
                           "     velario-newcat --from CATALOGO_ACCESS.mdb FILE\n"
                           "     velario-newcat [--from FILE] --to URI\n"
                           "     velario-newcat --help | --version\n";

const char* const kHelp =
    "Crea un catalogo di selezioni SQL per velario, un file SQLite nuovo (un file che esiste\n"
    "già non viene toccato).\n"
    "\n"
    "  velario-newcat FILE                        un catalogo vuoto\n"
    "  velario-newcat --from CATALOGO.mdb FILE    un catalogo con le selezioni della tabella\n"
    "                                             SELEZIONI_SQL di un catalogo Access\n"
    "                                             (.mdb o .accdb)\n"
    "  velario-newcat --to URI                    le tabelle di un catalogo vuoto nel database\n"
    "                                             PostgreSQL dell'URI\n"
    "                                             (postgresql://server:porta/database), che\n"
    "                                             non deve avere già la tabella SELEZIONI_SQL\n"
    "  velario-newcat --from FILE --to URI        lo stesso, con tutte le selezioni del\n"
    "                                             catalogo FILE (SQLite o Access), o nessuna\n"
    "                                             se la copia non riesce\n"
    "  --help                                     mostra questo aiuto\n"
    "  --version                                  mostra il nome e la versione\n"
    "\n"
    "La password del server non va nell'URI: va nel file ~/.pgpass o in PGPASSWORD.\n"
    "Un FILE il cui nome comincia con '-' si scrive ./-FILE, oppure dopo '--'.\n"
    "Stato di uscita: 0 creato, 1 non creato, 2 argomenti errati.\n";

// What the command line asks for; the error text when it cannot be taken.
struct Request {
    enum { Empty, FromAccess, ToServer, Help, Version, Bad } kind = Bad;
    QString access; // with --to: the local catalogue to copy, empty for none
    QString file;   // with --to: the URI
    QString error;
};

Request bad(const QString& why) {
    return {Request::Bad, {}, {}, why};
}

Request parse(const QStringList& args) {
    QStringList operands;
    bool from = false;
    std::optional<QString> to;
    bool options = true;
    for (qsizetype i = 0; i < args.size(); ++i) {
        const QString& arg = args[i];
        if (options && arg == QLatin1String("--to")) {
            if (to)
                return bad(QStringLiteral("l'opzione --to è data due volte"));
            if (i + 1 == args.size() || !velario::data::isServerUri(args[i + 1]))
                return bad(QStringLiteral("--to vuole l'URI di un database PostgreSQL "
                                          "(postgresql://server:porta/database)"));
            to = args[++i];
        } else if (options && arg == QLatin1String("--")) {
            options = false;
        } else if (options && arg == QLatin1String("--help")) {
            return {Request::Help, {}, {}, {}};
        } else if (options && arg == QLatin1String("--version")) {
            return {Request::Version, {}, {}, {}};
        } else if (options && arg == QLatin1String("--from")) {
            if (from)
                return bad(QStringLiteral("l'opzione --from è data due volte"));
            from = true;
        } else if (options && arg.size() > 1 && arg.startsWith(QLatin1Char('-'))) {
            return bad(QStringLiteral("opzione sconosciuta: %1").arg(arg));
        } else {
            operands << arg;
        }
    }
    if (to && from && operands.size() == 1)
        return {Request::ToServer, operands[0], *to, {}};
    if (to && from)
        return bad(QStringLiteral("con --to, --from vuole un solo file, il catalogo da copiare"));
    if (to && operands.isEmpty())
        return {Request::ToServer, {}, *to, {}};
    if (to)
        return bad(QStringLiteral("con --to non si indica un FILE: il catalogo si crea nel "
                                  "database dell'URI"));
    if (from && operands.size() == 2)
        return {Request::FromAccess, operands[0], operands[1], {}};
    if (from)
        return bad(QStringLiteral("--from vuole due file, il catalogo Access e il nuovo catalogo"));
    if (operands.size() == 1)
        return {Request::Empty, {}, operands[0], {}};
    return bad(operands.isEmpty() ? QStringLiteral("manca il FILE da creare")
                                  : QStringLiteral("un solo FILE per volta"));
}

// Why a new file cannot be made at PATH, in Italian; empty when its folder takes one. The
// engine's own message for these would be English, and say less.
QString folderProblem(const QString& path) {
    const QString folder = QFileInfo(path).absolutePath();
    const QFileInfo info(folder);
    if (!info.exists())
        return QStringLiteral("la cartella %1 non esiste").arg(QDir::toNativeSeparators(folder));
    if (!info.isDir())
        return QStringLiteral("%1 non è una cartella").arg(QDir::toNativeSeparators(folder));
    if (::access(QFile::encodeName(folder).constData(), W_OK | X_OK) != 0)
        return velario::data::systemErrorText(errno);
    return {};
}

// What a copy says of the codes a user could not type.
void sayLongCodes(QTextStream& out, const QStringList& longCodes) {
    if (!longCodes.isEmpty())
        out << "Codici più lunghi dei " << velario::data::kCodeWidth
            << " caratteri del campo Codice (la finestra li mostra interi; non si possono "
               "digitare):\n  "
            << longCodes.join(QStringLiteral("\n  ")) << '\n';
}

QString copiedEntries(qint64 copied) {
    return copied == 1 ? QStringLiteral("1 selezione copiata")
                       : QStringLiteral("%1 selezioni copiate").arg(copied);
}

int toServer(const Request& request, QTextStream& out, QTextStream& err) {
    velario::Error e;
    const std::optional<velario::data::ServerAddress> address =
        velario::data::readServerAddress(request.file, &e);
    qint64 copied = 0;
    QStringList longCodes;
    if (address)
        e = velario::data::createServerCatalogue(*address, request.access, &copied, &longCodes);
    if (e) {
        err << "velario-newcat: " << e.description << '\n';
        return 1;
    }
    if (!request.access.isEmpty()) {
        out << copiedEntries(copied) << " in '" << address->shown << "'.\n";
        sayLongCodes(out, longCodes);
    }
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QTextStream out(stdout);
    QTextStream err(stderr);
    const Request request = parse(app.arguments().mid(1));
    switch (request.kind) {
    case Request::Help:
        out << kUsage << '\n' << kHelp;
        return 0;
    case Request::Version:
        out << "velario-newcat " << VELARIO_VERSION << '\n';
        return 0;
    case Request::Bad:
        err << "velario-newcat: " << request.error << '\n' << kUsage;
        return 2;
    case Request::ToServer:
        return toServer(request, out, err);
    case Request::Empty:
    case Request::FromAccess:
        break;
    }
    if (const QString problem = folderProblem(request.file); !problem.isEmpty()) {
        err << "velario-newcat: impossibile creare il file " << request.file << ": " << problem
            << '\n';
        return 1;
    }
    const bool from = request.kind == Request::FromAccess;
    qint64 copied = 0;
    QStringList longCodes;
    const velario::Error e = from ? velario::data::importAccessCatalogue(
                                        request.access, request.file, &copied, &longCodes)
                                  : velario::data::createCatalogueFile(request.file);
    if (e) {
        err << "velario-newcat: " << e.description << '\n';
        return 1;
    }
    if (from) {
        out << copiedEntries(copied) << " in '" << request.file << "'.\n";
        sayLongCodes(out, longCodes);
    }
    return 0;
}
