#include "catalogue_window.h"

#include "app/shared_state.h"
#include "controls/controls.h"
#include "controls/datagrid.h"
#include "controls/datasource.h"
#include "data/catalogue/catalogue_store.h"
#include "platform/platform.h"
#include "platform/twips.h"
#include "print/catalogue_list_report.h"
#include "print/query_sheet.h"
#include "results/result_window.h"

#include <QShortcut>

namespace velario {

namespace {

const QString kMdb = QStringLiteral("MDB");
const QString kOdbc = QStringLiteral("ODBC");

QString trimmed(const QString& text) {
    return text.trimmed();
}

// The catalogue entry as the edit fields show it, every field trimmed.
data::CatalogueEntry entryOnScreen(const CatalogueWindow& w) {
    return {trimmed(w.txtCOD_SQL->text()), trimmed(w.txtDESCR_SQL->text()),
            trimmed(w.txtSELEZ_SQL->text()), trimmed(w.txtDATABASE->text()),
            trimmed(w.txtTIPO_DATABASE->text())};
}

// Opens the lookup of CODE into RS and reports a failure at once; false when it failed.
bool openLookup(SharedState& state, const QString& code) {
    state.MSG = data::lookupStatementText(code);
    Error error;
    state.RS = data::openCatalogueLookup(state.DB.get(), code, &error);
    if (!state.RS) {
        state.ERR = error;
        state.ERROR_REPORT();
        return false;
    }
    state.ERROR_REPORT();
    return true;
}

void closeLookup(SharedState& state) {
    if (state.RS)
        state.RS->close();
}

// Reports a failed write with the statement that found the row.
void reportWrite(SharedState& state, const Error& error) {
    if (!error)
        return;
    state.ERR = error;
    state.ERROR_REPORT();
}

} // namespace

CatalogueWindow::CatalogueWindow(SharedState& state)
    : Form(QStringLiteral("frmTS0002")), state_(state) {
    setWindowTitle(QStringLiteral("Gestione selezioni SQL"));
    buildControls();
}

CatalogueWindow::~CatalogueWindow() = default;

QString CatalogueWindow::entryCode() const {
    return txtCOD_SQL->text();
}

QString CatalogueWindow::entryDescription() const {
    return txtDESCR_SQL->text();
}

QString CatalogueWindow::entrySql() const {
    return txtSELEZ_SQL->text();
}

QString CatalogueWindow::entryDatabase() const {
    return txtDATABASE->text();
}

QString CatalogueWindow::entryType() const {
    return txtTIPO_DATABASE->text();
}

void CatalogueWindow::setSteppedAside(bool aside) {
    setWindowStateValue(aside ? 1 : 0);
}

void CatalogueWindow::buildControls() {
    DBGrid1 = new DataGrid(QStringLiteral("DBGrid1"), this);
    twips::setGeometry(DBGrid1, 120, 120, 10575, 3495);

    Label1 = new Label(QStringLiteral("Label1"), QStringLiteral("Codice"), this);
    twips::setGeometry(Label1, 240, 3720, 1215, 255);
    Label4 = new Label(QStringLiteral("Label4"), QStringLiteral("Descrizione selezione SQL"), this);
    twips::setGeometry(Label4, 1800, 3720, 2175, 255);
    Label6 = new Label(QStringLiteral("Label6"), QStringLiteral("VELARIO  Selezioni SQL"), this);
    twips::setGeometry(Label6, 8400, 3720, 2295, 255);
    QFont banner(QStringLiteral("Arial"));
    banner.setPointSizeF(9.75);
    banner.setBold(true);
    Label6->setFont(banner);

    txtCOD_SQL = new TextBox(QStringLiteral("txtCOD_SQL"), this);
    twips::setGeometry(txtCOD_SQL, 120, 3960, 1455, 285);
    txtCOD_SQL->setMaxLength(15);
    txtDESCR_SQL = new TextBox(QStringLiteral("txtDESCR_SQL"), this);
    twips::setGeometry(txtDESCR_SQL, 1800, 3960, 8895, 285);
    txtDESCR_SQL->setMaxLength(45);

    Label2 = new Label(QStringLiteral("Label2"), QStringLiteral("Database (.Mdb/Odbc)"), this);
    twips::setGeometry(Label2, 120, 4440, 1815, 255);
    txtDATABASE = new TextBox(QStringLiteral("txtDATABASE"), this);
    twips::setGeometry(txtDATABASE, 1800, 4440, 5775, 285);
    txtDATABASE->setMaxLength(80);
    cmdSFOGLIA =
        new CommandButton(QStringLiteral("cmdSFOGLIA"), QStringLiteral("Sfoglia ..."), this);
    twips::setGeometry(cmdSFOGLIA, 7680, 4440, 975, 285);
    Label5 = new Label(QStringLiteral("Label5"), QStringLiteral("Tipo Database"), this);
    twips::setGeometry(Label5, 8760, 4440, 1095, 255);
    txtTIPO_DATABASE = new TextBox(QStringLiteral("txtTIPO_DATABASE"), this);
    twips::setGeometry(txtTIPO_DATABASE, 9960, 4440, 735, 285);
    txtTIPO_DATABASE->setMaxLength(5);

    cmdSTAMPA_Elenco_SQL = new CommandButton(QStringLiteral("cmdSTAMPA_Elenco_SQL"),
                                             QStringLiteral("Stampa elenco SQL"), this);
    twips::setGeometry(cmdSTAMPA_Elenco_SQL, 3480, 4800, 1695, 375);
    cmdSTAMPA_SQL =
        new CommandButton(QStringLiteral("cmdSTAMPA_SQL"), QStringLiteral("Stampa SQL"), this);
    twips::setGeometry(cmdSTAMPA_SQL, 5640, 4800, 1695, 375);

    MSRDC1 = new BoundDataSource(QStringLiteral("MSRDC1"), this);
    MSRDC1->setCaption(QStringLiteral("MSRDC1"));
    MSRDC1->setReadsWholeResult(true);
    twips::setGeometry(MSRDC1, 7440, 4800, 1215, 345);
    DBGrid1->setDataSource(MSRDC1);

    Option2 = new OptionButton(QStringLiteral("Option2"), QStringLiteral(".MDB"), this);
    twips::setGeometry(Option2, 8880, 4800, 735, 255);
    Option2->setValue(true);
    Option1 = new OptionButton(QStringLiteral("Option1"), QStringLiteral("ODBC"), this);
    twips::setGeometry(Option1, 9960, 4800, 855, 255);

    Label3 = new Label(QStringLiteral("Label3"), QStringLiteral("Selezione SQL"), this);
    twips::setGeometry(Label3, 1800, 5040, 1215, 255);
    txtSELEZ_SQL = new MemoBox(QStringLiteral("txtSELEZ_SQL"), this);
    twips::setGeometry(txtSELEZ_SQL, 1800, 5280, 8895, 1815);

    cmdESEGUE_SQL =
        new CommandButton(QStringLiteral("cmdESEGUE_SQL"), QStringLiteral("Esegue SQL"), this);
    twips::setGeometry(cmdESEGUE_SQL, 120, 5040, 1455, 375);
    cmdNUOVO = new CommandButton(QStringLiteral("cmdNUOVO"), QStringLiteral("Nuovo"), this);
    twips::setGeometry(cmdNUOVO, 120, 5640, 1455, 375);
    cmdAGGIORNA =
        new CommandButton(QStringLiteral("cmdAGGIORNA"), QStringLiteral("Aggiorna"), this);
    twips::setGeometry(cmdAGGIORNA, 120, 6000, 1455, 375);
    cmdCANCELLA =
        new CommandButton(QStringLiteral("cmdCANCELLA"), QStringLiteral("Cancella"), this);
    twips::setGeometry(cmdCANCELLA, 120, 6360, 1455, 375);
    cmdESCI = new CommandButton(QStringLiteral("cmdESCI"), QStringLiteral("Annulla / Esci"), this);
    twips::setGeometry(cmdESCI, 120, 6720, 1455, 375);

    const QList<QWidget*> tabOrder{
        DBGrid1,     txtCOD_SQL, txtDESCR_SQL,         txtDATABASE,   cmdSFOGLIA, txtTIPO_DATABASE,
        Option2,     Option1,    txtSELEZ_SQL,         cmdESEGUE_SQL, cmdNUOVO,   cmdAGGIORNA,
        cmdCANCELLA, cmdESCI,    cmdSTAMPA_Elenco_SQL, cmdSTAMPA_SQL};
    for (qsizetype i = 1; i < tabOrder.size(); ++i)
        setTabOrder(tabOrder[i - 1], tabOrder[i]);

    DBGrid1->setCellEditing(true);
    DBGrid1->setColumnMaxLength(0, txtCOD_SQL->maxLength());
    DBGrid1->setColumnMaxLength(1, txtDESCR_SQL->maxLength());
    DBGrid1->setCellEditHandler([this](int row, int column, const QString& text) {
        return DBGrid1_CellEdited(row, column, text);
    });

    // Wherever the focus is in the window: the fields and the list alike.
    connect(new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_F), this), &QShortcut::activated, this,
            &CatalogueWindow::findEntry);
    connect(new QShortcut(QKeySequence(Qt::Key_F3), this), &QShortcut::activated, this,
            &CatalogueWindow::findNextEntry);

    connect(MSRDC1, &DataSource::reposition, this, &CatalogueWindow::RIPOSIZIONA_MSRDC1,
            Qt::DirectConnection);
    connect(Option1, &OptionButton::selected, this, &CatalogueWindow::Option1_Click);
    connect(Option2, &OptionButton::selected, this, &CatalogueWindow::Option2_Click);
    connect(txtDATABASE, &TextBox::lostFocus, this, &CatalogueWindow::txtDATABASE_LostFocus);
    for (TextBox* field : {txtDESCR_SQL, txtDATABASE, txtTIPO_DATABASE})
        connect(field, &TextBox::gotFocus, this, [this, field] { selectAllOnFocus(field); });
    connect(cmdSFOGLIA, &QPushButton::clicked, this, &CatalogueWindow::cmdSFOGLIA_Click);
    connect(cmdESCI, &QPushButton::clicked, this, &CatalogueWindow::cmdESCI_Click);
    connect(cmdNUOVO, &QPushButton::clicked, this, &CatalogueWindow::cmdNUOVO_Click);
    connect(cmdAGGIORNA, &QPushButton::clicked, this, &CatalogueWindow::cmdAGGIORNA_Click);
    connect(cmdCANCELLA, &QPushButton::clicked, this, &CatalogueWindow::cmdCANCELLA_Click);
    connect(cmdSTAMPA_Elenco_SQL, &QPushButton::clicked, this,
            &CatalogueWindow::cmdSTAMPA_Elenco_SQL_Click);
    connect(cmdSTAMPA_SQL, &QPushButton::clicked, this, &CatalogueWindow::cmdSTAMPA_SQL_Click);
    connect(cmdESEGUE_SQL, &QPushButton::clicked, this, &CatalogueWindow::cmdESEGUE_SQL_Click);
}

