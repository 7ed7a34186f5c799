#pragma once
// The program's icon, painted in code from the same shapes as the installed
// share/icons/hicolor/scalable/apps/velkor.svg: the window layer then needs no SVG plugin,
// and every size is drawn sharp for the screen's pixel ratio.

#include <QIcon>
#include <QPixmap>

namespace velkor {

// A pixmap of `size` device-independent pixels at `devicePixelRatio`.
QPixmap AppIconPixmap(int size, qreal devicePixelRatio = 1.0);
// The icon in the usual sizes (16 to 256), for the windows and the tray.
QIcon AppIcon();

}  // namespace velkor
