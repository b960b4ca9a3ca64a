#include "result_window.h"

#include "app/shared_state.h"
#include "controls/chosen_grid.h"
#include "controls/controls.h"
#include "controls/datagrid.h"
#include "controls/datasource.h"
#include "data/results/column_fitting.h"
#include "data/results/result_model.h"
#include "platform/platform.h"
#include "platform/twips.h"
#include "print/grid_report.h"
#include "print/rows_reply.h"

#include <QLocale>

#include <algorithm>
#include <cmath>
#include <span>

namespace velario {

namespace {

const QString kMdb = QStringLiteral("MDB");
const QString kName = QStringLiteral("frmTS0003");
constexpr qint64 kDisplayFieldColor = 0x00FFFF80;
constexpr std::int16_t kDefaultTarget = 100;
constexpr int kTargetStep = 20;
constexpr int kTwipsPerCharacter = 100;

Label* displayField(const QString& name, QWidget* parent) {
    auto* field = new Label(name, QString(), parent);
    setBackColor(field, kDisplayFieldColor);
    field->setFrameShape(QFrame::Box);
    field->setFrameShadow(QFrame::Plain);
    field->setLineWidth(1);
    return field;
}

QString progressText(data::LongOperation kind) {
    switch (kind) {
    case data::LongOperation::CopyAccessFile:
        return QStringLiteral("Lettura del file Access in corso...");
    case data::LongOperation::Run:
        return QStringLiteral("Esecuzione della selezione SQL in corso...");
    case data::LongOperation::Count:
        return QStringLiteral("Conteggio dei record in corso...");
    case data::LongOperation::Export:
        return QStringLiteral("Esportazione CSV in corso...");
    case data::LongOperation::Read:
        break;
    }
    return QStringLiteral("Lettura dei record in corso...");
}

void reportSqlError(const Error& error) {
    platform().beep();
    platform().msgBox(QStringLiteral("Errore SQL: ") + error.description, MsgBox::OkOnly);
}

// The shortest decimal form, without grouping: "120", "-10".
QString decimalText(double value) {
    if (std::trunc(value) == value && std::fabs(value) < 1e15)
        return QString::number(qint64(value));
    return QString::number(value, 'g', QLocale::FloatingPointShortest);
}

} // namespace

ResultWindow::ResultWindow(SharedState& state, EntrySource& entry)
    : Form(kName), state_(state), entry_(&entry), entryGuard_(dynamic_cast<QObject*>(&entry)) {
    setWindowTitle(QStringLiteral("Output selezione SQL"));
    resize(twips::toPixelsX(10920), twips::toPixelsY(7215));
    buildControls();
}

ResultWindow::~ResultWindow() = default;

void ResultWindow::buildControls() {
    Label1 = new Label(QStringLiteral("Label1"), QStringLiteral("Codice"), this);
    twips::setGeometry(Label1, 240, 120, 1215, 255);
    lblCOD_SQL = displayField(QStringLiteral("lblCOD_SQL"), this);
    twips::setGeometry(lblCOD_SQL, 120, 360, 1575, 285);
    Label2 =
        new Label(QStringLiteral("Label2"), QStringLiteral(" Descrizione selezione SQL"), this);
    twips::setGeometry(Label2, 1920, 120, 2175, 255);
    lblDESCR_SQL = displayField(QStringLiteral("lblDESCR_SQL"), this);
    twips::setGeometry(lblDESCR_SQL, 1920, 360, 7095, 285);

    DBGrid1 = new DataGrid(QStringLiteral("DBGrid1"), this);
    twips::setGeometry(DBGrid1, 120, 840, 4455, 4095);
    DBGrid2 = new DataGrid(QStringLiteral("DBGrid2"), this);
    twips::setGeometry(DBGrid2, 5280, 840, 4455, 4095);

    Label5 = new Label(QStringLiteral("Label5"), QStringLiteral("N. rec. trovati"), this);
    twips::setGeometry(Label5, 240, 6720, 1215, 255);
    lblNUM_REC = displayField(QStringLiteral("lblNUM_REC"), this);
    twips::setGeometry(lblNUM_REC, 1560, 6720, 975, 285);
    lblNUM_REC->setGrowsLeftward(true, Label5);

    MSRDC1 = new RemoteDataSource(QStringLiteral("MSRDC1"), this);
    MSRDC1->setCaption(QStringLiteral("MSRDC1"));
    twips::setGeometry(MSRDC1, 2640, 6480, 1215, 330);
    Data1 = new BoundDataSource(QStringLiteral("Data1"), this);
    Data1->setCaption(QStringLiteral("Data1"));
    twips::setGeometry(Data1, 2640, 6840, 1215, 420);
    DBGrid1->setDataSource(MSRDC1);
    DBGrid2->setDataSource(Data1);
    const data::LongOperationRunner runner = [](data::LongOperation kind,
                                                std::function<void()> work,
                                                const std::function<void()>& interrupt) {
        platform().runCancellable(progressText(kind), kAppTitle, std::move(work), interrupt);
    };
    MSRDC1->setLongOperationRunner(runner);
    Data1->setLongOperationRunner(runner);

    Label3 = new Label(QStringLiteral("Label3"), QStringLiteral("Dim.max.griglia"), this);
    twips::setGeometry(Label3, 4080, 6510, 1215, 255);
    lblDIM_MAX = displayField(QStringLiteral("lblDIM_MAX"), this);
    twips::setGeometry(lblDIM_MAX, 4080, 6840, 975, 285);

    cmdADEGUA_CAMPI = new CommandButton(QStringLiteral("cmdADEGUA_CAMPI"),
                                        QStringLiteral("Adegua campi griglia"), this);
    twips::setGeometry(cmdADEGUA_CAMPI, 5280, 6480, 2175, 375);
    cmdDIMINUISCE_CAMPI = new CommandButton(QStringLiteral("cmdDIMINUISCE_CAMPI"),
                                            QStringLiteral("Diminuisce"), this);
    twips::setGeometry(cmdDIMINUISCE_CAMPI, 5280, 6840, 1095, 375);
    cmdAUMENTA_CAMPI =
        new CommandButton(QStringLiteral("cmdAUMENTA_CAMPI"), QStringLiteral("Aumenta"), this);
    twips::setGeometry(cmdAUMENTA_CAMPI, 6360, 6840, 1095, 375);
    cmdSTAMPA = new CommandButton(QStringLiteral("cmdSTAMPA"), QStringLiteral("Stampa"), this);
    twips::setGeometry(cmdSTAMPA, 8040, 6720, 1095, 375);
    cmdESCI = new CommandButton(QStringLiteral("cmdESCI"), QStringLiteral("Esci"), this);
    twips::setGeometry(cmdESCI, 9480, 6720, 1215, 375);

    const QList<QWidget*> tabOrder{
        DBGrid1,          DBGrid2,   cmdADEGUA_CAMPI, cmdDIMINUISCE_CAMPI,
        cmdAUMENTA_CAMPI, cmdSTAMPA, cmdESCI};
    for (qsizetype i = 1; i < tabOrder.size(); ++i)
        setTabOrder(tabOrder[i - 1], tabOrder[i]);

    connect(cmdADEGUA_CAMPI, &QPushButton::clicked, this, &ResultWindow::cmdADEGUA_CAMPI_Click);
    connect(cmdAUMENTA_CAMPI, &QPushButton::clicked, this, &ResultWindow::cmdAUMENTA_CAMPI_Click);
    connect(cmdDIMINUISCE_CAMPI, &QPushButton::clicked, this,
            &ResultWindow::cmdDIMINUISCE_CAMPI_Click);
    connect(cmdSTAMPA, &QPushButton::clicked, this, &ResultWindow::cmdSTAMPA_Click);
    connect(cmdESCI, &QPushButton::clicked, this, &ResultWindow::cmdESCI_Click);
    // Rows are read while the grid scrolls or paints: the message waits until that is over.
    for (DataGrid* grid : {DBGrid1, DBGrid2}) {
        connect(grid, &DataGrid::readFailed, this, &ResultWindow::showReadFailure,
                Qt::QueuedConnection);
        connect(grid, &DataGrid::readingStoppedChanged, this, [this, grid] {
            if (grid == activeGrid())
                showRecordCount();
        });
        connect(grid, &DataGrid::readingStoppedChanged, this, &ResultWindow::showReadingStopped,
                Qt::QueuedConnection);
    }
}

void ResultWindow::showReadFailure(int number, const QString& description) {
    reportSqlError(Error::make(number, description));
}

void ResultWindow::showReadingStopped(bool stopped) {
    if (stopped)
        reportSqlError(Error::make(ErrorNumber::OperationCancelled));
}

void ResultWindow::showRecordCount(Error* error) {
    DataGrid* grid = activeGrid();
    const qint64 count = grid->approxCount(error);
    const data::ResultModel* model = grid->resultModel();
    const bool stoppedShort = model && model->readingStopped() && model->rowCount() < count;
    lblNUM_REC->setCaption(stoppedShort ? recordCountCaption(model->rowCount(), count)
                                        : recordCountCaption(count));
}

bool ResultWindow::loadAndShow(SharedState& state, EntrySource& entry) {
    auto* window = qobject_cast<ResultWindow*>(Forms::instance().find(kName));
    const bool wasLoaded = window != nullptr;
    if (!window)
        window = Forms::instance().create<ResultWindow>(state, entry);
    window->load();
    window->showModeless();
    return wasLoaded;
}

QString ResultWindow::recordCountCaption(qint64 count) {
    // A longer number is shown whole: its last eight characters alone would be another number.
    return QLocale::system().toString(count).rightJustified(8, QLatin1Char(' '));
}

QString ResultWindow::recordCountCaption(qint64 shown, qint64 count) {
    const QLocale locale = QLocale::system();
    return locale.toString(shown) + QStringLiteral(" di ") + locale.toString(count);
}

EntrySource* ResultWindow::entry() const {
    return entryGuard_ ? entry_ : nullptr;
}

bool ResultWindow::accessPath() const {
    const EntrySource* source = entry();
    return source && source->entryType().trimmed() == kMdb;
}

DataGrid* ResultWindow::activeGrid() const {
    return accessPath() ? DBGrid2 : DBGrid1;
}

void ResultWindow::onLoad() {
    setTwipsSize(11040, 7620);
    setHelpContextId(10);
    EntrySource* source = entry();
    if (source)
        source->setSteppedAside(true);
    FLAG_ACTIVATE = true;
    QString code;
    QString description;
    QString database;
    if (source) {
        code = source->entryCode().trimmed();
        description = source->entryDescription().trimmed();
        database = source->entryDatabase().trimmed();
    }
    lblCOD_SQL->setCaption(QLatin1Char(' ') + code);
    for (DataGrid* grid : {DBGrid1, DBGrid2})
        grid->setExportName(code);
    lblDESCR_SQL->setCaption(QLatin1Char(' ') + description);
    lblDIM_MAX->setCaption(QStringLiteral("100"));

    const bool access = accessPath();
    if (access)
        Data1->setDatabaseName(database);
    else
        MSRDC1->setDataSourceName(database);
    DataGrid* live = access ? DBGrid2 : DBGrid1;
    DataGrid* idle = access ? DBGrid1 : DBGrid2;
    live->setHeight(5535);
    live->setWidth(10575);
    live->setTop(840);
    live->setLeft(120);
    live->setVisible(true);
    idle->setVisible(false);
    Data1->setVisible(access);
    MSRDC1->setVisible(!access);
    live->setEnabled(true);
    idle->setEnabled(false);
    Data1->setEnabled(access);
    MSRDC1->setEnabled(!access);

    platform().setMousePointer(MousePointer::Default);
}

void ResultWindow::onActivate() {
    if (FLAG_ACTIVATE) {
        FLAG_ACTIVATE = false;
        platform().setMousePointer(MousePointer::Hourglass);
        const EntrySource* source = entry();
        state_.MSG = source ? source->entrySql().trimmed() : QString();
        // A failure leaves the grid with what its source holds; the count is shown anyway.
        Error error;
        if (accessPath()) {
            Data1->setRecordSource(state_.MSG);
            error = Data1->refresh();
        } else {
            MSRDC1->setSql(state_.MSG);
            error = MSRDC1->refresh();
        }
        platform().setMousePointer(MousePointer::Default);
        if (error)
            reportSqlError(error);
    }
    Error countError;
    showRecordCount(&countError);
    // A count the user stopped shows the rows read so far, and says it was stopped.
    if (countError.number == ErrorNumber::OperationCancelled)
        reportSqlError(countError);
}

void ResultWindow::onUnload() {
    state_.WIN_ID = SharedState::kIdResults;
    state_.WIN_REMOVE();
    if (EntrySource* source = entry())
        source->setSteppedAside(false);
}

void ResultWindow::cmdESCI_Click() {
    unload();
}

void ResultWindow::CALC_DIM_CAMPI_GRIGLIA() {
    SORTED_COL.fill(0);
    SORTED_WIDTH.fill(0);
    COL_WIDTH.fill(0);
    HEAD_TOTAL = 0;
    LINE_TOTAL = 0;
    MAX_COL = 0;
    // The walk covers the rows on display only, a few dozen at most: it runs to its end
    // without letting other events in, so nothing can close the window or start another walk
    // of the same grid under it.
    data::MeasureOptions options;
    options.rowLimit = NUM_REC + 1;
    ChosenGrid grid([this] { return activeGrid(); });
    const data::ColumnWidths measured = data::measureColumns(grid, options);

    COL_WIDTH = measured.width;
    HEAD_TOTAL = measured.headTotal;
    LINE_TOTAL = measured.lineTotal;
    MAX_COL = measured.maxCol;
    for (int i = 0; i <= MAX_COL; ++i) {
        SORTED_WIDTH[size_t(i)] = COL_WIDTH[size_t(i)];
        SORTED_COL[size_t(i)] = std::int16_t(i);
    }
    // Every i against every j: widest first, equal widths in whatever order this leaves.
    for (size_t j = 0; j <= size_t(MAX_COL); ++j) {
        for (size_t i = 0; i <= size_t(MAX_COL); ++i) {
            if (SORTED_WIDTH[i] < SORTED_WIDTH[j]) {
                std::swap(SORTED_WIDTH[i], SORTED_WIDTH[j]);
                std::swap(SORTED_COL[i], SORTED_COL[j]);
            }
        }
    }
}

void ResultWindow::cmdADEGUA_CAMPI_Click() {
    NUM_REC = activeGrid()->approxCount();
    if (NUM_REC == 0) {
        platform().beep();
        return;
    }
    platform().setMousePointer(MousePointer::Hourglass);
    CALC_DIM_CAMPI_GRIGLIA();

    const double target = leadingNumber(lblDIM_MAX->caption());
    if (target <= 0)
        DIM_MAX = kDefaultTarget;
    else if (const auto rounded = data::int16::rounded(target))
        DIM_MAX = *rounded;

    LINE_TOTAL = data::fitColumnWidths(std::span(SORTED_WIDTH.data(), size_t(MAX_COL) + 1),
                                       LINE_TOTAL, DIM_MAX);

    // Widest first: a width too large for the grid stops the applying before any column.
    for (int j = 0;;) {
        const int column = SORTED_COL[size_t(j)];
        if (activeGrid()->setCol(column))
            break;
        const auto twips = data::int16::multiply(SORTED_WIDTH[size_t(j)], kTwipsPerCharacter);
        const bool failed = !twips || activeGrid()->setColumnWidth(column, *twips).isSet();
        ++j;
        if (j > MAX_COL || failed)
            break;
    }

    platform().beep();
    activeGrid()->setCol(0);
    platform().setMousePointer(MousePointer::Default);
}

void ResultWindow::cmdAUMENTA_CAMPI_Click() {
    lblDIM_MAX->setCaption(decimalText(leadingNumber(lblDIM_MAX->caption()) + kTargetStep));
    cmdADEGUA_CAMPI_Click();
}

void ResultWindow::cmdDIMINUISCE_CAMPI_Click() {
    const double target = leadingNumber(lblDIM_MAX->caption());
    if (target > 5)
        lblDIM_MAX->setCaption(decimalText(target - kTargetStep));
    cmdADEGUA_CAMPI_Click();
}

void ResultWindow::cmdSTAMPA_Click() {
    const EntrySource* source = entry();
    if (!source)
        return;
    printResultGrid([this] { return activeGrid(); },
                    {source->entryDescription(), source->entryDatabase(), source->entryType()});
}

} // namespace velario
