#include "catalogue_window.h"

#include "app/open_catalogue.h"
#include "app/shared_state.h"
#include "catalogue_list_source.h"
#include "controls/controls.h"
#include "controls/datagrid.h"
#include "controls/datasource.h"
#include "data/catalogue/catalogue_store.h"
#include "platform/platform.h"
#include "platform/twips.h"
#include "print/catalogue_list_report.h"
#include "print/query_sheet.h"
#include "results/result_window.h"

#include <QMenu>
#include <QScopeGuard>
#include <QScopedValueRollback>
#include <QShortcut>

#include <algorithm>

namespace velario {

namespace {

const QString kMdb = QStringLiteral("MDB");
const QString kOdbc = QStringLiteral("ODBC");
const QKeySequence kVersionsKey(Qt::CTRL | Qt::Key_H);
const QKeySequence kDeletedKey(Qt::CTRL | Qt::SHIFT | Qt::Key_H);

// VERSIONS as the versions dialog lists them, the time the user's own.
QList<VersionItem> versionItems(const QList<data::CatalogueVersion>& versions) {
    QList<VersionItem> items;
    for (const data::CatalogueVersion& v : versions) {
        const data::CatalogueEntry e = v.entry.shown();
        items << VersionItem{v.when.toLocalTime().toString(QStringLiteral("dd/MM/yyyy HH:mm:ss")),
                             v.user,
                             data::actionName(v.action),
                             e.code,
                             e.description,
                             e.sql,
                             e.database,
                             e.databaseType};
    }
    return items;
}

QString trimmed(const QString& text) {
    return text.trimmed();
}

// Shows TEXT whole in FIELD: a stored value is never cut to what a user may type.
void showWhole(TextBox* field, int typedWidth, const QString& text) {
    field->setMaxLength(std::max(typedWidth, int(text.size())));
    field->setText(text);
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
    txtCOD_SQL->setMaxLength(data::kCodeWidth);
    txtDESCR_SQL = new TextBox(QStringLiteral("txtDESCR_SQL"), this);
    twips::setGeometry(txtDESCR_SQL, 1800, 3960, 8895, 285);
    txtDESCR_SQL->setMaxLength(data::kDescriptionWidth);

    Label2 = new Label(QStringLiteral("Label2"), QStringLiteral("Database (.Mdb/Odbc)"), this);
    twips::setGeometry(Label2, 120, 4440, 1815, 255);
    txtDATABASE = new TextBox(QStringLiteral("txtDATABASE"), this);
    twips::setGeometry(txtDATABASE, 1800, 4440, 5775, 285);
    txtDATABASE->setMaxLength(data::kDatabaseWidth);
    cmdSFOGLIA =
        new CommandButton(QStringLiteral("cmdSFOGLIA"), QStringLiteral("Sfoglia ..."), this);
    twips::setGeometry(cmdSFOGLIA, 7680, 4440, 975, 285);
    Label5 = new Label(QStringLiteral("Label5"), QStringLiteral("Tipo Database"), this);
    twips::setGeometry(Label5, 8760, 4440, 1095, 255);
    txtTIPO_DATABASE = new TextBox(QStringLiteral("txtTIPO_DATABASE"), this);
    twips::setGeometry(txtTIPO_DATABASE, 9960, 4440, 735, 285);
    txtTIPO_DATABASE->setMaxLength(data::kTypeWidth);

    cmdSTAMPA_Elenco_SQL = new CommandButton(QStringLiteral("cmdSTAMPA_Elenco_SQL"),
                                             QStringLiteral("Stampa elenco SQL"), this);
    twips::setGeometry(cmdSTAMPA_Elenco_SQL, 3480, 4800, 1695, 375);
    cmdSTAMPA_SQL =
        new CommandButton(QStringLiteral("cmdSTAMPA_SQL"), QStringLiteral("Stampa SQL"), this);
    twips::setGeometry(cmdSTAMPA_SQL, 5640, 4800, 1695, 375);

    MSRDC1 = new CatalogueListSource(QStringLiteral("MSRDC1"), this);
    MSRDC1->setCaption(QStringLiteral("MSRDC1"));
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
    DBGrid1->setColumnMaxLength(0, data::kCodeWidth);
    DBGrid1->setColumnMaxLength(1, data::kDescriptionWidth);
    DBGrid1->setCellEditHandler([this](int row, int column, const QString& text) {
        return DBGrid1_CellEdited(row, column, text);
    });

    // Wherever the focus is in the window: the fields and the list alike.
    connect(new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_F), this), &QShortcut::activated, this,
            &CatalogueWindow::findEntry);
    connect(new QShortcut(QKeySequence(Qt::Key_F3), this), &QShortcut::activated, this,
            &CatalogueWindow::findNextEntry);
    connect(new QShortcut(QKeySequence(Qt::Key_F5), this), &QShortcut::activated, this,
            [this] { rereadList(true); });
    connect(new QShortcut(kVersionsKey, this), &QShortcut::activated, this,
            &CatalogueWindow::showVersions);
    connect(new QShortcut(kDeletedKey, this), &QShortcut::activated, this,
            &CatalogueWindow::showDeleted);
    DBGrid1->setMenuExtension([this](QMenu& menu) {
        QAction* versions = menu.addAction(QStringLiteral("Versioni precedenti…"), this,
                                           &CatalogueWindow::showVersions);
        versions->setShortcut(kVersionsKey);
        versions->setEnabled(shownCode_.has_value());
        menu.addAction(QStringLiteral("Selezioni cancellate…"), this, &CatalogueWindow::showDeleted)
            ->setShortcut(kDeletedKey);
    });

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
    activated_ = false;
    newEntry_ = false;
    txtCOD_SQL->setEnabled(false);
    MSRDC1->setCatalogue(state_.DB.get(), shownLocation(state_.PATH_DB));
    platform().setMousePointer(MousePointer::Default);
}

