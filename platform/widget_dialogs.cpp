#include "platform.h"

#include "background_work.h"

#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFileIconProvider>
#include <QFontDatabase>
#include <QFontMetrics>
#include <QHeaderView>
#include <QInputDialog>
#include <QLabel>
#include <QListWidget>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QStyle>
#include <QTreeView>
#include <QVBoxLayout>

#include <algorithm>

namespace velario {
namespace {

QMessageBox::StandardButton standardButton(int answer) {
    switch (answer) {
    case MsgBox::Cancel:
        return QMessageBox::Cancel;
    case MsgBox::Abort:
        return QMessageBox::Abort;
    case MsgBox::Retry:
        return QMessageBox::Retry;
    case MsgBox::Ignore:
        return QMessageBox::Ignore;
    case MsgBox::Yes:
        return QMessageBox::Yes;
    case MsgBox::No:
        return QMessageBox::No;
    default:
        return QMessageBox::Ok;
    }
}

QMessageBox::Icon iconOf(int style) {
    switch (style & 0x70) {
    case MsgBox::Critical:
        return QMessageBox::Critical;
    case MsgBox::Question:
        return QMessageBox::Question;
    case MsgBox::Exclamation:
        return QMessageBox::Warning;
    case MsgBox::Information:
        return QMessageBox::Information;
    default:
        return QMessageBox::NoIcon;
    }
}

// A text as the user reads it: "&&" is an ampersand, a lone "&" marks the mnemonic.
QString readable(const QString& text) {
    QString out;
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text[i] == QLatin1Char('&') && i + 1 < text.size())
            ++i;
        out += text[i];
    }
    return out;
}

QStringList buttonTexts(const QList<QAbstractButton*>& buttons) {
    QStringList texts;
    for (const QAbstractButton* button : buttons)
        if (!button->isHidden() && !button->text().isEmpty())
            texts << readable(button->text());
    return texts;
}

Dialogs::Shown shownOf(const QFileDialog& dialog) {
    Dialogs::Shown shown{dialog.windowTitle(), {}, {}, dialog.nameFilters()};
    // Qt's own dialog offers "all files" of itself when the program names no type.
    if (const auto* types = dialog.findChild<QComboBox*>(QStringLiteral("fileTypeCombo"))) {
        shown.filters.clear();
        for (int i = 0; i < types->count(); ++i)
            shown.filters << types->itemText(i);
    }
    QList<QAbstractButton*> buttons;
    for (QAbstractButton* button : dialog.findChildren<QAbstractButton*>())
        if (qobject_cast<QPushButton*>(button))
            buttons << button;
    shown.buttons = buttonTexts(buttons);
    for (const QLabel* label : dialog.findChildren<QLabel*>())
        if (!label->isHidden() && !label->text().isEmpty())
            shown.labels << readable(label->text());
    return shown;
}

// Qt's own file dialog names a folder's type "Folder" whatever its translation says.
class ItalianFileTypes final : public QFileIconProvider {
public:
    QString type(const QFileInfo& info) const override {
        return info.isDir() ? QStringLiteral("Cartella") : QFileIconProvider::type(info);
    }
};

// Qt's own file dialog sizes its columns for English captions, and cuts the Italian ones
// ("Dimensione"): each column at least as wide as its caption needs. TYPES names the kinds of
// file, and must outlive the dialog.
void italianColumns(QFileDialog& dialog, ItalianFileTypes& types) {
    dialog.setIconProvider(&types);
    for (const QTreeView* view : dialog.findChildren<QTreeView*>()) {
        QHeaderView* header = view->header();
        for (int i = 0; i < header->count(); ++i)
            header->resizeSection(i, std::max(header->sectionSize(i), header->sectionSizeHint(i)));
    }
}

// The window system draws the title in the frame, where the dialog's own width would cut it:
// room for the title in a bold face, the frame's icon and its buttons.
void widenForTitle(QDialog& dialog) {
    QFont bold = dialog.font();
    bold.setBold(true);
    const int needed = QFontMetrics(bold).horizontalAdvance(dialog.windowTitle()) +
                       5 * dialog.style()->pixelMetric(QStyle::PM_TitleBarHeight);
    // The dialog's layout sets its minimum size itself: the width is the dialog's own.
    dialog.adjustSize();
    dialog.resize(std::max(dialog.width(), needed), dialog.height());
}

// A busy bar and "Annulla". It stays until the work it shows has ended, cancelled or not:
// until then the engine is still busy with the windows' data, and nothing else may run.
class ProgressDialog final : public QDialog {
public:
    ProgressDialog(const QString& text, const QString& title, const std::function<void()>& cancel)
        : cancel_(cancel) {
        setObjectName(QStringLiteral("progress"));
        setWindowTitle(title);
        setWindowModality(Qt::ApplicationModal);
        auto* layout = new QVBoxLayout(this);
        layout->addWidget(new QLabel(text, this));
        auto* bar = new QProgressBar(this);
        bar->setRange(0, 0);
        bar->setTextVisible(false);
        layout->addWidget(bar);
        auto* buttons = new QDialogButtonBox(this);
        cancelButton_ = buttons->addButton(QStringLiteral("Annulla"), QDialogButtonBox::RejectRole);
        layout->addWidget(buttons);
        connect(buttons, &QDialogButtonBox::rejected, this, &ProgressDialog::reject);
    }

