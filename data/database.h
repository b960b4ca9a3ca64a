#pragma once

#include "platform/errors.h"

#include <QSqlDatabase>
#include <QString>

#include <memory>

namespace velario::data {

enum class DatabaseKind { SQLite, Access };

// An open database file. The kind is decided by the file's content: a SQLite file opens
// read-write through the SQLite engine, an Access file read-only. Opening never creates a
// file.
class Database {
public:
    // Null, with ERROR set, when PATH cannot be opened.
    static std::unique_ptr<Database> open(const QString& path, bool exclusive, bool readOnly,
                                          const QString& connect, Error* error);
    ~Database();
    Database(const Database&) = delete;
    Database& operator=(const Database&) = delete;

    QString path() const { return path_; }
    DatabaseKind kind() const { return kind_; }
    bool isReadOnly() const { return readOnly_; }
    QSqlDatabase connection() const;

private:
    Database(QString path, DatabaseKind kind, bool readOnly, QString connectionName);
    QString path_;
    DatabaseKind kind_;
    bool readOnly_;
    QString connectionName_;
};

} // namespace velario::data
