#include "frmts0002.h"

#include "app/modulo.h"
#include "data/catalogue_store.h"
#include "data/datagrid.h"
#include "data/datasource.h"
#include "platform/controls.h"
#include "platform/platform.h"
#include "platform/twips.h"
#include "print/catalogue_list_report.h"
#include "print/query_sheet.h"

namespace velario {

using Modulo::MSG;

namespace {

const QString kMdb = QStringLiteral("MDB");
const QString kOdbc = QStringLiteral("ODBC");

QString trimmed(const QString& text) {
    return text.trimmed();
}

// The catalogue entry as the edit fields show it, every field trimmed.
data::CatalogueEntry entryOnScreen(const FrmTS0002& w) {
    return {trimmed(w.txtCOD_SQL->text()), trimmed(w.txtDESCR_SQL->text()),
            trimmed(w.txtSELEZ_SQL->text()), trimmed(w.txtDATABASE->text()),
            trimmed(w.txtTIPO_DATABASE->text())};
}

// Opens the lookup of CODE into RS and reports a failure at once; false when it failed.
bool openLookup(const QString& code) {
    MSG = data::lookupStatementText(code);
    Error error;
    Modulo::RS = data::openCatalogueLookup(Modulo::DB.get(), code, &error);
    if (!Modulo::RS) {
        Modulo::ERR = error;
        Modulo::ERROR_REPORT();
        return false;
    }
    Modulo::ERROR_REPORT();
    return true;
}

void closeLookup() {
    if (Modulo::RS)
        Modulo::RS->close();
}

// Reports a failed write with the statement that found the row.
void reportWrite(const Error& error) {
    if (!error)
        return;
    Modulo::ERR = error;
    Modulo::ERROR_REPORT();
}

} // namespace

FrmTS0002::FrmTS0002() : Form(QStringLiteral("frmTS0002")) {
    setWindowTitle(QStringLiteral("Gestione selezioni SQL"));
    buildControls();
}

FrmTS0002::~FrmTS0002() = default;

void FrmTS0002::buildControls() {
    DBGrid1 = new data::DataGrid(QStringLiteral("DBGrid1"), this);
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

    MSRDC1 = new data::BoundDataSource(QStringLiteral("MSRDC1"), this);
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

    connect(MSRDC1, &data::DataSource::reposition, this, &FrmTS0002::RIPOSIZIONA_MSRDC1,
            Qt::DirectConnection);
    connect(Option1, &OptionButton::selected, this, &FrmTS0002::Option1_Click);
    connect(Option2, &OptionButton::selected, this, &FrmTS0002::Option2_Click);
    connect(txtDATABASE, &TextBox::lostFocus, this, &FrmTS0002::txtDATABASE_LostFocus);
    for (TextBox* field : {txtDESCR_SQL, txtDATABASE, txtTIPO_DATABASE})
        connect(field, &TextBox::gotFocus, this, [this, field] { selectAllOnFocus(field); });
    connect(cmdSFOGLIA, &QPushButton::clicked, this, &FrmTS0002::cmdSFOGLIA_Click);
    connect(cmdESCI, &QPushButton::clicked, this, &FrmTS0002::cmdESCI_Click);
    connect(cmdNUOVO, &QPushButton::clicked, this, &FrmTS0002::cmdNUOVO_Click);
    connect(cmdAGGIORNA, &QPushButton::clicked, this, &FrmTS0002::cmdAGGIORNA_Click);
    connect(cmdCANCELLA, &QPushButton::clicked, this, &FrmTS0002::cmdCANCELLA_Click);
    connect(cmdSTAMPA_Elenco_SQL, &QPushButton::clicked, this,
            &FrmTS0002::cmdSTAMPA_Elenco_SQL_Click);
    connect(cmdSTAMPA_SQL, &QPushButton::clicked, this, &FrmTS0002::cmdSTAMPA_SQL_Click);
    connect(cmdESEGUE_SQL, &QPushButton::clicked, this, &FrmTS0002::cmdESEGUE_SQL_Click);
}

void FrmTS0002::onLoad() {
    setTwipsSize(11040, 7620);
    setHelpContextId(10);
    FLAG_ACTIVATE = QStringLiteral("S");
    FLAG_NEW.clear();
    txtCOD_SQL->setEnabled(false);
    MSRDC1->setDatabaseName(Modulo::PATH_DB);
    MSG = data::catalogueListStatement();
    MSRDC1->setRecordSource(MSG);
    platform().setMousePointer(MousePointer::Default);
}

void FrmTS0002::onActivate() {
    if (FLAG_ACTIVATE == QLatin1String("N"))
        return;
    FLAG_ACTIVATE = QStringLiteral("N");
    platform().setMousePointer(MousePointer::Hourglass);
    RIPOSIZIONA_MSRDC1();
    platform().setMousePointer(MousePointer::Default);
}

void FrmTS0002::onUnload() {
    Modulo::WIN_ID = Modulo::kIdCatalogue;
    Modulo::WIN_REMOVE();
}

void FrmTS0002::CAMPI_INITIALIZE() {
    txtCOD_SQL->setText(QString());
    txtDESCR_SQL->setText(QString());
    txtSELEZ_SQL->setText(QString());
    txtDATABASE->setText(QString());
    txtTIPO_DATABASE->setText(kMdb);
    selectOptionForType();
}

void FrmTS0002::SETTA_ELENCHI() {
    // Every step may fail (no list yet); each failure leaves the grid as it was.
    DBGrid1->setHeight(MSRDC1->recordset().recordCount() < 5 ? 2200 : 2900);
    DBGrid1->setColumnCaption(0, QStringLiteral("Codice"));
    DBGrid1->setColumnCaption(1, QStringLiteral("Descrizione"));
    DBGrid1->setColumnWidth(0, 1770);
    DBGrid1->setColumnWidth(1, 8300);
}

void FrmTS0002::selectOptionForType() {
    if (trimmed(txtTIPO_DATABASE->text()) != kOdbc)
        Option2->setValue(true);
    else
        Option1->setValue(true);
}

void FrmTS0002::setBrowseModeControls() {
    txtCOD_SQL->setEnabled(false);
    for (CommandButton* b : {cmdNUOVO, cmdAGGIORNA, cmdCANCELLA, cmdESCI, cmdESEGUE_SQL})
        b->setEnabled(true);
}

void FrmTS0002::RIPOSIZIONA_MSRDC1() {
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

void FrmTS0002::showStoredEntry(const QString& code) {
    if (!openLookup(code))
        return;
    data::CatalogueEntry entry;
    if (Modulo::RS->recordCount() != 0 && !data::readCatalogueEntry(*Modulo::RS, &entry, true)) {
        txtCOD_SQL->setText(entry.code);
        txtDESCR_SQL->setText(entry.description);
        txtSELEZ_SQL->setText(entry.sql);
        txtDATABASE->setText(entry.database);
        txtTIPO_DATABASE->setText(entry.databaseType);
    } else {
        CAMPI_INITIALIZE();
    }
    closeLookup();
}

void FrmTS0002::CERCA_TESTO() {
    if (openLookup(trimmed(txtCOD_SQL->text()))) {
        if (!Modulo::RS->eof()) {
            txtSELEZ_SQL->setText(data::catalogueField(*Modulo::RS, QStringLiteral("SQL")));
            txtDATABASE->setText(data::catalogueField(*Modulo::RS, QStringLiteral("Database")));
            txtTIPO_DATABASE->setText(
                data::catalogueField(*Modulo::RS, QStringLiteral("Tipo_Database")));
        }
        closeLookup();
    }
    selectOptionForType();
}

void FrmTS0002::Option1_Click() {
    txtTIPO_DATABASE->setText(Option1->value() ? kOdbc : kMdb);
}

void FrmTS0002::Option2_Click() {
    txtTIPO_DATABASE->setText(Option2->value() ? kMdb : kOdbc);
}

void FrmTS0002::txtDATABASE_LostFocus() {
    const QString text = txtDATABASE->text();
    if (!trimmed(text).isEmpty())
        txtTIPO_DATABASE->setText(text.contains(QLatin1String(".MDB")) ? kMdb : kOdbc);
    else
        txtTIPO_DATABASE->setText(kMdb);
    selectOptionForType();
}

void FrmTS0002::selectAllOnFocus(TextBox* field) {
    field->setSelection(0, int(field->text().size()));
}

void FrmTS0002::cmdSFOGLIA_Click() {
    if (!Option2->value())
        return;
    const QString current = trimmed(txtDATABASE->text());
    const std::optional<QString> chosen =
        platform().fileOpen(current.isEmpty() ? platform().programDir() : current);
    platform().doEvents();
    // A cancelled dialog leaves what the user typed.
    if (!chosen)
        return;
    MSG = *chosen;
    txtDATABASE->setText(MSG);
}

void FrmTS0002::cmdESCI_Click() {
    unload();
}

void FrmTS0002::cmdNUOVO_Click() {
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

void FrmTS0002::cmdAGGIORNA_Click() {
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
    Modulo::COD_SQL = trimmed(txtCOD_SQL->text());
    // A lookup or a write that fails changes nothing: the error is shown once and the window
    // stays as it was.
    if (!openLookup(Modulo::COD_SQL)) {
        platform().setMousePointer(MousePointer::Default);
        return;
    }
    Error error = Modulo::RS->recordCount() != 0 ? Modulo::RS->edit() : Modulo::RS->addNew();
    if (!error)
        error = data::collectCatalogueEntry(*Modulo::RS, entryOnScreen(*this));
    if (!error)
        error = Modulo::RS->update();
    closeLookup();
    if (error) {
        reportWrite(error);
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
        txtCOD_SQL->setText(Modulo::COD_SQL);
        showStoredEntry(Modulo::COD_SQL);
    }
    platform().setMousePointer(MousePointer::Default);
}

void FrmTS0002::cmdCANCELLA_Click() {
    FLAG_NEW.clear();
    Modulo::RISP = QString::number(platform().msgBox(QStringLiteral("Confermi la cancellazione ?"),
                                                     MsgBox::YesNo | MsgBox::Question));
    if (Modulo::RISP.toInt() != MsgBox::Yes)
        return;
    if (!openLookup(trimmed(txtCOD_SQL->text())))
        return;
    Error error;
    if (Modulo::RS->recordCount() > 0)
        error = Modulo::RS->deleteCurrent();
    closeLookup();
    if (error) {
        reportWrite(error);
        return;
    }
    MSRDC1->refresh();
    RIPOSIZIONA_MSRDC1();
    FLAG_NEW.clear();
}

void FrmTS0002::cmdSTAMPA_Elenco_SQL_Click() {
    CatalogueListGrid list(
        *DBGrid1, [this] { return txtSELEZ_SQL->text(); }, [this] { return txtDATABASE->text(); });
    printCatalogueList(list);
}

void FrmTS0002::cmdSTAMPA_SQL_Click() {
    printQuerySheet({txtCOD_SQL->text(), txtDESCR_SQL->text(), txtDATABASE->text(),
                     txtTIPO_DATABASE->text(), txtSELEZ_SQL->text()});
}

void FrmTS0002::cmdESEGUE_SQL_Click() {
    MSG = trimmed(txtSELEZ_SQL->text());
    if (MSG.isEmpty()) {
        platform().beep();
        platform().msgBox(QStringLiteral("Nessuna stringa SQL da eseguire !!!"), MsgBox::OkOnly);
        return;
    }
    platform().setMousePointer(MousePointer::Hourglass);
    // The statement runs when the result window first becomes active; a window that was
    // open already does not run it again, so nothing would restore the pointer.
    if (showResultWindow && showResultWindow())
        platform().setMousePointer(MousePointer::Default);
}

std::optional<QString> FrmTS0002::DBGrid1_CellEdited(int resultRow, int column,
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
        if (!openLookup(value))
            return std::nullopt;
        const bool taken = Modulo::RS->recordCount() != 0;
        closeLookup();
        if (taken) {
            platform().beep();
            return std::nullopt;
        }
    }
    if (!openLookup(code))
        return std::nullopt;
    Error error;
    if (Modulo::RS->recordCount() == 0) {
        closeLookup();
        platform().beep();
        return std::nullopt;
    }
    error = Modulo::RS->edit();
    if (!error)
        error = Modulo::RS->collect(
            column == 0 ? QStringLiteral("CODICE") : QStringLiteral("DESCRIZIONE"), value);
    if (!error)
        error = Modulo::RS->update();
    closeLookup();
    if (error) {
        reportWrite(error);
        return std::nullopt;
    }
    if (resultRow == DBGrid1->currentResultRow())
        (column == 0 ? txtCOD_SQL : txtDESCR_SQL)->setText(value);
    return value;
}

} // namespace velario
