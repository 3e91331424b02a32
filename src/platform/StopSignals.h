// The signals that end the program (terminal closed, Ctrl-C, kill, Ctrl-\,
// a closed output pipe) caught and recorded, so that the program ends in
// order: its converter stopped and its half-written files removed.
#pragma once

namespace plat {

// One object at a time, on the main thread.
class TStopSignals {
 public:
  // Catches SIGHUP, SIGINT, SIGQUIT, SIGTERM and SIGPIPE (unblocking them on
  // this thread). `hook`, when given, runs inside the handler and must be
  // async-signal-safe.
  explicit TStopSignals(void (*hook)(int signal) = nullptr);
  // Puts back the handlers and the record that were there before.
  ~TStopSignals();
  TStopSignals(const TStopSignals&) = delete;
  TStopSignals& operator=(const TStopSignals&) = delete;

  // The first of these signals received since the object was made, 0 when none.
  static int Received();
};

}  // namespace plat
