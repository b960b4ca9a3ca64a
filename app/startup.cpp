#include "startup.h"

#include "config.h"
#include "modulo.h"
#include "platform/platform.h"

#include <QDir>

namespace velario {

namespace {

const QString kConfigFile = QStringLiteral("VELARIO.ini");
const QString kFallbackCatalogue = QStringLiteral("C:\\BASE\\VELARIO\\VELARIO2.MDB");
const QString kHelpFile = QStringLiteral("TESSAR.HLP");
constexpr int kDateLength = 10;

} // namespace

StartupOutcome Main(const std::function<void()>& loadCatalogueWindow) {
    using namespace Modulo;
    Platform& p = platform();

    p.setMousePointer(MousePointer::Hourglass);

    if (p.previousInstance()) {
        p.msgBox(QStringLiteral("Applicazione già in uso !"),
                 MsgBox::OkOnly | MsgBox::Critical | MsgBox::SystemModal,
                 QStringLiteral("ERRORE GENERALE"));
        return StartupOutcome::Ended;
    }

    MSG = p.programDir() + QDir::separator();
    const std::optional<Configuration> config = readConfiguration(MSG + kConfigFile);
    if (!config) {
        p.setMousePointer(MousePointer::Default);
        p.beep();
        p.msgBox(QStringLiteral("File di configurazione  VELARIO.INI  assente !!!"),
                 MsgBox::OkOnly);
        return StartupOutcome::Ended;
    }
    RELEASE = config->release;
    UP_DATE = config->upDate;
    DIR_PRG = config->dirPrg;
    DIR_DBF = config->dirDbf;
    DIR_BTR = config->dirBtr;
    ANNO_DF = config->annoDf;

    if (DIR_PRG.trimmed().isEmpty()) {
        p.beep();
        p.msgBox(QStringLiteral("Manca Directory Programma"),
                 MsgBox::OkOnly | MsgBox::Information | MsgBox::SystemModal,
                 QStringLiteral("ERRORE NEL FILE  TESSAR.INI"));
        return StartupOutcome::Ended;
    }

    if (p.shortDateText(p.now().date()).size() != kDateLength) {
        p.beep();
        MSG = QStringLiteral("IMPOSTAZIONI INTERNAZIONALI DI WINDOWS ERRATE !") +
              QStringLiteral("\r\r") +
              QStringLiteral("NEL PANNELLO DI CONTROLLO IL FORMATO DELLA DATA DEVE ESSERE :") +
              QStringLiteral("\r\r") + QString(44, QLatin1Char(' ')) + QStringLiteral("gg/MM/aaaa");
        p.msgBox(MSG, MsgBox::OkOnly | MsgBox::Critical,
                 QStringLiteral("Impostazioni Internazionali"));
        return StartupOutcome::Ended;
    }

    // The catalogue is always a database file: a setting that names an ODBC source is not
    // used for it.
    PATH_DB = DIR_DBF;
    if (PATH_DB.contains(QLatin1String("ODBC")))
        PATH_DB = kFallbackCatalogue;

    p.setHelpFile(DIR_PRG + kHelpFile);

    OPEN_CATALOGUE();

    loadCatalogueWindow();

    p.setMousePointer(MousePointer::Default);
    return StartupOutcome::Running;
}

} // namespace velario
