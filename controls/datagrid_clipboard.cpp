#include "datagrid.h"

#include "platform/platform.h"

#include <algorithm>

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

// A cell as a spreadsheet reads it from the clipboard: quoted, quotes doubled, when it holds
// a tab, a line end or a quote, so that it stays one cell.
QString clipboardCell(const QString& text) {
    if (!text.contains(QLatin1Char('\t')) && !text.contains(QLatin1Char('\n')) &&
        !text.contains(QLatin1Char('\r')) && !text.contains(QLatin1Char('"')))
        return text;
    return QLatin1Char('"') + QString(text).replace(QLatin1Char('"'), QLatin1String("\"\"")) +
           QLatin1Char('"');
}

QString htmlCell(const QString& text, const char* tag) {
    QString escaped = text.toHtmlEscaped();
    escaped.replace(QLatin1String("\r\n"), QLatin1String("<br>"));
    escaped.replace(QLatin1Char('\n'), QLatin1String("<br>"));
    escaped.replace(QLatin1Char('\r'), QLatin1String("<br>"));
    return QStringLiteral("<%1>%2</%1>").arg(QLatin1String(tag), escaped);
}

} // namespace

void DataGrid::copySelection(bool withHeaders) {
    if (!model_ || !selectionModel() || !selectionModel()->hasSelection())
        return;
    const int columns = columnCount();
    SelectedCells selected;
    const QItemSelection selection = selectionModel()->selection();
    for (int c = 0; c < columns; ++c)
        if (coversColumn(selection, c, model_->rowCount()))
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
    QString text;
    QString html = QStringLiteral("<table>");
    // Every row ends with a line end, the last too, as spreadsheets put rows on the
    // clipboard: a last row of one empty cell is then still a row.
    const auto addRow = [&](const auto& cellOf, const char* tag) {
        html += QLatin1String("<tr>");
        for (size_t i = 0; i < chosenColumns.size(); ++i) {
            const QString cell = cellOf(chosenColumns[i]);
            if (i > 0)
                text += QLatin1Char('\t');
            text += clipboardCell(cell);
            html += htmlCell(cell, tag);
        }
        text += QLatin1Char('\n');
        html += QLatin1String("</tr>");
    };
    if (withHeaders)
        addRow([this](int c) { return columnCaption(c); }, "th");
    const bool allRows = !selected.wholeColumns.empty();
    for (qint64 r = 0; r < selected.rows; ++r) {
        bool any = allRows;
        for (size_t i = 0; i < selected.ranges.size() && !any; ++i)
            any = r >= selected.ranges[i].top() && r <= selected.ranges[i].bottom();
        if (!any)
            continue;
        addRow([&](int c) { return selected.contains(r, c) ? model_->text(r, c) : QString(); },
               "td");
    }
    html += QLatin1String("</table>");
    platform().setClipboard(text, html);
}

} // namespace velario
