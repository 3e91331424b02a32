// The windows' answer to the signals that end the program (terminal closed,
// kill, Ctrl-C, Ctrl-\, closed output pipe): Stop in an open download window,
// which stops its converter, then the main window closes as by its close box.
#pragma once

#include <QObject>
#include <QTimer>

#include <functional>

#include "platform/StopSignals.h"

class QWidget;

class TQuitOnSignal : public QObject {
 public:
  // `quit` ends the application with the signal's number once the main window
  // has closed; by default the main loop exits with 128 + the number.
  explicit TQuitOnSignal(QWidget* mainWindow, std::function<void(int signal)> quit = nullptr);

 private:
  void Check();

  plat::TStopSignals FSignals;
  QTimer FTimer;
  QWidget* FMainWindow;
  std::function<void(int)> FQuit;
  int FSignal = 0;
};
