// Creates a catalogue file: empty (velario-newcat FILE), or with the entries of an Access
// catalogue (velario-newcat --from OLD.mdb NEW.db).
#include "data/catalogue/access_catalogue_import.h"
#include "data/catalogue/catalogue_schema.h"
#include "data/catalogue/catalogue_store.h"

#include <QCoreApplication>
#include <QTextStream>

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    QTextStream err(stderr);
    const bool from = args.size() == 4 && args.at(1) == QLatin1String("--from");
    if (args.size() != 2 && !from) {
        err << "uso: velario-newcat FILE\n"
               "     velario-newcat --from CATALOGO_ACCESS.mdb FILE\n";
        return 2;
    }
    qint64 copied = 0;
    QStringList longCodes;
    const velario::Error e =
        from ? velario::data::importAccessCatalogue(args.at(2), args.at(3), &copied, &longCodes)
             : velario::data::createCatalogueFile(args.at(1));
    if (e) {
        err << "velario-newcat: " << e.description << '\n';
        return 1;
    }
    if (from) {
        const QString entries = copied == 1 ? QStringLiteral("1 selezione copiata")
                                            : QStringLiteral("%1 selezioni copiate").arg(copied);
        QTextStream out(stdout);
        out << entries << " in '" << args.at(3) << "'.\n";
        if (!longCodes.isEmpty())
            out << "Codici più lunghi dei " << velario::data::kCodeWidth
                << " caratteri del campo Codice (la finestra li mostra interi; non si possono "
                   "digitare):\n  "
                << longCodes.join(QStringLiteral("\n  ")) << '\n';
    }
    return 0;
}
