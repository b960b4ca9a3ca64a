#pragma once

#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>

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
class TextBox : public QLineEdit {
    Q_OBJECT
public:
    explicit TextBox(const QString& name, QWidget* parent);
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
};

// A text field of several lines and no length limit.
class MemoBox : public QPlainTextEdit {
    Q_OBJECT
public:
    explicit MemoBox(const QString& name, QWidget* parent);
    QString text() const { return toPlainText(); }
    void setText(const QString& text);
    int selStart() const;
    int selLength() const;
    void typeText(const QString& text);

signals:
    void gotFocus();
    void lostFocus();

protected:
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
};

class Label : public QLabel {
    Q_OBJECT
public:
    Label(const QString& name, const QString& caption, QWidget* parent);
    QString caption() const { return text(); }
    void setCaption(const QString& caption);
    // Right-aligned, and a caption too long for the label as placed widens it to the left
    // instead of being cut; its place in twips stays as the program set it.
    void setGrowsLeftward(bool on);

private:
    void fitCaption();
    bool growsLeftward_ = false;
};

class CommandButton : public QPushButton {
    Q_OBJECT
public:
    CommandButton(const QString& name, const QString& caption, QWidget* parent);
    QString caption() const { return text(); }
};

// One of a group of option buttons: selecting one clears the others of its parent. The
// selected signal comes whenever the button becomes selected, also when the code selects
// it, and when the user clicks it while it is already selected.
class OptionButton : public QRadioButton {
    Q_OBJECT
public:
    OptionButton(const QString& name, const QString& caption, QWidget* parent);
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
