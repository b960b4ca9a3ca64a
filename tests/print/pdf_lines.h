#pragma once

#include "print/printer.h"

#include <QMap>
#include <QProcess>
#include <QRegularExpression>
#include <QStringList>

#include <cmath>

namespace velario::test {

// The printed lines of a PDF made by the printer, rebuilt from where each word stands:
// a word is put at the character column its left edge gives in a fixed-pitch face, so
// the text shows whether the blanks between columns came out as many as were printed.
// Lines that hold only blanks leave no trace in a PDF and are left out; so are the blanks
// that end a line. SIZES gives the points of each printed line, top to bottom.
inline QStringList pdfLines(const QString& pdf, const QList<float>& sizes) {
    QProcess process;
    process.start(QStringLiteral("pdftotext"), {QStringLiteral("-bbox"), pdf, QStringLiteral("-")});
    if (!process.waitForFinished(30000) || process.exitCode() != 0)
        return {QStringLiteral("<pdftotext failed>")};
    const QString html = QString::fromUtf8(process.readAllStandardOutput());

    // Every glyph of Liberation Mono, regular or bold, advances 1229/2048 of an em; the
    // page's printable area starts at the side margin.
    constexpr double kAdvance = 1229.0 / 2048.0;
    constexpr double kLeft = kPageSideMarginInches * 72.0;
    static const QRegularExpression word(
        QStringLiteral("<word xMin=\"([0-9.]+)\" yMin=\"([0-9.]+)\"[^>]*>([^<]*)</word>"));
    QMap<double, QList<std::pair<double, QString>>> rows;
    for (const auto& m : word.globalMatch(html)) {
        QString text = m.captured(3);
        text.replace(QStringLiteral("&lt;"), QStringLiteral("<"))
            .replace(QStringLiteral("&gt;"), QStringLiteral(">"))
            .replace(QStringLiteral("&quot;"), QStringLiteral("\""))
            .replace(QStringLiteral("&apos;"), QStringLiteral("'"))
            .replace(QStringLiteral("&amp;"), QStringLiteral("&"));
        rows[std::round(m.captured(2).toDouble() * 10) / 10].append(
            {m.captured(1).toDouble(), text});
    }
    QStringList lines;
    int index = 0;
    for (const auto& row : std::as_const(rows)) {
        const double advance = sizes.value(index++, 9.0f) * kAdvance;
        QString line;
        for (const auto& [x, text] : row) {
            const int column = int(std::lround((x - kLeft) / advance));
            if (line.size() < column)
                line += QString(column - line.size(), u' ');
            line = line.left(column) + text;
        }
        lines << line;
    }
    return lines;
}

// Empty when the lines read back from the PDF are the printed ones as far as the page
// shows them: a line may only come out shorter where it runs past the right edge of the
// printable area (A4 less the side margins); else what differs.
inline QString comparePrinted(const QStringList& onPaper, const QStringList& printed,
                              const QList<float>& sizes) {
    constexpr double kPrintableWidth = 595.276 - 2 * kPageSideMarginInches * 72.0;
    if (onPaper.size() != printed.size())
        return QStringLiteral("%1 lines on paper, %2 printed:\n%3")
            .arg(onPaper.size())
            .arg(printed.size())
            .arg(onPaper.join(u'\n'));
    for (qsizetype i = 0; i < printed.size(); ++i) {
        const int fits = int(kPrintableWidth / (sizes.value(i, 9.0f) * 1229.0 / 2048.0));
        const QString& line = onPaper[i];
        if (line != printed[i].left(line.size()) ||
            line.size() < std::min<qsizetype>(fits, printed[i].size()))
            return QStringLiteral("line %1 on paper:\n[%2]\nprinted:\n[%3]")
                .arg(i)
                .arg(line, printed[i]);
    }
    return {};
}

// What pdfLines gives back for DOC: its lines as printed, without the blank ones and
// without trailing blanks, and the size of each.
inline std::pair<QStringList, QList<float>> visibleLines(const PrintDocument& doc) {
    QStringList texts;
    QList<float> sizes;
    for (const PrintLine& line : doc.lines) {
        QString text;
        for (const PrintRun& run : line.runs)
            text += run.text;
        while (text.endsWith(u' '))
            text.chop(1);
        if (text.isEmpty())
            continue;
        texts << text;
        sizes << line.runs.first().font.size;
    }
    return {texts, sizes};
}

} // namespace velario::test
