#include "controls.h"

#include "twips.h"

#include <QApplication>
#include <QFocusEvent>
#include <QPalette>
#include <QTextCursor>

#include <algorithm>

namespace velario {

namespace color {

QColor toQColor(qint64 value) {
    if (value & 0x80000000LL) {
        const QPalette palette = QApplication::palette();
        switch (value & 0xFF) {
        case 0x05:
            return palette.color(QPalette::Base);
        case 0x0F:
            return palette.color(QPalette::Button);
        default:
            return palette.color(QPalette::Window);
        }
    }
    return QColor(int(value & 0xFF), int((value >> 8) & 0xFF), int((value >> 16) & 0xFF));
}

qint32 asSigned(qint64 value) {
    return static_cast<qint32>(static_cast<quint32>(value));
}

} // namespace color

void setBackColor(QWidget* widget, qint64 value) {
    widget->setProperty("backColor", value);
    QPalette palette = widget->palette();
    const QColor c = color::toQColor(value);
    palette.setColor(QPalette::Base, c);
    palette.setColor(QPalette::Window, c);
    widget->setPalette(palette);
    widget->setAutoFillBackground(true);
}

qint64 backColor(const QWidget* widget, qint64 fallback) {
    const QVariant v = widget->property("backColor");
    return v.isValid() ? v.toLongLong() : fallback;
}

namespace {

// Qt selects a line edit's whole text when it is reached by Tab; here only the window's own
// handlers decide what is selected.
QFocusEvent neutralFocus(const QFocusEvent* event) {
    return QFocusEvent(event->type(), Qt::OtherFocusReason);
}

int selectionStart(const QTextCursor& cursor) {
    return cursor.selectionStart();
}

} // namespace

TextBox::TextBox(const QString& name, QWidget* parent) : QLineEdit(parent) {
    setObjectName(name);
    setMaxLength(32767);
}

int TextBox::selStart() const {
    return hasSelectedText() ? selectionStart() : cursorPosition();
}

int TextBox::selLength() const {
    return static_cast<int>(selectedText().size());
}

void TextBox::typeText(const QString& text) {
    selectAll();
    insert(text);
}

void TextBox::focusInEvent(QFocusEvent* event) {
    QFocusEvent neutral = neutralFocus(event);
    QLineEdit::focusInEvent(&neutral);
    emit gotFocus();
}

void TextBox::focusOutEvent(QFocusEvent* event) {
    QFocusEvent neutral = neutralFocus(event);
    QLineEdit::focusOutEvent(&neutral);
    emit lostFocus();
}

MemoBox::MemoBox(const QString& name, QWidget* parent) : QPlainTextEdit(parent) {
    setObjectName(name);
    setTabChangesFocus(true);
}

void MemoBox::setText(const QString& text) {
    // Wrapping a line costs time that grows with the square of its length: a statement
    // written on one line of megabytes would hold the window for minutes. Such a text is
    // shown unwrapped.
    constexpr qsizetype kLongestWrapped = 10000;
    qsizetype longest = 0;
    for (qsizetype start = 0; start < text.size() && longest <= kLongestWrapped;) {
        qsizetype end = text.indexOf(QLatin1Char('\n'), start);
        if (end < 0)
            end = text.size();
        longest = std::max(longest, end - start);
        start = end + 1;
    }
    setLineWrapMode(longest > kLongestWrapped ? NoWrap : WidgetWidth);
    setPlainText(text);
}

int MemoBox::selStart() const {
    return selectionStart(textCursor());
}

int MemoBox::selLength() const {
    const QTextCursor c = textCursor();
    return c.selectionEnd() - c.selectionStart();
}

void MemoBox::typeText(const QString& text) {
    selectAll();
    insertPlainText(text);
}

void MemoBox::focusInEvent(QFocusEvent* event) {
    QPlainTextEdit::focusInEvent(event);
    emit gotFocus();
}

void MemoBox::focusOutEvent(QFocusEvent* event) {
    QPlainTextEdit::focusOutEvent(event);
    emit lostFocus();
}

Label::Label(const QString& name, const QString& caption, QWidget* parent)
    : QLabel(caption, parent) {
    setObjectName(name);
    setTextFormat(Qt::PlainText);
}

void Label::setCaption(const QString& caption) {
    setText(caption);
    if (growsLeftward_)
        fitCaption();
}

void Label::setGrowsLeftward(bool on) {
    growsLeftward_ = on;
    setAlignment(on ? Qt::AlignRight | Qt::AlignVCenter : Qt::AlignLeft | Qt::AlignVCenter);
    fitCaption();
}

void Label::fitCaption() {
    const QRect placed = twips::geometry(this);
    QRect shown(twips::toPixelsX(placed.x()), twips::toPixelsY(placed.y()),
                twips::toPixelsX(placed.width()), twips::toPixelsY(placed.height()));
    if (growsLeftward_) {
        const int needed =
            fontMetrics().horizontalAdvance(text()) + 2 * (frameWidth() + margin()) + 2;
        if (needed > shown.width())
            shown.setLeft(shown.right() + 1 - needed);
    }
    setGeometry(shown);
}

CommandButton::CommandButton(const QString& name, const QString& caption, QWidget* parent)
    : QPushButton(caption, parent) {
    setObjectName(name);
    setAutoDefault(false);
}

OptionButton::OptionButton(const QString& name, const QString& caption, QWidget* parent)
    : QRadioButton(caption, parent) {
    setObjectName(name);
    connect(this, &QRadioButton::toggled, this, [this](bool on) {
        if (on)
            emit selected();
    });
    // A click on the selected button changes nothing, so toggled stays silent.
    connect(this, &QAbstractButton::clicked, this, [this] {
        if (wasSelected_)
            emit selected();
    });
}

void OptionButton::nextCheckState() {
    wasSelected_ = isChecked();
    QRadioButton::nextCheckState();
}

} // namespace velario
