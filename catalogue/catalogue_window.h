#pragma once

#include "data/catalogue/catalogue.h"
#include "data/errors.h"
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

class CatalogueListSource;
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

protected:
    void onLoad() override;
    void onActivate() override;
    void onUnload() override;

private:
    void CAMPI_INITIALIZE();
    void SETTA_ELENCHI();
    void RIPOSIZIONA_MSRDC1();

    void buildControls();
    void selectOptionForType();
    void setBrowseModeControls();
    // What a look-up that finds nothing or fails is worth saying.
    enum class Say {
        Failure,          // a code typed for a new entry, which need not be there
        FailureOrMissing, // the entry of a row or of a save, which should be there
        Nothing,          // a look-up whose fields are replaced before anyone sees them
    };
    // Fills every field from the entry whose code is CODE, exactly; clears them when there is
    // none or the look-up fails, and says so as SAY says.
    void showStoredEntry(const QString& code, Say say);
    // Fills every field from ENTRY, the version stored under STOREDCODE, whole, whatever the
    // lengths the fields take when typed.
    void showEntry(const data::StoredEntry& entry, const QString& storedCode);
    // The look-up, save or delete of CODE failed: ERROR said with the statement shown for it.
    void reportLookup(const Error& error, const QString& code);
    void reportError(const Error& error, const QString& statement);
    enum class Change { Save, Delete, Restore };
    // A change of CODE found OUTCOME instead of what it expected: the user says what to do.
    // What to expect when the change is to be tried again; nullopt when it is not.
    std::optional<data::Expected> resolveConflict(const data::ChangeOutcome& outcome,
                                                  const QString& code, Change change);
    // After a change of CODE: the list read again, the entry as stored shown in browse mode.
    void showChanged(const QString& code);
    // "Versioni precedenti…": the earlier versions of the entry shown, one to restore.
    void showVersions();
    // "Selezioni cancellate…": the entries deleted and not there now, one to restore.
    void showDeleted();
    // Writes VERSION back over what EXPECTED says is there.
    void restoreVersion(const data::CatalogueVersion& version, data::Expected expected);
    // Shows VERSION, which someone else saved under CODE, in browse mode.
    void showOtherVersion(const data::StoredEntry& version, const QString& code);
    // Why the catalogue cannot be changed now, said as a failed change of CODE is; false when
    // it can.
    bool refusedAsReadOnly(const QString& code);
    // Whether CODE is in the list as the user was last shown it.
    bool listed(const QString& code) const;
    // Reads the list again, keeping the entry on screen and the fields as they are, typed or
    // not; REPORT: a failure is said, else the list stays as it was.
    void rereadList(bool report);
    // The code a save writes and writes over, and a delete removes: the shown entry's own, as
    // stored, while the code field shows it; else the code typed.
    QString codeOnScreen() const;

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
    // FLAG_NEW: a new entry is being typed.
    bool newEntry_ = false;
    // FLAG_ACTIVATE: the window has been activated once.
    bool activated_ = false;
    // The code of the stored entry the fields show, as stored (blanks and length whatever they
    // are): what a save in browse mode writes over and a delete removes. Empty when the fields
    // show no stored entry.
    std::optional<QString> shownCode_;
    // That entry as it was stored when it was shown: a save or a delete changes only this
    // version.
    std::optional<data::StoredEntry> shownVersion_;
    // While the list report walks the list: every entry, by code, as read when it started.
    std::optional<QHash<QString, data::StoredEntry>> walked_;
    // The list is being read again: its moves leave the fields as they are.
    bool quiet_ = false;
    // A save refreshes the list, which shows its first entry only until the saved one is read
    // again.
    bool saving_ = false;

    SharedState& state_;

    DataGrid* DBGrid1 = nullptr;
    CatalogueListSource* MSRDC1 = nullptr;
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
};

} // namespace velario
