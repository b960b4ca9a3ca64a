#include "options.h"

#include <QHash>

#include <functional>

namespace velario {

namespace {

// Which command an option belongs to.
enum class Scope {
    Any,     // every command that reads the configuration
    Windows, // the windows only
    Run,     // --run only
    Command, // chooses the command itself
};

struct KnownOption {
    const char* name;
    const char* value; // the value's name in the help; null for an option without one
    Scope scope;
    bool repeatable;
    std::function<void(Options&, const QString&)> take;
};

const QList<KnownOption>& knownOptions() {
    static const QList<KnownOption> options{
        {"program-dir", "CARTELLA", Scope::Any, false,
         [](Options& o, const QString& v) { o.programDir = v; }},
        {"transcript", "FILE", Scope::Windows, false,
         [](Options& o, const QString& v) { o.transcript = v; }},
        {"script", "FILE", Scope::Windows, false,
         [](Options& o, const QString& v) { o.script = v; }},
        {"print-to", "CARTELLA", Scope::Windows, false,
         [](Options& o, const QString& v) { o.printTo = v; }},
        {"clock", "QUANDO", Scope::Windows, false,
         [](Options& o, const QString& v) { o.clock = QDateTime::fromString(v, Qt::ISODate); }},
        {"run", "CODICE", Scope::Command, false,
         [](Options& o, const QString& v) {
             o.mode = Options::Mode::Run;
             o.code = v;
         }},
        {"csv", "FILE", Scope::Run, false, [](Options& o, const QString& v) { o.csvFile = v; }},
        {"param", "NOME=VALORE", Scope::Run, true,
         [](Options& o, const QString& v) {
             const qsizetype equals = v.indexOf(QLatin1Char('='));
             o.parameters.append({v.left(equals).trimmed(), v.mid(equals + 1)});
         }},
        {"list", nullptr, Scope::Command, false,
         [](Options& o, const QString&) { o.mode = Options::Mode::List; }},
        {"version", nullptr, Scope::Command, false, {}},
        {"help", nullptr, Scope::Command, false, {}},
    };
    return options;
}

const KnownOption* findOption(const QString& name) {
    for (const KnownOption& known : knownOptions())
        if (name == QLatin1String(known.name))
            return &known;
    return nullptr;
}

bool looksLikeOption(const QString& argument) {
    return argument.size() > 1 && argument.startsWith(QLatin1Char('-'));
}

QString option(const KnownOption& known) {
    return QStringLiteral("--") + QLatin1String(known.name);
}

// Whether VALUE, given to --param, names a parameter (NAME=, the value may be empty: NULL) not
// named by an earlier --param of GIVEN; else says why in ERROR.
bool takeParameter(const QString& value, const QList<std::pair<const KnownOption*, QString>>& given,
                   QString* error) {
    const QString name = value.left(value.indexOf(QLatin1Char('='))).trimmed();
    if (!value.contains(QLatin1Char('=')) || name.isEmpty()) {
        *error = QStringLiteral("l'opzione --param vuole NOME=VALORE, non '%1'").arg(value);
        return false;
    }
    for (const auto& [known, earlier] : given) {
        if (known->repeatable && earlier.left(earlier.indexOf(QLatin1Char('=')))
                                         .trimmed()
                                         .compare(name, Qt::CaseInsensitive) == 0) {
            *error = QStringLiteral("il parametro %1 è dato più di una volta").arg(name);
            return false;
        }
    }
    return true;
}

} // namespace

std::optional<Options> parseOptions(const QStringList& arguments, QString* error) {
    const auto fail = [error](const QString& why) {
        *error = why;
        return std::nullopt;
    };
    // Each option given, in order, with its value.
    QList<std::pair<const KnownOption*, QString>> given;
    QHash<QString, int> times;
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        const QString& argument = arguments[i];
        QString name;
        std::optional<QString> attached;
        if (argument == QLatin1String("-h")) {
            name = QStringLiteral("help");
        } else if (argument.startsWith(QLatin1String("--")) && argument.size() > 2) {
            name = argument.mid(2);
            if (const qsizetype equals = name.indexOf(QLatin1Char('=')); equals >= 0) {
                attached = name.mid(equals + 1);
                name.truncate(equals);
            }
        } else if (looksLikeOption(argument)) {
            return fail(QStringLiteral("opzione sconosciuta: %1").arg(argument));
        } else {
            return fail(QStringLiteral("argomento inatteso: %1 (ogni valore segue la sua opzione)")
                            .arg(argument));
        }
        const KnownOption* known = findOption(name);
        if (!known)
            return fail(QStringLiteral("opzione sconosciuta: --%1").arg(name));
        if (++times[name] > 1 && !known->repeatable)
            return fail(QStringLiteral("l'opzione %1 è data più di una volta").arg(option(*known)));
        QString value;
        if (!known->value) {
            if (attached)
                return fail(QStringLiteral("l'opzione %1 non vuole un valore").arg(option(*known)));
        } else if (attached) {
            value = *attached;
        } else if (i + 1 < arguments.size() && !looksLikeOption(arguments[i + 1])) {
            value = arguments[++i];
        } else if (i + 1 < arguments.size()) {
            return fail(QStringLiteral("all'opzione %1 manca il valore %2: segue l'opzione %3")
                            .arg(option(*known), QLatin1String(known->value), arguments[i + 1]));
        } else {
            return fail(QStringLiteral("all'opzione %1 manca il valore %2")
                            .arg(option(*known), QLatin1String(known->value)));
        }
        if (known->value && value.isEmpty())
            return fail(QStringLiteral("il valore %2 dell'opzione %1 è vuoto")
                            .arg(option(*known), QLatin1String(known->value)));
        if (known->repeatable && !takeParameter(value, given, error))
            return std::nullopt;
        given.append({known, value});
    }

