#include "ui/twips.h"

#include <QFontMetricsF>
#include <QGuiApplication>
#include <QScreen>
#include <algorithm>
#include <cmath>

namespace {
// Window sizes in twips were laid out for the classic 8-point system font,
// whose lines are 13 pixels high at 96 dots per inch. Today's desktop fonts
// are larger, so twips are scaled by the font's height as well as by the
// screen's resolution: windows keep their proportions and their controls fit.
constexpr double kClassicLineHeight = 13.0;

double fontScale()
{
    static const double scale = [] {
        const double height = QFontMetricsF(QGuiApplication::font()).height();
        return std::clamp(height / kClassicLineHeight, 1.0, 3.0);
    }();
    return scale;
}

double dpiX()
{
    const QScreen *s = QGuiApplication::primaryScreen();
    return (s ? s->logicalDotsPerInchX() : 96.0) * fontScale();
}
double dpiY()
{
    const QScreen *s = QGuiApplication::primaryScreen();
    return (s ? s->logicalDotsPerInchY() : 96.0) * fontScale();
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
