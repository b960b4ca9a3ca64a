#include "data/postgres/pg_connection.h"

#include "data/postgres/pq_library.h"

#include <QRegularExpression>

#include <algorithm>
#include <atomic>

namespace velario::data {

namespace {

// The first line of a libpq message: the rest repeats it or gives hints in English.
QString firstLine(const char* message) {
    const QString text = QString::fromUtf8(message ? message : "").trimmed();
    return text.section(QLatin1Char('\n'), 0, 0).trimmed();
}

Error unreachable(const ServerAddress& address, const QString& why) {
    return Error::make(ErrorNumber::OdbcConnectFailed,
                       QStringLiteral("Impossibile collegarsi al server del catalogo %1: %2")
                           .arg(address.shown, why));
}

Error fromServer(const ServerAddress& address, const QString& state, const QString& message) {
    const QString& at = address.shown;
    if (state == QLatin1String("42P01"))
        return Error::make(
            ErrorNumber::TableNotFound,
            QStringLiteral("Il database %1 non contiene la tabella: %2").arg(at, message));
    if (state == QLatin1String("42703"))
        return Error::make(
            ErrorNumber::TooFewParameters,
            QStringLiteral("Una colonna manca nel database %1: %2").arg(at, message));
    if (state == QLatin1String("42501"))
        return Error::make(ErrorNumber::PermissionDenied,
                           QStringLiteral("L'utente non ha il permesso per questa operazione sul "
                                          "database %1: %2")
                               .arg(at, message));
    if (state == QLatin1String("25006"))
        return Error::make(
            ErrorNumber::DatabaseReadOnly,
            QStringLiteral("Il server del database %1 accetta solo letture: %2").arg(at, message));
    if (state == QLatin1String("57014"))
        return Error::make(ErrorNumber::OperationCancelled);
    if (state.startsWith(QLatin1String("08")) || state.startsWith(QLatin1String("57P")))
        return Error::make(ErrorNumber::OdbcConnectFailed,
                           QStringLiteral("Il collegamento con il server del database %1 si è "
                                          "interrotto: %2")
                               .arg(at, message));
    if (state == QLatin1String("40001") || state == QLatin1String("40P01") ||
        state == QLatin1String("55P03"))
        return Error::make(
            ErrorNumber::CouldNotLock,
            QStringLiteral("Il database %1 è occupato da un altro utente: %2").arg(at, message));
    return Error::make(ErrorNumber::EngineError,
                       QStringLiteral("Errore del server del database %1: %2").arg(at, message));
}

QString conninfoValue(const PQconninfoOption* options, const char* keyword) {
    for (const PQconninfoOption* o = options; o && o->keyword; ++o)
        if (qstrcmp(o->keyword, keyword) == 0 && o->val)
            return QString::fromUtf8(o->val);
    return {};
}

std::atomic<int> cursorNumber{0};

} // namespace

bool isServerUri(const QString& text) {
    const QString t = text.trimmed();
    return t.startsWith(QLatin1String("postgresql://"), Qt::CaseInsensitive) ||
           t.startsWith(QLatin1String("postgres://"), Qt::CaseInsensitive);
}

namespace {

// What libpq reads in URI: host, port and database shown, and whether it holds a password.
// Nullopt when libpq does not take it.
std::optional<std::pair<QString, bool>> readUri(const QByteArray& uri) {
    if (!openPq(nullptr))
        return std::nullopt;
    char* message = nullptr;
    PQconninfoOption* options = pq().PQconninfoParse(uri.constData(), &message);
    // libpq's reason may quote the URI, password and all: it is not repeated.
    pq().PQfreemem(message);
    if (!options)
        return std::nullopt;
    QString host = conninfoValue(options, "host");
    if (host.isEmpty())
        host = conninfoValue(options, "hostaddr");
    const QString port = conninfoValue(options, "port");
    const QString database = conninfoValue(options, "dbname");
    const bool password = !conninfoValue(options, "password").isEmpty();
    pq().PQconninfoFree(options);
    return std::pair(QStringLiteral("postgresql://") + host +
                         (port.isEmpty() ? QString() : QLatin1Char(':') + port) + QLatin1Char('/') +
                         database,
                     password);
}

} // namespace

QString shownServer(const QString& uri) {
    const auto read = readUri(uri.trimmed().toUtf8());
    return read ? read->first : QStringLiteral("postgresql://");
}

std::optional<ServerAddress> readServerAddress(const QString& uri, Error* error) {
    if (!openPq(error))
        return std::nullopt;
    const QByteArray text = uri.trimmed().toUtf8();
    const auto read = readUri(text);
    if (!read) {
        if (error)
            *error = Error::make(ErrorNumber::FileOpenFailed,
                                 QStringLiteral("L'indirizzo del catalogo in DIR_DBF non è un URI "
                                                "PostgreSQL valido (postgresql://server:porta/"
                                                "database)."));
        return std::nullopt;
    }
    const ServerAddress address{QString::fromUtf8(text), read->first};
    if (read->second) {
        if (error)
            *error = Error::make(
                ErrorNumber::InvalidPassword,
                QStringLiteral("L'indirizzo del catalogo %1 in DIR_DBF contiene una password: la "
                               "password non si scrive in VELARIO.ini, va nel file ~/.pgpass "
                               "dell'utente o nella variabile d'ambiente PGPASSWORD.")
                    .arg(address.shown));
        return std::nullopt;
    }
    return address;
}

std::optional<QByteArray> pgText(const std::optional<QString>& text) {
    if (!text)
        return std::nullopt;
    return text->toUtf8();
}

PgRows& PgRows::operator=(PgRows&& other) noexcept {
    if (this != &other) {
        if (result_)
            pq().PQclear(result_);
        result_ = std::exchange(other.result_, nullptr);
    }
    return *this;
}

PgRows::~PgRows() {
    if (result_)
        pq().PQclear(result_);
}

int PgRows::rows() const {
    return result_ ? pq().PQntuples(result_) : 0;
}

int PgRows::columns() const {
    return result_ ? pq().PQnfields(result_) : 0;
}

QString PgRows::columnName(int column) const {
    return QString::fromUtf8(pq().PQfname(result_, column));
}

bool PgRows::isNull(int row, int column) const {
    return pq().PQgetisnull(result_, row, column) != 0;
}

std::string_view PgRows::bytes(int row, int column) const {
    return {pq().PQgetvalue(result_, row, column), size_t(pq().PQgetlength(result_, row, column))};
}

std::optional<QString> PgRows::text(int row, int column) const {
    if (isNull(row, column))
        return std::nullopt;
    const std::string_view b = bytes(row, column);
    return QString::fromUtf8(b.data(), qsizetype(b.size()));
}

namespace {

class WholeResult final : public ResultSource {
public:
    explicit WholeResult(PgRows rows) : rows_(std::move(rows)) {}
    int columnCount() const override { return rows_.columns(); }
    QString columnName(int column) const override { return rows_.columnName(column); }
    int fetch(int max, RowSink& sink) override {
        const int end = std::min(rows_.rows(), next_ + std::max(0, max));
        const int from = next_;
        std::vector<QByteArrayView> cells(size_t(rows_.columns()));
        for (; next_ < end; ++next_) {
            for (int c = 0; c < rows_.columns(); ++c) {
                const std::string_view b = rows_.bytes(next_, c);
                cells[size_t(c)] = rows_.isNull(next_, c)
                                       ? QByteArrayView()
                                       : QByteArrayView(b.data(), qsizetype(b.size()));
            }
            sink.row(cells, false);
        }
        return next_ - from;
    }
    bool atEnd() const override { return next_ >= rows_.rows(); }
    Error error() const override { return {}; }
    qint64 countRows(Error*) override { return rows_.rows(); }

private:
    PgRows rows_;
    int next_ = 0;
};

} // namespace

std::unique_ptr<ResultSource> resultSourceOf(PgRows rows) {
    return std::make_unique<WholeResult>(std::move(rows));
}

PgConnection::PgConnection(ServerAddress address, pg_conn* handle)
    : address_(std::move(address)), handle_(handle) {
    makeCancel();
}

PgConnection::~PgConnection() {
    pq().PQfreeCancel(cancel_);
    pq().PQfinish(handle_);
}

std::unique_ptr<PgConnection> PgConnection::connect(const ServerAddress& address, Error* error) {
    if (!openPq(error))
        return nullptr;
    // Values the URI does not give: it is read last, so that its own win.
    const QByteArray uri = address.uri.toUtf8();
    const char* const keywords[] = {"connect_timeout", "application_name", "client_encoding",
                                    "dbname", nullptr};
    const char* const values[] = {"10", "velario", "UTF8", uri.constData(), nullptr};
    pg_conn* handle = pq().PQconnectdbParams(keywords, values, 1);
    if (!handle) {
        if (error)
            *error = unreachable(address, QStringLiteral("memoria insufficiente"));
        return nullptr;
    }
    if (pq().PQstatus(handle) != CONNECTION_OK) {
        const bool needsPassword = pq().PQconnectionNeedsPassword(handle) != 0;
        const QString why = firstLine(pq().PQerrorMessage(handle));
        pq().PQfinish(handle);
        if (error)
            *error = needsPassword
                         ? Error::make(ErrorNumber::InvalidPassword,
                                       QStringLiteral("Il server del catalogo %1 chiede una "
                                                      "password: va nel file ~/.pgpass "
                                                      "dell'utente o nella variabile d'ambiente "
                                                      "PGPASSWORD (%2).")
                                           .arg(address.shown, why))
                         : unreachable(address, why);
        return nullptr;
    }
    // Texts travel as UTF-8 whatever the server's default. The server's notices are for a
    // person at a terminal, not for the program's users.
    pq().PQsetClientEncoding(handle, "UTF8");
    pq().PQsetNoticeProcessor(
        handle, [](void*, const char*) {}, nullptr);
    return std::unique_ptr<PgConnection>(new PgConnection(address, handle));
}

Error PgConnection::ready() {
    if (pq().PQstatus(handle_) == CONNECTION_OK)
        return {};
    // The server went away and may be back: one new attempt, as a new connection would.
    pq().PQreset(handle_);
    if (pq().PQstatus(handle_) == CONNECTION_OK) {
        pq().PQsetClientEncoding(handle_, "UTF8");
        makeCancel();
        return {};
    }
    return unreachable(address_, firstLine(pq().PQerrorMessage(handle_)));
}

Error PgConnection::failure(pg_result* result) const {
    if (pq().PQstatus(handle_) != CONNECTION_OK)
        return Error::make(ErrorNumber::OdbcConnectFailed,
                           QStringLiteral("Il collegamento con il server del database %1 si è "
                                          "interrotto: %2")
                               .arg(address_.shown, firstLine(pq().PQerrorMessage(handle_))));
    const char* state = result ? pq().PQresultErrorField(result, PG_DIAG_SQLSTATE) : nullptr;
    const char* primary =
        result ? pq().PQresultErrorField(result, PG_DIAG_MESSAGE_PRIMARY) : nullptr;
    return fromServer(address_, QString::fromLatin1(state ? state : ""),
                      primary ? QString::fromUtf8(primary).trimmed()
                              : firstLine(pq().PQerrorMessage(handle_)));
}

PgRows PgConnection::query(const char* sql, const PgParams& params, Error* error) {
    const auto fail = [&](Error e) {
        if (error)
            *error = std::move(e);
        return PgRows();
    };
    if (Error e = ready())
        return fail(e);
    std::vector<const char*> values;
    std::vector<int> lengths;
    values.reserve(params.size());
    lengths.reserve(params.size());
    for (const std::optional<QByteArray>& p : params) {
        values.push_back(p ? p->constData() : nullptr);
        lengths.push_back(p ? int(p->size()) : 0);
    }
    PgRows rows(pq().PQexecParams(handle_, sql, int(params.size()), nullptr, values.data(),
                                  lengths.data(), nullptr, 0));
    const ExecStatusType status = rows.get() ? pq().PQresultStatus(rows.get()) : PGRES_FATAL_ERROR;
    if (status != PGRES_TUPLES_OK && status != PGRES_COMMAND_OK)
        return fail(failure(rows.get()));
    return rows;
}

Error PgConnection::command(const char* sql, const PgParams& params, qint64* changed) {
    Error error;
    const PgRows rows = query(sql, params, &error);
    if (!error && changed)
        *changed = QByteArray(pq().PQcmdTuples(rows.get())).toLongLong();
    return error;
}

bool PgConnection::inTransaction() const {
    return pq().PQtransactionStatus(handle_) != PQTRANS_IDLE;
}

Error PgConnection::inTransaction(const std::function<Error()>& work) {
    if (Error e = command("BEGIN"))
        return e;
    Error error = work();
    if (!error)
        error = command("COMMIT");
    if (error && pq().PQstatus(handle_) == CONNECTION_OK && inTransaction())
        command("ROLLBACK");
    return error;
}

Error PgConnection::forEachRow(
    const char* sql, const PgParams& params,
    const std::function<bool(std::span<const std::string_view>)>& visit) {
    // A block of rows at a time: SQL texts of any length never all in memory at once.
    constexpr int kBlock = 1000;
    const QByteArray cursor = "velario_rows_" + QByteArray::number(++cursorNumber);
    const auto walk = [&]() -> Error {
        if (Error e =
                command(("DECLARE " + cursor + " NO SCROLL CURSOR FOR " + sql).constData(), params))
            return e;
        const QByteArray fetch = "FETCH FORWARD " + QByteArray::number(kBlock) + " FROM " + cursor;
        std::vector<std::string_view> row;
        for (bool more = true; more;) {
            Error error;
            const PgRows block = query(fetch.constData(), {}, &error);
            if (error)
                return error;
            row.resize(size_t(block.columns()));
            for (int r = 0; r < block.rows() && more; ++r) {
                for (int c = 0; c < block.columns(); ++c)
                    row[size_t(c)] = block.isNull(r, c) ? std::string_view() : block.bytes(r, c);
                more = visit(row);
            }
            more = more && block.rows() == kBlock;
        }
        return command(("CLOSE " + cursor).constData());
    };
    if (inTransaction())
        return walk();
    return inTransaction(walk);
}

void PgConnection::cancel() {
    const std::lock_guard lock(cancelMutex_);
    char message[256];
    if (cancel_)
        pq().PQcancel(cancel_, message, sizeof message);
}

void PgConnection::makeCancel() {
    const std::lock_guard lock(cancelMutex_);
    pq().PQfreeCancel(cancel_);
    cancel_ = pq().PQgetCancel(handle_);
}

} // namespace velario::data
