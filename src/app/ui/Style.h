// The flat "WinXP" look of the program's controls: one style sheet, and the
// one function that installs it together with the desktop font and the icon.
#pragma once

#include <QString>

class QApplication;

QString FlatStyleSheet();

// What the program installs at start-up and what the tests of the look build
// their windows with: the desktop's general font (one size for every window),
// the program's icon for every window, and the style sheet.
void InstallDesktopLook(QApplication& app);
