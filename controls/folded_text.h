#pragma once

#include <QString>
#include <QStringView>

#include <vector>

namespace velario {

// A text as an editor shows it, and the text itself. A text document spends its time per
// paragraph, and lays out a whole paragraph to show any of it: thousands of short lines, or a
// line of megabytes, would hold the window for seconds. So the display groups runs of many
// lines into paragraphs joined by line separators (U+2028) and cuts a very long line into
// paragraphs of a few thousand characters. The text keeps every character it was given (line
// ends "\r\n" and "\r", separators of its own) however the display is edited: each change of
// the display is carried over to it.
class FoldedText {
public:
    // Lines longer than this are shown cut into pieces of this length.
    static constexpr qsizetype kPiece = 4096;
    // A text of more lines than this is shown with its lines grouped, about kPiece
    // characters a paragraph.
    static constexpr qsizetype kManyLines = 2000;

    // Starts over with TEXT; returns its display, where "\n" ends a paragraph.
    QString reset(const QString& text);
    const QString& text() const { return text_; }
    // Whether the display has paragraph ends that are not in the text.
    bool hasCuts() const { return cuts_ > 0; }

    // The display changed at POSITION: REMOVED characters gave way to ADDED, the display's
    // characters there now (paragraph ends as U+2029, line separators as U+2028). A paragraph
    // end or line separator the user adds is a line end "\n" of the text.
    void apply(qsizetype position, qsizetype removed, QStringView added);

    // Where a position of the display is in the text, and back.
    qsizetype textPosition(qsizetype displayPosition) const;
    qsizetype displayPosition(qsizetype textPosition) const;

private:
    // A character of the display that does not stand for itself in the text: a cut (nothing),
    // or a line end that is not "\n".
    enum class Kind : char16_t {
        Cut,
        CrLf,
        Cr,
        LineSeparator,
        ParagraphSeparator,
        FrameStart,
        FrameEnd
    };
    struct Mark {
        qsizetype display;
        Kind kind;
    };
    static QStringView textOf(Kind kind);
    // The display from FROM to TO as it was before a change, line ends as U+2029.
    QString displayed(qsizetype from, qsizetype to) const;

    QString text_;
    std::vector<Mark> marks_; // in display order
    qsizetype cuts_ = 0;
};

} // namespace velario
