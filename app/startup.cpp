#include "startup.h"

#include "config.h"
#include "open_catalogue.h"
#include "platform/platform.h"
#include "shared_state.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

namespace velario {

namespace {

const QString kHelpFile = QStringLiteral("TESSAR.HLP");
constexpr int kDateLength = 10;

} // namespace

QStringList configurationFolders() {
    // A copy run from its own folder keeps its configuration beside it. An installed program
    // lives in a folder its users cannot write to: its configuration belongs where per-user
    // and system-wide settings do.
    const QString beside = QCoreApplication::applicationDirPath();
    QStringList folders = QStandardPaths::standardLocations(QStandardPaths::AppConfigLocation);
    if (QFileInfo::exists(QDir(beside).filePath(QStringLiteral(VELARIO_MENU_ENTRY_FROM_BIN))))
        folders.append(beside);
    else
        folders.prepend(beside);
    return folders;
}

QString defaultProgramDir() {
    const QStringList folders = configurationFolders();
    for (const QString& folder : folders)
        if (!configurationFileIn(folder).isEmpty())
            return folder;
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

    const QString file = configurationFileIn(p.programDir());
    const std::optional<Configuration> config =
        file.isEmpty() ? std::nullopt : readConfiguration(file);
    if (!config) {
        p.setMousePointer(MousePointer::Default);
        p.beep();
        p.msgBox(missingConfigurationMessage(p.programDirSearched()), MsgBox::OkOnly);
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

    state.PATH_DB = catalogueLocation(state.DIR_DBF);

    p.setHelpFile(state.DIR_PRG + kHelpFile);

    state.OPEN_CATALOGUE();

    loadCatalogueWindow();

    p.setMousePointer(MousePointer::Default);
    return StartupOutcome::Running;
}

} // namespace velario
