#include "automation.h"

#include "background_work.h"
#include "form.h"
#include "transcript.h"
#include "twips.h"

#include <QAbstractButton>
#include <QApplication>
#include <QJsonArray>
#include <QJsonDocument>
#include <QKeyEvent>
#include <QKeySequence>
#include <QTextStream>

#include <cstdio>

namespace velario {

QString AutomationControl::automationRow(int) {
    return QStringLiteral("not a grid");
}
QString AutomationControl::automationScroll(int) {
    return QStringLiteral("not a grid");
}
QString AutomationControl::automationEdit(int, int, const QString&) {
    return QStringLiteral("not a grid");
}

QString AutomationControl::automationMenu(const QString&) {
    return QStringLiteral("the control has no menu");
}
QString AutomationControl::automationSelect(const QString&) {
    return QStringLiteral("not a grid");
}

Dialogs::Answer ScriptedDialogs::msgBox(const QString&, int style, const QString&) {
    if (!answers_.isEmpty())
        return {answers_.dequeue(), true};
    return {MsgBox::defaultAnswer(style), false};
}

Dialogs::Reply ScriptedDialogs::inputBox(const QString&, const QString&,
                                         const QString& defaultText) {
    if (!replies_.isEmpty())
        return {replies_.dequeue(), true};
    return {defaultText, false};
}

Dialogs::FileChoice ScriptedDialogs::fileOpen(const QString&) {
    if (!files_.isEmpty())
        return {files_.dequeue(), true};
    return {std::nullopt, false};
}

Dialogs::SaveChoice ScriptedDialogs::fileSaveCsv(const QString& initialPath, char separator) {
    const FileChoice file = fileOpen(initialPath);
    const auto [chosen, asStored] =
        separators_.isEmpty() ? std::pair(separator, false) : separators_.dequeue();
    return {file.path, chosen, file.queued, {}, asStored};
}

Dialogs::VersionChoice ScriptedDialogs::versions(const QString&, const QList<VersionItem>& items) {
    if (versions_.isEmpty())
        return {std::nullopt, false};
    const std::optional<int> index = versions_.dequeue();
    if (index && (*index < 0 || *index >= items.size()))
        return {std::nullopt, true};
    return {index, true};
}

Dialogs::Progress ScriptedDialogs::progress(const QString&, const QString&, BackgroundWork&,
                                            const std::function<void()>& cancel) {
    if (!answers_.isEmpty() && answers_.head() == MsgBox::Cancel) {
        answers_.dequeue();
        cancel();
        return {true, true, true};
    }
    return {true, false, false};
}

namespace {

// TEXT is a JSON string when it is one, else the rest of the line as written.
QString textArgument(const QString& raw) {
    if (raw.startsWith(QLatin1Char('"'))) {
        const QByteArray wrapped = "[" + raw.toUtf8() + "]";
        QJsonParseError error;
        const QJsonDocument doc = QJsonDocument::fromJson(wrapped, &error);
        if (error.error == QJsonParseError::NoError && doc.isArray() && doc.array().size() == 1 &&
            doc.array().at(0).isString())
            return doc.array().at(0).toString();
    }
    return raw;
}

bool splitTarget(const QString& target, ScriptStep& step) {
    const qsizetype dot = target.indexOf(QLatin1Char('.'));
    if (dot <= 0 || dot == target.size() - 1)
        return false;
    step.window = target.left(dot);
    step.control = target.mid(dot + 1);
    return true;
}

bool toInt(const QString& s, int& out) {
    bool ok = false;
    out = s.toInt(&ok);
    return ok;
}

// Splits off the next blank-separated word; the rest keeps its blanks.
QString nextWord(QString& rest) {
    const qsizetype space = rest.indexOf(QLatin1Char(' '));
    QString word = space < 0 ? rest : rest.left(space);
    rest = space < 0 ? QString() : rest.mid(space + 1);
    return word;
}

} // namespace

std::optional<QList<ScriptStep>> parseScript(const QByteArray& content, ScriptParseError* error) {
    QList<ScriptStep> steps;
    const QList<QByteArray> lines = content.split('\n');
    for (int i = 0; i < lines.size(); ++i) {
        QString line = QString::fromUtf8(lines[i]);
        if (line.endsWith(QLatin1Char('\r')))
            line.chop(1);
        if (line.trimmed().isEmpty() || line.trimmed().startsWith(QLatin1Char('#')))
            continue;
        ScriptStep step;
        step.line = i + 1;
        QString rest = line;
        while (rest.startsWith(QLatin1Char(' ')))
            rest.remove(0, 1);
        step.verb = nextWord(rest);
        const auto fail = [&](const QString& reason) {
            if (error)
                *error = {step.line, reason};
            return std::nullopt;
        };
        const QString& v = step.verb;
        bool ok = true;
        if (v == "click" || v == "focus") {
            ok = splitTarget(rest.trimmed(), step);
        } else if (v == "type" || v == "key") {
            ok = splitTarget(nextWord(rest), step);
            step.text = v == "type" ? textArgument(rest) : rest.trimmed();
            if (v == "key" && step.text.isEmpty())
                ok = false;
        } else if (v == "row" || v == "scroll") {
            ok = splitTarget(nextWord(rest), step) && toInt(rest.trimmed(), step.number);
        } else if (v == "edit") {
            ok = splitTarget(nextWord(rest), step) && toInt(nextWord(rest), step.number) &&
                 toInt(nextWord(rest), step.column);
            step.text = textArgument(rest);
        } else if (v == "menu" || v == "select") {
            ok = splitTarget(nextWord(rest), step);
            step.text = v == "menu" ? textArgument(rest) : rest.trimmed();
            ok = ok && !step.text.isEmpty();
        } else if (v == "choose-separator") {
            // SEP, or SEP stored: the values as they are stored.
            step.text = rest.trimmed();
            const QString separator = step.text.section(QLatin1Char(' '), 0, 0);
            const QString values = step.text.section(QLatin1Char(' '), 1);
            ok = (separator == ";" || separator == "," || separator == "tab") &&
                 (values.isEmpty() || values == "stored");
        } else if (v == "activate" || v == "close") {
            step.window = rest.trimmed();
            ok = !step.window.isEmpty() && !step.window.contains(QLatin1Char(' '));
        } else if (v == "answer" || v == "choose-version") {
            ok = toInt(rest.trimmed(), step.number);
        } else if (v == "reply" || v == "choose-file") {
            step.text = textArgument(rest);
        } else if (v == "reply-cancel" || v == "cancel-file" || v == "cancel-version" ||
                   v == "dump" || v == "wait-idle" || v == "quit") {
            ok = rest.trimmed().isEmpty();
        } else {
            return fail(QStringLiteral("unknown step '%1'").arg(v));
        }
        if (!ok)
            return fail(QStringLiteral("bad syntax for '%1'").arg(v));
        steps.append(step);
    }
    return steps;
}

void waitIdle() {
    for (int i = 0; i < 20; ++i) {
        QCoreApplication::sendPostedEvents();
        QCoreApplication::processEvents(QEventLoop::AllEvents);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
}

bool controlVisible(const QWidget* widget) {
    return !(widget->testAttribute(Qt::WA_WState_ExplicitShowHide) &&
             widget->testAttribute(Qt::WA_WState_Hidden));
}

namespace {

bool controlEnabled(const QWidget* widget) {
    return !widget->testAttribute(Qt::WA_Disabled);
}

// What a person can reach: the control and every container up to its window are visible
// and enabled.
QString unreachable(const QWidget* widget, const Form* form) {
    for (const QWidget* w = widget; w && w != form; w = w->parentWidget()) {
        if (!controlVisible(w))
            return QStringLiteral("control is hidden");
        if (!controlEnabled(w))
            return QStringLiteral("control is disabled");
    }
    return {};
}

void bringToFront(Form* form) {
    if (form->windowStateValue() == 1)
        form->setWindowStateValue(0);
    if (!form->isVisible())
        form->show();
    if (QGuiApplication::platformName() != QLatin1String("offscreen"))
        form->raise();
    form->activateWindow();
    waitIdle();
}

void focusControl(Form* form, QWidget* widget) {
    if (!form->isActiveWindow())
        bringToFront(form);
    widget->setFocus(Qt::MouseFocusReason);
    waitIdle();
}

bool isControl(const QWidget* w) {
    return dynamic_cast<const AutomationControl*>(w) != nullptr;
}

QWidget* findControl(const Form* form, const QString& name) {
    const auto children = form->findChildren<QWidget*>(name);
    for (QWidget* w : children)
        if (isControl(w))
            return w;
    return nullptr;
}

} // namespace

QJsonObject controlState(const QWidget* w) {
    QJsonObject o;
    o.insert("enabled", controlEnabled(w));
    o.insert("visible", controlVisible(w));
    const QRect g = twips::geometry(w);
    o.insert("left", g.x());
    o.insert("top", g.y());
    o.insert("width", g.width());
    o.insert("height", g.height());
    if (const auto* a = dynamic_cast<const AutomationControl*>(w)) {
        const QJsonObject extra = a->automationState();
        for (auto it = extra.begin(); it != extra.end(); ++it)
            o.insert(it.key(), it.value());
    }
    return o;
}

QJsonObject windowsState() {
    QJsonArray windows;
    for (const Form* form : Forms::instance().loaded()) {
        QJsonObject controls;
        for (const QWidget* w : form->findChildren<QWidget*>())
            if (!w->objectName().isEmpty() && isControl(w))
                controls.insert(w->objectName(), controlState(w));
        const QWidget* focus = QApplication::focusWidget();
        const bool focusHere = focus && focus->window() == form && focus != form;
        windows.append(QJsonObject{
            {"name", form->objectName()},
            {"caption", form->windowTitle()},
            {"visible", form->isVisible()},
            {"windowState", form->windowStateValue()},
            {"active", form->isActiveWindow()},
            {"focus", focusHere ? QJsonValue(focus->objectName()) : QJsonValue(QJsonValue::Null)},
            {"width", form->twipsWidth()},
            {"height", form->twipsHeight()},
            {"helpContextId", form->helpContextId()},
            {"controls", controls}});
    }
    return {{"windows", windows}};
}

ScriptRunner::ScriptRunner(QList<ScriptStep> steps, ScriptedDialogs& dialogs)
    : steps_(std::move(steps)), dialogs_(dialogs) {}

int ScriptRunner::run() {
    waitIdle();
    for (const ScriptStep& step : steps_) {
        if (Forms::instance().isEmpty())
            return 0;
        if (step.verb == "quit")
            return 0;
        const QString reason = runStep(step);
        if (!reason.isEmpty()) {
            QTextStream(stderr) << "script line " << step.line << ": " << reason << '\n';
            return 3;
        }
        waitIdle();
    }
    return 0;
}

QString ScriptRunner::runStep(const ScriptStep& s) {
    const QString& v = s.verb;
    if (v == "answer") {
        dialogs_.queueAnswer(s.number);
        return {};
    }
    if (v == "reply" || v == "reply-cancel") {
        dialogs_.queueReply(v == "reply" ? std::optional<QString>(s.text) : std::nullopt);
        return {};
    }
    if (v == "choose-file" || v == "cancel-file") {
        dialogs_.queueFile(v == "choose-file" ? std::optional<QString>(s.text) : std::nullopt);
        return {};
    }
    if (v == "choose-version" || v == "cancel-version") {
        dialogs_.queueVersion(v == "choose-version" ? std::optional<int>(s.number) : std::nullopt);
        return {};
    }
    if (v == "choose-separator") {
        dialogs_.queueSeparator(s.text.startsWith(QLatin1String("tab")) ? '\t'
                                                                        : s.text.at(0).toLatin1(),
                                s.text.endsWith(QLatin1String(" stored")));
        return {};
    }
    if (v == "dump") {
        Transcript::instance().write(QStringLiteral("state"), windowsState());
        return {};
    }
    if (v == "wait-idle")
        return {};

    Form* form = Forms::instance().find(s.window);
    if (!form)
        return QStringLiteral("unknown window '%1'").arg(s.window);
    if (v == "activate") {
        bringToFront(form);
        return {};
    }
    if (v == "close") {
        form->close();
        return {};
    }

    QWidget* widget = findControl(form, s.control);
    if (!widget)
        return QStringLiteral("unknown control '%1.%2'").arg(s.window, s.control);
    const QString why = unreachable(widget, form);

    if (v == "click") {
        auto* button = qobject_cast<QAbstractButton*>(widget);
        if (!button)
            return QStringLiteral("'%1' cannot be clicked").arg(s.control);
        if (!why.isEmpty())
            return why;
        focusControl(form, widget);
        if (Forms::instance().find(s.window) == form && button->isEnabled())
            button->click();
        return {};
    }
    if (v == "focus" || v == "type" || v == "key") {
        if (!why.isEmpty())
            return why;
        auto* control = dynamic_cast<AutomationControl*>(widget);
        if (v == "type" && !(control && control->takesTypedText()))
            return QStringLiteral("'%1' is not a text field").arg(s.control);
        QKeyCombination combo;
        if (v == "key") {
            const QKeySequence seq = QKeySequence::fromString(s.text);
            if (seq.isEmpty() || seq[0].key() == Qt::Key_unknown)
                return QStringLiteral("unknown key '%1'").arg(s.text);
            combo = seq[0];
        }
        focusControl(form, widget);
        if (v == "type") {
            control->automationType(s.text);
        } else if (v == "key") {
            const auto target = [widget] {
                QWidget* focus = QApplication::focusWidget();
                return focus ? focus : widget;
            };
            QKeyEvent press(QEvent::KeyPress, combo.key(), combo.keyboardModifiers());
            QApplication::sendEvent(target(), &press);
            QKeyEvent release(QEvent::KeyRelease, combo.key(), combo.keyboardModifiers());
            QApplication::sendEvent(target(), &release);
        }
        return {};
    }
    auto* grid = dynamic_cast<AutomationControl*>(widget);
    if (!grid)
        return QStringLiteral("'%1' is not a grid").arg(s.control);
    if (v == "row") {
        if (!why.isEmpty())
            return why;
        return grid->automationRow(s.number);
    }
    if (v == "scroll")
        return grid->automationScroll(s.number);
    if (v == "menu" || v == "select") {
        if (!why.isEmpty())
            return why;
        focusControl(form, widget);
        return v == "menu" ? grid->automationMenu(s.text) : grid->automationSelect(s.text);
    }
    if (v == "edit") {
        if (!why.isEmpty())
            return why;
        return grid->automationEdit(s.number, s.column, s.text);
    }
    return QStringLiteral("unknown step '%1'").arg(v);
}

} // namespace velario
