#include "datagrid.h"

#include <QApplication>
#include <QJsonArray>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMenu>

namespace velario {

QJsonObject DataGrid::automationState() const {
    const int first = firstVisibleRow();
    const int visible = visibleRows();
    QJsonArray columns;
    for (int c = 0; c < columnCount(); ++c)
        columns.append(QJsonObject{{"caption", columnCaption(c)}, {"width", columnWidthTwips(c)}});
    QJsonArray cells;
    for (int r = first; r < first + visible; ++r) {
        QJsonArray row;
        for (int c = 0; c < columnCount(); ++c)
            row.append(model_->text(r, c));
        cells.append(row);
    }
    return {{"rows", approxCount()},  {"firstVisibleRow", first},
            {"visibleRows", visible}, {"currentRow", currentResultRow()},
            {"currentCol", col_},     {"columns", columns},
            {"cells", cells}};
}

QString DataGrid::checkResultRow(int row) const {
    if (!model_ || !model_->hasSource())
        return QStringLiteral("the grid shows no result");
    const qint64 rows = resultRowCount();
    if (row < 0 || row >= rows)
        return QStringLiteral("row %1 is outside the result (%2 rows)").arg(row).arg(rows);
    return {};
}

QString DataGrid::automationRow(int row) {
    return clickRow(row);
}

QString DataGrid::automationScroll(int row) {
    if (const QString why = checkResultRow(row); !why.isEmpty())
        return why;
    model_->ensureRows(qint64(row) + rowsFitting() + 1);
    executeDelayedItemsLayout();
    updateGeometries();
    scrollTo(model_->index(row, 0), QAbstractItemView::PositionAtTop);
    return {};
}

QString DataGrid::automationEdit(int row, int column, const QString& text) {
    if (!cellEditing_)
        return QStringLiteral("the grid's cells cannot be edited");
    if (const QString why = checkResultRow(row); !why.isEmpty())
        return why;
    if (column < 0 || column >= columnCount())
        return QStringLiteral("column %1 is outside the grid (%2 columns)")
            .arg(column)
            .arg(columnCount());
    model_->ensureRows(qint64(row) + 1);
    const QModelIndex index = model_->index(row, column);
    scrollTo(index);
    setCurrentIndex(index);
    if (!QAbstractItemView::edit(index, QAbstractItemView::AllEditTriggers, nullptr))
        return QStringLiteral("the cell cannot be edited");
    auto* editor = qobject_cast<QLineEdit*>(indexWidget(index));
    if (!editor)
        return QStringLiteral("the cell has no text editor");
    // The step hands the cell the whole of TEXT; what a value longer than the column allows
    // comes to is for the program to say.
    if (editor->maxLength() < text.size())
        editor->setMaxLength(int(text.size()));
    editor->setText(text);
    QKeyEvent press(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
    QApplication::sendEvent(editor, &press);
    // The delegate commits a confirmed editor through a queued call.
    QCoreApplication::sendPostedEvents(itemDelegate(), QEvent::MetaCall);
    return {};
}

QString DataGrid::automationMenu(const QString& text) {
    const std::unique_ptr<QMenu> menu = makeMenu();
    for (QAction* action : menu->actions()) {
        if (action->isSeparator() || action->text() != text)
            continue;
        if (!action->isEnabled())
            return QStringLiteral("menu item '%1' is disabled").arg(text);
        action->trigger();
        return {};
    }
    return QStringLiteral("no menu item '%1'").arg(text);
}

QString DataGrid::automationSelect(const QString& what) {
    if (!model_ || !model_->hasSource())
        return QStringLiteral("the grid shows no result");
    const QStringList words = what.split(QLatin1Char(' '), Qt::SkipEmptyParts);
    QList<int> numbers;
    const bool named = !words.isEmpty() && (words[0] == "row" || words[0] == "column");
    for (qsizetype i = named ? 1 : 0; i < words.size() && what != QLatin1String("all"); ++i) {
        bool ok = false;
        numbers << words[i].toInt(&ok);
        if (!ok || numbers.last() < 0)
            return QStringLiteral("bad selection '%1'").arg(what);
    }
    const int columns = columnCount();
    if (what == QLatin1String("all")) {
        selectAll();
    } else if (words.first() == "row" && numbers.size() == 1) {
        if (const QString why = checkResultRow(numbers[0]); !why.isEmpty())
            return why;
        model_->ensureRows(qint64(numbers[0]) + 1);
        // Straight to the selection: the view's own row and column selection would heed
        // whatever modifier keys are held.
        selectionModel()->select(model_->index(numbers[0], 0),
                                 QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    } else if (words.first() == "column" && numbers.size() == 1 && numbers[0] < columns) {
        showEveryRow();
        selectionModel()->select(model_->index(0, numbers[0]), QItemSelectionModel::ClearAndSelect |
                                                                   QItemSelectionModel::Columns);
    } else if (words.size() == 4 && numbers.size() == 4 && numbers[1] <= numbers[3] &&
               numbers[3] < columns && numbers[0] <= numbers[2]) {
        if (const QString why = checkResultRow(numbers[2]); !why.isEmpty())
            return why;
        model_->ensureRows(qint64(numbers[2]) + 1);
        selectionModel()->select(QItemSelection(model_->index(numbers[0], numbers[1]),
                                                model_->index(numbers[2], numbers[3])),
                                 QItemSelectionModel::ClearAndSelect);
    } else {
        return QStringLiteral("bad selection '%1'").arg(what);
    }
    return {};
}

} // namespace velario
