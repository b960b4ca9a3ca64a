#pragma once

#include <QDateTime>
#include <QLockFile>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>
#include <optional>

namespace velario {

class BackgroundWork;

// The application's own title, used by every message box that does not name another.
inline const QString kAppTitle = QStringLiteral("Velario");

// Message box styles: buttons (low nibble), icon (16, 32, 48, 64), default button (0, 256,
// 512) and system modal (4096), added together. Answers are the button numbers.
namespace MsgBox {
enum Button : int { Ok = 1, Cancel = 2, Abort = 3, Retry = 4, Ignore = 5, Yes = 6, No = 7 };
enum Style : int {
    OkOnly = 0,
    OkCancel = 1,
    AbortRetryIgnore = 2,
    YesNoCancel = 3,
    YesNo = 4,
    RetryCancel = 5,
    Critical = 16,
    Question = 32,
    Exclamation = 48,
    Information = 64,
    DefaultButton2 = 256,
    DefaultButton3 = 512,
    SystemModal = 4096,
};
// The buttons of a style, in the order they are shown.
QList<int> buttonsOf(int style);
// The answer a style gives when the user just confirms the default button.
int defaultAnswer(int style);
} // namespace MsgBox

namespace MousePointer {
enum : int { Default = 0, Hourglass = 11 };
}

// How long a long operation runs before the user is shown that it does, and may stop it.
constexpr int kProgressDelayMs = 1000;

// One earlier version of a catalogue entry, as the versions dialog lists it.
struct VersionItem {
    QString when; // dd/mm/yyyy hh:mm:ss, the user's time
    QString user;
    QString action; // what became of the version: "modificata", "cancellata", "ripristinata"
    QString code;
    QString description;
    QString sql;
    QString database;
    QString type;
};

// How the user is asked something. The widget implementation shows real dialogs; the
// scripted one answers from queues filled by an automation script.
class Dialogs {
public:
    virtual ~Dialogs() = default;

    // What a dialog shown on screen said, as the user read it (without mnemonic marks):
    // written to the transcript so that its language can be checked. Empty when nothing was
    // shown (scripted answers).
    struct Shown {
        QString title;
        QStringList buttons;
        QStringList labels;
        QStringList filters;
    };
    struct Answer {
        int button = MsgBox::Ok;
        bool queued = false;
        Shown shown = {};
    };
    struct Reply {
        std::optional<QString> text; // nullopt: Cancel
        bool queued = false;
        Shown shown = {};
    };
    struct FileChoice {
        std::optional<QString> path; // nullopt: Cancel
        bool queued = false;
        Shown shown = {};
    };
    struct SaveChoice {
        std::optional<QString> path; // nullopt: Cancel
        char separator = ',';        // of the CSV file's cells
        bool queued = false;
        Shown shown = {};
        // Cells as they are stored, not as a spreadsheet of the user's locale is to read them.
        bool asStored = false;
    };
    struct VersionChoice {
        std::optional<int> index; // nullopt: Cancel
        bool queued = false;
        Shown shown = {};
    };
    struct Progress {
        bool shown = false;
        bool cancelled = false;
        bool queued = false;
    };

    virtual Answer msgBox(const QString& text, int style, const QString& title) = 0;
    virtual Reply inputBox(const QString& prompt, const QString& title,
                           const QString& defaultText) = 0;
    virtual FileChoice fileOpen(const QString& initialDir) = 0;
    // Where a CSV file is saved, starting at INITIALPATH (a folder, or a file in it), and with
    // which separator, SEPARATOR being offered first. Replacing a file is not asked here.
    virtual SaveChoice fileSaveCsv(const QString& initialPath, char separator) = 0;
    // Called once WORK has run for kProgressDelayMs: shows the user TEXT with one button,
    // "Annulla", which calls CANCEL, and waits; what is shown stays until WORK has ended.
    virtual Progress progress(const QString& text, const QString& title, BackgroundWork& work,
                              const std::function<void()>& cancel) = 0;
    // Tells the user TEXT, which asks for no answer, without waiting for them to read it.
    virtual Shown notice(const QString& text, const QString& title) = 0;
    // Shows ITEMS, the earlier versions of entries, newest first, each with its SQL; the one
    // the user chose to restore.
    virtual VersionChoice versions(const QString& title, const QList<VersionItem>& items) = 0;
    virtual void beep() = 0;
    virtual void showPointer(int value) = 0;
    virtual bool interactive() const = 0;
};

std::unique_ptr<Dialogs> makeWidgetDialogs();

// Every service of the windowing system and the machine that the program uses goes through
// here, and every one that the user can notice is written to the transcript.
class Platform {
public:
    static Platform& instance();

