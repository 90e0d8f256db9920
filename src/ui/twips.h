#pragma once

#include <QSize>

/// Window geometry is stored in twips (1/1440 inch); widgets want pixels.
/// The screen's logical DPI maps one to the other, scaled by the size of the
/// desktop font against the classic 8-point font the sizes were made for.
namespace Twips {
constexpr int kPerInch = 1440;
int toPixelsX(double twips);
int toPixelsY(double twips);
int fromPixelsX(int pixels);
int fromPixelsY(int pixels);
QSize toPixels(int widthTwips, int heightTwips);
} // namespace Twips
