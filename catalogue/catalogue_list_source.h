#pragma once

#include "controls/datasource.h"

namespace velario {

namespace data {
class Catalogue;
}

// The data source of the catalogue window's list: code and description of every entry, read
// through the catalogue, in a file or on a server, whole as soon as it opens.
class CatalogueListSource final : public DataSource {
    Q_OBJECT
public:
    CatalogueListSource(const QString& name, QWidget* parent);
    ~CatalogueListSource() override;

    // CATALOGUE (null: none could be opened) at the place SHOWN, as the user may see it.
    void setCatalogue(data::Catalogue* catalogue, const QString& shown);

    // Reads the list again, its first row current.
    Error refresh() override;
    // Reads the list again, leaving it as it was when it cannot be read; the row of CODE (else
    // the one at the same place) current.
    Error reread(const QString& code);

    QJsonObject automationState() const override;

protected:
    bool readyToOpenByItself() const override { return catalogue_ != nullptr; }
    // The list is read through the catalogue, never by a statement of its own: nothing to run.
    std::unique_ptr<data::ResultSource> runAgain(const data::BoundStatement&, data::Interrupter&,
                                                 Error* error) override {
        *error = Error::make(ErrorNumber::ObjectNotSet);
        return nullptr;
    }

private:
    data::Catalogue* catalogue_ = nullptr;
    QString shown_;
};

} // namespace velario
