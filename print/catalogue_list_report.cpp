#include "catalogue_list_report.h"

#include "controls/controls.h"
#include "controls/datagrid.h"
#include "controls/datasource.h"
#include "platform/platform.h"
#include "print/printer.h"
#include "report_text.h"

namespace velario {

namespace {

const QString kRule = QString(106, u'-');

// Prints up to the first step that fails; the caller ends the document in any case.
void printList(Printer& printer, CatalogueList& list, qint64 count) {
    if (printer.setFontSize(9))
        return;
    printer.setFontBold(true);
    printer.print({QStringLiteral(" ")});
    printer.printOpen({QStringLiteral("Elenco SQL disponibili:")});
    printer.print({QString(61, u' '), reportStamp(platform().now())});
    printer.setFontBold(false);
    printer.print({kRule});
    printer.setFontBold(true);
    printer.printOpen({QStringLiteral("Codice"), QString(6, u' '),
                       QStringLiteral("Descrizione selezione SQL"), QString(7, u' '),
                       QStringLiteral("Selezione SQL /")});
    printer.setFontBold(false);
    printer.print({QStringLiteral(" Database ")});
    printer.print({kRule});
    printer.setFontBold(false);
    printer.print({QStringLiteral(" ")});

    for (qint64 i = 0;; ++i) {
        // The count read at the start bounds the walk as well as the list's own end, so
        // that a list that grows meanwhile cannot keep the report going.
        if ((i == 0 ? list.selectFirst() : list.selectNext()) || i > count)
            return;
        if (list.selectColumn(0))
            return;
        const QString code = list.text();
        if (list.selectColumn(1))
            return;
        const QString description = list.text();
        const QString sql = trimBlanks(list.sqlText());
        const QString database = trimBlanks(list.database());

        printer.setFontBold(true);
        printer.print({fitText(code, 10), QStringLiteral("  "), fitText(description, 30),
                       QStringLiteral("  "), fitText(sql, 62)});
        printer.setFontBold(false);
        printer.print({QString(46, u' '), fitText(database, 80)});
    }
}

} // namespace

CatalogueListGrid::CatalogueListGrid(DataGrid& grid, std::function<QString()> sqlText,
                                     std::function<QString()> database)
    : grid_(grid), sqlText_(std::move(sqlText)), database_(std::move(database)) {}

CatalogueListGrid::~CatalogueListGrid() = default;

std::optional<qint64> CatalogueListGrid::entryCount() {
    return grid_.countedRows();
}

Error CatalogueListGrid::selectFirst() {
    held_.reset();
    DataSource* source = grid_.dataSource();
    if (!source || source->currentRow() < 0)
        return Error::make(ErrorNumber::InvalidRow);
    source->moveFirst();
    return {};
}

Error CatalogueListGrid::selectNext() {
    DataSource* source = grid_.dataSource();
    data::ResultModel* model = grid_.resultModel();
    if (!source || !model || source->currentRow() < 0 ||
        !model->ensureRows(qint64(source->currentRow()) + 2))
        return Error::make(ErrorNumber::InvalidRow);
    if (!held_)
        held_ = std::make_unique<HeldTexts>(grid_.window());
    const NoAutoScroll still(&grid_);
    source->moveNext();
    return {};
}

Error CatalogueListGrid::selectColumn(int column) {
    if (!held_)
        return grid_.setCol(column);
    // Walking on, the grid's current cell moves with the rows only.
    if (column < 0 || column >= grid_.columnCount())
        return Error::make(ErrorNumber::InvalidColumn);
    column_ = column;
    return {};
}

QString CatalogueListGrid::text() {
    return held_ ? grid_.columnText(column_) : grid_.text();
}

void printCatalogueList(CatalogueList& list) {
    const std::optional<qint64> count = list.entryCount();
    if (!count || *count == 0) {
        platform().beep();
        platform().msgBox(kNothingToPrint, MsgBox::OkOnly);
        return;
    }
    platform().setMousePointer(MousePointer::Hourglass);
    Printer& printer = Printer::instance();
    printList(printer, list, *count);
    const Error delivered = printer.endDoc();
    list.selectFirst();
    list.selectColumn(0);
    platform().beep();
    platform().setMousePointer(MousePointer::Default);
    if (delivered)
        reportUndelivered(delivered, printer.lastDocument().destination);
}

} // namespace velario
