#include "data/odbc/mariadb_stream.h"

#include "data/odbc/mariadb_library.h"

#include "data/odbc/odbc_result.h"
#include "data/text/text_encoding.h"

#include <QStringList>

#include <algorithm>
#include <atomic>
#include <charconv>
#include <cstring>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace velario::data::odbc {

namespace {

constexpr unsigned kBinaryCharset = 63;
constexpr int kCountCheckRows = 4096;

struct LinkClose {
    void operator()(MYSQL* link) const { mariadb().mysql_close(link); }
};
using Link = std::unique_ptr<MYSQL, LinkClose>;

const char* orNull(const QByteArray& value) {
    return value.isEmpty() ? nullptr : value.constData();
}

QString serverMessage(MYSQL* link) {
    return QStringLiteral("[%1] %2").arg(QString::fromUtf8(mariadb().mysql_sqlstate(link)),
                                         QString::fromUtf8(mariadb().mysql_error(link)));
}

// A connection made as Connector/ODBC makes it for the same data source, read-only as every
// connection of the program: the session refuses changes, and autocommit is off so that
// whatever a statement still managed is rolled back when the connection is let go.
Link openLink(const MariadbSettings& settings, Error* error) {
    if (!openMariadb(error))
        return {};
    static std::once_flag library;
    std::call_once(library, [] { mariadb().mysql_server_init(0, nullptr, nullptr); });
    Link link(mariadb().mysql_init(nullptr));
    if (!link) {
        *error = Error::make(ErrorNumber::OdbcConnectFailed,
                             QStringLiteral("Impossibile inizializzare il client MariaDB."));
        return {};
    }
    MYSQL* m = link.get();
    mariadb().mysql_optionsv(m, MYSQL_SET_CHARSET_NAME, "utf8mb4");
    if (settings.connectTimeout)
        mariadb().mysql_optionsv(m, MYSQL_OPT_CONNECT_TIMEOUT, &settings.connectTimeout);
    if (settings.readTimeout)
        mariadb().mysql_optionsv(m, MYSQL_OPT_READ_TIMEOUT, &settings.readTimeout);
    if (settings.writeTimeout)
        mariadb().mysql_optionsv(m, MYSQL_OPT_WRITE_TIMEOUT, &settings.writeTimeout);
    if (settings.port > 0 || settings.tcp) {
        const unsigned protocol = MYSQL_PROTOCOL_TCP;
        mariadb().mysql_optionsv(m, MYSQL_OPT_PROTOCOL, &protocol);
    }
    mariadb().mysql_optionsv(m, MYSQL_INIT_COMMAND, "SET SESSION SQL_AUTO_IS_NULL=0");
    if (!settings.initCommand.isEmpty())
        mariadb().mysql_optionsv(m, MYSQL_INIT_COMMAND, settings.initCommand.constData());
    const char* host = settings.socket.isEmpty() ? orNull(settings.host) : "localhost";
    if (!mariadb().mysql_real_connect(m, host, orNull(settings.user), orNull(settings.password),
                                      orNull(settings.database), settings.port,
                                      orNull(settings.socket), CLIENT_MULTI_RESULTS) ||
        mariadb().mysql_query(m, "SET SESSION TRANSACTION READ ONLY") != 0 ||
        mariadb().mysql_autocommit(m, 0)) {
        *error = Error::make(ErrorNumber::OdbcConnectFailed, serverMessage(m));
        return {};
    }
    return link;
}

// STATEMENT's text with its values written in as literals LINK escapes.
std::optional<QByteArray> withLiterals(MYSQL* link, const BoundStatement& statement, Error* error) {
    if (!statement.hasValues())
        return statement.text.toUtf8();
    const std::vector<qsizetype> markers = mariadbMarkers(statement.text);
    if (markers.size() != statement.values.size()) {
        *error = Error::make(ErrorNumber::OdbcCallFailed,
                             QStringLiteral("MariaDB legge il testo SQL con %1 parametri, il "
                                            "programma con %2: una stringa con una barra "
                                            "rovesciata o un commento con # cambia dove "
                                            "stanno.")
                                 .arg(markers.size())
                                 .arg(statement.values.size()));
        return std::nullopt;
    }
    QByteArray text;
    qsizetype copied = 0;
    for (size_t i = 0; i < markers.size(); ++i) {
        text += QStringView(statement.text).mid(copied, markers[i] - copied).toUtf8();
        copied = markers[i] + 1;
        const ParameterValue& value = statement.values[i];
        // Blanks around each literal keep it from joining what stands beside it ("- -1").
        text += ' ';
        switch (value.kind) {
        case ParameterKind::Null:
            text += "NULL";
            break;
        case ParameterKind::Date:
            text += "DATE'" + value.canonical().toLatin1() + '\'';
            break;
        case ParameterKind::Integer:
        case ParameterKind::Decimal:
            text += value.canonical().toLatin1();
            break;
        case ParameterKind::Text: {
            const QByteArray raw = value.text().toUtf8();
            std::string escaped(size_t(raw.size()) * 2 + 1, '\0');
            const unsigned long length = mariadb().mysql_real_escape_string(
                link, escaped.data(), raw.constData(), static_cast<unsigned long>(raw.size()));
            text += '\'' + QByteArray(escaped.data(), qsizetype(length)) + '\'';
            break;
        }
        }
        text += ' ';
    }
    text += QStringView(statement.text).mid(copied).toUtf8();
    return text;
}

// The result sets a statement has after the one read (a procedure's), so that the
// connection can take the next statement.
void skipOtherResults(MYSQL* link) {
    while (mariadb().mysql_next_result(link) == 0) {
        if (MYSQL_RES* rest = mariadb().mysql_use_result(link))
            mariadb().mysql_free_result(rest);
    }
}

} // namespace

