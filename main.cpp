#include "app/shared_state.h"
#include "app/startup.h"
#include "catalogue/catalogue_window.h"
#include "platform/automation.h"
#include "platform/form.h"
#include "platform/platform.h"
#include "platform/transcript.h"
#include "print/printer.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QDateTime>
#include <QFile>
#include <QTextStream>
#include <QTimer>

#include <clocale>

using namespace velario;

namespace {

int finish(int code) {
    Transcript::instance().write(QStringLiteral("exit"), {{"code", code}});
    Forms::instance().clear();
    return code;
}

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    std::setlocale(LC_ALL, "");
    QApplication::setApplicationName(QStringLiteral("velario"));
    QApplication::setQuitOnLastWindowClosed(false);

    QCommandLineParser parser;
    parser.addOptions({
        {"program-dir", "The program's folder, where the configuration is read.", "DIR"},
        {"transcript", "Append every event the user would notice to FILE.", "FILE"},
        {"script", "Run the steps of FILE after start-up, then exit.", "FILE"},
        {"print-to", "Write printed documents as PDF files into DIR.", "DIR"},
        {"clock", "Use this date and time (ISO 8601) as the current one.", "WHEN"},
    });
    parser.addHelpOption();
    parser.process(app);

    QTextStream err(stderr);
    Transcript::instance().restartClock();
    if (parser.isSet("transcript") && !Transcript::instance().open(parser.value("transcript"))) {
        err << "velario: cannot write the transcript " << parser.value("transcript") << '\n';
        return 2;
    }

    Platform& p = platform();
    p.setProgramDir(parser.isSet("program-dir") ? parser.value("program-dir")
                                                : defaultProgramDir());
    if (parser.isSet("clock")) {
        const QDateTime when = QDateTime::fromString(parser.value("clock"), Qt::ISODate);
        if (!when.isValid()) {
            err << "velario: --clock needs a date and time such as 2026-12-05T10:55:30\n";
            return 2;
        }
        p.setFixedNow(when);
    }

    if (parser.isSet("print-to"))
        Printer::instance().setPdfFolder(parser.value("print-to"));

    std::optional<QList<ScriptStep>> steps;
    ScriptedDialogs* scripted = nullptr;
    if (parser.isSet("script")) {
        QFile file(parser.value("script"));
        if (!file.open(QIODevice::ReadOnly)) {
            err << "velario: cannot read the script " << file.fileName() << '\n';
            return 3;
        }
        ScriptParseError parseError;
        steps = parseScript(file.readAll(), &parseError);
        if (!steps) {
            err << "script line " << parseError.line << ": " << parseError.reason << '\n';
            return 3;
        }
        auto dialogs = std::make_unique<ScriptedDialogs>();
        scripted = dialogs.get();
        p.setDialogs(std::move(dialogs));
    }

    SharedState state;
    const StartupOutcome outcome = Main(state, [&state] {
        auto* window = Forms::instance().create<CatalogueWindow>(state);
        window->load();
        window->showModeless();
    });
    if (outcome == StartupOutcome::Ended || Forms::instance().isEmpty())
        return finish(0);

    QObject::connect(
        &Forms::instance(), &Forms::lastUnloaded, &app, [] { QApplication::quit(); },
        Qt::QueuedConnection);
    if (steps) {
        QTimer::singleShot(0, &app, [&] {
            ScriptRunner runner(*steps, *scripted);
            QApplication::exit(runner.run());
        });
    }
    return finish(app.exec());
}