void CatalogueWindow::onActivate() {
    // What others saved since is shown from the next activation on.
    if (activated_) {
        rereadList(false);
        return;
    }
    activated_ = true;
    platform().setMousePointer(MousePointer::Hourglass);
    RIPOSIZIONA_MSRDC1();
    platform().setMousePointer(MousePointer::Default);
}

void CatalogueWindow::onUnload() {
    state_.WIN_ID = SharedState::kIdCatalogue;
    state_.WIN_REMOVE();
}

void CatalogueWindow::CAMPI_INITIALIZE() {
    shownCode_.reset();
    shownVersion_.reset();
    showWhole(txtCOD_SQL, data::kCodeWidth, QString());
    showWhole(txtDESCR_SQL, data::kDescriptionWidth, QString());
    txtSELEZ_SQL->setText(QString());
    showWhole(txtDATABASE, data::kDatabaseWidth, QString());
    showWhole(txtTIPO_DATABASE, data::kTypeWidth, kMdb);
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
    if (quiet_)
        return;
    if (newEntry_)
        setBrowseModeControls();
    if (!MSRDC1->recordset().eof()) {
        const QString typed = trimmed(txtCOD_SQL->text());
        // Before the first activation, which fills them again, and within a save, which
        // shows the saved entry, the fields are replaced before anyone sees them.
        const bool passing = !activated_ || saving_;
        // The code typed for a new entry wins over the row; a row is found by its code as
        // stored, blanks and all, so that the fields are that entry's own.
        if (!typed.isEmpty() && newEntry_)
            showStoredEntry(typed, passing ? Say::Nothing : Say::Failure);
        else
            showStoredEntry(DBGrid1->columnText(0), passing ? Say::Nothing : Say::FailureOrMissing);
    } else {
        CAMPI_INITIALIZE();
    }
    selectOptionForType();
    SETTA_ELENCHI();
}