class MariadbSession {
public:
    explicit MariadbSession(MariadbSettings settings) : settings_(std::move(settings)) {}

    // A connection for a statement: one an earlier result let go, else a new one.
    Link take(Error* error) {
        {
            const std::lock_guard lock(mutex_);
            if (!idle_.empty()) {
                Link link = std::move(idle_.back());
                idle_.pop_back();
                return link;
            }
        }
        return openLink(settings_, error);
    }
    // LINK is ready for another statement: nothing of what it ran stays.
    void giveBack(Link link) {
        if (mariadb().mysql_rollback(link.get()) != 0)
            return;
        const std::lock_guard lock(mutex_);
        idle_.push_back(std::move(link));
    }

    void interrupt() {
        const std::lock_guard lock(mutex_);
        interrupted_ = true;
        for (const unsigned long id : running_) {
            if (std::find(killed_.begin(), killed_.end(), id) != killed_.end())
                continue;
            killed_.push_back(id);
            Error error;
            if (Link killer = openLink(settings_, &error))
                mariadb().mysql_query(killer.get(), ("KILL QUERY " + std::to_string(id)).c_str());
        }
    }
    void resume() {
        const std::lock_guard lock(mutex_);
        interrupted_ = false;
        killed_.clear();
    }
    bool interrupted() const { return interrupted_; }

    // A call on LINK that an interrupt stops; false when an interrupt came first, and the
    // call is not to be made.
    class Call {
    public:
        Call(MariadbSession& session, MYSQL* link)
            : session_(session), id_(mariadb().mysql_thread_id(link)) {
            const std::lock_guard lock(session_.mutex_);
            allowed_ = !session_.interrupted_;
            if (allowed_)
                session_.running_.push_back(id_);
        }
        ~Call() {
            if (!allowed_)
                return;
            const std::lock_guard lock(session_.mutex_);
            auto& running = session_.running_;
            running.erase(std::find(running.begin(), running.end(), id_));
        }
        Call(const Call&) = delete;
        Call& operator=(const Call&) = delete;
        explicit operator bool() const { return allowed_; }

    private:
        MariadbSession& session_;
        unsigned long id_;
        bool allowed_ = false;
    };

    // What went wrong on LINK: the stop the user asked for, or the server's message.
    Error failure(MYSQL* link) const {
        if (interrupted_)
            return Error::make(ErrorNumber::OperationCancelled);
        return Error::make(ErrorNumber::OdbcCallFailed, serverMessage(link));
    }

private:
    const MariadbSettings settings_;
    std::mutex mutex_;
    std::vector<Link> idle_;
    std::vector<unsigned long> running_; // connections (by thread id) inside a call
    std::vector<unsigned long> killed_;
    std::atomic<bool> interrupted_{false};
};

