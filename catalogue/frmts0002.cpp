#include "frmts0002.h"

#include "app/modulo.h"
#include "platform/platform.h"

namespace velario {

FrmTS0002::FrmTS0002() : Form(QStringLiteral("frmTS0002")) {
    setWindowTitle(QStringLiteral("Gestione selezioni SQL"));
}

void FrmTS0002::onLoad() {
    setTwipsSize(11040, 7620);
    setHelpContextId(10);
    FLAG_ACTIVATE = QStringLiteral("S");
    FLAG_NEW.clear();
    platform().setMousePointer(MousePointer::Default);
}

void FrmTS0002::onActivate() {
    if (FLAG_ACTIVATE == QLatin1String("N"))
        return;
    FLAG_ACTIVATE = QStringLiteral("N");
}

void FrmTS0002::onUnload() {
    Modulo::WIN_ID = Modulo::kIdCatalogue;
    Modulo::WIN_REMOVE();
}

} // namespace velario