void CatalogueWindow::onLoad() {
    setTwipsSize(11040, 7620);
    setHelpContextId(10);
    FLAG_ACTIVATE = QStringLiteral("S");
    FLAG_NEW.clear();
    txtCOD_SQL->setEnabled(false);
    MSRDC1->setDatabaseName(state_.PATH_DB);
    state_.MSG = data::catalogueListStatement();
    MSRDC1->setRecordSource(state_.MSG);
    platform().setMousePointer(MousePointer::Default);
}

void CatalogueWindow::onActivate() {
    if (FLAG_ACTIVATE == QLatin1String("N"))
        return;
    FLAG_ACTIVATE = QStringLiteral("N");
    platform().setMousePointer(MousePointer::Hourglass);
    RIPOSIZIONA_MSRDC1();
    platform().setMousePointer(MousePointer::Default);
}

void CatalogueWindow::onUnload() {
    state_.WIN_ID = SharedState::kIdCatalogue;
    state_.WIN_REMOVE();
}

void CatalogueWindow::CAMPI_INITIALIZE() {
    txtCOD_SQL->setText(QString());
    txtDESCR_SQL->setText(QString());
    txtSELEZ_SQL->setText(QString());
    txtDATABASE->setText(QString());
    txtTIPO_DATABASE->setText(kMdb);
    selectOptionForType();
}

