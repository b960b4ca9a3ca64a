#pragma once

#include "data/errors.h"
#include "entry_source.h"
#include "platform/form.h"

#include <QPointer>

#include <array>
#include <cstdint>

namespace velario {

class CommandButton;
class Label;
class SharedState;

class BoundDataSource;
class DataGrid;
class RemoteDataSource;

// The result window, frmTS0003 to the automation and in the transcript: runs the statement
// of the entry its opener shows, against a database file ("MDB") or an ODBC data source (any
// other type), shows its rows and their count, and fits the grid's columns to the text on
// show.
class ResultWindow : public Form {
    Q_OBJECT
public:
    static constexpr int kColumns = 51;

    // ENTRY is read each time the window needs it, while the object behind it lives.
    ResultWindow(SharedState& state, EntrySource& entry);
    ~ResultWindow() override;

    // Loads the result window unless it is loaded already, then shows it; true when it was
    // loaded already (no first activation follows then). A new window runs ENTRY.
    static bool loadAndShow(SharedState& state, EntrySource& entry);

    // The record count as lblNUM_REC shows it: grouped in the user's locale, right-aligned
    // in 8 characters, or longer when the number is.
    static QString recordCountCaption(qint64 count);
    // The same once the user stopped a reading short of the count: the rows shown, of how many.
    static QString recordCountCaption(qint64 shown, qint64 count);

    // The grid of the live path, by the entry's type as it is now.
    DataGrid* activeGrid() const;

protected:
    void onLoad() override;
    void onActivate() override;
    void onUnload() override;

private:
    void buildControls();
    void CALC_DIM_CAMPI_GRIGLIA();
    void cmdADEGUA_CAMPI_Click();
    void cmdAUMENTA_CAMPI_Click();
    void cmdDIMINUISCE_CAMPI_Click();
    void cmdSTAMPA_Click();
    void cmdESCI_Click();
    void showReadFailure(int number, const QString& description);
    void showReadingStopped(bool stopped);
    // The live grid's count in lblNUM_REC; why it could not be counted in ERROR.
    void showRecordCount(Error* error = nullptr);
    bool accessPath() const;
    EntrySource* entry() const;

    SharedState& state_;
    EntrySource* entry_;
    QPointer<QObject> entryGuard_;

    // "S" in the design from load to the first activation, then "N": the statement runs once
    // per opening.
    bool FLAG_ACTIVATE = false;

    // Column fitting: measured widths in characters by grid column, the same sorted widest
    // first with their column indexes, the totals, the last column measured and the target.
    std::array<std::int16_t, kColumns> COL_WIDTH{};
    std::array<std::int16_t, kColumns> SORTED_WIDTH{};
    std::array<std::int16_t, kColumns> SORTED_COL{};
    std::int16_t HEAD_TOTAL = 0;
    std::int16_t LINE_TOTAL = 0;
    std::int16_t MAX_COL = 0;
    std::int16_t DIM_MAX = 0;
    double NUM_REC = 0;

    Label* Label1 = nullptr;
    Label* lblCOD_SQL = nullptr;
    Label* Label2 = nullptr;
    Label* lblDESCR_SQL = nullptr;
    DataGrid* DBGrid1 = nullptr;
    DataGrid* DBGrid2 = nullptr;
    Label* Label5 = nullptr;
    Label* lblNUM_REC = nullptr;
    RemoteDataSource* MSRDC1 = nullptr;
    BoundDataSource* Data1 = nullptr;
    Label* Label3 = nullptr;
    Label* lblDIM_MAX = nullptr;
    CommandButton* cmdADEGUA_CAMPI = nullptr;
    CommandButton* cmdDIMINUISCE_CAMPI = nullptr;
    CommandButton* cmdAUMENTA_CAMPI = nullptr;
    CommandButton* cmdSTAMPA = nullptr;
    CommandButton* cmdESCI = nullptr;
};

} // namespace velario
