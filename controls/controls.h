#pragma once

#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QRadioButton>

#include "folded_text.h"
#include "platform/automation.h"

#include <optional>

namespace velario {

// Colours as the program writes them: 0x00BBGGRR, or 0x800000nn for a system colour.
namespace color {
inline constexpr qint64 kWindowBackground = 0x80000005LL;
inline constexpr qint64 kButtonFace = 0x8000000FLL;
QColor toQColor(qint64 value);
// As a signed 32-bit value, the way the program reads a colour back.
qint32 asSigned(qint64 value);
} // namespace color

void setBackColor(QWidget* widget, qint64 value);
qint64 backColor(const QWidget* widget, qint64 fallback);

// Focus events as a window's code sees them: one signal when the field gets the focus and
// one when it loses it, whatever the reason.
class TextBox : public QLineEdit, public AutomationControl {
    Q_OBJECT
public:
    explicit TextBox(const QString& name, QWidget* parent);
    QJsonObject automationState() const override;
    bool takesTypedText() const override { return true; }
    void automationType(const QString& text) override { typeText(text); }
    // The line edit's own, except while the texts are held (HeldTexts).
    QString text() const { return held_ ? *held_ : QLineEdit::text(); }
    void setText(const QString& text);
    int selStart() const;
    int selLength() const;
    // Replaces the whole text as typing does: the field's change handlers run.
    void typeText(const QString& text);

signals:
    void gotFocus();
    void lostFocus();

protected:
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;

private:
    friend class HeldTexts;
    bool holding_ = false;
    std::optional<QString> held_;
};

// A text field of several lines and no length limit. Its text is exactly what was set or
// typed, line ends and all, and a text of megabytes is shown at once (see FoldedText).
class MemoBox : public QPlainTextEdit, public AutomationControl {
    Q_OBJECT
public:
    explicit MemoBox(const QString& name, QWidget* parent);
    QJsonObject automationState() const override;
    bool takesTypedText() const override { return true; }
    void automationType(const QString& text) override { typeText(text); }
    QString text() const { return held_ ? *held_ : folded_.text(); }
    void setText(const QString& text);
    int selStart() const;
    int selLength() const;
    // Replaces the whole text as typing it would, the cursor after it.
    void typeText(const QString& text);

signals:
    void gotFocus();
    void lostFocus();

protected:
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    void insertFromMimeData(const QMimeData* source) override;

private:
    void displayChanged(int position, int removed, int added);

    friend class HeldTexts;
    FoldedText folded_;
    bool showing_ = false;
    bool holding_ = false;
    std::optional<QString> held_;
};

// While it lives, the text fields of a window keep the texts set on them without laying them
// out; when it ends, each shows the last one. A walk that moves the window over thousands of
// entries pays for showing the last only. Nothing but setting and reading texts may happen
// to the fields meanwhile.
class HeldTexts {
public:
    explicit HeldTexts(QWidget* window);
    ~HeldTexts();
    HeldTexts(const HeldTexts&) = delete;
    HeldTexts& operator=(const HeldTexts&) = delete;

private:
    template <typename Field>
    static void release(Field* field);

    QList<QPointer<TextBox>> boxes_;
    QList<QPointer<MemoBox>> memos_;
};

class Label : public QLabel, public AutomationControl {
    Q_OBJECT
public:
    Label(const QString& name, const QString& caption, QWidget* parent);
    QJsonObject automationState() const override { return {{"caption", caption()}}; }
    QString caption() const { return text(); }
    void setCaption(const QString& caption);
    // Right-aligned, and a caption too long for the label as placed widens it to the left
    // instead of being cut; its place in twips stays as the program set it. With NEIGHBOUR,
    // the label on its left, it widens only up to that label's text and then takes a smaller
    // size of its font, so that both stay readable.
    void setGrowsLeftward(bool on, const QLabel* neighbour = nullptr);

private:
    void fitCaption();
    bool growsLeftward_ = false;
    const QLabel* neighbour_ = nullptr;
    QFont placedFont_;
};

class CommandButton : public QPushButton, public AutomationControl {
    Q_OBJECT
public:
    CommandButton(const QString& name, const QString& caption, QWidget* parent);
    QJsonObject automationState() const override { return {{"caption", caption()}}; }
    QString caption() const { return text(); }
};

// One of a group of option buttons: selecting one clears the others of its parent. The
// selected signal comes whenever the button becomes selected, also when the code selects
// it, and when the user clicks it while it is already selected.
class OptionButton : public QRadioButton, public AutomationControl {
    Q_OBJECT
public:
    OptionButton(const QString& name, const QString& caption, QWidget* parent);
    QJsonObject automationState() const override {
        return {{"caption", caption()}, {"value", value()}};
    }
    QString caption() const { return text(); }
    bool value() const { return isChecked(); }
    void setValue(bool on) { setChecked(on); }

signals:
    void selected();

protected:
    void nextCheckState() override;

private:
    bool wasSelected_ = false;
};

} // namespace velario