void CatalogueWindow::SETTA_ELENCHI() {
    // Every step may fail (no list yet); each failure leaves the grid as it was.
    DBGrid1->setHeight(MSRDC1->recordset().recordCount() < 5 ? 2200 : 2900);
    DBGrid1->setColumnCaption(0, QStringLiteral("Codice"));
    DBGrid1->setColumnCaption(1, QStringLiteral("Descrizione"));
    DBGrid1->setColumnWidth(0, 1770);
    DBGrid1->setColumnWidth(1, 8300);
}

void CatalogueWindow::selectOptionForType() {
    if (trimmed(txtTIPO_DATABASE->text()) != kOdbc)
        Option2->setValue(true);
    else
        Option1->setValue(true);
}

void CatalogueWindow::setBrowseModeControls() {
    txtCOD_SQL->setEnabled(false);
    for (CommandButton* b : {cmdNUOVO, cmdAGGIORNA, cmdCANCELLA, cmdESCI, cmdESEGUE_SQL})
        b->setEnabled(true);
}

void CatalogueWindow::RIPOSIZIONA_MSRDC1() {
    if (FLAG_NEW == QLatin1String("S"))
        setBrowseModeControls();
    if (!MSRDC1->recordset().eof()) {
        const QString code = trimmed(txtCOD_SQL->text());
        if (!code.isEmpty() && FLAG_NEW == QLatin1String("S")) {
            showStoredEntry(code);
        } else {
            txtCOD_SQL->setText(trimmed(DBGrid1->columnText(0)));
            txtDESCR_SQL->setText(trimmed(DBGrid1->columnText(1)));
            CERCA_TESTO();
        }
    } else {
        CAMPI_INITIALIZE();
    }
    selectOptionForType();
    SETTA_ELENCHI();
}