void CatalogueWindow::showStoredEntry(const QString& code, Say say) {
    if (walked_) {
        if (const auto it = walked_->constFind(code); it != walked_->constEnd()) {
            showEntry(*it, code);
            return;
        }
    }
    std::optional<data::StoredEntry> entry;
    const Error error =
        state_.DB ? state_.DB->lookUp(code, &entry) : Error::make(ErrorNumber::ObjectNotSet);
    if (entry) {
        showEntry(*entry, code);
        return;
    }
    // Whatever the fields showed belongs to another entry, or to none.
    CAMPI_INITIALIZE();
    if (say == Say::Nothing)
        return;
    if (error) {
        reportLookup(error, code);
    } else if (say == Say::FailureOrMissing) {
        platform().beep();
        platform().msgBox(
            code.isEmpty()
                ? QStringLiteral("La selezione dell'elenco non ha un codice: non si può mostrare.")
                : QStringLiteral("La selezione '%1' dell'elenco non si trova nel catalogo.")
                      .arg(code),
            MsgBox::OkOnly);
    }
}

void CatalogueWindow::showEntry(const data::StoredEntry& stored, const QString& storedCode) {
    shownCode_ = storedCode;
    shownVersion_ = stored;
    const data::CatalogueEntry entry = stored.shown();
    showWhole(txtCOD_SQL, data::kCodeWidth, entry.code);
    showWhole(txtDESCR_SQL, data::kDescriptionWidth, entry.description);
    txtSELEZ_SQL->setText(entry.sql);
    showWhole(txtDATABASE, data::kDatabaseWidth, entry.database);
    showWhole(txtTIPO_DATABASE, data::kTypeWidth, entry.databaseType);
}

void CatalogueWindow::reportLookup(const Error& error, const QString& code) {
    reportError(error, data::lookupStatementText(code));
}

void CatalogueWindow::reportError(const Error& error, const QString& statement) {
    // A file's errors are told as they always were, by their standard texts; a server's need
    // their own words (which server, what it said).
    if (!state_.DB || !state_.DB->isServer()) {
        SharedState::ERROR_REPORT(error, statement);
        return;
    }
    platform().msgBox(QStringLiteral("Errore ") + errorNumberText(error.number) +
                          QStringLiteral(" - ") + error.description + QStringLiteral("\r\r") +
                          statement,
                      MsgBox::OkOnly);
}

bool CatalogueWindow::refusedAsReadOnly(const QString& code) {
    const Error error = state_.DB ? state_.DB->readOnly() : Error();
    if (error)
        reportLookup(error, code);
    return error.isSet();
}

bool CatalogueWindow::listed(const QString& code) const {
    const data::ResultModel* rows = MSRDC1->model();
    for (int r = 0; r < rows->rowCount(); ++r)
        if (!rows->isNull(r, 0) && rows->text(r, 0) == code)
            return true;
    return false;
}

void CatalogueWindow::rereadList(bool report) {
    if (!state_.DB)
        return;
    const int first = DBGrid1->firstVisibleRow();
    Error error;
    {
        const QScopedValueRollback<bool> quiet(quiet_, true);
        error = MSRDC1->reread(shownCode_.value_or(DBGrid1->columnText(0)));
    }
    if (error) {
        if (report)
            reportError(error, data::catalogueListStatement());
        return;
    }
    DBGrid1->automationScroll(first);
    SETTA_ELENCHI();
}

