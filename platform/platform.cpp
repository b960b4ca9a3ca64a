#include "platform.h"

#include "background_work.h"
#include "transcript.h"

#include <QClipboard>
#include <QCoreApplication>
#include <QDesktopServices>
#include <QDir>
#include <QGuiApplication>
#include <QJsonArray>
#include <QJsonValue>
#include <QMimeData>
#include <QStandardPaths>
#include <QUrl>

#include <clocale>
#include <ctime>

namespace velario {
namespace {

// The fields of what a dialog showed; none for a scripted answer.
QJsonObject withShown(QJsonObject fields, const Dialogs::Shown& shown) {
    const auto add = [&fields](const char* key, const QStringList& texts) {
        if (!texts.isEmpty())
            fields.insert(QLatin1String(key), QJsonArray::fromStringList(texts));
    };
    if (!shown.title.isEmpty() && !fields.contains(QLatin1String("title")))
        fields.insert(QLatin1String("title"), shown.title);
    add("buttons", shown.buttons);
    add("labels", shown.labels);
    add("filters", shown.filters);
    return fields;
}

} // namespace

namespace MsgBox {

QList<int> buttonsOf(int style) {
    switch (style & 0xF) {
    case OkCancel:
        return {Ok, Cancel};
    case AbortRetryIgnore:
        return {Abort, Retry, Ignore};
    case YesNoCancel:
        return {Yes, No, Cancel};
    case YesNo:
        return {Yes, No};
    case RetryCancel:
        return {Retry, Cancel};
    default:
        return {Ok};
    }
}

int defaultAnswer(int style) {
    const QList<int> buttons = buttonsOf(style);
    const int index = (style & 0xF00) / 256;
    return buttons.value(index, buttons.first());
}

} // namespace MsgBox

Platform::Platform() {}

Platform& Platform::instance() {
    static Platform platform;
    return platform;
}

void Platform::setDialogs(std::unique_ptr<Dialogs> dialogs) {
    dialogs_ = std::move(dialogs);
}

Dialogs& Platform::dialogs() {
    if (!dialogs_)
        dialogs_ = makeWidgetDialogs();
    return *dialogs_;
}

int Platform::msgBox(const QString& text, int style, const QString& title) {
    const Dialogs::Answer answer = dialogs().msgBox(text, style, title);
    Transcript::instance().write(QStringLiteral("msgbox"), withShown({{"text", text},
                                                                      {"title", title},
                                                                      {"style", style},
                                                                      {"answer", answer.button},
                                                                      {"queued", answer.queued}},
                                                                     answer.shown));
    return answer.button;
}

std::optional<QString> Platform::inputBox(const QString& prompt, const QString& title,
                                          const QString& defaultText) {
    const Dialogs::Reply reply = dialogs().inputBox(prompt, title, defaultText);
    Transcript::instance().write(
        QStringLiteral("inputbox"),
        withShown({{"prompt", prompt},
                   {"title", title},
                   {"default", defaultText},
                   {"reply", reply.text ? QJsonValue(*reply.text) : QJsonValue(QJsonValue::Null)},
                   {"queued", reply.queued}},
                  reply.shown));
    return reply.text;
}

std::optional<QString> Platform::fileOpen(const QString& initialDir) {
    const Dialogs::FileChoice choice = dialogs().fileOpen(initialDir);
    Transcript::instance().write(QStringLiteral("filedialog"),
                                 withShown({{"initialDir", initialDir},
                                            {"result", choice.path ? QJsonValue(*choice.path)
                                                                   : QJsonValue(QJsonValue::Null)},
                                            {"queued", choice.queued}},
                                           choice.shown));
    return choice.path;
}

std::optional<int> Platform::versions(const QString& title, const QList<VersionItem>& items) {
    const Dialogs::VersionChoice choice = dialogs().versions(title, items);
    QJsonArray listed;
    for (const VersionItem& item : items)
        listed.append(QJsonObject{{"when", item.when},
                                  {"user", item.user},
                                  {"action", item.action},
                                  {"code", item.code},
                                  {"description", item.description},
                                  {"sql", item.sql},
                                  {"database", item.database},
                                  {"type", item.type}});
    Transcript::instance().write(QStringLiteral("versions"),
                                 withShown({{"title", title},
                                            {"items", listed},
                                            {"result", choice.index ? QJsonValue(*choice.index)
                                                                    : QJsonValue(QJsonValue::Null)},
                                            {"queued", choice.queued}},
                                           choice.shown));
    return choice.index;
}

QString separatorName(char separator) {
    return separator == '\t' ? QStringLiteral("tab") : QString(QLatin1Char(separator));
}

Dialogs::SaveChoice Platform::fileSaveCsv(const QString& initialPath, char separator) {
    const Dialogs::SaveChoice choice = dialogs().fileSaveCsv(initialPath, separator);
    Transcript::instance().write(QStringLiteral("filedialog"),
                                 withShown({{"kind", "save"},
                                            {"initialDir", initialPath},
                                            {"result", choice.path ? QJsonValue(*choice.path)
                                                                   : QJsonValue(QJsonValue::Null)},
                                            {"separator", separatorName(choice.separator)},
                                            {"asStored", choice.asStored},
                                            {"queued", choice.queued}},
                                           choice.shown));
    return choice;
}

void Platform::setClipboard(const QString& text, const QString& html) {
    if (auto* clipboard = QGuiApplication::clipboard()) {
        auto* mime = new QMimeData;
        mime->setText(text);
        mime->setHtml(html);
        clipboard->setMimeData(mime);
    }
    Transcript::instance().write(QStringLiteral("clipboard"), {{"text", text}, {"html", html}});
}

void Platform::showDocument(const QString& path) {
    const QString title = QStringLiteral("Stampa");
    const QString text = QStringLiteral("Nessuna stampante disponibile: il documento è stato "
                                        "salvato nel file\r\r%1")
                             .arg(QDir::toNativeSeparators(path));
    const Dialogs::Shown shown = dialogs().notice(text, title);
    Transcript::instance().write(
        QStringLiteral("notice"),
        withShown({{"text", text}, {"title", title}, {"path", path}}, shown));
    if (!dialogs().interactive())
        return;
    if (opener_)
        opener_(path);
    else
        QDesktopServices::openUrl(QUrl::fromLocalFile(path));
}

void Platform::beep() {
    dialogs().beep();
    Transcript::instance().write(QStringLiteral("beep"));
}

bool Platform::runCancellable(const QString& text, const QString& title, std::function<void()> work,
                              const std::function<void()>& cancel) {
    BackgroundWork job(std::move(work));
    // Work that ends within the delay shows nothing.
    const Dialogs::Progress progress = job.wait(kProgressDelayMs)
                                           ? Dialogs::Progress{}
                                           : dialogs().progress(text, title, job, cancel);
    job.wait(-1);
    if (progress.shown)
        Transcript::instance().write(QStringLiteral("progress"),
                                     {{"text", text},
                                      {"title", title},
                                      {"answer", progress.cancelled ? QJsonValue(MsgBox::Cancel)
                                                                    : QJsonValue(QJsonValue::Null)},
                                      {"queued", progress.queued}});
    return progress.cancelled;
}

void Platform::setMousePointer(int value) {
    pointer_ = value;
    dialogs().showPointer(value);
    Transcript::instance().write(QStringLiteral("pointer"), {{"value", value}});
}

void Platform::doEvents() {
    QCoreApplication::sendPostedEvents();
    QCoreApplication::processEvents(QEventLoop::AllEvents);
}

bool Platform::previousInstance() {
    if (previousInstance_)
        return *previousInstance_;
    QString dir = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (dir.isEmpty())
        dir = QDir::tempPath();
    QDir().mkpath(dir);
    instanceLock_ = std::make_unique<QLockFile>(dir + QStringLiteral("/velario.lock"));
    // Age alone never makes a lock stale: a copy may run for days. A lock whose owner
    // process is gone is taken over by QLockFile itself.
    instanceLock_->setStaleLockTime(0);
    const bool locked = instanceLock_->tryLock(0);
    if (!locked)
        instanceLock_.reset();
    previousInstance_ = !locked;
    return *previousInstance_;
}

void Platform::releaseInstanceLock() {
    instanceLock_.reset();
    previousInstance_.reset();
}

QDateTime Platform::now() const {
    return fixedNow_.isValid() ? fixedNow_ : QDateTime::currentDateTime();
}

QString Platform::shortDateText(const QDate& date) const {
    std::tm tm{};
    tm.tm_year = date.year() - 1900;
    tm.tm_mon = date.month() - 1;
    tm.tm_mday = date.day();
    tm.tm_wday = date.dayOfWeek() % 7;
    tm.tm_yday = date.dayOfYear() - 1;
    tm.tm_isdst = -1;
    char buffer[128];
    const size_t n = std::strftime(buffer, sizeof buffer, "%x", &tm);
    return QString::fromLocal8Bit(buffer, static_cast<qsizetype>(n));
}

} // namespace velario
