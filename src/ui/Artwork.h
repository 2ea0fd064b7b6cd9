#pragma once

#include <QIcon>
#include <QImage>

namespace quillora::ui {

// The application icon at one size; drawn, so it stays sharp at 16, 24 and 32 pixels.
QImage drawAppIcon(int size);

// The icon with its 16, 24 and 32 pixel images.
QIcon appIcon();

// The 300 x 150 banner that the splash window shows, in device pixels of the given density.
QImage drawSplashPicture(qreal devicePixelRatio = 1.0);

} // namespace quillora::ui
