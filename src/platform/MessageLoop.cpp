#include "platform/MessageLoop.h"

#include <QAbstractEventDispatcher>
#include <QCoreApplication>
#include <QEvent>
#include <QEventLoop>
#include <QObject>
#include <QThread>
#include <QTimer>
#include <QTimerEvent>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <exception>
#include <map>
#include <memory>
#include <mutex>
#include <unordered_map>

namespace plat {
namespace {

const QEvent::Type kMsgEventType = static_cast<QEvent::Type>(QEvent::registerEventType());

struct SyncCall {
  std::mutex m;
  std::condition_variable cv;
  bool done = false;
  LRESULT result = 0;
  void Finish(LRESULT r) {
    std::lock_guard<std::mutex> lock(m);
    if (done) return;
    result = r;
    done = true;
    cv.notify_all();
  }
};

struct MsgEvent : QEvent {
  MsgEvent(UINT m, WPARAM w, LPARAM l, std::shared_ptr<SyncCall> s)
      : QEvent(kMsgEventType), msg(m), wParam(w), lParam(l), sync(std::move(s)) {}
  // A window destroyed before the call ran releases the sender with 0.
  ~MsgEvent() override {
    if (sync) sync->Finish(0);
  }
  UINT msg;
  WPARAM wParam;
  LPARAM lParam;
  std::shared_ptr<SyncCall> sync;
};

class MsgWindow : public QObject {
 public:
  MsgWindow(HWND h, WndProc p) : handle(h), proc(std::move(p)) {}

  LRESULT Dispatch(UINT msg, WPARAM w, LPARAM l) {
    if (dead || !proc) return 0;
    ++depth;
    LRESULT r = 0;
    try {
      r = proc(msg, w, l);
    } catch (const std::exception& e) {
      std::fprintf(stderr, "unhandled exception in window procedure: %s\n", e.what());
    } catch (...) {
      std::fprintf(stderr, "unhandled exception in window procedure\n");
    }
    --depth;
    return r;
  }

  bool event(QEvent* e) override {
    if (e->type() == kMsgEventType) {
      auto* me = static_cast<MsgEvent*>(e);
      LRESULT r = Dispatch(me->msg, me->wParam, me->lParam);
      if (me->sync) me->sync->Finish(r);
      ReapIfDead();
      return true;
    }
    return QObject::event(e);
  }

  void timerEvent(QTimerEvent* e) override {
    auto it = byQtId.find(e->timerId());
    if (it == byQtId.end()) return;
    Dispatch(WM_TIMER, it->second, 0);
    ReapIfDead();
  }

  void ReapIfDead() {
    if (dead && depth == 0 && !reaping) {
      reaping = true;
      deleteLater();
    }
  }