    Options options;
    if (times.contains(QStringLiteral("help")) || times.contains(QStringLiteral("version"))) {
        options.mode =
            times.contains(QStringLiteral("help")) ? Options::Mode::Help : Options::Mode::Version;
        return options;
    }
    if (times.contains(QStringLiteral("run")) && times.contains(QStringLiteral("list")))
        return fail(QStringLiteral("le opzioni --run e --list non vanno insieme"));
    for (const auto& [known, value] : given)
        if (known->take)
            known->take(options, value);
    const QString command =
        options.mode == Options::Mode::Run ? QStringLiteral("--run") : QStringLiteral("--list");
    for (const auto& [known, value] : given) {
        if (known->scope == Scope::Windows && !options.needsWindows())
            return fail(QStringLiteral("l'opzione %1 vale solo con le finestre, non con %2")
                            .arg(option(*known), command));
        if (known->scope == Scope::Run && options.mode != Options::Mode::Run)
            return fail(QStringLiteral("l'opzione %1 vale solo con --run").arg(option(*known)));
        if (QLatin1String(known->name) == QLatin1String("clock") && !options.clock.isValid())
            return fail(QStringLiteral("l'opzione --clock vuole una data e un'ora come "
                                       "2026-12-05T10:55:30, non '%1'")
                            .arg(value));
    }
    return options;
}

QString helpText() {
    return QStringLiteral(
        "Uso: velario [opzioni]\n"
        "     velario --run CODICE [--param NOME=VALORE ...] [--csv FILE]\n"
        "                  [--program-dir CARTELLA]\n"
        "     velario --list [--program-dir CARTELLA]\n"
        "\n"
        "Senza --run e --list apre la finestra del catalogo delle selezioni SQL.\n"
        "\n"
        "Opzioni:\n"
        "  --program-dir CARTELLA  cartella del programma, dove si legge VELARIO.INI\n"
        "                          (il nome in maiuscole o minuscole); senza, la prima\n"
        "                          che lo contiene fra quella dell'eseguibile,\n"
        "                          ~/.config/velario e /etc/xdg/velario (installato il\n"
        "                          programma, quella dell'eseguibile per ultima)\n"
        "  --run CODICE            esegue la selezione CODICE del catalogo, senza finestre, e\n"
        "                          ne scrive il risultato in formato CSV\n"
        "  --csv FILE              con --run: scrive il CSV in FILE invece che sullo standard\n"
        "                          output; il file appare solo a risultato completo; una pipe\n"
        "                          lo riceve man mano; una cartella o un dispositivo no\n"
        "  --param NOME=VALORE     con --run: il valore del parametro :NOME della selezione;\n"
        "                          uno per parametro, ciascuno obbligatorio; vuoto = NULL\n"
        "  --list                  elenca il catalogo, una selezione per riga: codice, tipo,\n"
        "                          database e descrizione separati da tabulazioni, poi i\n"
        "                          nomi dei parametri, se la selezione ne ha\n"
        "  --transcript FILE       aggiunge a FILE ogni evento che l'utente vedrebbe\n"
        "  --script FILE           esegue i passi di FILE dopo l'avvio, poi termina\n"
        "  --print-to CARTELLA     scrive le stampe come file PDF in CARTELLA\n"
        "  --clock QUANDO          usa questa data e ora (ISO 8601) come attuali\n"
        "  --version               mostra il nome e la versione del programma\n"
        "  --help                  mostra questo aiuto\n"
        "\n"
        "Un valore che comincia con '-' si scrive attaccato: --run=-CODICE.\n"
        "Il CSV separa le celle con ';' dove i decimali si scrivono con la virgola (come in\n"
        "italiano), altrimenti con ','. Stato di uscita di --run e --list: 0 riuscito,\n"
        "1 selezione non eseguibile (codice sconosciuto, errore SQL, database non\n"
        "raggiungibile), 2 configurazione, catalogo o file di uscita non utilizzabili\n"
        "oppure opzioni errate.\n");
}

} // namespace velario
