// Build helper: writes the program's icon, the logo drawn at each size a
// desktop asks for, as OUT/<size>x<size>/clipharbor.png for the install step.
#include "app/ui/Pictures.h"

#include <QDir>
#include <QGuiApplication>
#include <QPixmap>

#include <cstdio>

int main(int argc, char** argv) {
  QGuiApplication app(argc, argv);
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s OUTPUT_FOLDER\n", argv[0]);
    return 2;
  }
  for (int size : pics::IconSizes()) {
    const QString dir = QString::fromLocal8Bit(argv[1]) + QString("/%1x%1").arg(size);
    if (!QDir().mkpath(dir) || !pics::Logo(size).save(dir + "/clipharbor.png", "PNG")) {
      std::fprintf(stderr, "cannot write %s\n", qPrintable(dir));
      return 1;
    }
  }
  return 0;
}
