#pragma once

#include <QRect>

class QWidget;

namespace velario {

// Sizes and positions are given in twips (1440 to the inch). This is the one place that
// turns them into pixels, from the screen's real resolution.
namespace twips {

int toPixelsX(double twips);
int toPixelsY(double twips);
double fromPixelsX(int pixels);
double fromPixelsY(int pixels);

// Places a control and remembers the twips it was given, so that what the program set can
// be read back exactly.
void setGeometry(QWidget* widget, int left, int top, int width, int height);
void setLeft(QWidget* widget, int left);
void setTop(QWidget* widget, int top);
void setWidth(QWidget* widget, int width);
void setHeight(QWidget* widget, int height);
// The twips the program set, or the widget's pixel geometry converted where it set none.
QRect geometry(const QWidget* widget);

} // namespace twips
} // namespace velario
