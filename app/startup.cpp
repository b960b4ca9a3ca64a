#include "startup.h"

#include "config.h"
#include "platform/platform.h"
#include "shared_state.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

namespace velario {

namespace {

const QString kConfigFile = QStringLiteral("VELARIO.ini");
const QString kFallbackCatalogue = QStringLiteral("C:\\BASE\\VELARIO\\VELARIO2.MDB");
const QString kHelpFile = QStringLiteral("TESSAR.HLP");
constexpr int kDateLength = 10;

} // namespace

QString defaultProgramDir() {
    // An installed program lives in a folder its users cannot write to: its configuration is
    // then looked for where per-user and system-wide settings belong.
    const QString beside = QCoreApplication::applicationDirPath();
    if (QFileInfo::exists(beside + QDir::separator() + kConfigFile))
        return beside;
    const QString found = QStandardPaths::locate(QStandardPaths::AppConfigLocation, kConfigFile);
    if (!found.isEmpty())
        return QFileInfo(found).absolutePath();
    return QStandardPaths::writableLocation(QStandardPaths::AppConfigLocation);
}

StartupOutcome Main(SharedState& state, const std::function<void()>& loadCatalogueWindow) {
    Platform& p = platform();

    p.setMousePointer(MousePointer::Hourglass);

    if (p.previousInstance()) {
        p.msgBox(QStringLiteral("Applicazione già in uso !"),
                 MsgBox::OkOnly | MsgBox::Critical | MsgBox::SystemModal,
                 QStringLiteral("ERRORE GENERALE"));
        return StartupOutcome::Ended;
    }

    const QString folder = p.programDir() + QDir::separator();
    const std::optional<Configuration> config = readConfiguration(folder + kConfigFile);
    if (!config) {
        p.setMousePointer(MousePointer::Default);
        p.beep();
        p.msgBox(QStringLiteral("File di configurazione  VELARIO.INI  assente !!!"),
                 MsgBox::OkOnly);
        return StartupOutcome::Ended;
    }
    state.RELEASE = config->release;
    state.UP_DATE = config->upDate;
    state.DIR_PRG = config->dirPrg;
    state.DIR_DBF = config->dirDbf;
    state.DIR_BTR = config->dirBtr;
    state.ANNO_DF = config->annoDf;

    if (state.DIR_PRG.trimmed().isEmpty()) {
        p.beep();
        p.msgBox(QStringLiteral("Manca Directory Programma"),
                 MsgBox::OkOnly | MsgBox::Information | MsgBox::SystemModal,
                 QStringLiteral("ERRORE NEL FILE  TESSAR.INI"));
        return StartupOutcome::Ended;
    }

    if (p.shortDateText(p.now().date()).size() != kDateLength) {
        p.beep();
        const QString message =
            QStringLiteral("IMPOSTAZIONI INTERNAZIONALI DI WINDOWS ERRATE !") +
            QStringLiteral("\r\r") +
            QStringLiteral("NEL PANNELLO DI CONTROLLO IL FORMATO DELLA DATA DEVE ESSERE :") +
            QStringLiteral("\r\r") + QString(44, QLatin1Char(' ')) + QStringLiteral("gg/MM/aaaa");
        p.msgBox(message, MsgBox::OkOnly | MsgBox::Critical,
                 QStringLiteral("Impostazioni Internazionali"));
        return StartupOutcome::Ended;
    }

    // The catalogue is always a database file: a setting that names an ODBC source is not
    // used for it.
    state.PATH_DB = state.DIR_DBF;
    if (state.PATH_DB.contains(QLatin1String("ODBC")))
        state.PATH_DB = kFallbackCatalogue;

    p.setHelpFile(state.DIR_PRG + kHelpFile);

    state.OPEN_CATALOGUE();

    loadCatalogueWindow();

    p.setMousePointer(MousePointer::Default);
    return StartupOutcome::Running;
}

} // namespace velario
