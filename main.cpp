#include "app/command_line.h"
#include "app/shared_state.h"
#include "app/startup.h"
#include "catalogue/catalogue_window.h"
#include "platform/automation.h"
#include "platform/form.h"
#include "platform/platform.h"
#include "platform/transcript.h"
#include "platform/translations.h"
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

// Whether ARGV asks for something that needs no windows: then no display is needed either.
bool windowless(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        const QByteArray arg(argv[i]);
        if (arg == "--run" || arg.startsWith("--run=") || arg == "--list" || arg == "--help" ||
            arg == "-h" || arg == "--version")
            return true;
    }
    return false;
}

QList<QCommandLineOption> options() {
    return {
        {"program-dir", "The program's folder, where the configuration is read.", "DIR"},
        {"transcript", "Append every event the user would notice to FILE.", "FILE"},
        {"script", "Run the steps of FILE after start-up, then exit.", "FILE"},
        {"print-to", "Write printed documents as PDF files into DIR.", "DIR"},
        {"clock", "Use this date and time (ISO 8601) as the current one.", "WHEN"},
        {"run", "Run the entry CODE and write its result as CSV.", "CODE"},
        {"csv", "With --run: write the CSV to FILE.", "FILE"},
        {"list", "List the catalogue."},
        {"version", "Show the program's name and version."},
        {{"h", "help"}, "Show the options."},
    };
}

int runWithoutWindows(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    std::setlocale(LC_ALL, "");
    QCoreApplication::setApplicationName(QStringLiteral("velario"));
    QTextStream out(stdout);
    QTextStream err(stderr);
    QCommandLineParser parser;
    parser.addOptions(options());
    if (!parser.parse(QCoreApplication::arguments())) {
        err << "velario: " << parser.errorText() << '\n';
        return command_line::SetupFailed;
    }
    if (parser.isSet("help")) {
        out << command_line::helpText();
        return 0;
    }
    if (parser.isSet("version")) {
        out << "velario " << VELARIO_VERSION << '\n';
        return 0;
    }
    const QString dir =
        parser.isSet("program-dir") ? parser.value("program-dir") : defaultProgramDir();
    if (parser.isSet("list"))
        return command_line::listCatalogue(dir, out, err);
    return command_line::runEntry(dir, parser.value("run"), parser.value("csv"), err);
}

} // namespace

int main(int argc, char** argv) {
    if (windowless(argc, argv))
        return runWithoutWindows(argc, argv);
    QApplication app(argc, argv);
    std::setlocale(LC_ALL, "");
    QApplication::setApplicationName(QStringLiteral("velario"));
    QApplication::setQuitOnLastWindowClosed(false);
    if (!installQtTranslations())
        QTextStream(stderr) << "velario: cannot read " << qtItalianTranslationsFile()
                            << ": standard buttons and dialogs stay in English\n";

    QCommandLineParser parser;
    parser.addOptions(options());
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
