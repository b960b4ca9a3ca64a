#include "controls.h"

#include "platform/twips.h"

#include <QApplication>
#include <QFocusEvent>
#include <QMimeData>
#include <QPalette>
#include <QTextCursor>

#include <algorithm>
#include <climits>
#include <utility>

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

} // namespace

TextBox::TextBox(const QString& name, QWidget* parent) : QLineEdit(parent) {
    setObjectName(name);
    setMaxLength(32767);
}

void TextBox::setText(const QString& text) {
    if (holding_)
        held_ = text;
    else
        QLineEdit::setText(text);
}

// What the automation reads of a text field, one line or several; MAXLENGTH 0 for none.
template <typename Field>
QJsonObject textFieldState(const Field& field, int maxLength) {
    return {{"text", field.text()},
            {"selStart", field.selStart()},
            {"selLength", field.selLength()},
            {"maxLength", maxLength},
            {"backColor", color::asSigned(backColor(&field, color::kWindowBackground))}};
}

QJsonObject TextBox::automationState() const {
    return textFieldState(*this, maxLength() >= 32767 ? 0 : maxLength());
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
    connect(document(), &QTextDocument::contentsChange, this, &MemoBox::displayChanged);
}

void MemoBox::setText(const QString& text) {
    if (holding_) {
        held_ = text;
        return;
    }
    // The same text again (a save reads back what was on screen) is already shown.
    if (text == folded_.text())
        return;
    const QString display = folded_.reset(text);
    showing_ = true;
    setPlainText(display);
    showing_ = false;
    // Undoing the removal of a cut would bring it back as a line end of the text.
    setUndoRedoEnabled(!folded_.hasCuts());
}

void MemoBox::displayChanged(int position, int removed, int added) {
    if (showing_)
        return;
    QTextCursor now(document());
    now.setPosition(position);
    now.setPosition(position + added, QTextCursor::KeepAnchor);
    folded_.apply(position, removed, now.selectedText());
}

// A paste of thousands of characters is shown folded like any text that is set.
void MemoBox::insertFromMimeData(const QMimeData* source) {
    const QString pasted = source->hasText() ? source->text() : QString();
    if (pasted.size() <= FoldedText::kPiece) {
        QPlainTextEdit::insertFromMimeData(source);
        return;
    }
    const QTextCursor cursor = textCursor();
    const qsizetype from = folded_.textPosition(cursor.selectionStart());
    const qsizetype to = folded_.textPosition(cursor.selectionEnd());
    setText(QString(text()).replace(from, to - from, pasted));
    QTextCursor after(document());
    after.setPosition(int(folded_.displayPosition(from + pasted.size())));
    setTextCursor(after);
}

QJsonObject MemoBox::automationState() const {
    return textFieldState(*this, 0);
}

int MemoBox::selStart() const {
    return int(folded_.textPosition(textCursor().selectionStart()));
}

int MemoBox::selLength() const {
    const QTextCursor c = textCursor();
    return int(folded_.textPosition(c.selectionEnd()) - folded_.textPosition(c.selectionStart()));
}

void MemoBox::typeText(const QString& text) {
    setText(text);
    moveCursor(QTextCursor::End);
}

void MemoBox::focusInEvent(QFocusEvent* event) {
    QPlainTextEdit::focusInEvent(event);
    emit gotFocus();
}

void MemoBox::focusOutEvent(QFocusEvent* event) {
    QPlainTextEdit::focusOutEvent(event);
    emit lostFocus();
}

HeldTexts::HeldTexts(QWidget* window) {
    for (TextBox* box : window->findChildren<TextBox*>()) {
        box->holding_ = true;
        boxes_.append(box);
    }
    for (MemoBox* memo : window->findChildren<MemoBox*>()) {
        memo->holding_ = true;
        memos_.append(memo);
    }
}

template <typename Field>
void HeldTexts::release(Field* field) {
    if (!field)
        return;
    field->holding_ = false;
    if (const std::optional<QString> last = std::exchange(field->held_, std::nullopt))
        field->setText(*last);
}

HeldTexts::~HeldTexts() {
    for (const QPointer<TextBox>& box : boxes_)
        release(box.data());
    for (const QPointer<MemoBox>& memo : memos_)
        release(memo.data());
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

void Label::setGrowsLeftward(bool on, const QLabel* neighbour) {
    growsLeftward_ = on;
    neighbour_ = neighbour;
    placedFont_ = font();
    setAlignment(on ? Qt::AlignRight | Qt::AlignVCenter : Qt::AlignLeft | Qt::AlignVCenter);
    fitCaption();
}

void Label::fitCaption() {
    const QRect placed = twips::geometry(this);
    QRect shown(twips::toPixelsX(placed.x()), twips::toPixelsY(placed.y()),
                twips::toPixelsX(placed.width()), twips::toPixelsY(placed.height()));
    if (growsLeftward_) {
        const int frame = 2 * (frameWidth() + margin()) + 2;
        QFont face = placedFont_;
        const auto needed = [&] { return QFontMetrics(face).horizontalAdvance(text()) + frame; };
        // Where the neighbour's own text ends, and a blank's width after it.
        const int limit = neighbour_ ? neighbour_->x() + neighbour_->contentsMargins().left() +
                                           neighbour_->fontMetrics().horizontalAdvance(
                                               neighbour_->text() + QLatin1Char(' '))
                                     : INT_MIN;
        // A narrow face of the same size first, then smaller sizes of it.
        const auto tooWide = [&] { return shown.right() + 1 - needed() < limit; };
        if (tooWide())
            face.setFamilies({QStringLiteral("Liberation Sans Narrow"),
                              QStringLiteral("Arial Narrow"), QStringLiteral("Nimbus Sans Narrow"),
                              placedFont_.family()});
        constexpr qreal kSmallest = 6;
        while (tooWide() && face.pointSizeF() > kSmallest)
            face.setPointSizeF(std::max(kSmallest, face.pointSizeF() - 0.5));
        setFont(face);
        if (needed() > shown.width())
            shown.setLeft(shown.right() + 1 - needed());
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
