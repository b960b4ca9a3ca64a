#include "data/catalogue/catalogue_schema.h"

#include "data/sqlite/sqlite_connection.h"

#include <QFile>
#include <QFileInfo>

#include <sqlite3.h>

namespace velario::data {

QString catalogueTableDdl() {
    return QStringLiteral("CREATE TABLE SELEZIONI_SQL ("
                          "CODICE VARCHAR(15), "
                          "DESCRIZIONE VARCHAR(45), "
                          "SQL TEXT, "
                          "Database VARCHAR(80), "
                          "Tipo_Database VARCHAR(5))");
}

QString catalogueIndexDdl() {
    return QStringLiteral("CREATE INDEX SELEZIONI_SQL_CODICE ON SELEZIONI_SQL(CODICE)");
}

Error createCatalogueFile(const QString& path) {
    if (path.isEmpty())
        return Error::make(ErrorNumber::FileOpenFailed);
    if (QFileInfo::exists(path))
        return Error::make(ErrorNumber::InvalidArgument,
                           QStringLiteral("Il file '%1' esiste già.").arg(path));
    sqlite3* handle = nullptr;
    Error error;
    if (sqlite3_open_v2(QFile::encodeName(path).constData(), &handle,
                        SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr) != SQLITE_OK) {
        error = Error::make(ErrorNumber::PermissionDenied, detail::errorText(handle));
    } else {
        const QByteArray ddl = catalogueTableDdl().toUtf8() + "; " + catalogueIndexDdl().toUtf8();
        if (sqlite3_exec(handle, ddl.constData(), nullptr, nullptr, nullptr) != SQLITE_OK)
            error = Error::make(ErrorNumber::EngineError, detail::errorText(handle));
    }
    sqlite3_close_v2(handle);
    // Half a catalogue is no catalogue: the file this call created goes again.
    if (error)
        QFile::remove(path);
    return error;
}

} // namespace velario::data