namespace {

// What a column's bytes are: text as it is, binary data as hexadecimal digits, a BIT(1) as
// the 0 or 1 the driver gives for SQL_BIT.
enum class Shown { Text, Hex, Bit };

Shown shownAs(const MYSQL_FIELD& field) {
    switch (field.type) {
    case MYSQL_TYPE_BIT:
        return field.length == 1 ? Shown::Bit : Shown::Hex;
    case MYSQL_TYPE_TINY_BLOB:
    case MYSQL_TYPE_MEDIUM_BLOB:
    case MYSQL_TYPE_LONG_BLOB:
    case MYSQL_TYPE_BLOB:
    case MYSQL_TYPE_STRING:
    case MYSQL_TYPE_VAR_STRING:
    case MYSQL_TYPE_VARCHAR:
    case MYSQL_TYPE_GEOMETRY:
        return field.charsetnr == kBinaryCharset ? Shown::Hex : Shown::Text;
    default:
        return Shown::Text;
    }
}

class MariadbResult final : public ResultSource {
public:
    MariadbResult(std::shared_ptr<MariadbSession> session, BoundStatement statement)
        : session_(std::move(session)), statement_(std::move(statement)) {}
    ~MariadbResult() override {
        if (rows_) {
            // The rows not read would all come over the network first: the connection is
            // dropped instead, and the server ends the statement.
            mariadb().mariadb_cancel(link_.get());
            mariadb().mysql_free_result(rows_);
            link_.reset();
        }
        if (link_)
            session_->giveBack(std::move(link_));
        if (side_)
            session_->giveBack(std::move(side_));
    }
    MariadbResult(const MariadbResult&) = delete;
    MariadbResult& operator=(const MariadbResult&) = delete;

    Error start() {
        Error error;
        link_ = session_->take(&error);
        if (!link_)
            return error;
        MYSQL* m = link_.get();
        const std::optional<QByteArray> text = withLiterals(m, statement_, &error);
        if (!text)
            return error;
        sql_ = QString::fromUtf8(*text);
        const QByteArray& statement = *text;
        {
            const MariadbSession::Call call(*session_, m);
            if (!call ||
                mariadb().mysql_real_query(m, statement.constData(), statement.size()) != 0)
                return session_->failure(m);
        }
        if (mariadb().mysql_field_count(m) == 0) {
            skipOtherResults(m);
            return {};
        }
        rows_ = mariadb().mysql_use_result(m);
        if (!rows_)
            return session_->failure(m);
        const unsigned count = mariadb().mysql_num_fields(rows_);
        const MYSQL_FIELD* fields = mariadb().mysql_fetch_fields(rows_);
        for (unsigned c = 0; c < count; ++c) {
            names_ << QString::fromUtf8(fields[c].name, qsizetype(fields[c].name_length));
            shown_.push_back(shownAs(fields[c]));
        }
        cells_.resize(count);
        converted_.resize(count);
        return {};
    }

    int columnCount() const override { return int(shown_.size()); }
    QString columnName(int column) const override { return names_.value(column); }

    int fetch(int max, RowSink& sink) override {
        int produced = 0;
        if (!rows_)
            return 0;
        const bool ended = [&] {
            // A stop kills the statement while a row is awaited, and is seen between rows.
            const MariadbSession::Call call(*session_, link_.get());
            for (; call && produced < max; ++produced) {
                MYSQL_ROW row =
                    session_->interrupted() ? nullptr : mariadb().mysql_fetch_row(rows_);
                if (!row)
                    return true;
                const unsigned long* lengths = mariadb().mysql_fetch_lengths(rows_);
                for (size_t c = 0; c < shown_.size(); ++c)
                    cells_[c] = shownCell(c, row[c], lengths[c]);
                sink.row(cells_, false);
            }
            return !call;
        }();
        if (ended)
            end();
        return produced;
    }

    bool atEnd() const override { return !rows_; }
    Error error() const override { return error_; }

    // COUNT(*) over the statement lets the server count without sending a row; statements
    // that cannot be a derived table are run again and their rows counted as they pass.
    qint64 countRows(Error* error) override {
        if (error)
            *error = {};
        if (shown_.empty())
            return 0;
        Error failure;
        if (!side_)
            side_ = session_->take(&failure);
        qint64 rows = side_ ? countByQuery() : -1;
        if (rows < 0 && side_)
            rows = countByWalk(&failure);
        if (rows < 0 && error)
            *error = failure;
        return rows;
    }