QString CatalogueWindow::codeOnScreen() const {
    const QString typed = trimmed(txtCOD_SQL->text());
    return shownCode_ && trimmed(*shownCode_) == typed ? *shownCode_ : typed;
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
        txtTIPO_DATABASE->setText(data::namesDatabaseFile(text) ? kMdb : kOdbc);
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
    newEntry_ = true;
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

    if (refusedAsReadOnly(codeOnScreen()))
        return;
    platform().setMousePointer(MousePointer::Hourglass);
    state_.COD_SQL = codeOnScreen();
    const data::StoredEntry entry = data::StoredEntry::of(
        {state_.COD_SQL, trimmed(txtDESCR_SQL->text()), trimmed(txtSELEZ_SQL->text()),
         trimmed(txtDATABASE->text()), trimmed(txtTIPO_DATABASE->text())});
    // Only over the version the user was shown. A new entry writes over an entry of the same
    // code only when the list showed that code: one made by someone else meanwhile is theirs.
    data::Expected expected = shownCode_ == state_.COD_SQL && shownVersion_ && !newEntry_
                                  ? data::Expected::exactly(*shownVersion_)
                              : listed(state_.COD_SQL) ? data::Expected::anything()
                                                       : data::Expected::nothing();
    for (;;) {
        data::ChangeOutcome outcome;
        // A save that fails changes nothing: the error is shown once and the window stays as
        // it was.
        const Error error = state_.DB ? state_.DB->save(state_.COD_SQL, expected, entry, &outcome)
                                      : Error::make(ErrorNumber::ObjectNotSet);
        if (error) {
            reportLookup(error, state_.COD_SQL);
            platform().setMousePointer(MousePointer::Default);
            return;
        }
        if (outcome.kind == data::ChangeOutcome::Done)
            break;
        const std::optional<data::Expected> again =
            resolveConflict(outcome, state_.COD_SQL, Change::Save);
        if (!again) {
            platform().setMousePointer(MousePointer::Default);
            return;
        }
        expected = *again;
    }
    showChanged(state_.COD_SQL);
    platform().setMousePointer(MousePointer::Default);
}

void CatalogueWindow::showChanged(const QString& code) {
    // The list's first entry, which the refresh shows, gives way at once to the changed one:
    // only the latter is laid out.
    const HeldTexts held(this);
    {
        const QScopedValueRollback<bool> saving(saving_, true);
        MSRDC1->refresh();
    }
    SETTA_ELENCHI();
    newEntry_ = false;
    setBrowseModeControls();
    showStoredEntry(code, Say::FailureOrMissing);
}

std::optional<data::Expected> CatalogueWindow::resolveConflict(const data::ChangeOutcome& outcome,
                                                               const QString& code, Change change) {
    const bool deleting = change == Change::Delete;
    switch (outcome.kind) {
    case data::ChangeOutcome::Changed: {
        const int answer = platform().msgBox(
            QStringLiteral("La selezione %1 è stata modificata da un altro utente dopo che è "
                           "stata letta.\r\r")
                    .arg(code) +
                (deleting                    ? QStringLiteral("Sì: la cancella comunque.\r")
                 : change == Change::Restore ? QStringLiteral("Sì: la sostituisce con la "
                                                              "versione scelta.\r")
                                             : QStringLiteral("Sì: la sostituisce con quella "
                                                              "sullo schermo.\r")) +
                QStringLiteral("No: mostra la versione dell'altro utente.\rAnnulla: lascia "
                               "tutto com'è."),
            MsgBox::YesNoCancel | MsgBox::Question);
        if (answer == MsgBox::Yes)
            return data::Expected::exactly(*outcome.current);
        if (answer == MsgBox::No)
            showOtherVersion(*outcome.current, code);
        return std::nullopt;
    }
    case data::ChangeOutcome::Deleted:
        if (deleting) {
            platform().msgBox(QStringLiteral("La selezione %1 era già stata cancellata da un "
                                             "altro utente.")
                                  .arg(code),
                              MsgBox::OkOnly);
            return std::nullopt;
        }
        if (platform().msgBox(QStringLiteral("La selezione %1 è stata cancellata da un altro "
                                             "utente dopo che è stata letta.\r\r")
                                      .arg(code) +
                                  (change == Change::Restore
                                       ? QStringLiteral("Ripristinarla con la versione scelta ?")
                                       : QStringLiteral("Salvarla di nuovo con i dati sullo "
                                                        "schermo ?")),
                              MsgBox::YesNo | MsgBox::Question) == MsgBox::Yes)
            return data::Expected::nothing();
        return std::nullopt;
    case data::ChangeOutcome::Exists:
        platform().beep();
        platform().msgBox(QStringLiteral("Codice %1 già presente in archivio !!!").arg(code),
                          MsgBox::OkOnly);
        // The list now shows it: a save asked for again writes over it.
        rereadList(false);
        return std::nullopt;
    case data::ChangeOutcome::Done:
        break;
    }
    return std::nullopt;
}