    // "Annulla", Escape and the frame's close button all ask the work to stop.
    void reject() override {
        if (cancelled_)
            return;
        cancelled_ = true;
        cancelButton_->setEnabled(false);
        cancel_();
    }

    void finish() { QDialog::done(QDialog::Accepted); }
    bool cancelled() const { return cancelled_; }

private:
    const std::function<void()>& cancel_;
    QPushButton* cancelButton_;
    bool cancelled_ = false;
};

// The earlier versions of entries, one a line, and the whole of the one selected below them.
class VersionsDialog final : public QDialog {
public:
    VersionsDialog(const QString& title, const QList<VersionItem>& items) : items_(items) {
        setWindowTitle(title);
        auto* layout = new QVBoxLayout(this);
        auto* label = new QLabel(QStringLiteral("Versioni, dalla più recente:"), this);
        list_ = new QListWidget(this);
        for (const VersionItem& item : items)
            list_->addItem(
                QStringLiteral("%1   %2   %3   %4   %5")
                    .arg(item.when, item.user, item.action, item.code, item.description));
        label->setBuddy(list_);
        shown_ = new QPlainTextEdit(this);
        shown_->setReadOnly(true);
        shown_->setLineWrapMode(QPlainTextEdit::NoWrap);
        shown_->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
        auto* buttons = new QDialogButtonBox(this);
        restore_ = buttons->addButton(QStringLiteral("&Ripristina"), QDialogButtonBox::AcceptRole);
        buttons->addButton(QStringLiteral("Annulla"), QDialogButtonBox::RejectRole);
        layout->addWidget(label);
        layout->addWidget(list_, 1);
        layout->addWidget(shown_, 2);
        layout->addWidget(buttons);
        connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
        connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
        connect(list_, &QListWidget::currentRowChanged, this, &VersionsDialog::showVersion);
        connect(list_, &QListWidget::itemDoubleClicked, this, &QDialog::accept);
        list_->setCurrentRow(0);
        resize(QFontMetrics(font()).averageCharWidth() * 100, QFontMetrics(font()).height() * 30);
    }

    int chosen() const { return list_->currentRow(); }
    QStringList buttonsShown() const { return buttonTexts(findChildren<QAbstractButton*>()); }

private:
    void showVersion(int row) {
        restore_->setEnabled(row >= 0);
        if (row < 0)
            return;
        const VersionItem& item = items_[row];
        shown_->setPlainText(QStringLiteral("Database: %1   Tipo: %2\n\n%3")
                                 .arg(item.database, item.type, item.sql));
    }

    QList<VersionItem> items_;
    QListWidget* list_;
    QPlainTextEdit* shown_;
    QPushButton* restore_;
};

class WidgetDialogs final : public Dialogs {
public:
    // A window left open goes with the dialogs, which go before the application does.
    ~WidgetDialogs() override { delete notice_; }

    Answer msgBox(const QString& text, int style, const QString& title) override {
        QMessageBox box(iconOf(style), title, QString(text).replace(QLatin1Char('\r'), '\n'));
        const QList<int> buttons = MsgBox::buttonsOf(style);
        for (int b : buttons)
            box.addButton(standardButton(b));
        box.setDefaultButton(standardButton(MsgBox::defaultAnswer(style)));
        if (style & MsgBox::SystemModal)
            box.setWindowModality(Qt::ApplicationModal);
        // Closing the box by its frame answers Cancel where there is one, else the default.
        const int escape =
            buttons.contains(MsgBox::Cancel) ? MsgBox::Cancel : MsgBox::defaultAnswer(style);
        box.setEscapeButton(standardButton(escape));
        const bool hadOverride = QApplication::overrideCursor() != nullptr;
        if (hadOverride)
            QApplication::setOverrideCursor(Qt::ArrowCursor);
        box.exec();
        if (hadOverride)
            QApplication::restoreOverrideCursor();
        QList<QAbstractButton*> shownButtons;
        for (int b : buttons)
            shownButtons << box.button(standardButton(b));
        const Shown shown{box.windowTitle(), buttonTexts(shownButtons), {}, {}};
        const auto clicked = box.standardButton(box.clickedButton());
        for (int b : buttons)
            if (standardButton(b) == clicked)
                return {b, false, shown};
        return {escape, false, shown};
    }

    Reply inputBox(const QString& prompt, const QString& title,
                   const QString& defaultText) override {
        QInputDialog dialog;
        dialog.setWindowTitle(title);
        dialog.setLabelText(prompt);
        dialog.setTextValue(defaultText);
        widenForTitle(dialog);
        const bool ok = dialog.exec() == QDialog::Accepted;
        const Shown shown{title, buttonTexts(dialog.findChildren<QAbstractButton*>()), {}, {}};
        if (!ok)
            return {std::nullopt, false, shown};
        return {dialog.textValue(), false, shown};
    }

