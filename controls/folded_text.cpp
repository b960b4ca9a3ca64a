#include "folded_text.h"

#include <algorithm>

namespace velario {

namespace {

constexpr char16_t kLineSeparator = 0x2028;
constexpr char16_t kParagraphSeparator = 0x2029;
constexpr char16_t kFrameStart = 0xFDD0;
constexpr char16_t kFrameEnd = 0xFDD1;

bool mayEndLine(char16_t c) {
    if (c <= u'\r')
        return c == u'\n' || c == u'\r';
    return c >= kLineSeparator && (c <= kParagraphSeparator || c == kFrameStart || c == kFrameEnd);
}

} // namespace

QStringView FoldedText::textOf(Kind kind) {
    static const char16_t crLf[] = u"\r\n";
    static const char16_t others[] = {u'\r', kLineSeparator, kParagraphSeparator, kFrameStart,
                                      kFrameEnd};
    switch (kind) {
    case Kind::Cut:
        return {};
    case Kind::CrLf:
        return QStringView(crLf, 2);
    case Kind::Cr:
        return QStringView(others, 1);
    case Kind::LineSeparator:
        return QStringView(others + 1, 1);
    case Kind::ParagraphSeparator:
        return QStringView(others + 2, 1);
    case Kind::FrameStart:
        return QStringView(others + 3, 1);
    case Kind::FrameEnd:
        return QStringView(others + 4, 1);
    }
    return {};
}

QString FoldedText::reset(const QString& text) {
    text_ = text;
    marks_.clear();
    cuts_ = 0;
    const qsizetype length = text.size();
    const auto* chars = reinterpret_cast<const char16_t*>(text.utf16());
    const bool grouped = std::count(chars, chars + length, u'\n') > kManyLines;

    QString display;
    display.reserve(length + length / kPiece + 1);
    qsizetype copied = 0;    // characters of TEXT already in the display
    qsizetype line = 0;      // characters since the last line end or cut
    qsizetype paragraph = 0; // characters of the display's paragraph
    const auto copyUpTo = [&](qsizetype end) {
        display.append(QStringView(chars + copied, end - copied));
        copied = end;
    };
    for (qsizetype i = 0; i < length;) {
        // The characters up to the next line end, as many as the line still takes.
        const qsizetype limit = std::min(length, i + std::max<qsizetype>(kPiece - line, 0));
        qsizetype j = i;
        while (j < limit && !mayEndLine(chars[j]))
            ++j;
        line += j - i;
        paragraph += j - i;
        i = j;
        if (i == length)
            break;
        const char16_t c = chars[i];
        bool lineEnd = true;
        bool marked = true;
        Kind kind = Kind::Cut;
        switch (c) {
        case u'\n':
            marked = false;
            break;
        case u'\r':
            kind = i + 1 < length && chars[i + 1] == u'\n' ? Kind::CrLf : Kind::Cr;
            break;
        case kLineSeparator:
            kind = Kind::LineSeparator;
            break;
        case kParagraphSeparator:
            kind = Kind::ParagraphSeparator;
            break;
        case kFrameStart:
            kind = Kind::FrameStart;
            break;
        case kFrameEnd:
            kind = Kind::FrameEnd;
            break;
        default:
            lineEnd = false;
        }
        if (lineEnd) {
            copyUpTo(i);
            if (marked)
                marks_.push_back({display.size(), kind});
            const bool sameParagraph = grouped && paragraph < kPiece;
            display.append(sameParagraph ? QChar(kLineSeparator) : QChar(u'\n'));
            paragraph = sameParagraph ? paragraph + 1 : 0;
            line = 0;
            i += kind == Kind::CrLf ? 2 : 1;
            copied = i;
            continue;
        }
        // The line is full. The two halves of a surrogate pair stay together.
        if (QChar::isLowSurrogate(c)) {
            ++line;
            ++paragraph;
            ++i;
            continue;
        }
        copyUpTo(i);
        marks_.push_back({display.size(), Kind::Cut});
        ++cuts_;
        display.append(QChar(u'\n'));
        paragraph = 0;
        line = 0;
    }
    copyUpTo(length);
    return display;
}

qsizetype FoldedText::textPosition(qsizetype displayPosition) const {
    qsizetype position = displayPosition;
    for (const Mark& mark : marks_) {
        if (mark.display >= displayPosition)
            break;
        position += textOf(mark.kind).size() - 1;
    }
    return std::clamp<qsizetype>(position, 0, text_.size());
}

qsizetype FoldedText::displayPosition(qsizetype textPosition) const {
    qsizetype offset = 0; // text position less display position, up to the mark
    for (const Mark& mark : marks_) {
        const qsizetype start = mark.display + offset;
        if (textPosition <= start)
            break;
        const qsizetype length = textOf(mark.kind).size();
        // Inside "\r\n": after the line end.
        if (textPosition < start + length)
            return mark.display + 1;
        offset += length - 1;
    }
    return textPosition - offset;
}

QString FoldedText::displayed(qsizetype from, qsizetype to) const {
    QString out;
    out.reserve(to - from);
    auto mark = std::lower_bound(marks_.begin(), marks_.end(), from,
                                 [](const Mark& m, qsizetype d) { return m.display < d; });
    qsizetype position = textPosition(from);
    for (qsizetype d = from; d < to; ++d) {
        if (mark != marks_.end() && mark->display == d) {
            // A cut is nothing the user could type.
            out.append(QChar(mark->kind == Kind::Cut ? 0xFFFF : kParagraphSeparator));
            position += textOf(mark->kind).size();
            ++mark;
            continue;
        }
        const QChar c = position < text_.size() ? text_.at(position) : QChar();
        out.append(c == u'\n' ? QChar(kParagraphSeparator) : c);
        ++position;
    }
    return out;
}

void FoldedText::apply(qsizetype position, qsizetype removed, QStringView added) {
    QString inserted = added.toString();
    inserted.replace(QChar(kLineSeparator), QChar(kParagraphSeparator));
    // Formats set again over a range tell it changed while its characters stay. (A line end
    // replaced by a typed one stays as it was, too.)
    if (removed == inserted.size() && displayed(position, position + removed) == inserted)
        return;
    inserted.replace(QChar(kParagraphSeparator), QChar(u'\n'));
    const qsizetype from = position;
    const qsizetype oldTo = position + removed;
    const qsizetype textFrom = textPosition(from);
    text_.replace(textFrom, textPosition(oldTo) - textFrom, inserted);
    const qsizetype shift = inserted.size() - (oldTo - from);
    auto first = std::lower_bound(marks_.begin(), marks_.end(), from,
                                  [](const Mark& m, qsizetype d) { return m.display < d; });
    auto last = first;
    while (last != marks_.end() && last->display < oldTo) {
        cuts_ -= last->kind == Kind::Cut;
        ++last;
    }
    for (auto m = last; m != marks_.end(); ++m)
        m->display += shift;
    marks_.erase(first, last);
}

} // namespace velario
