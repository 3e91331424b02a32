// The flat "WinXP" look of the program's controls: one style sheet, in a
// light and a dark variant, and the one function that installs it together
// with the desktop font and the icon.
#pragma once

#include <QString>

class QApplication;
class QPalette;

// The sheet on light surfaces, or its dark variant.
QString FlatStyleSheet(bool dark = false);
// True when the palette draws light text on a dark window, as a dark
// desktop theme does.
bool IsDarkPalette(const QPalette& palette);

// What the program installs at start-up and what the tests of the look build
// their windows with: the desktop's general font (one size for every window),
// the program's icon for every window, and the sheet of the desktop
// palette's kind, which follows the desktop when it switches later.
void InstallDesktopLook(QApplication& app);