    void interrupt() override { session_->interrupt(); }
    void resume() override { session_->resume(); }

private:
    QByteArrayView shownCell(size_t column, const char* bytes, unsigned long length) {
        if (!bytes)
            return {};
        std::string& out = converted_[column];
        switch (shown_[column]) {
        case Shown::Text:
            return QByteArrayView(bytes, qsizetype(length));
        case Shown::Bit:
            out.assign(1, length > 0 && (bytes[length - 1] & 1) ? '1' : '0');
            break;
        case Shown::Hex:
            out.clear();
            text::appendHex(out, reinterpret_cast<const unsigned char*>(bytes), length);
            break;
        }
        return QByteArrayView(out.data(), qsizetype(out.size()));
    }

    // The rows ended: with the last one, or with an error the server or the network sent,
    // or with a stop (the statement was killed, or never asked for its next row).
    void end() {
        MYSQL* m = link_.get();
        const bool failed = mariadb().mysql_errno(m) != 0 || session_->interrupted();
        if (failed) {
            error_ = session_->failure(m);
            // Stopped between rows, the rest would come over the network before the
            // connection could be used again.
            mariadb().mariadb_cancel(m);
        }
        mariadb().mysql_free_result(rows_);
        rows_ = nullptr;
        if (failed)
            link_.reset();
        else
            skipOtherResults(m);
    }

    qint64 countByQuery() {
        MYSQL* m = side_.get();
        const QByteArray statement = countStatement(sql_).toUtf8();
        const MariadbSession::Call call(*session_, m);
        if (!call || mariadb().mysql_real_query(m, statement.constData(), statement.size()) != 0)
            return -1;
        MYSQL_RES* result = mariadb().mysql_store_result(m);
        MYSQL_ROW row = result ? mariadb().mysql_fetch_row(result) : nullptr;
        qint64 rows = -1;
        if (row && row[0])
            std::from_chars(row[0], row[0] + std::strlen(row[0]), rows);
        if (result)
            mariadb().mysql_free_result(result);
        skipOtherResults(m);
        return rows;
    }

    qint64 countByWalk(Error* error) {
        MYSQL* m = side_.get();
        const QByteArray statement = sql_.toUtf8();
        const MariadbSession::Call call(*session_, m);
        if (!call || mariadb().mysql_real_query(m, statement.constData(), statement.size()) != 0) {
            *error = session_->failure(m);
            return -1;
        }
        MYSQL_RES* result = mariadb().mysql_use_result(m);
        qint64 rows = 0;
        while (result && mariadb().mysql_fetch_row(result)) {
            if (++rows % kCountCheckRows == 0 && session_->interrupted())
                break;
        }
        const bool failed = !result || mariadb().mysql_errno(m) != 0 || session_->interrupted();
        if (failed) {
            *error = session_->failure(m);
            // Whatever of the result is left stays on the network: the connection goes.
            if (result)
                mariadb().mariadb_cancel(m);
        }
        if (result)
            mariadb().mysql_free_result(result);
        if (failed) {
            side_.reset();
            return -1;
        }
        skipOtherResults(m);
        return rows;
    }

    std::shared_ptr<MariadbSession> session_;
    BoundStatement statement_;
    QString sql_; // as the server runs it, its values written in
    Link link_;
    Link side_; // counts, while link_ streams
    MYSQL_RES* rows_ = nullptr;
    QStringList names_;
    std::vector<Shown> shown_;
    std::vector<QByteArrayView> cells_;
    std::vector<std::string> converted_;
    Error error_;
};

} // namespace

std::shared_ptr<MariadbSession> connectMariadb(const MariadbSettings& settings, Error* error) {
    auto session = std::make_shared<MariadbSession>(settings);
    Link first = openLink(settings, error);
    if (!first)
        return nullptr;
    session->giveBack(std::move(first));
    return session;
}

std::unique_ptr<ResultSource> openMariadbResult(const std::shared_ptr<MariadbSession>& session,
                                                const BoundStatement& statement, Error* error) {
    auto result = std::make_unique<MariadbResult>(session, statement);
    if (Error e = result->start()) {
        if (error)
            *error = std::move(e);
        return nullptr;
    }
    return result;
}

void interruptMariadb(MariadbSession& session) {
    session.interrupt();
}

} // namespace velario::data::odbc
