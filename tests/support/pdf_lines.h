#pragma once

#include "data/text/text_columns.h"
#include "print/printer.h"
#include "support/harness.h"

#include <QJsonArray>
#include <QJsonObject>
#include <QMap>
#include <QRegularExpression>
#include <QStringList>

#include <algorithm>
#include <cmath>

namespace velario::test {

// Standard output of a tool, and what it said on its error output (where a reader that had
// to mend a file says so) when anything.
inline QString tool(const QString& program, const QStringList& args) {
    const CommandRun run = runCommand(program, args);
    return run.exitCode == 0 ? QString::fromUtf8(run.out) + run.err : '<' + program + " failed>";
}

// The text of a transcribed line, its runs joined.
inline QString lineText(const QJsonValue& line) {
    QString text;
    for (const QJsonValue run : line.toArray())
        text += run[QStringLiteral("text")].toString();
    return text;
}

// Every glyph of Liberation Mono, regular or bold, advances 1229/2048 of an em.
inline constexpr double kAdvance = 1229.0 / 2048.0;

// The printed lines of a PDF made by the printer, rebuilt from where each word stands:
// a word is put at the character column its left edge gives in a fixed-pitch face, so
// the text shows whether the blanks between columns came out as many as were printed (a
// wide character taking two columns).
// Lines that hold only blanks leave no trace in a PDF and are left out; so are the blanks
// that end a line; pages follow one another. SIZES gives the points of each printed line, top to
// bottom.
inline QStringList pdfLines(const QString& pdf, const QList<float>& sizes) {
    const QString html =
        tool(QStringLiteral("pdftotext"), {QStringLiteral("-bbox"), pdf, QStringLiteral("-")});
    static const QRegularExpression word(
        QStringLiteral("<word xMin=\"([0-9.]+)\" yMin=\"([0-9.]+)\" xMax=\"[0-9.]+\" "
                       "yMax=\"([0-9.]+)\">([^<]*)</word>"));
    QStringList lines;
    for (const QString& page : html.split(QStringLiteral("<page "))) {
        // By the bottom of the words, where faces of other heights that share a line come
        // closest.
        QMap<double, QList<std::pair<double, QString>>> rows;
        for (const auto& m : word.globalMatch(page)) {
            QString text = m.captured(4);
            for (const char* entity : {"&lt;<", "&gt;>", "&quot;\"", "&apos;'", "&amp;&"})
                text.replace(QString::fromLatin1(entity).chopped(1), QString(entity).right(1));
            const double y = m.captured(3).toDouble();
            const double near = (y - m.captured(2).toDouble()) / 4;
            auto row = rows.lowerBound(y - near);
            if (row == rows.end() || row.key() > y + near)
                row = rows.insert(y, {});
            row->append({m.captured(1).toDouble(), text});
        }
        for (auto& row : rows) {
            std::sort(row.begin(), row.end());
            const double advance = sizes.value(lines.size(), 9.0f) * kAdvance;
            QString line;
            for (const auto& [x, text] : row) {
                const int column = int(std::lround((x - kPageSideMarginInches * 72.0) / advance));
                qsizetype taken = 0;
                line = leadingColumns(line, column, &taken).toString();
                line += QString(column - taken, u' ') + text;
            }
            // Right-to-left text reads as drawn, from the left: turned back, as printed.
            static const QRegularExpression rightToLeft(
                QStringLiteral("[\\p{Hebrew}\\p{Arabic}]+( +[\\p{Hebrew}\\p{Arabic}]+)*"));
            for (const auto& m : rightToLeft.globalMatch(line)) {
                QString run = m.captured();
                std::reverse(run.begin(), run.end());
                line.replace(m.capturedStart(), run.size(), run);
            }
            lines << line;
        }
    }
    return lines;
}

// Empty when the PDF of a transcribed DOCUMENT reads back as its lines were printed, every
// character one column; a line may only come out shorter
// where it runs past the right edge of the printable area (A4 less the side margins).
inline QString paperDiffers(const QJsonObject& document) {
    QStringList printed;
    QList<float> sizes;
    for (const QJsonValue line : document[QStringLiteral("lines")].toArray()) {
        QString text = lineText(line);
        while (text.endsWith(u' '))
            text.chop(1);
        if (!text.isEmpty()) {
            printed << text;
            sizes << float(line[0][QStringLiteral("size")].toDouble());
        }
    }
    const QStringList onPaper = pdfLines(document[QStringLiteral("destination")].toString(), sizes);
    if (onPaper.size() != printed.size())
        return QStringLiteral("on paper:\n") + onPaper.join(u'\n');
    for (qsizetype i = 0; i < printed.size(); ++i) {
        const int fits = int((595.276 - 2 * kPageSideMarginInches * 72.0) / (sizes[i] * kAdvance));
        if (onPaper[i] != printed[i].left(onPaper[i].size()) ||
            onPaper[i].size() < std::min<qsizetype>(fits, printed[i].size()))
            return QStringLiteral("on paper:\n[%1]\nprinted:\n[%2]").arg(onPaper[i], printed[i]);
    }
    return {};
}

} // namespace velario::test
