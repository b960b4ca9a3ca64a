#pragma once

#include <QIcon>

namespace velario {

// The program's own icon (packaging/velario.svg, built into the program), which the window
// system shows in every window's frame and in the task bar.
QIcon programIcon();

// Gives every window of the application the program's icon.
void installProgramIcon();

} // namespace velario
