#include "twips.h"

#include <QGuiApplication>
#include <QScreen>
#include <QVariant>
#include <QWidget>

#include <cmath>

namespace velario::twips {
namespace {

constexpr double kTwipsPerInch = 1440.0;

double dpiX() {
    const QScreen* screen = QGuiApplication::primaryScreen();
    return screen ? screen->logicalDotsPerInchX() : 96.0;
}

double dpiY() {
    const QScreen* screen = QGuiApplication::primaryScreen();
    return screen ? screen->logicalDotsPerInchY() : 96.0;
}

const char* const kLeft = "twipsLeft";
const char* const kTop = "twipsTop";
const char* const kWidth = "twipsWidth";
const char* const kHeight = "twipsHeight";

int stored(const QWidget* widget, const char* name, double fallback) {
    const QVariant v = widget->property(name);
    return v.isValid() ? v.toInt() : static_cast<int>(std::lround(fallback));
}

void apply(QWidget* widget) {
    const QRect t = geometry(widget);
    widget->setGeometry(toPixelsX(t.x()), toPixelsY(t.y()), toPixelsX(t.width()),
                        toPixelsY(t.height()));
}

} // namespace

int toPixelsX(double twips) {
    return static_cast<int>(std::lround(twips * dpiX() / kTwipsPerInch));
}
int toPixelsY(double twips) {
    return static_cast<int>(std::lround(twips * dpiY() / kTwipsPerInch));
}
double fromPixelsX(int pixels) {
    return pixels * kTwipsPerInch / dpiX();
}
double fromPixelsY(int pixels) {
    return pixels * kTwipsPerInch / dpiY();
}

void setGeometry(QWidget* widget, int left, int top, int width, int height) {
    // Routines that set the same size again and again (a list set up at every move) would
    // otherwise pay for four property changes each time.
    if (widget->property(kHeight).isValid() &&
        geometry(widget) == QRect(left, top, width, height) &&
        widget->geometry() ==
            QRect(toPixelsX(left), toPixelsY(top), toPixelsX(width), toPixelsY(height)))
        return;
    widget->setProperty(kLeft, left);
    widget->setProperty(kTop, top);
    widget->setProperty(kWidth, width);
    widget->setProperty(kHeight, height);
    apply(widget);
}

void setLeft(QWidget* widget, int left) {
    const QRect t = geometry(widget);
    setGeometry(widget, left, t.y(), t.width(), t.height());
}

void setTop(QWidget* widget, int top) {
    const QRect t = geometry(widget);
    setGeometry(widget, t.x(), top, t.width(), t.height());
}

void setWidth(QWidget* widget, int width) {
    const QRect t = geometry(widget);
    setGeometry(widget, t.x(), t.y(), width, t.height());
}

void setHeight(QWidget* widget, int height) {
    const QRect t = geometry(widget);
    setGeometry(widget, t.x(), t.y(), t.width(), height);
}

QRect geometry(const QWidget* widget) {
    const QRect px = widget->geometry();
    return {stored(widget, kLeft, fromPixelsX(px.x())), stored(widget, kTop, fromPixelsY(px.y())),
            stored(widget, kWidth, fromPixelsX(px.width())),
            stored(widget, kHeight, fromPixelsY(px.height()))};
}

} // namespace velario::twips