void CatalogueWindow::showStoredEntry(const QString& code) {
    if (!openLookup(state_, code))
        return;
    data::CatalogueEntry entry;
    if (state_.RS->recordCount() != 0 && !data::readCatalogueEntry(*state_.RS, &entry)) {
        txtCOD_SQL->setText(entry.code);
        txtDESCR_SQL->setText(entry.description);
        txtSELEZ_SQL->setText(entry.sql);
        txtDATABASE->setText(entry.database);
        txtTIPO_DATABASE->setText(entry.databaseType);
    } else {
        CAMPI_INITIALIZE();
    }
    closeLookup(state_);
}

void CatalogueWindow::CERCA_TESTO() {
    if (openLookup(state_, trimmed(txtCOD_SQL->text()))) {
        if (!state_.RS->eof()) {
            txtSELEZ_SQL->setText(data::catalogueField(*state_.RS, QStringLiteral("SQL")));
            txtDATABASE->setText(data::catalogueField(*state_.RS, QStringLiteral("Database")));
            txtTIPO_DATABASE->setText(
                data::catalogueField(*state_.RS, QStringLiteral("Tipo_Database")));
        }
        closeLookup(state_);
    }
    selectOptionForType();
}

void CatalogueWindow::Option1_Click() {
    txtTIPO_DATABASE->setText(Option1->value() ? kOdbc : kMdb);
}

void CatalogueWindow::Option2_Click() {
    txtTIPO_DATABASE->setText(Option2->value() ? kMdb : kOdbc);
}

void CatalogueWindow::txtDATABASE_LostFocus() {
    const QString text = txtDATABASE->text();
    if (!trimmed(text).isEmpty())
        txtTIPO_DATABASE->setText(text.contains(QLatin1String(".MDB")) ? kMdb : kOdbc);
    else
        txtTIPO_DATABASE->setText(kMdb);
    selectOptionForType();
}

void CatalogueWindow::selectAllOnFocus(TextBox* field) {
    field->setSelection(0, int(field->text().size()));
}

