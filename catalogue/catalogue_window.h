#pragma once

#include "platform/form.h"
#include "results/entry_source.h"

#include <optional>

namespace velario {

class CommandButton;
class Label;
class MemoBox;
class OptionButton;
class SharedState;
class TextBox;

class BoundDataSource;
class DataGrid;

// The catalogue window, frmTS0002 to the automation and in the transcript: the list of saved
// queries above, the fields of one entry below.
class CatalogueWindow : public Form, public EntrySource {
    Q_OBJECT
public:
    explicit CatalogueWindow(SharedState& state);
    ~CatalogueWindow() override;

    QString entryCode() const override;
    QString entryDescription() const override;
    QString entrySql() const override;
    QString entryDatabase() const override;
    QString entryType() const override;
    void setSteppedAside(bool aside) override;

    // "S" while a new entry is typed, empty otherwise.
    QString FLAG_NEW;
    // "S" from load to the first activation, then "N".
    QString FLAG_ACTIVATE;

    void CAMPI_INITIALIZE();
    void SETTA_ELENCHI();
    void RIPOSIZIONA_MSRDC1();
    void CERCA_TESTO();

    DataGrid* DBGrid1 = nullptr;
    BoundDataSource* MSRDC1 = nullptr;
    Label* Label1 = nullptr;
    Label* Label2 = nullptr;
    Label* Label3 = nullptr;
    Label* Label4 = nullptr;
    Label* Label5 = nullptr;
    Label* Label6 = nullptr;
    TextBox* txtCOD_SQL = nullptr;
    TextBox* txtDESCR_SQL = nullptr;
    TextBox* txtDATABASE = nullptr;
    TextBox* txtTIPO_DATABASE = nullptr;
    MemoBox* txtSELEZ_SQL = nullptr;
    CommandButton* cmdSFOGLIA = nullptr;
    CommandButton* cmdSTAMPA_Elenco_SQL = nullptr;
    CommandButton* cmdSTAMPA_SQL = nullptr;
    CommandButton* cmdESEGUE_SQL = nullptr;
    CommandButton* cmdNUOVO = nullptr;
    CommandButton* cmdAGGIORNA = nullptr;
    CommandButton* cmdCANCELLA = nullptr;
    CommandButton* cmdESCI = nullptr;
    OptionButton* Option1 = nullptr;
    OptionButton* Option2 = nullptr;

protected:
    void onLoad() override;
    void onActivate() override;
    void onUnload() override;

private:
    void buildControls();
    void selectOptionForType();
    void setBrowseModeControls();
    // Fills every field from the catalogue row of CODE, or clears them when there is none;
    // a lookup that fails leaves them as they are.
    void showStoredEntry(const QString& code);

    void Option1_Click();
    void Option2_Click();
    void txtDATABASE_LostFocus();
    void selectAllOnFocus(TextBox* field);
    void cmdSFOGLIA_Click();
    void cmdESCI_Click();
    void cmdNUOVO_Click();
    void cmdAGGIORNA_Click();
    void cmdCANCELLA_Click();
    void cmdSTAMPA_Elenco_SQL_Click();
    void cmdSTAMPA_SQL_Click();
    void cmdESEGUE_SQL_Click();
    std::optional<QString> DBGrid1_CellEdited(int resultRow, int column, const QString& text);
    // Ctrl+F: asks for a text and moves the list to the next entry that holds it.
    void findEntry();
    // F3: the next entry that holds the text last looked for, from the top after the last.
    void findNextEntry();

    QString findText_;

    SharedState& state_;
};

} // namespace velario
