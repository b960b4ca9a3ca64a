#pragma once

#include "platform.h"

#include <QJsonObject>
#include <QList>
#include <QQueue>
#include <QString>

#include <optional>

class QWidget;

namespace velario {

// The controls (fields, labels, buttons, grids, data sources) describe themselves to the
// automation and take the steps that only they understand; place, enabled and visible are
// read from the widget. Each step method returns an empty string when it ran, else the
// reason it could not.
class AutomationControl {
public:
    virtual ~AutomationControl() = default;
    // What the control adds to its state beyond its place (text, caption, value, ...).
    virtual QJsonObject automationState() const = 0;
    // Whether a "type" step can replace the control's text, and the step itself.
    virtual bool takesTypedText() const { return false; }
    virtual void automationType(const QString&) {}
    virtual QString automationRow(int row);
    virtual QString automationScroll(int row);
    virtual QString automationEdit(int row, int column, const QString& text);
    // Chooses the item TEXT of the control's context menu.
    virtual QString automationMenu(const QString& text);
    // Selects WHAT: "R1 C1 R2 C2" (a block of cells), "row N", "column C" or "all".
    virtual QString automationSelect(const QString& what);
};

// The answers a script gives to the dialogs, taken in the order they were queued.
class ScriptedDialogs final : public Dialogs {
public:
    Answer msgBox(const QString& text, int style, const QString& title) override;
    Reply inputBox(const QString& prompt, const QString& title,
                   const QString& defaultText) override;
    FileChoice fileOpen(const QString& initialDir) override;
    // The path as a file dialog's; the separator queued for it (and whether values go as
    // stored), else SEPARATOR.
    SaveChoice fileSaveCsv(const QString& initialPath, char separator) override;
    // Takes a queued Cancel (2) once the delay has passed; any other answer waits for the
    // message box it was queued for, and without one the work runs to its end.
    Progress progress(const QString& text, const QString& title, BackgroundWork& work,
                      const std::function<void()>& cancel) override;
    Shown notice(const QString&, const QString&) override { return {}; }
    // The version queued (choose-version N), Cancel for cancel-version; Cancel when nothing is
    // queued. A queued index beyond the items listed cancels too.
    VersionChoice versions(const QString& title, const QList<VersionItem>& items) override;
    void beep() override {}
    void showPointer(int) override {}
    bool interactive() const override { return false; }

    void queueAnswer(int button) { answers_.enqueue(button); }
    void queueReply(std::optional<QString> text) { replies_.enqueue(std::move(text)); }
    void queueFile(std::optional<QString> path) { files_.enqueue(std::move(path)); }
    void queueSeparator(char separator, bool asStored = false) {
        separators_.enqueue({separator, asStored});
    }
    void queueVersion(std::optional<int> index) { versions_.enqueue(index); }

private:
    QQueue<int> answers_;
    QQueue<std::optional<QString>> replies_;
    QQueue<std::optional<QString>> files_;
    QQueue<std::pair<char, bool>> separators_;
    QQueue<std::optional<int>> versions_;
};

struct ScriptStep {
    int line = 0;
    QString verb;
    QString window;  // W of W.C, or W alone
    QString control; // C of W.C
    int number = 0;  // N of row, scroll, edit, answer
    int column = 0;  // C of edit
    QString text;    // TEXT, PATH or KEY
};

struct ScriptParseError {
    int line = 0;
    QString reason;
};

// Reads a script; nullopt and the first bad line when it cannot.
std::optional<QList<ScriptStep>> parseScript(const QByteArray& content, ScriptParseError* error);

class ScriptRunner {
public:
    ScriptRunner(QList<ScriptStep> steps, ScriptedDialogs& dialogs);
    // Runs every step; 0 when all ran (or the program ended on its own), 3 when one could
    // not run, with its line and reason on standard error.
    int run();

private:
    QString runStep(const ScriptStep& step);
    QList<ScriptStep> steps_;
    ScriptedDialogs& dialogs_;
};

// Processes pending events until none is left.
void waitIdle();

// The "state" event: every loaded window with every control.
QJsonObject windowsState();
QJsonObject controlState(const QWidget* widget);
// A control's own Visible property: true unless the program hid it.
bool controlVisible(const QWidget* widget);

} // namespace velario
