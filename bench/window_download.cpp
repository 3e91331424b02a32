// One download job through the real windows, offscreen: the main window's
// Start in the download mode makes the download window and runs it modally,
// as a user's click would. Timed from outside (bench/cli_download.sh); it
// prints the job's own time as "job SECONDS", without the start of Qt and
// the windows. A message box is unexpected and ends the run with an error.
//
//   window_download OUTPUT_DIR WATCH_URL
#include <QApplication>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "app/ui/Download.h"
#include "app/ui/Main.h"
#include "app/ui/Style.h"
#include "platform/Desktop.h"
#include "platform/QtText.h"
#include "platform/ScriptedDesktop.h"

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: window_download OUTPUT_DIR WATCH_URL\n");
    return 2;
  }
  if (!std::getenv("QT_QPA_PLATFORM")) ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
  QApplication app(argc, argv);
  QApplication::setApplicationName("Clipharbor");
  app.setStyleSheet(FlatStyleSheet());

  plat::ScriptedDesktop desktop;
  int failures = 0;
  desktop.OnUnexpected = [&](const std::string& what) {
    std::fprintf(stderr, "window_download: unexpected %s\n", what.c_str());
    ++failures;
  };
  plat::ScopedDesktop scope(desktop);
  RegisterTfrmDownload();

  const std::string settings = std::string(argv[1]) + "/settings.ini";
  TfrmMain mainWindow(settings);
  mainWindow.show();
  mainWindow.eOutputFolder->setText(plat::ToQ(argv[1]));
  mainWindow.eUrl->setText(plat::ToQ(argv[2]));
  mainWindow.rbDownload->setChecked(true);
  const auto start = std::chrono::steady_clock::now();
  mainWindow.bStart->click();  // returns when the download window has closed
  const std::chrono::duration<double> job = std::chrono::steady_clock::now() - start;
  std::printf("job %.3f\n", job.count());
  for (const auto& box : desktop.Boxes) {
    std::fprintf(stderr, "window_download: box \"%s\"\n", box.Text.c_str());
    ++failures;
  }
  return failures == 0 ? 0 : 1;
}
