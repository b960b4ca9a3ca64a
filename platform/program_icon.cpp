#include "program_icon.h"

#include <QGuiApplication>

namespace velario {

QIcon programIcon() {
    return QIcon(QStringLiteral(":/velario/velario.svg"));
}

void installProgramIcon() {
    QGuiApplication::setWindowIcon(programIcon());
}

} // namespace velario
