// Catching the signals that end the program, for an orderly end.
#include "platform/StopSignals.h"

#include <pthread.h>
#include <signal.h>

namespace plat {

namespace {

constexpr int kSignals[] = {SIGHUP, SIGINT, SIGQUIT, SIGTERM, SIGPIPE};
constexpr int kCount = sizeof kSignals / sizeof kSignals[0];

volatile sig_atomic_t g_received = 0;
void (*volatile g_hook)(int) = nullptr;
struct sigaction g_previous[kCount];

void OnStopSignal(int signal) {
  if (g_received == 0) g_received = signal;
  if (void (*hook)(int) = g_hook) hook(signal);
}

}  // namespace

TStopSignals::TStopSignals(void (*hook)(int signal)) {
  g_received = 0;
  g_hook = hook;
  struct sigaction sa {};
  sa.sa_handler = OnStopSignal;
  sigemptyset(&sa.sa_mask);
  sa.sa_flags = SA_RESTART;
  sigset_t set;
  sigemptyset(&set);
  for (int i = 0; i < kCount; ++i) {
    ::sigaction(kSignals[i], &sa, &g_previous[i]);
    sigaddset(&set, kSignals[i]);
  }
  // A parent may start us with these blocked; they must still reach us.
  ::pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
}

TStopSignals::~TStopSignals() {
  for (int i = 0; i < kCount; ++i) ::sigaction(kSignals[i], &g_previous[i], nullptr);
  g_hook = nullptr;
  g_received = 0;
}

int TStopSignals::Received() { return g_received; }

}  // namespace plat
