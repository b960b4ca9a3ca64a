#pragma once

#include <QWidget>

#include <memory>
#include <vector>

namespace velario {

// The frame around a window's client area in its design, in twips: a 4-pixel sizable border
// on each side and a 19-pixel caption bar, at 96 pixels to the inch.
constexpr int kDesignedFrameWidth = 120;
constexpr int kDesignedFrameHeight = 405;

// A window of the program: loaded once, shown modeless, activated, unloaded. Its sizes are
// twips and its events are written to the transcript. The derived window puts its own
// handlers in onLoad, onActivate and onUnload.
class Form : public QWidget {
    Q_OBJECT
public:
    explicit Form(const QString& name);
    ~Form() override;

    // Runs the load handler, once.
    void load();
    void showModeless();
    // Runs the unload handler, hides the window and destroys it; the program ends when the
    // last window is unloaded.
    void unload();
    bool isUnloading() const { return unloading_; }

    // Outer size in twips, as the program set it.
    void setTwipsSize(int width, int height);
    int twipsWidth() const { return twipsWidth_; }
    int twipsHeight() const { return twipsHeight_; }

    int helpContextId() const { return helpContextId_; }
    void setHelpContextId(int id) { helpContextId_ = id; }

    // 0 normal, 1 minimised, 2 maximised.
    int windowStateValue() const;
    void setWindowStateValue(int state);

signals:
    // The load handler has run to its end (controls that open data by themselves wait for it).
    void loadFinished();

protected:
    virtual void onLoad() {}
    virtual void onActivate() {}
    virtual void onUnload() {}

    bool event(QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    void noteState(int state);

    bool loaded_ = false;
    QList<int> requestedStates_;
    bool unloading_ = false;
    int twipsWidth_ = 0;
    int twipsHeight_ = 0;
    int helpContextId_ = 0;
    int lastState_ = 0;
};

// The loaded windows. It owns them: a window created by the program is adopted here and
// destroyed when it is unloaded.
class Forms : public QObject {
    Q_OBJECT
public:
    static Forms& instance();

    template <typename F, typename... Args>
    F* create(Args&&... args) {
        auto form = std::make_unique<F>(std::forward<Args>(args)...);
        F* raw = form.get();
        adopt(std::move(form));
        return raw;
    }

    Form* find(const QString& name) const;
    QList<Form*> loaded() const;
    bool isEmpty() const { return forms_.empty(); }

    // Destroys every window at once, without running handlers (the program's end).
    void clear();

signals:
    void lastUnloaded();

private:
    friend class Form;
    void adopt(std::unique_ptr<Form> form);
    void release(Form* form);
    std::vector<std::unique_ptr<Form>> forms_;
};

} // namespace velario