    FileChoice fileOpen(const QString& initialDir) override {
        ItalianFileTypes types;
        QFileDialog dialog(nullptr, QString(), initialDir);
        dialog.setFileMode(QFileDialog::ExistingFile);
        italianColumns(dialog, types);
        const bool ok = dialog.exec() == QDialog::Accepted && !dialog.selectedFiles().isEmpty();
        const Shown shown = shownOf(dialog);
        if (!ok || dialog.selectedFiles().first().isEmpty())
            return {std::nullopt, false, shown};
        return {dialog.selectedFiles().first(), false, shown};
    }

    SaveChoice fileSaveCsv(const QString& initialPath, char separator) override {
        // The separator, and whether values go as stored, are chosen with the file's type: it
        // works the same in the system's own dialog as in Qt's.
        struct Kind {
            char separator;
            bool asStored;
            QString filter;
        };
        const Kind kinds[] = {
            {';', false, QStringLiteral("CSV, separato da punto e virgola (*.csv)")},
            {',', false, QStringLiteral("CSV, separato da virgola (*.csv)")},
            {'\t', false, QStringLiteral("Testo, separato da tabulazione (*.csv *.txt)")},
            {';', true,
             QStringLiteral("CSV, separato da punto e virgola, valori come memorizzati (*.csv)")},
            {',', true,
             QStringLiteral("CSV, separato da virgola, valori come memorizzati (*.csv)")},
            {'\t', true,
             QStringLiteral(
                 "Testo, separato da tabulazione, valori come memorizzati (*.csv *.txt)")},
        };
        ItalianFileTypes types;
        QFileDialog dialog(nullptr, QStringLiteral("Esporta CSV"), initialPath);
        dialog.setAcceptMode(QFileDialog::AcceptSave);
        italianColumns(dialog, types);
        dialog.setFileMode(QFileDialog::AnyFile);
        dialog.setOption(QFileDialog::DontConfirmOverwrite);
        dialog.setDefaultSuffix(QStringLiteral("csv"));
        QStringList filters;
        for (const Kind& kind : kinds)
            filters << kind.filter;
        dialog.setNameFilters(filters);
        for (const Kind& kind : kinds)
            if (kind.separator == separator && !kind.asStored)
                dialog.selectNameFilter(kind.filter);
        const bool ok = dialog.exec() == QDialog::Accepted && !dialog.selectedFiles().isEmpty();
        const Shown shown = shownOf(dialog);
        if (!ok)
            return {std::nullopt, separator, false, shown};
        bool asStored = false;
        for (const Kind& kind : kinds)
            if (kind.filter == dialog.selectedNameFilter()) {
                separator = kind.separator;
                asStored = kind.asStored;
            }
        return {dialog.selectedFiles().first(), separator, false, shown, asStored};
    }

    Progress progress(const QString& text, const QString& title, BackgroundWork& work,
                      const std::function<void()>& cancel) override {
        ProgressDialog dialog(text, title, cancel);
        QObject::connect(&work, &BackgroundWork::finished, &dialog, &ProgressDialog::finish);
        if (!work.isFinished())
            dialog.exec();
        return {true, dialog.cancelled(), false};
    }

    // A box of its own that stays until the user closes it, while the program goes on; a
    // newer notice takes its place.
    Shown notice(const QString& text, const QString& title) override {
        delete notice_;
        notice_ = new QMessageBox(QMessageBox::Information, title,
                                  QString(text).replace(QLatin1Char('\r'), '\n'), QMessageBox::Ok);
        notice_->setAttribute(Qt::WA_DeleteOnClose);
        notice_->setModal(false);
        notice_->show();
        return {notice_->windowTitle(), buttonTexts(notice_->buttons()), {}, {}};
    }

    VersionChoice versions(const QString& title, const QList<VersionItem>& items) override {
        VersionsDialog dialog(title, items);
        const bool ok = dialog.exec() == QDialog::Accepted && dialog.chosen() >= 0;
        const Shown shown{
            title, dialog.buttonsShown(), {QStringLiteral("Versioni, dalla più recente:")}, {}};
        if (!ok)
            return {std::nullopt, false, shown};
        return {dialog.chosen(), false, shown};
    }

    void beep() override { QApplication::beep(); }

    void showPointer(int value) override {
        while (QApplication::overrideCursor())
            QApplication::restoreOverrideCursor();
        if (value == MousePointer::Hourglass)
            QApplication::setOverrideCursor(Qt::WaitCursor);
    }

    bool interactive() const override { return true; }

private:
    QPointer<QMessageBox> notice_;
};

} // namespace

std::unique_ptr<Dialogs> makeWidgetDialogs() {
    return std::make_unique<WidgetDialogs>();
}

} // namespace velario