  HWND handle;
  WndProc proc;
  std::map<std::uintptr_t, int> timers;  // id -> Qt timer id
  std::map<int, std::uintptr_t> byQtId;
  int depth = 0;
  bool dead = false;
  bool reaping = false;
};

std::mutex g_windowsMutex;
std::unordered_map<HWND, MsgWindow*> g_windows;
HWND g_nextHandle = 0x1000;
std::atomic<bool> g_terminated{false};
thread_local bool t_quitPosted = false;

MsgWindow* FindLocked(HWND wnd) {
  auto it = g_windows.find(wnd);
  return it == g_windows.end() ? nullptr : it->second;
}

// Owner-thread lookup: the object cannot vanish under us because only the
// owner thread destroys it.
MsgWindow* FindOwn(HWND wnd) {
  std::lock_guard<std::mutex> lock(g_windowsMutex);
  MsgWindow* w = FindLocked(wnd);
  if (w && w->thread() != QThread::currentThread()) return nullptr;
  return w;
}

// processEvents needs a dispatcher; a QEventLoop creates one for threads
// that have none yet (threads not started by Qt).
QEventLoop& ThreadLoop() {
  thread_local std::unique_ptr<QEventLoop> loop;
  if (!loop) loop = std::make_unique<QEventLoop>();
  return *loop;
}

}  // namespace

HWND AllocateHWnd(WndProc proc) {
  std::lock_guard<std::mutex> lock(g_windowsMutex);
  HWND h = g_nextHandle++;
  g_windows[h] = new MsgWindow(h, std::move(proc));
  return h;
}

void DeallocateHWnd(HWND wnd) {
  MsgWindow* w = nullptr;
  {
    std::lock_guard<std::mutex> lock(g_windowsMutex);
    w = FindLocked(wnd);
    if (!w || w->thread() != QThread::currentThread()) return;
    g_windows.erase(wnd);
  }
  for (auto& [id, qtId] : w->timers) w->killTimer(qtId);
  w->timers.clear();
  w->byQtId.clear();
  w->dead = true;
  if (w->depth == 0) {
    delete w;  // drops the messages still queued for it
  } else {
    w->ReapIfDead();
  }
}

bool IsWindow(HWND wnd) {
  std::lock_guard<std::mutex> lock(g_windowsMutex);
  return FindLocked(wnd) != nullptr;
}

bool IsOwnWindow(HWND wnd) { return FindOwn(wnd) != nullptr; }

bool PostMessage(HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  std::lock_guard<std::mutex> lock(g_windowsMutex);
  MsgWindow* w = FindLocked(wnd);
  if (!w) return false;
  QCoreApplication::postEvent(w, new MsgEvent(msg, wParam, lParam, nullptr));
  return true;
}

LRESULT SendMessage(HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  std::shared_ptr<SyncCall> sync;
  {
    std::lock_guard<std::mutex> lock(g_windowsMutex);
    MsgWindow* w = FindLocked(wnd);
    if (!w) return 0;
    if (w->thread() != QThread::currentThread()) {
      sync = std::make_shared<SyncCall>();
      QCoreApplication::postEvent(w, new MsgEvent(msg, wParam, lParam, sync),
                                  Qt::HighEventPriority);
    }
  }
  if (!sync) {
    MsgWindow* w = FindOwn(wnd);
    if (!w) return 0;
    LRESULT r = w->Dispatch(msg, wParam, lParam);
    w->ReapIfDead();
    return r;
  }
  std::unique_lock<std::mutex> lock(sync->m);
  sync->cv.wait(lock, [&] { return sync->done; });
  return sync->result;
}

bool SetTimer(HWND wnd, std::uintptr_t id, UINT elapseMs) {
  MsgWindow* w = FindOwn(wnd);
  if (!w) return false;
  auto it = w->timers.find(id);
  if (it != w->timers.end()) {
    w->killTimer(it->second);
    w->byQtId.erase(it->second);
    w->timers.erase(it);
  }
  int qtId = w->startTimer(static_cast<int>(elapseMs), Qt::PreciseTimer);
  if (qtId == 0) return false;
  w->timers[id] = qtId;
  w->byQtId[qtId] = id;
  return true;
}

bool KillTimer(HWND wnd, std::uintptr_t id) {
  MsgWindow* w = FindOwn(wnd);
  if (!w) return false;
  auto it = w->timers.find(id);
  if (it == w->timers.end()) return false;
  w->killTimer(it->second);
  w->byQtId.erase(it->second);
  w->timers.erase(it);
  return true;
}

void ProcessMessages() {
  ThreadLoop().processEvents(QEventLoop::AllEvents);
}

bool WaitForInput(UINT timeoutMs) {
  QEventLoop& loop = ThreadLoop();
  bool timedOut = false;
  QTimer timer;
  timer.setSingleShot(true);
  QObject::connect(&timer, &QTimer::timeout, [&] { timedOut = true; });
  timer.start(static_cast<int>(timeoutMs));
  loop.processEvents(QEventLoop::WaitForMoreEvents);
  if (!timedOut) loop.processEvents(QEventLoop::AllEvents);
  return !timedOut;
}

void PostQuitMessage() { t_quitPosted = true; }

bool ProcessOwnQueue() {
  ProcessMessages();
  bool quit = t_quitPosted;
  t_quitPosted = false;
  return quit;
}

std::uint32_t GetTickCount() {
  using namespace std::chrono;
  auto ms = duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
  return static_cast<std::uint32_t>(static_cast<std::uint64_t>(ms));
}

bool ApplicationTerminated() { return g_terminated.load(); }
void SetApplicationTerminated(bool value) { g_terminated.store(value); }

bool IsMainThread() {
  QCoreApplication* app = QCoreApplication::instance();
  return app && app->thread() == QThread::currentThread();
}

void RunOnMainThread(const std::function<void()>& fn) {
  QCoreApplication* app = QCoreApplication::instance();
  if (!app || app->thread() == QThread::currentThread()) {
    fn();
    return;
  }
  QMetaObject::invokeMethod(app, [&fn] { fn(); }, Qt::BlockingQueuedConnection);
}

}  // namespace plat
