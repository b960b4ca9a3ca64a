// Creates an empty catalogue file: velario-newcat FILE
#include "data/catalogue_schema.h"

#include <QCoreApplication>
#include <QTextStream>

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    QTextStream err(stderr);
    if (args.size() != 2) {
        err << "uso: velario-newcat FILE\n";
        return 2;
    }
    const velario::Error e = velario::data::createCatalogueFile(args.at(1));
    if (e) {
        err << "velario-newcat: " << e.description << '\n';
        return 1;
    }
    return 0;
}