    void setDialogs(std::unique_ptr<Dialogs> dialogs);
    Dialogs& dialogs();

    int msgBox(const QString& text, int style = MsgBox::OkOnly, const QString& title = kAppTitle);
    // nullopt when the user cancels.
    std::optional<QString> inputBox(const QString& prompt, const QString& title,
                                    const QString& defaultText);
    std::optional<QString> fileOpen(const QString& initialDir);
    Dialogs::SaveChoice fileSaveCsv(const QString& initialPath, char separator);
    // The index in ITEMS of the version to restore; nullopt when the user cancels.
    std::optional<int> versions(const QString& title, const QList<VersionItem>& items);
    // Puts TEXT, and HTML for programs that take a table, on the system's clipboard.
    void setClipboard(const QString& text, const QString& html);
    void beep();

    // Runs WORK on a thread of its own while this one waits, with the progress dialog once it
    // takes long; CANCEL is called, on this thread, when the user stops it, and WORK should
    // then end soon. True when the user stopped it.
    bool runCancellable(const QString& text, const QString& title, std::function<void()> work,
                        const std::function<void()>& cancel);

    // For a finished document at PATH that went, for want of a printer, to a folder the user
    // never named: tells the user where it is (the "notice" event), and opens it in the
    // desktop's viewer for its kind, so that the user sees what was printed; the viewer never
    // when a script answers the dialogs.
    void showDocument(const QString& path);
    // What opens a document for showDocument: the desktop's services unless replaced (by
    // tests, which have no desktop); an empty one puts them back.
    void setDocumentOpener(std::function<bool(const QString& path)> opener) {
        opener_ = std::move(opener);
    }

    void setMousePointer(int value);
    int mousePointer() const { return pointer_; }

    // Lets pending events run (the user's clicks among them) and returns.
    void doEvents();

    // True when another copy of the program runs for this user. The first call takes the
    // lock that later copies see; it is held until this process ends, and a lock left by a
    // copy that died is taken over.
    bool previousInstance();
    void releaseInstanceLock();

    QString programDir() const { return programDir_; }
    // The folders the program folder was looked for in, in order: DIR alone when it was given.
    QStringList programDirSearched() const { return programDirSearched_; }
    void setProgramDir(const QString& dir, QStringList searched = {}) {
        programDir_ = dir;
        programDirSearched_ = searched.isEmpty() ? QStringList{dir} : std::move(searched);
    }

    QString helpFile() const { return helpFile_; }
    void setHelpFile(const QString& file) { helpFile_ = file; }

    QDateTime now() const;
    // Fixes the clock (for automation); an invalid value gives back the real clock.
    void setFixedNow(const QDateTime& when) { fixedNow_ = when; }

    // The date as the C library writes it in the user's time locale (strftime "%x").
    QString shortDateText(const QDate& date) const;

private:
    Platform();
    std::unique_ptr<Dialogs> dialogs_;
    std::unique_ptr<QLockFile> instanceLock_;
    std::optional<bool> previousInstance_;
    QString programDir_;
    QStringList programDirSearched_;
    QString helpFile_;
    QDateTime fixedNow_;
    int pointer_ = MousePointer::Default;
    std::function<bool(const QString& path)> opener_;
};

// How a separator is named to the automation: ";", "," or "tab".
QString separatorName(char separator);

inline Platform& platform() {
    return Platform::instance();
}

} // namespace velario
