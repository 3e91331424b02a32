// The program's pictures, drawn at run time so that no image files ship.
#pragma once

#include <QPixmap>

namespace pics {

QPixmap Banner(int width, int height);
QPixmap Logo(int size);
QPixmap UpdateIcon();
QPixmap MenuPicture(bool focused);

}  // namespace pics