void CatalogueWindow::cmdSFOGLIA_Click() {
    if (!Option2->value())
        return;
    const QString current = trimmed(txtDATABASE->text());
    const std::optional<QString> chosen =
        platform().fileOpen(current.isEmpty() ? platform().programDir() : current);
    platform().doEvents();
    // A cancelled dialog leaves what the user typed.
    if (!chosen)
        return;
    txtDATABASE->setText(*chosen);
}

void CatalogueWindow::cmdESCI_Click() {
    unload();
}

void CatalogueWindow::cmdNUOVO_Click() {
    FLAG_NEW = QStringLiteral("S");
    txtCOD_SQL->setEnabled(true);
    setBackColor(txtCOD_SQL, color::kWindowBackground);
    CAMPI_INITIALIZE();
    cmdNUOVO->setEnabled(false);
    cmdAGGIORNA->setEnabled(true);
    cmdCANCELLA->setEnabled(false);
    cmdESCI->setEnabled(true);
    cmdESEGUE_SQL->setEnabled(false);
    txtCOD_SQL->setFocus();
}

void CatalogueWindow::cmdAGGIORNA_Click() {
    struct Check {
        QWidget* field;
        QString text;
        const char* message;
    };
    const Check checks[] = {
        {txtCOD_SQL, txtCOD_SQL->text(), "Indicare un codice !!!"},
        {txtDESCR_SQL, txtDESCR_SQL->text(), "Indicare una descrizione !!!"},
        {txtDATABASE, txtDATABASE->text(), "Indicare un Database collegato !!!"},
        {txtTIPO_DATABASE, txtTIPO_DATABASE->text(), "Indicare il tipo di Database !!!"},
        {txtSELEZ_SQL, txtSELEZ_SQL->text(), "Nessuna stringa SQL da eseguire !!!"},
    };
    for (const Check& c : checks) {
        if (!trimmed(c.text).isEmpty())
            continue;
        platform().beep();
        platform().msgBox(QString::fromUtf8(c.message), MsgBox::OkOnly);
        if (c.field->isEnabled() && c.field->isVisible())
            c.field->setFocus();
        return;
    }

    platform().setMousePointer(MousePointer::Hourglass);
    state_.COD_SQL = trimmed(txtCOD_SQL->text());
    // A lookup or a write that fails changes nothing: the error is shown once and the window
    // stays as it was.
    if (!openLookup(state_, state_.COD_SQL)) {
        platform().setMousePointer(MousePointer::Default);
        return;
    }
    Error error = state_.RS->recordCount() != 0 ? state_.RS->edit() : state_.RS->addNew();
    if (!error)
        error = data::collectCatalogueEntry(*state_.RS, entryOnScreen(*this));
    if (!error)
        error = state_.RS->update();
    closeLookup(state_);
    if (error) {
        reportWrite(state_, error);
        platform().setMousePointer(MousePointer::Default);
        return;
    }

    {
        // The list's first entry, which the refresh shows, gives way at once to the saved
        // one: only the latter is laid out.
        const HeldTexts held(this);
        MSRDC1->refresh();
        SETTA_ELENCHI();
        FLAG_NEW.clear();
        setBrowseModeControls();
        txtCOD_SQL->setText(state_.COD_SQL);
        showStoredEntry(state_.COD_SQL);
    }
    platform().setMousePointer(MousePointer::Default);
}

void CatalogueWindow::cmdCANCELLA_Click() {
    FLAG_NEW.clear();
    state_.RISP = QString::number(platform().msgBox(QStringLiteral("Confermi la cancellazione ?"),
                                                    MsgBox::YesNo | MsgBox::Question));
    if (state_.RISP.toInt() != MsgBox::Yes)
        return;
    if (!openLookup(state_, trimmed(txtCOD_SQL->text())))
        return;
    Error error;
    if (state_.RS->recordCount() > 0)
        error = state_.RS->deleteCurrent();
    closeLookup(state_);
    if (error) {
        reportWrite(state_, error);
        return;
    }
    MSRDC1->refresh();
    RIPOSIZIONA_MSRDC1();
    FLAG_NEW.clear();
}

