#include "data/catalogue/access_catalogue_import.h"

#include "data/catalogue/catalogue_schema.h"
#include "data/catalogue/catalogue_store.h"
#include "data/sqlite/database.h"
#include "data/sqlite/sqlite_connection.h"

#include <QFileInfo>
#include <QSet>
#include <QTemporaryFile>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <sqlite3.h>

namespace velario::data {

namespace {

const QStringList kColumns{QStringLiteral("CODICE"), QStringLiteral("DESCRIZIONE"),
                           QStringLiteral("SQL"), QStringLiteral("Database"),
                           QStringLiteral("Tipo_Database")};

Error exists(const QString& path) {
    return Error::make(ErrorNumber::InvalidArgument,
                       QStringLiteral("Il file '%1' esiste già.").arg(path));
}

// The columns of SELEZIONI_SQL in SOURCE that are not there (the reader's own columns that
// it cannot read among them); TABLE tells whether the table is there at all.
Error missingColumns(Database& source, QStringList* missing, bool* table) {
    *missing = kColumns;
    *table = false;
    const Error error =
        source.forEachRow(QStringLiteral("PRAGMA table_xinfo(SELEZIONI_SQL)"), {},
                          [&](std::span<const std::string_view> row) {
                              const QString name =
                                  QString::fromUtf8(row[1].data(), qsizetype(row[1].size()));
                              *table = true;
                              missing->removeIf([&](const QString& column) {
                                  return column.compare(name, Qt::CaseInsensitive) == 0;
                              });
                              return true;
                          });
    // A table linked to another file says so when read.
    if (!error && *table && *missing == kColumns)
        return source.forEachRow(QStringLiteral("SELECT * FROM SELEZIONI_SQL"), {},
                                 [](std::span<const std::string_view>) { return false; });
    return error;
}

// The new catalogue's table filled from SOURCE through HANDLE, in one transaction.
Error copyEntries(Database& source, sqlite3* handle, qint64* copied, QStringList* longCodes) {
    const QByteArray ddl = catalogueTableDdl().toUtf8() + "; " + catalogueIndexDdl().toUtf8();
    if (sqlite3_exec(handle, ddl.constData(), nullptr, nullptr, nullptr) != SQLITE_OK ||
        sqlite3_exec(handle, "BEGIN", nullptr, nullptr, nullptr) != SQLITE_OK)
        return Error::make(ErrorNumber::EngineError, detail::errorText(handle));
    Error error;
    detail::Statement insert(handle,
                             "INSERT INTO SELEZIONI_SQL (CODICE, DESCRIZIONE, SQL, Database, "
                             "Tipo_Database) VALUES (?, ?, ?, ?, ?)",
                             &error);
    if (!insert.isValid())
        return error;
    qint64 count = 0;
    Error written;
    LongCodes longer;
    const Error read =
        source.forEachRow(copyStatement(), {}, [&](std::span<const std::string_view> row) {
            sqlite3_stmt* stmt = insert.get();
            for (int i = 0; i < 5; ++i) {
                const std::string_view value = row[size_t(i)];
                if (value.data())
                    sqlite3_bind_text64(stmt, i + 1, value.data(), value.size(), SQLITE_STATIC,
                                        SQLITE_UTF8);
                else
                    sqlite3_bind_null(stmt, i + 1);
            }
            const int rc = sqlite3_step(stmt);
            sqlite3_reset(stmt);
            if (rc != SQLITE_DONE) {
                written = Error::make(ErrorNumber::EngineError, detail::errorText(handle));
                return false;
            }
            ++count;
            longer.note(row[0]);
            return true;
        });
    if (read)
        return read;
    if (written)
        return written;
    if (sqlite3_exec(handle, "COMMIT", nullptr, nullptr, nullptr) != SQLITE_OK)
        return Error::make(ErrorNumber::EngineError, detail::errorText(handle));
    *copied = count;
    *longCodes = longer.list();
    return {};
}

// Gives FROM the name TO unless a file has it already.
Error renameNew(const QString& from, const QString& to) {
    const QByteArray source = QFile::encodeName(from);
    const QByteArray target = QFile::encodeName(to);
    if (::renameat2(AT_FDCWD, source.constData(), AT_FDCWD, target.constData(), RENAME_NOREPLACE) ==
        0)
        return {};
    // A file system without the call still refuses to link over a file.
    if ((errno == EINVAL || errno == ENOSYS) && ::link(source.constData(), target.constData()) == 0)
        return {};
    if (errno == EEXIST)
        return exists(to);
    return Error::make(ErrorNumber::PermissionDenied,
                       QStringLiteral("Impossibile creare il file '%1': %2")
                           .arg(to, QString::fromLocal8Bit(std::strerror(errno))));
}

} // namespace

QString copyStatement() {
    return QStringLiteral("SELECT CODICE, DESCRIZIONE, SQL, Database, Tipo_Database FROM "
                          "SELEZIONI_SQL");
}

void LongCodes::note(std::string_view code) {
    const QString trimmed = QString::fromUtf8(code.data(), qsizetype(code.size())).trimmed();
    if (trimmed.size() > kCodeWidth && !seen_.contains(trimmed)) {
        seen_.insert(trimmed);
        codes_ << trimmed;
    }
}

std::unique_ptr<Database> openLocalCatalogue(const QString& path, Error* error) {
    const auto fail = [&](Error e) {
        *error = std::move(e);
        return nullptr;
    };
    if (!QFileInfo::exists(path))
        return fail(Error::make(ErrorNumber::FileNotFound,
                                QStringLiteral("Impossibile trovare il file '%1'.").arg(path)));
    if (!Database::isDatabaseFile(path))
        return fail(Error::make(ErrorNumber::UnrecognizedFormat,
                                QStringLiteral("Il file '%1' non è un catalogo SQLite né un file "
                                               "Access (.mdb o .accdb).")
                                    .arg(path)));
    std::unique_ptr<Database> source = Database::open(path, true, error);
    if (!source)
        return nullptr;
    if (source->kind() == DatabaseKind::SQLite) {
        if (Error e = checkCatalogue(*source))
            return fail(Error::make(e.number, QStringLiteral("'%1': %2").arg(path, e.description)));
        return source;
    }
    QStringList missing;
    bool table = false;
    if (Error e = missingColumns(*source, &missing, &table))
        return fail(e);
    if (!table)
        return fail(
            Error::make(ErrorNumber::TableNotFound,
                        QStringLiteral("Il file Access '%1' non contiene la tabella SELEZIONI_SQL.")
                            .arg(path)));
    if (!missing.isEmpty())
        return fail(Error::make(ErrorNumber::TooFewParameters,
                                QStringLiteral("La tabella SELEZIONI_SQL del file Access '%1' non "
                                               "ha le colonne %2.")
                                    .arg(path, missing.join(QStringLiteral(", ")))));
    return source;
}

Error importAccessCatalogue(const QString& accessPath, const QString& newPath, qint64* copied,
                            QStringList* longCodes) {
    if (newPath.isEmpty())
        return Error::make(ErrorNumber::FileOpenFailed);
    if (QFileInfo::exists(newPath) || QFileInfo(newPath).isSymLink())
        return exists(newPath);
    if (!Database::isAccessFile(accessPath) && QFileInfo::exists(accessPath))
        return Error::make(
            ErrorNumber::UnrecognizedFormat,
            QStringLiteral("Il file '%1' non è un file Access (.mdb o .accdb).").arg(accessPath));
    Error error;
    const std::unique_ptr<Database> source = openLocalCatalogue(accessPath, &error);
    if (!source)
        return error;

    const QFileInfo target(newPath);
    QTemporaryFile file(target.absolutePath() + QStringLiteral("/.") + target.fileName() +
                        QStringLiteral(".XXXXXX"));
    if (!file.open())
        return Error::make(ErrorNumber::PermissionDenied,
                           QStringLiteral("Impossibile creare un file nella cartella '%1': %2")
                               .arg(target.absolutePath(), file.errorString()));
    file.close();
    // The permissions a file created here would have, not the temporary file's own.
    const mode_t mask = ::umask(0);
    ::umask(mask);
    const QByteArray temporary = QFile::encodeName(file.fileName());
    ::chmod(temporary.constData(), 0666 & ~mask);

    sqlite3* handle = nullptr;
    qint64 count = 0;
    QStringList longer;
    if (sqlite3_open_v2(temporary.constData(), &handle, SQLITE_OPEN_READWRITE, nullptr) !=
        SQLITE_OK)
        error = Error::make(ErrorNumber::PermissionDenied, detail::errorText(handle));
    else
        error = copyEntries(*source, handle, &count, &longer);
    if (sqlite3_close(handle) != SQLITE_OK && !error)
        error = Error::make(ErrorNumber::EngineError, detail::errorText(handle));
    if (!error)
        error = renameNew(file.fileName(), newPath);
    // The temporary file goes with FILE; a journal left by a failed write goes too.
    QFile::remove(file.fileName() + QStringLiteral("-journal"));
    if (!error && copied)
        *copied = count;
    if (!error && longCodes)
        *longCodes = std::move(longer);
    return error;
}

} // namespace velario::data
