// The program's pictures, drawn at run time so that no image files ship.
// Each is drawn for a device pixel ratio, so that it stays crisp on a 2x display.
#pragma once

#include <QIcon>
#include <QPixmap>

namespace pics {

QPixmap Banner(int width, int height, qreal dpr = 1.0);
QPixmap Logo(int size, qreal dpr = 1.0);
QPixmap UpdateIcon(qreal dpr = 1.0);
QPixmap MenuPicture(bool focused, qreal dpr = 1.0);

// The logo at every size a desktop asks for, 16 to 256 pixels.
const QList<int>& IconSizes();
// The program's window icon: the logo drawn at each of IconSizes().
QIcon AppIcon();
// The ratio the windows draw their pictures for: the highest of the screens.
qreal DisplayRatio();

}  // namespace pics
