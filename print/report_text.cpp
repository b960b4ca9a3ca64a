#include "report_text.h"

#include "data/text/text_columns.h"
#include "platform/platform.h"

#include <QDir>

#include <utility>

namespace velario {

QString fitText(const QString& text, int width) {
    QString line;
    appendFitted(line, text, width);
    return line;
}

void appendFitted(QString& line, QStringView text, int width) {
    if (width <= 0)
        return;
    if (singleColumnText(text)) {
        if (text.size() >= width) {
            line += text.left(width);
            return;
        }
        line += text;
        line.resize(line.size() + width - text.size(), u' ');
        return;
    }
    // A wide character that would cross the column's end gives way to a blank, so that the
    // columns after it start where they would.
    qsizetype taken = 0;
    line += leadingColumns(text, width, &taken);
    line.resize(line.size() + width - taken, u' ');
}

namespace {

// Where TEXT starts and ends without its blanks at either end.
template <typename View>
std::pair<qsizetype, qsizetype> blankBounds(View text) {
    qsizetype start = 0;
    qsizetype end = text.size();
    while (start < end && text[start] == u' ')
        ++start;
    while (end > start && text[end - 1] == u' ')
        --end;
    return {start, end};
}

} // namespace

QString trimBlanks(const QString& text) {
    const auto [start, end] = blankBounds(QStringView(text));
    return text.mid(start, end - start);
}

QString reportStamp(const QDateTime& when) {
    return QLocale::c().toString(when, QStringLiteral("dd/MM/yyyy HH:mm:ss"));
}

void reportUndelivered(const Error& error, const QString& destination) {
    QString text = QStringLiteral("Documento non stampato: non è stato possibile consegnarlo a "
                                  "\"%1\".")
                       .arg(QDir::toNativeSeparators(destination));
    if (!error.description.isEmpty())
        text += u'\n' + error.description;
    platform().msgBox(text, MsgBox::OkOnly);
}

} // namespace velario
