// Ending the windows in order when a stop signal arrives.
#include "app/ui/QuitOnSignal.h"

#include <QApplication>
#include <QWidget>

#include "app/ui/Download.h"

namespace {

// Often enough to feel immediate; the waits of the windows turn at least
// this often, so the check runs inside them too.
constexpr int kCheckMs = 50;

}  // namespace

TQuitOnSignal::TQuitOnSignal(QWidget* mainWindow, std::function<void(int signal)> quit)
    : FMainWindow(mainWindow), FQuit(std::move(quit)) {
  if (!FQuit) FQuit = [](int signal) { QCoreApplication::exit(128 + signal); };
  connect(&FTimer, &QTimer::timeout, this, [this] { Check(); });
  FTimer.start(kCheckMs);
}

void TQuitOnSignal::Check() {
  if (FSignal == 0) FSignal = plat::TStopSignals::Received();
  if (FSignal == 0) return;
  bool jobOpen = false;
  for (QWidget* w : QApplication::topLevelWidgets()) {
    auto* download = qobject_cast<TfrmDownload*>(w);
    if (download && download->isVisible()) {
      download->bStopClick();
      jobOpen = true;
    }
  }
  // The job's modal run ends first, and a question waits for its answer;
  // nothing runs meanwhile that outlives the process.
  if (jobOpen || QApplication::activeModalWidget()) return;
  FTimer.stop();
  if (FMainWindow) FMainWindow->close();
  FQuit(FSignal);
}
