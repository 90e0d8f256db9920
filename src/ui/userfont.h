#pragma once

#include <QFont>
#include <QString>
#include <functional>

class QWidget;

/// The font of the data windows (lists, text views, data boxes, details and
/// history windows). It starts as the desktop's fixed-width font; the user
/// may choose another in the options window. The choice holds for this run
/// only: the next run starts again from the desktop's font.
namespace UserFont {

/// The font the data windows use now.
QFont current();
/// Makes font the data windows' font: every open window takes it at once,
/// every window opened later when it is first shown.
void choose(const QFont &font);

/// How a window takes the font (the windows' SetUserFont). Windows it does
/// not know are left alone. Installing it also gives the current font to
/// every window open now and to every window shown from then on; an empty
/// function stops that.
void setApplier(std::function<void(QWidget *window, const QFont &font)> applier);

/// "DejaVu Sans Mono, 10pt", with ", Bold" and ", Italic" when they apply:
/// the family the system really matched and the size in the shortest
/// decimal form of a single-precision number (8.25, not 8.25000).
QString describe(const QFont &font);
/// The shortest decimal text of a size as a single-precision number.
QString sizeText(double pointSize);

} // namespace UserFont
