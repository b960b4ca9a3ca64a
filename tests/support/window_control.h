#pragma once

#include <QString>
#include <QTest>
#include <QWidget>

namespace velario::test {

// The control NAME of WINDOW, found as the automation finds it: by the name the user and the
// scripts know it by, the window keeping its widgets to itself. A test that names a control
// the window does not have stops there.
template <typename Control>
Control* control(const QWidget* window, const QString& name) {
    auto* found = window->findChild<Control*>(name);
    if (!found)
        qFatal("%s has no control %s", qPrintable(window->objectName()), qPrintable(name));
    return found;
}

} // namespace velario::test
