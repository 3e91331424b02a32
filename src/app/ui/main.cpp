// Program entry: one instance per user. A second start wakes the running
// main window and ends without creating a window or touching the settings.
#include "app/core/AppMessages.h"
#include "app/ui/Main.h"
#include "app/ui/QuitOnSignal.h"
#include "app/ui/Style.h"
#include "platform/Desktop.h"
#include "platform/MessageLoop.h"
#include "platform/SingleInstance.h"

#include <QApplication>

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QApplication::setApplicationName("Clipharbor");
  // Ties the windows to the installed desktop entry (clipharbor.desktop).
  QApplication::setDesktopFileName("clipharbor");

  if (plat::PostToRunningInstance(kMainWindowClassName, WM_SHOWRUNNING, 0, 0)) return 0;

  InstallDesktopLook(app);
  int rc = 0;
  {
    TfrmMain mainWindow;
    // A start that raced us to the name: the other one is the running instance.
    if (!plat::RegisterInstance(kMainWindowClassName, mainWindow.Handle()) &&
        plat::PostToRunningInstance(kMainWindowClassName, WM_SHOWRUNNING, 0, 0))
      return 0;
    // A closed terminal, kill or Ctrl-C end the job and the window in order.
    TQuitOnSignal quitOnSignal(&mainWindow);
    mainWindow.show();
    rc = app.exec();
    plat::SetApplicationTerminated(true);
    plat::UnregisterInstance();
  }
  return rc;
}
