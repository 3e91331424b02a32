// The flat "WinXP" look of the program's controls: one style sheet.
#pragma once

#include <QString>

QString FlatStyleSheet();
