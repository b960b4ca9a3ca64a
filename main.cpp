#include "app/command_line.h"
#include "app/options.h"
#include "app/shared_state.h"
#include "app/startup.h"
#include "catalogue/catalogue_window.h"
#include "platform/automation.h"
#include "platform/form.h"
#include "platform/platform.h"
#include "platform/program_icon.h"
#include "platform/transcript.h"
#include "platform/translations.h"
#include "print/printer.h"

#include <QApplication>
#include <QFile>
#include <QTextStream>
#include <QTimer>

#include <clocale>
#include <csignal>

using namespace velario;

namespace {

int finish(int code) {
    Transcript::instance().write(QStringLiteral("exit"), {{"code", code}});
    Forms::instance().clear();
    // Whatever the dialogs still show goes while the application is there to take it down.
    platform().setDialogs(nullptr);
    return code;
}

// Without a display Qt's windowing cannot start, and it aborts the program when it tries.
bool displayAvailable() {
    return !qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") ||
           !qEnvironmentVariableIsEmpty("DISPLAY") ||
           !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY");
}

void setProgramDir(const Options& options) {
    if (options.programDir)
        platform().setProgramDir(*options.programDir);
    else
        platform().setProgramDir(defaultProgramDir(), configurationFolders());
}

// Qt is given the program's name only: every argument is the program's own, read already.
int runWithoutWindows(char* program, const Options& options) {
    int argc = 1;
    char* argv[] = {program, nullptr};
    QCoreApplication app(argc, argv);
    std::setlocale(LC_ALL, "");
    QCoreApplication::setApplicationName(QStringLiteral("velario"));
    QTextStream out(stdout);
    QTextStream err(stderr);
    setProgramDir(options);
    if (options.mode == Options::Mode::List)
        return command_line::listCatalogue(out, err);
    return command_line::runEntry(options.code, options.csvFile, options.parameters, err);
}

int runWithWindows(char* program, const Options& options) {
    QTextStream err(stderr);
    if (!displayAvailable()) {
        err << "velario: nessuno schermo su cui aprire le finestre (DISPLAY e WAYLAND_DISPLAY "
               "non sono impostate); senza finestre: velario --run CODICE, velario --list\n";
        return command_line::SetupFailed;
    }
    Transcript::instance().restartClock();
    if (!options.transcript.isEmpty() && !Transcript::instance().open(options.transcript)) {
        err << "velario: impossibile scrivere la trascrizione " << options.transcript
            << " (--transcript)\n";
        return command_line::SetupFailed;
    }
    std::optional<QList<ScriptStep>> steps;
    if (!options.script.isEmpty()) {
        QFile file(options.script);
        if (!file.open(QIODevice::ReadOnly)) {
            err << "velario: impossibile leggere lo script " << options.script << " (--script)\n";
            return 3;
        }
        ScriptParseError parseError;
        steps = parseScript(file.readAll(), &parseError);
        if (!steps) {
            err << "script line " << parseError.line << ": " << parseError.reason << '\n';
            return 3;
        }
    }
    // A pipe the user exports to may close under the program: that is an error to report,
    // not the end of the program.
    std::signal(SIGPIPE, SIG_IGN);

    int argc = 1;
    char* argv[] = {program, nullptr};
    QApplication app(argc, argv);
    std::setlocale(LC_ALL, "");
    QApplication::setApplicationName(QStringLiteral("velario"));
    QApplication::setQuitOnLastWindowClosed(false);
    installProgramIcon();
    if (!installQtTranslations())
        err << "velario: impossibile leggere " << qtItalianTranslationsFile()
            << ": i pulsanti e le finestre di dialogo standard restano in inglese\n";

    Platform& p = platform();
    setProgramDir(options);
    p.setFixedNow(options.clock);
    if (!options.printTo.isEmpty())
        Printer::instance().setPdfFolder(options.printTo);

    ScriptedDialogs* scripted = nullptr;
    if (steps) {
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

} // namespace

// The command line is read before anything else, so that a mistake in it is told the same
// way with or without a display, and opens nothing.
int main(int argc, char** argv) {
    QStringList arguments;
    for (int i = 1; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    QString problem;
    const std::optional<Options> options = parseOptions(arguments, &problem);
    if (!options) {
        QTextStream(stderr) << "velario: " << problem
                            << "\nPer l'elenco delle opzioni: velario --help\n";
        return command_line::SetupFailed;
    }
    switch (options->mode) {
    case Options::Mode::Help:
        QTextStream(stdout) << helpText();
        return command_line::Done;
    case Options::Mode::Version:
        QTextStream(stdout) << "velario " << VELARIO_VERSION << '\n';
        return command_line::Done;
    case Options::Mode::Run:
    case Options::Mode::List:
        return runWithoutWindows(argv[0], *options);
    case Options::Mode::Windows:
        break;
    }
    return runWithWindows(argv[0], *options);
}