void CatalogueWindow::showOtherVersion(const data::StoredEntry& version, const QString& code) {
    newEntry_ = false;
    setBrowseModeControls();
    showEntry(version, code);
    selectOptionForType();
    rereadList(false);
}

void CatalogueWindow::showVersions() {
    if (!shownCode_) {
        platform().beep();
        return;
    }
    const QString code = *shownCode_;
    QList<data::CatalogueVersion> versions;
    if (const Error error = state_.DB ? state_.DB->history(code, &versions)
                                      : Error::make(ErrorNumber::ObjectNotSet)) {
        reportLookup(error, code);
        return;
    }
    if (versions.isEmpty()) {
        platform().msgBox(
            QStringLiteral("La selezione %1 non ha versioni precedenti.").arg(code.trimmed()),
            MsgBox::OkOnly);
        return;
    }
    const std::optional<int> chosen = platform().versions(
        QStringLiteral("Versioni precedenti di %1").arg(code.trimmed()), versionItems(versions));
    if (!chosen)
        return;
    restoreVersion(versions[*chosen], shownVersion_ ? data::Expected::exactly(*shownVersion_)
                                                    : data::Expected::nothing());
}

void CatalogueWindow::showDeleted() {
    QList<data::CatalogueVersion> versions;
    if (const Error error = state_.DB ? state_.DB->deletedEntries(&versions)
                                      : Error::make(ErrorNumber::ObjectNotSet)) {
        reportError(error, QStringLiteral("SELEZIONI_SQL_STORIA"));
        return;
    }
    if (versions.isEmpty()) {
        platform().msgBox(QStringLiteral("Non ci sono selezioni cancellate."), MsgBox::OkOnly);
        return;
    }
    const std::optional<int> chosen =
        platform().versions(QStringLiteral("Selezioni cancellate"), versionItems(versions));
    if (chosen)
        restoreVersion(versions[*chosen], data::Expected::nothing());
}

void CatalogueWindow::restoreVersion(const data::CatalogueVersion& version,
                                     data::Expected expected) {
    const QString code = version.entry.code.value_or(QString());
    if (refusedAsReadOnly(code))
        return;
    platform().setMousePointer(MousePointer::Hourglass);
    for (;;) {
        data::ChangeOutcome outcome;
        if (const Error error = state_.DB->restore(version, expected, &outcome)) {
            reportLookup(error, code);
            platform().setMousePointer(MousePointer::Default);
            return;
        }
        if (outcome.kind == data::ChangeOutcome::Done)
            break;
        const std::optional<data::Expected> again = resolveConflict(outcome, code, Change::Restore);
        if (!again) {
            platform().setMousePointer(MousePointer::Default);
            return;
        }
        expected = *again;
    }
    showChanged(code);
    platform().setMousePointer(MousePointer::Default);
}

void CatalogueWindow::cmdCANCELLA_Click() {
    newEntry_ = false;
    if (refusedAsReadOnly(codeOnScreen()))
        return;
    state_.RISP = QString::number(platform().msgBox(QStringLiteral("Confermi la cancellazione ?"),
                                                    MsgBox::YesNo | MsgBox::Question));
    if (state_.RISP.toInt() != MsgBox::Yes)
        return;
    const QString code = codeOnScreen();
    data::Expected expected = shownCode_ == code && shownVersion_
                                  ? data::Expected::exactly(*shownVersion_)
                                  : data::Expected::anything();
    for (;;) {
        data::ChangeOutcome outcome;
        const Error error = state_.DB ? state_.DB->remove(code, expected, &outcome)
                                      : Error::make(ErrorNumber::ObjectNotSet);
        if (error) {
            reportLookup(error, code);
            return;
        }
        if (outcome.kind == data::ChangeOutcome::Done)
            break;
        const std::optional<data::Expected> again = resolveConflict(outcome, code, Change::Delete);
        if (!again) {
            if (outcome.kind != data::ChangeOutcome::Deleted)
                return;
            break;
        }
        expected = *again;
    }
    MSRDC1->refresh();
    RIPOSIZIONA_MSRDC1();
    newEntry_ = false;
}

