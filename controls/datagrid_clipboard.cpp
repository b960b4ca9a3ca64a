#include "datagrid.h"

#include "data/results/spreadsheet_cells.h"
#include "platform/platform.h"

#include <algorithm>
#include <climits>

namespace velario {

namespace {

// The selection as rows and columns of the result; whole columns reach every row.
struct SelectedCells {
    std::vector<QItemSelectionRange> ranges;
    std::vector<int> wholeColumns; // sorted
    qint64 rows = 0;

    bool contains(qint64 row, int column) const {
        if (std::binary_search(wholeColumns.begin(), wholeColumns.end(), column))
            return true;
        for (const QItemSelectionRange& r : ranges)
            if (row >= r.top() && row <= r.bottom() && column >= r.left() && column <= r.right())
                return true;
        return false;
    }
};

// Whether the ranges that hold COLUMN cover every one of ROWS rows.
bool coversColumn(const QItemSelection& selection, int column, int rows) {
    std::vector<std::pair<int, int>> spans;
    for (const QItemSelectionRange& r : selection)
        if (column >= r.left() && column <= r.right())
            spans.emplace_back(r.top(), r.bottom());
    std::sort(spans.begin(), spans.end());
    int next = 0;
    for (const auto& [top, bottom] : spans) {
        if (top > next)
            return false;
        next = std::max(next, bottom + 1);
    }
    return rows > 0 && next >= rows;
}

// A cell of the clipboard's text as a spreadsheet takes it: quoted, quotes doubled, when it
// holds a tab, a line end or a quote, so that it stays one cell.
QString clipboardCell(const QString& text) {
    if (!text.contains(QLatin1Char('\t')) && !text.contains(QLatin1Char('\n')) &&
        !text.contains(QLatin1Char('\r')) && !text.contains(QLatin1Char('"')))
        return text;
    return QLatin1Char('"') + QString(text).replace(QLatin1Char('"'), QLatin1String("\"\"")) +
           QLatin1Char('"');
}

// A value as a cell of the clipboard's table. Digits a spreadsheet would change are marked
// as text, in the ways LibreOffice and Excel read.
QString htmlCell(const QString& text, data::SpreadsheetForm form, QStringView decimal,
                 const char* tag) {
    QString escaped = form == data::SpreadsheetForm::Number
                          ? QString(text).replace(QLatin1Char('.'), decimal.toString())
                          : text;
    escaped = escaped.toHtmlEscaped();
    escaped.replace(QLatin1String("\r\n"), QLatin1String("<br>"));
    escaped.replace(QLatin1Char('\n'), QLatin1String("<br>"));
    escaped.replace(QLatin1Char('\r'), QLatin1String("<br>"));
    const QLatin1String asText(form == data::SpreadsheetForm::Text
                                   ? R"( sdnum="1033;0;@" style="mso-number-format:'\@'")"
                                   : "");
    return QStringLiteral("<%1%2>%3</%1>").arg(QLatin1String(tag), asText, escaped);
}

} // namespace

void DataGrid::copySelection(bool withHeaders) {
    if (!model_ || !selectionModel() || !selectionModel()->hasSelection())
        return;
    const int columns = columnCount();
    SelectedCells selected;
    const QItemSelection selection = selectionModel()->selection();
    // The view may have fewer rows than the result: a column is whole down to the count.
    const int rows = int(std::min<qint64>(model_->extent(), INT_MAX));
    for (int c = 0; c < columns; ++c)
        if (coversColumn(selection, c, rows))
            selected.wholeColumns.push_back(c);
    if (!selected.wholeColumns.empty() && !model_->allFetched()) {
        platform().setMousePointer(MousePointer::Hourglass);
        model_->fetchAll();
        platform().setMousePointer(MousePointer::Default);
        // Stopped or failed (the window says why): the columns would be copied short.
        if (!model_->allFetched())
            return;
    }
    selected.ranges.assign(selection.begin(), selection.end());
    qint64 bottom = 0;
    for (const QItemSelectionRange& r : selected.ranges)
        bottom = std::max<qint64>(bottom, r.bottom() + 1);
    if (!model_->ensureRows(bottom) && model_->rowCount() < bottom)
        return;
    selected.rows = model_->rowCount();

    std::vector<int> chosenColumns;
    for (int c = 0; c < columns; ++c) {
        bool any =
            std::binary_search(selected.wholeColumns.begin(), selected.wholeColumns.end(), c);
        for (const QItemSelectionRange& r : selected.ranges)
            any = any || (c >= r.left() && c <= r.right());
        if (any)
            chosenColumns.push_back(c);
    }
    // Values go as a spreadsheet of the user's locale is to read them; captions as they are.
    const QString decimal = data::localeDecimalPoint();
    QString text;
    QString html = QStringLiteral(R"(<html><head><meta charset="utf-8"></head><body><table>)");
    // Every row ends with a line end, the last too, as spreadsheets put rows on the
    // clipboard: a last row of one empty cell is then still a row.
    const auto addRow = [&](const auto& cellOf, bool captions) {
        const char* tag = captions ? "th" : "td";
        html += QLatin1String("<tr>");
        for (size_t i = 0; i < chosenColumns.size(); ++i) {
            const QString cell = cellOf(chosenColumns[i]);
            const data::SpreadsheetForm form =
                captions ? data::SpreadsheetForm::AsStored : data::spreadsheetForm(cell);
            if (i > 0)
                text += QLatin1Char('\t');
            text += clipboardCell(captions ? cell : data::spreadsheetText(cell, decimal));
            html += htmlCell(cell, form, decimal, tag);
        }
        text += QLatin1Char('\n');
        html += QLatin1String("</tr>");
    };
    if (withHeaders)
        addRow([this](int c) { return columnCaption(c); }, true);
    const bool allRows = !selected.wholeColumns.empty();
    for (qint64 r = 0; r < selected.rows; ++r) {
        bool any = allRows;
        for (size_t i = 0; i < selected.ranges.size() && !any; ++i)
            any = r >= selected.ranges[i].top() && r <= selected.ranges[i].bottom();
        if (!any)
            continue;
        addRow([&](int c) { return selected.contains(r, c) ? model_->text(r, c) : QString(); },
               false);
    }
    html += QLatin1String("</table></body></html>");
    platform().setClipboard(text, html);
}

} // namespace velario
