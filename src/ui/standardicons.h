#pragma once

#include <QIcon>
#include <QStyle>

/// The application style's standard icon, made once and shared by every
/// window that shows it. An icon made per window leaves its scaled pixmaps in
/// the application's pixmap cache when the window goes, so send windows opened
/// and closed by the thousand would fill that cache with pictures of windows
/// long gone.
QIcon sharedStandardIcon(QStyle::StandardPixmap which);