void CatalogueWindow::cmdSTAMPA_Elenco_SQL_Click() {
    // One read of the whole catalogue rather than a look-up at each entry the walk reaches: on
    // a server each look-up is a round trip, on a file a lock taken and let go. An entry
    // missing from it (saved meanwhile) is looked up as before; when the read fails, all are.
    QHash<QString, data::StoredEntry> entries;
    const Error error = state_.DB ? state_.DB->forEachEntry([&](const data::StoredEntry& entry) {
        if (entry.code && !entries.contains(*entry.code))
            entries.insert(*entry.code, entry);
        return true;
    })
                                  : Error::make(ErrorNumber::ObjectNotSet);
    if (!error)
        walked_ = std::move(entries);
    const auto done = qScopeGuard([this] { walked_.reset(); });
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
    const std::optional<data::ParameterAnswers> answers = ResultWindow::askAnswers(*this);
    if (!answers)
        return;
    platform().setMousePointer(MousePointer::Hourglass);
    // The statement runs when the result window first becomes active; a window that was
    // open already does not run it again, so nothing would restore the pointer.
    if (ResultWindow::loadAndShow(state_, *this, *answers))
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
    // The row's entry, by its code as stored, changed only as the list showed it.
    const QString code = DBGrid1->cellText(resultRow, 0);
    const QString before = DBGrid1->cellText(resultRow, column);
    if (refusedAsReadOnly(code))
        return std::nullopt;
    std::optional<data::StoredEntry> current;
    if (const Error error = state_.DB ? state_.DB->lookUp(code, &current)
                                      : Error::make(ErrorNumber::ObjectNotSet)) {
        reportLookup(error, code);
        return std::nullopt;
    }
    if (!current) {
        platform().beep();
        return std::nullopt;
    }
    data::StoredEntry changed = *current;
    std::optional<QString>& field = column == 0 ? changed.code : changed.description;
    data::ChangeOutcome outcome;
    if (field.value_or(QString()) != before) {
        outcome.kind = data::ChangeOutcome::Changed;
    } else {
        field = value;
        if (const Error error =
                state_.DB->save(code, data::Expected::exactly(*current), changed, &outcome)) {
            reportLookup(error, code);
            return std::nullopt;
        }
    }
    if (outcome.kind != data::ChangeOutcome::Done) {
        // Another entry has the new code (codes identify entries), or someone else changed
        // or deleted this one since the list was read.
        platform().beep();
        if (outcome.kind != data::ChangeOutcome::Exists)
            platform().msgBox(QStringLiteral("La selezione %1 è stata modificata da un altro "
                                             "utente dopo la lettura dell'elenco: la modifica "
                                             "non è stata salvata (F5 legge di nuovo "
                                             "l'elenco).")
                                  .arg(code),
                              MsgBox::OkOnly);
        return std::nullopt;
    }
    if (shownCode_ == code) {
        shownVersion_ = changed;
        if (column == 0) {
            shownCode_ = value;
            showWhole(txtCOD_SQL, data::kCodeWidth, value);
        } else {
            showWhole(txtDESCR_SQL, data::kDescriptionWidth, value);
        }
    }
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
    // The catalogue is searched as it is now: the list holds only codes and descriptions, and
    // another program may have changed any entry since it was read.
    QSet<QString> codes;
    if (const Error error = state_.DB ? state_.DB->find(findText_, &codes)
                                      : Error::make(ErrorNumber::ObjectNotSet)) {
        reportError(error, QStringLiteral("Ricerca di '%1'").arg(findText_));
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
