#include "ui/twips.h"

#include <QGuiApplication>
#include <QScreen>
#include <cmath>

namespace {
double dpiX()
{
    const QScreen *s = QGuiApplication::primaryScreen();
    return s ? s->logicalDotsPerInchX() : 96.0;
}
double dpiY()
{
    const QScreen *s = QGuiApplication::primaryScreen();
    return s ? s->logicalDotsPerInchY() : 96.0;
}
} // namespace

namespace Twips {
int toPixelsX(double twips)
{
    return int(std::lround(twips * dpiX() / kPerInch));
}
int toPixelsY(double twips)
{
    return int(std::lround(twips * dpiY() / kPerInch));
}
int fromPixelsX(int pixels)
{
    return int(std::lround(pixels * kPerInch / dpiX()));
}
int fromPixelsY(int pixels)
{
    return int(std::lround(pixels * kPerInch / dpiY()));
}
QSize toPixels(int widthTwips, int heightTwips)
{
    return QSize(toPixelsX(widthTwips), toPixelsY(heightTwips));
}
} // namespace Twips
