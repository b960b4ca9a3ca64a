#include "frmts0003.h"

namespace velario {

FrmTS0003::FrmTS0003() : Form(QStringLiteral("frmTS0003")) {
    setWindowTitle(QStringLiteral("Output selezione SQL"));
}

} // namespace velario
