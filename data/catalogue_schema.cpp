#include "catalogue_schema.h"

#include <QAtomicInt>
#include <QFileInfo>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>

namespace velario::data {

QString catalogueTableDdl() {
    return QStringLiteral("CREATE TABLE SELEZIONI_SQL ("
                          "CODICE VARCHAR(15), "
                          "DESCRIZIONE VARCHAR(45), "
                          "SQL TEXT, "
                          "Database VARCHAR(80), "
                          "Tipo_Database VARCHAR(5))");
}

Error createCatalogueFile(const QString& path) {
    if (path.isEmpty())
        return Error::make(ErrorNumber::FileOpenFailed);
    if (QFileInfo::exists(path))
        return Error::make(ErrorNumber::InvalidArgument,
                           QStringLiteral("Il file '%1' esiste già.").arg(path));
    static QAtomicInt counter;
    const QString name = QStringLiteral("velario-create-%1").arg(counter.fetchAndAddRelaxed(1));
    Error error;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
        db.setDatabaseName(path);
        if (!db.open()) {
            error = Error::make(ErrorNumber::PermissionDenied, db.lastError().text());
        } else {
            QSqlQuery q(db);
            if (!q.exec(catalogueTableDdl()) ||
                !q.exec(
                    QStringLiteral("CREATE INDEX SELEZIONI_SQL_CODICE ON SELEZIONI_SQL(CODICE)")))
                error = Error::make(ErrorNumber::EngineError, q.lastError().text());
            db.close();
        }
    }
    QSqlDatabase::removeDatabase(name);
    return error;
}

} // namespace velario::data