void CatalogueWindow::cmdSTAMPA_Elenco_SQL_Click() {
    CatalogueListGrid list(
        *DBGrid1, [this] { return txtSELEZ_SQL->text(); }, [this] { return txtDATABASE->text(); });
    printCatalogueList(list);
}

void CatalogueWindow::cmdSTAMPA_SQL_Click() {
    printQuerySheet({txtCOD_SQL->text(), txtDESCR_SQL->text(), txtDATABASE->text(),
                     txtTIPO_DATABASE->text(), txtSELEZ_SQL->text()});
}

void CatalogueWindow::cmdESEGUE_SQL_Click() {
    state_.MSG = trimmed(txtSELEZ_SQL->text());
    if (state_.MSG.isEmpty()) {
        platform().beep();
        platform().msgBox(QStringLiteral("Nessuna stringa SQL da eseguire !!!"), MsgBox::OkOnly);
        return;
    }
    platform().setMousePointer(MousePointer::Hourglass);
    // The statement runs when the result window first becomes active; a window that was
    // open already does not run it again, so nothing would restore the pointer.
    if (ResultWindow::loadAndShow(state_, *this))
        platform().setMousePointer(MousePointer::Default);
}

std::optional<QString> CatalogueWindow::DBGrid1_CellEdited(int resultRow, int column,
                                                           const QString& text) {
    const QString value = trimmed(text);
    // A value is refused where the fields would not take it: empty, or longer than they are.
    if (column > 1 || value.isEmpty() || value.size() > DBGrid1->columnMaxLength(column)) {
        platform().beep();
        return std::nullopt;
    }
    const QString code = trimmed(DBGrid1->cellText(resultRow, 0));
    if (column == 0 && value != code) {
        // Another entry with the new code already exists: codes identify entries.
        if (!openLookup(state_, value))
            return std::nullopt;
        const bool taken = state_.RS->recordCount() != 0;
        closeLookup(state_);
        if (taken) {
            platform().beep();
            return std::nullopt;
        }
    }
    if (!openLookup(state_, code))
        return std::nullopt;
    Error error;
    if (state_.RS->recordCount() == 0) {
        closeLookup(state_);
        platform().beep();
        return std::nullopt;
    }
    error = state_.RS->edit();
    if (!error)
        error = state_.RS->collect(
            column == 0 ? QStringLiteral("CODICE") : QStringLiteral("DESCRIZIONE"), value);
    if (!error)
        error = state_.RS->update();
    closeLookup(state_);
    if (error) {
        reportWrite(state_, error);
        return std::nullopt;
    }
    if (resultRow == DBGrid1->currentResultRow())
        (column == 0 ? txtCOD_SQL : txtDESCR_SQL)->setText(value);
    return value;
}

void CatalogueWindow::findEntry() {
    const std::optional<QString> text =
        platform().inputBox(QStringLiteral("Testo da cercare nel codice, nella descrizione o "
                                           "nella selezione SQL:"),
                            QStringLiteral("Cerca selezione SQL"), findText_);
    if (!text || text->isEmpty())
        return;
    findText_ = *text;
    findNextEntry();
}

void CatalogueWindow::findNextEntry() {
    if (findText_.isEmpty()) {
        findEntry();
        return;
    }
    // The SQL texts are read from the file for each search: the list holds only codes and
    // descriptions, and another program may have changed any entry since it was read.
    QSet<QString> codes;
    if (const Error error = data::findCatalogueEntries(state_.DB.get(), findText_, &codes)) {
        state_.ERR = error;
        state_.MSG = QStringLiteral("Ricerca di '%1'").arg(findText_);
        state_.ERROR_REPORT();
        return;
    }
    const qint64 rows = codes.isEmpty() ? 0 : DBGrid1->resultRowCount();
    const qint64 current = DBGrid1->currentResultRow();
    for (qint64 step = 1; step <= rows; ++step) {
        const qint64 row = (current + step) % rows;
        if (codes.contains(DBGrid1->cellText(row, 0))) {
            DBGrid1->clickRow(int(row));
            return;
        }
    }
    platform().beep();
}

} // namespace velario
