#pragma once

#include "data/errors.h"
#include "data/result_source.h"

#include <QByteArray>
#include <QString>

#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string_view>
#include <utility>
#include <vector>

struct pg_conn;
struct pg_result;
struct pg_cancel;

namespace velario::data {

// A PostgreSQL server named by a connection URI, as the configuration gives it.
struct ServerAddress {
    QString uri;   // to connect with: never shown
    QString shown; // postgresql://host:port/database, without user or password
};

// Whether TEXT is a PostgreSQL connection URI (postgresql://... or postgres://...).
bool isServerUri(const QString& text);

// Reads URI. Nullopt, with ERROR saying why, when it cannot be used: not a URI libpq takes,
// or one that holds a password (a password belongs in ~/.pgpass or PGPASSWORD, never in a
// configuration file).
std::optional<ServerAddress> readServerAddress(const QString& uri, Error* error);
// The server URI as every message shows it, whether or not it can be used: never its user,
// its password or its other parameters.
QString shownServer(const QString& uri);

// Statement parameters for $1, $2, ...: UTF-8 text, nullopt for a Null.
using PgParams = std::vector<std::optional<QByteArray>>;
std::optional<QByteArray> pgText(const std::optional<QString>& text);

// The rows a statement returned, as the server sent them (text).
class PgRows {
public:
    PgRows() = default;
    explicit PgRows(pg_result* result) : result_(result) {}
    PgRows(PgRows&& other) noexcept : result_(std::exchange(other.result_, nullptr)) {}
    PgRows& operator=(PgRows&& other) noexcept;
    ~PgRows();
    PgRows(const PgRows&) = delete;
    PgRows& operator=(const PgRows&) = delete;

    int rows() const;
    int columns() const;
    QString columnName(int column) const;
    bool isNull(int row, int column) const;
    std::string_view bytes(int row, int column) const;
    // A Null as nullopt.
    std::optional<QString> text(int row, int column) const;
    pg_result* get() const { return result_; }

private:
    pg_result* result_ = nullptr;
};

// ROWS, whole in memory, read forward as any engine's result is.
std::unique_ptr<ResultSource> resultSourceOf(PgRows rows);

// One connection to the catalogue's server. A connection the server dropped is made again at
// the start of the next statement.
class PgConnection {
public:
    // Null, with ERROR in Italian naming the server as shown, when it cannot be reached or
    // refuses the user.
    static std::unique_ptr<PgConnection> connect(const ServerAddress& address, Error* error);
    ~PgConnection();
    PgConnection(const PgConnection&) = delete;
    PgConnection& operator=(const PgConnection&) = delete;

    const ServerAddress& address() const { return address_; }

    // Runs SQL with PARAMS; its rows, or ERROR.
    PgRows query(const char* sql, const PgParams& params, Error* error);
    // Runs SQL, which returns no rows; CHANGED receives the rows it changed.
    Error command(const char* sql, const PgParams& params = {}, qint64* changed = nullptr);
    // Hands VISIT the rows of SQL a block at a time through a cursor, each row's cells as the
    // server sent them (a Null as a view without data), until VISIT returns false. Inside a
    // transaction of its own, or of the caller's when one is open.
    Error forEachRow(const char* sql, const PgParams& params,
                     const std::function<bool(std::span<const std::string_view>)>& visit);

    // Runs WORK as one transaction: committed when it returns no error, else rolled back.
    Error inTransaction(const std::function<Error()>& work);
    bool inTransaction() const;

    // Asks the server, from any thread, to stop the statement that runs now.
    void cancel();

private:
    PgConnection(ServerAddress address, pg_conn* handle);
    Error ready();
    Error failure(pg_result* result) const;
    void makeCancel();

    ServerAddress address_;
    pg_conn* handle_;
    std::mutex cancelMutex_;
    pg_cancel* cancel_ = nullptr;
};

} // namespace velario::data
