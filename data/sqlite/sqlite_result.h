#pragma once

#include "data/result_source.h"
#include "data/sqlite/sqlite_connection.h"

#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace velario::data {

// A statement run on a SQLite connection (a SQLite file or an Access copy), read straight
// from the engine without going through Qt's query layer.
class SqliteResult final : public ResultSource, private detail::StatementHolder {
public:
    // Prepares STATEMENT, binds its values and steps to its first row, so that a statement the
    // engine refuses or that fails at once is reported here. A statement that would write, or
    // a text of more than one statement, is refused. Counting binds the same values.
    static std::unique_ptr<SqliteResult> open(std::shared_ptr<detail::SqliteConnection> connection,
                                              const BoundStatement& statement, Error* error);
    ~SqliteResult() override;

    int columnCount() const override { return int(names_.size()); }
    QString columnName(int column) const override;
    int fetch(int max, RowSink& sink) override;
    bool atEnd() const override { return atEnd_; }
    Error error() const override { return error_; }
    qint64 countRows(Error* error) override;
    void interrupt() override;
    void resume() override;

private:
    SqliteResult() = default;
    void connectionClosing() override;
    bool step();
    void emitRow(RowSink& sink);
    void release();
    std::optional<qint64> countByWrapping();
    std::optional<qint64> countByStepping(Error* error);

    std::shared_ptr<detail::SqliteConnection> connection_;
    QByteArray sql_;
    std::vector<ParameterValue> values_;
    detail::Statement stmt_;
    QStringList names_;
    bool hasRow_ = false;
    bool atEnd_ = false;
    Error error_;
    std::optional<qint64> count_;
    qint64 delivered_ = 0;
    std::string hex_;
};

} // namespace velario::data
