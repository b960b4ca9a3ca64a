#include "catalogue_list_source.h"

#include "data/catalogue/catalogue.h"
#include "data/catalogue/catalogue_store.h"

#include <QJsonObject>

namespace velario {

CatalogueListSource::CatalogueListSource(const QString& name, QWidget* parent)
    : DataSource(name, parent) {
    setReadsWholeResult(true);
}

CatalogueListSource::~CatalogueListSource() {
    showNothing();
}

void CatalogueListSource::setCatalogue(data::Catalogue* catalogue, const QString& shown) {
    catalogue_ = catalogue;
    shown_ = shown;
}

Error CatalogueListSource::refresh() {
    if (!catalogue_) {
        showNothing();
        return Error::make(ErrorNumber::ObjectNotSet);
    }
    // What the search reads is read meanwhile, on another connection, for the user searches
    // a list only once it is on screen.
    catalogue_->prepareSearch();
    // A list on screen that cannot be read again (another program holding the file past the
    // wait) stays as it was, never emptied in silence: the next reading brings it up to date.
    Error error;
    std::unique_ptr<data::ResultSource> list;
    if (model()->rowCount() > 0 && !(list = catalogue_->openList(&error)))
        return error;
    showNothing();
    return showOpened(data::LongOperation::Run, [&](data::Interrupter&, Error* failure) {
        return list ? std::move(list) : catalogue_->openList(failure);
    });
}

Error CatalogueListSource::reread(const QString& code) {
    if (!catalogue_)
        return Error::make(ErrorNumber::ObjectNotSet);
    catalogue_->prepareSearch();
    Error error;
    std::unique_ptr<data::ResultSource> list = catalogue_->openList(&error);
    if (!list)
        return error;
    const int before = currentRow();
    showNothing();
    if ((error = showOpened(data::LongOperation::Run,
                            [&](data::Interrupter&, Error*) { return std::move(list); })))
        return error;
    // Where the entry was, most often, and else wherever it went.
    data::ResultModel& rows = *model();
    const auto holds = [&](int row) {
        return row >= 0 && row < rows.rowCount() && !rows.isNull(row, 0) &&
               rows.text(row, 0) == code;
    };
    int row = holds(before) ? before : -1;
    for (int r = 0; row < 0 && r < rows.rowCount(); ++r)
        if (holds(r))
            row = r;
    if (row < 0)
        row = std::min(std::max(before, 0), rows.rowCount() - 1);
    selectRow(row);
    return {};
}

QJsonObject CatalogueListSource::automationState() const {
    return {{"caption", caption()},
            {"databaseName", shown_},
            {"recordSource", data::catalogueListStatement()}};
}

} // namespace velario
