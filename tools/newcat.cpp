// Creates a catalogue file: empty (velario-newcat FILE), or with the entries of an Access
// catalogue (velario-newcat --from OLD.mdb NEW.db).
#include "data/catalogue/access_catalogue_import.h"
#include "data/catalogue/catalogue_schema.h"
#include "data/catalogue/catalogue_store.h"
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
                           "     velario-newcat --help | --version\n";

const char* const kHelp =
    "Crea un catalogo di selezioni SQL per velario, un file SQLite nuovo (un file che esiste\n"
    "già non viene toccato).\n"
    "\n"
    "  velario-newcat FILE                        un catalogo vuoto\n"
    "  velario-newcat --from CATALOGO.mdb FILE    un catalogo con le selezioni della tabella\n"
    "                                             SELEZIONI_SQL di un catalogo Access\n"
    "                                             (.mdb o .accdb)\n"
    "  --help                                     mostra questo aiuto\n"
    "  --version                                  mostra il nome e la versione\n"
    "\n"
    "Un FILE il cui nome comincia con '-' si scrive ./-FILE, oppure dopo '--'.\n"
    "Stato di uscita: 0 creato, 1 non creato, 2 argomenti errati.\n";

// What the command line asks for; the error text when it cannot be taken.
struct Request {
    enum { Empty, FromAccess, Help, Version, Bad } kind = Bad;
    QString access;
    QString file;
    QString error;
};

Request bad(const QString& why) {
    return {Request::Bad, {}, {}, why};
}

Request parse(const QStringList& args) {
    QStringList operands;
    bool from = false;
    bool options = true;
    for (const QString& arg : args) {
        if (options && arg == QLatin1String("--")) {
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
        const QString entries = copied == 1 ? QStringLiteral("1 selezione copiata")
                                            : QStringLiteral("%1 selezioni copiate").arg(copied);
        out << entries << " in '" << request.file << "'.\n";
        if (!longCodes.isEmpty())
            out << "Codici più lunghi dei " << velario::data::kCodeWidth
                << " caratteri del campo Codice (la finestra li mostra interi; non si possono "
                   "digitare):\n  "
                << longCodes.join(QStringLiteral("\n  ")) << '\n';
    }
    return 0;
}
