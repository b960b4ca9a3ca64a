#include "form.h"

#include "transcript.h"
#include "twips.h"

#include <QCloseEvent>
#include <QGuiApplication>

#include <algorithm>

namespace velario {
namespace {

void windowEvent(const Form* form, const char* action) {
    Transcript::instance().write(
        QStringLiteral("window"),
        {{"name", form->objectName()}, {"action", QString::fromLatin1(action)}});
}

} // namespace

Form::Form(const QString& name) {
    setObjectName(name);
    // Positions and sizes are designed for the classic 8-point dialog face; a larger
    // desktop default would cut the captions.
    QFont dialogFont;
    dialogFont.setFamilies({QStringLiteral("MS Sans Serif"), QStringLiteral("Microsoft Sans Serif"),
                            QStringLiteral("Liberation Sans")});
    dialogFont.setStyleHint(QFont::SansSerif);
    dialogFont.setPointSizeF(8.25);
    setFont(dialogFont);
    setAttribute(Qt::WA_DeleteOnClose, false);
}

Form::~Form() {
    // The controls go after the window's own part: a field that loses the focus as it goes
    // must not call a handler of a window that is no longer whole.
    for (QObject* child : findChildren<QObject*>())
        disconnect(child, nullptr, this, nullptr);
}

void Form::load() {
    if (loaded_)
        return;
    loaded_ = true;
    windowEvent(this, "load");
    onLoad();
    if (!unloading_)
        emit loadFinished();
}

void Form::showModeless() {
    load();
    if (unloading_)
        return;
    const bool wasVisible = isVisible();
    if (windowStateValue() == 1)
        setWindowStateValue(0);
    show();
    if (!wasVisible)
        windowEvent(this, "show");
    if (QGuiApplication::platformName() != QLatin1String("offscreen"))
        raise();
    activateWindow();
}

void Form::unload() {
    if (unloading_)
        return;
    unloading_ = true;
    onUnload();
    windowEvent(this, "unload");
    hide();
    Forms::instance().release(this);
}

void Form::setTwipsSize(int width, int height) {
    twipsWidth_ = width;
    twipsHeight_ = height;
    // The outer size includes the frame the windows were designed with: a sizable border
    // and a caption bar. The client area keeps the designed size whatever frame the window
    // system draws, or none (before the window is shown, or without a window manager).
    resize(std::max(1, twips::toPixelsX(width - kDesignedFrameWidth)),
           std::max(1, twips::toPixelsY(height - kDesignedFrameHeight)));
}

int Form::windowStateValue() const {
    const Qt::WindowStates s = windowState();
    if (s & Qt::WindowMinimized)
        return 1;
    if (s & Qt::WindowMaximized)
        return 2;
    return 0;
}

void Form::setWindowStateValue(int state) {
    Qt::WindowStates s = windowState() & ~(Qt::WindowMinimized | Qt::WindowMaximized);
    if (state == 1)
        s |= Qt::WindowMinimized;
    else if (state == 2)
        s |= Qt::WindowMaximized;
    // The window system may echo the change later (or never, offscreen): the program's own
    // view follows at once, and the echo is not taken for a second change.
    requestedStates_.append(state);
    noteState(state);
    setWindowState(s);
}

void Form::noteState(int state) {
    if (state == lastState_)
        return;
    const int old = lastState_;
    lastState_ = state;
    if (state == 1)
        windowEvent(this, "minimize");
    else if (old == 1)
        windowEvent(this, "restore");
}

bool Form::event(QEvent* event) {
    if (event->type() == QEvent::WindowActivate && !unloading_) {
        windowEvent(this, "activate");
        const bool handled = QWidget::event(event);
        onActivate();
        return handled;
    }
    return QWidget::event(event);
}

void Form::closeEvent(QCloseEvent* event) {
    event->ignore();
    unload();
}

void Form::changeEvent(QEvent* event) {
    if (event->type() == QEvent::WindowStateChange && !unloading_) {
        const int state = windowStateValue();
        const qsizetype echo = requestedStates_.indexOf(state);
        if (echo >= 0)
            requestedStates_.remove(0, echo + 1);
        else
            noteState(state);
    }
    QWidget::changeEvent(event);
}

Forms& Forms::instance() {
    static Forms forms;
    return forms;
}

Form* Forms::find(const QString& name) const {
    for (const auto& f : forms_)
        if (f->objectName() == name && !f->isUnloading())
            return f.get();
    return nullptr;
}

QList<Form*> Forms::loaded() const {
    QList<Form*> list;
    for (const auto& f : forms_)
        if (!f->isUnloading())
            list.append(f.get());
    return list;
}

void Forms::clear() {
    forms_.clear();
}

void Forms::adopt(std::unique_ptr<Form> form) {
    forms_.push_back(std::move(form));
}

void Forms::release(Form* form) {
    auto it = std::find_if(forms_.begin(), forms_.end(),
                           [form](const auto& f) { return f.get() == form; });
    if (it == forms_.end())
        return;
    // The window may still be on the call stack (its own button unloaded it).
    it->release()->deleteLater();
    forms_.erase(it);
    if (forms_.empty())
        emit lastUnloaded();
}

} // namespace velario
