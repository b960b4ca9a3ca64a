#pragma once

#include "data/errors.h"
#include "data/query/bound_statement.h"
#include "data/results/result_model.h"
#include "data/sqlite/database.h"
#include "platform/automation.h"

#include <QPointer>
#include <QWidget>

#include <memory>

class QLabel;
class QToolButton;

namespace velario {
class Form;
namespace data {
class OdbcConnection;
}
} // namespace velario

namespace velario {

class DataGrid;
class DataSource;

// The current row of a data source as a record set.
class SourceRecordset {
public:
    // The number of rows of the whole result, 0 when it has none.
    int recordCount() const;
    // True when there is no current row.
    bool eof() const;
    // The value of NAME (any case) in the current row as text, a null QVariant for a Null.
    // ItemNotFound for an unknown name, NoCurrentRecord without a current row.
    QVariant field(const QString& name, Error* error = nullptr) const;

private:
    friend class DataSource; // the one that owns it constructs it
    explicit SourceRecordset(const DataSource& source) : source_(source) {}
    const DataSource& source_;
};

// A visible control that opens a result and keeps a current row in it, with a small bar
// to move it. A grid bound to it (DataGrid::setDataSource) shows the result and follows the
// current row both ways: through currentRowChanged and selectRow.
// Reads the rows of MODEL up to ROWS as ensureRows does, with the hourglass when that is
// far beyond the rows read.
bool readRowsUpTo(data::ResultModel& model, qint64 rows);

class DataSource : public QWidget, public AutomationControl {
    Q_OBJECT
public:
    ~DataSource() override;

    QString caption() const;
    void setCaption(const QString& caption);

    // Opens the result again; the first row becomes current. On failure nothing is shown
    // and the error is returned.
    virtual Error refresh() = 0;

    // The answers the statement's parameters (:name) take from the next refresh on; a
    // parameter without one is NULL.
    void setAnswers(const data::ParameterAnswers& answers) { answers_ = answers; }
    const data::ParameterAnswers& answers() const { return answers_; }

    // Runs the statement of the result shown again, with the same values, ordered by COLUMN
    // (0-based) of its result, DESCENDING or not; the first row becomes current and the
    // count and the captions stay. When the engine cannot order it, or the user stops it,
    // the result shown stays as it was and the error is returned.
    Error sortBy(int column, bool descending);

    // Opening, reading on and counting go through RUNNER, which may let the user stop them.
    void setLongOperationRunner(const data::LongOperationRunner& runner);

    data::ResultModel* model() const { return model_; }
    const SourceRecordset& recordset() const { return recordset_; }

    // The current row of the result, -1 when none.
    int currentRow() const { return current_; }
    void moveFirst();
    void movePrevious();
    void moveNext();
    void moveLast();
    // Makes ROW current, as the user's move in a bound grid does; nothing happens when it is
    // current already.
    void selectRow(int row);

    void setLeft(int twips);
    void setTop(int twips);
    void setWidth(int twips);
    void setHeight(int twips);

    // Reads every row of a result as soon as it opens, so that no statement stays open on
    // the database: an open statement keeps the file's read lock, and with it every write,
    // the program's own included, waits and fails.
    void setReadsWholeResult(bool on) { readsWholeResult_ = on; }

signals:
    // The current row is ROW now (-1: none), for the bound grid; comes before reposition.
    void currentRowChanged(int row);
    // The current row changed (or was set again by a move). Always delivered directly: the
    // handlers have run when the call that moved the row returns.
    void reposition();

protected:
    DataSource(const QString& name, QWidget* parent);

    // After showNothing: shows the result that OPEN gives (see data::ResultModel::openSource) with
    // its first row current and raises reposition once; on failure returns the error.
    Error showOpened(data::LongOperation kind, const data::ResultModel::Opener& open);
    // WORK through the runner; INTERRUPT stops it.
    void runLong(data::LongOperation kind, std::function<void()> work,
                 const std::function<void()>& interrupt);
    // Shows nothing, without raising reposition.
    void showNothing();
    // The statement the next refresh runs for SQL, the answers bound; on a failure, the error.
    data::BoundStatement bind(const QString& sql, Error* error) const;
    // Runs STATEMENT on the engine the result shown came from (the open database or
    // connection), telling STOP how to stop it; null, with ERROR set, when there is none or
    // it fails.
    virtual std::unique_ptr<data::ResultSource> runAgain(const data::BoundStatement& statement,
                                                         data::Interrupter& stop, Error* error) = 0;
    // What the result shown runs.
    data::BoundStatement shown_;
    // Whether the source has what it needs to open by itself once its window has loaded.
    virtual bool readyToOpenByItself() const { return false; }
    bool event(QEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void moveTo(int row, bool always);
    void fitButtons();
    void attachToForm();
    void formLoaded();

    data::ResultModel* model_;
    SourceRecordset recordset_;
    QPointer<Form> form_;
    QMetaObject::Connection loadConnection_;
    QLabel* captionLabel_;
    QList<QToolButton*> buttons_;
    data::LongOperationRunner runner_;
    int current_ = -1;
    bool opened_ = false;
    bool readsWholeResult_ = false;
    data::ParameterAnswers answers_;
};

// A data source over a database file and a statement or table name.
class BoundDataSource : public DataSource {
    Q_OBJECT
public:
    BoundDataSource(const QString& name, QWidget* parent);
    ~BoundDataSource() override;

    QString databaseName() const { return databaseName_; }
    void setDatabaseName(const QString& path) { databaseName_ = path; }
    QString recordSource() const { return recordSource_; }
    void setRecordSource(const QString& sql) { recordSource_ = sql; }

    // Opens the database file and runs the record source.
    Error refresh() override;

    QJsonObject automationState() const override;

protected:
    bool readyToOpenByItself() const override;
    std::unique_ptr<data::ResultSource> runAgain(const data::BoundStatement& statement,
                                                 data::Interrupter& stop, Error* error) override;

private:
    QString databaseName_;
    QString recordSource_;
    std::unique_ptr<data::Database> database_;
};

// A data source over an ODBC data source and a statement.
class RemoteDataSource : public DataSource {
    Q_OBJECT
public:
    RemoteDataSource(const QString& name, QWidget* parent);
    ~RemoteDataSource() override;

    QString dataSourceName() const { return dataSourceName_; }
    // The name as typed; the driver decides how it matches.
    void setDataSourceName(const QString& name) { dataSourceName_ = name; }
    QString sql() const { return sql_; }
    void setSql(const QString& sql) { sql_ = sql; }

    // Connects to the data source and runs the statement.
    Error refresh() override;

    QJsonObject automationState() const override;

protected:
    std::unique_ptr<data::ResultSource> runAgain(const data::BoundStatement& statement,
                                                 data::Interrupter& stop, Error* error) override;

private:
    QString dataSourceName_;
    QString sql_;
    std::unique_ptr<data::OdbcConnection> connection_;
};

} // namespace velario
