// Window-message notification of socket events: one record per socket, Qt
// notifiers that watch it, and the Windows re-arming rules.
#include "platform/SocketNotify.h"

#include <QAbstractEventDispatcher>
#include <QEventLoop>
#include <QObject>
#include <QSocketNotifier>
#include <QThread>

#include <sys/socket.h>

#include <cerrno>
#include <map>
#include <memory>
#include <mutex>

#include "platform/SocketNotifyNotes.h"

namespace plat {
namespace {

// What the notification machinery knows of one socket.
struct SockRec {
  TSocket s = INVALID_SOCKET;
  std::uint32_t serial = 0;
  bool dgram = false;
  bool listening = false;
  bool connecting = false;  // connect issued, completion not yet seen
  bool connected = false;
  bool readArmed = true;    // the next FD_READ may be posted
  bool acceptArmed = true;  // the next FD_ACCEPT may be posted
  bool closeSent = false;
  bool connectFailed = false;
  bool writeWanted = false;  // FD_WRITE owed (after would-block or accept)
  HWND wnd = 0;
  UINT msg = 0;
  long mask = 0;
  QSocketNotifier* rd = nullptr;
  QSocketNotifier* wr = nullptr;
};

std::recursive_mutex g_sockMutex;
std::map<TSocket, std::unique_ptr<SockRec>> g_socks;

SockRec* Find(TSocket s) {
  auto it = g_socks.find(s);
  return it == g_socks.end() ? nullptr : it->second.get();
}

LPARAM Tagged(const SockRec* r, unsigned event, unsigned error) {
  return static_cast<LPARAM>(static_cast<std::uint64_t>(WSAMakeSelectReply(event, error)) & 0xFFFFFFFFu) |
         static_cast<LPARAM>(static_cast<std::uint64_t>(r->serial) << 32);
}

void Post(SockRec* r, long bit, int err) {
  if (r->wnd && r->msg)
    PostMessage(r->wnd, r->msg, static_cast<WPARAM>(r->s),
                Tagged(r, static_cast<unsigned>(bit), static_cast<unsigned>(err)));
}

void DropNotifiers(SockRec* r) {
  for (QSocketNotifier** n : {&r->rd, &r->wr}) {
    if (!*n) continue;
    (*n)->setEnabled(false);
    if ((*n)->thread() == QThread::currentThread())
      delete *n;
    else
      (*n)->deleteLater();
    *n = nullptr;
  }
}

bool Readable(const SockRec* r) { return r->dgram || (r->connected && !r->connecting); }

void Update(SockRec* r) {
  if (!r->rd || !r->wr) return;
  bool wantRead = false;
  if (r->listening)
    wantRead = (r->mask & FD_ACCEPT) && r->acceptArmed;
  else if (Readable(r) && !r->closeSent)
    wantRead = ((r->mask & FD_READ) && r->readArmed) || (r->mask & FD_CLOSE);
  // Without a pending FD_READ permission, data waiting would keep a
  // level-triggered notifier firing: wait for the next receive call.
  if (wantRead && !r->listening && !r->readArmed) wantRead = false;
  bool wantWrite = r->connecting || ((r->mask & FD_WRITE) && r->writeWanted && r->connected);
  if (r->dgram) wantWrite = (r->mask & FD_WRITE) && r->writeWanted;
  r->rd->setEnabled(wantRead);
  r->wr->setEnabled(wantWrite);
}

void OnReadable(TSocket s) {
  std::lock_guard<std::recursive_mutex> lock(g_sockMutex);
  SockRec* r = Find(s);
  if (!r || !r->rd) return;
  r->rd->setEnabled(false);
  if (r->listening) {
    if ((r->mask & FD_ACCEPT) && r->acceptArmed) {
      r->acceptArmed = false;
      Post(r, FD_ACCEPT, 0);
    }
    Update(r);
    return;
  }
  char c;
  ssize_t n = ::recv(static_cast<int>(s), &c, 1, MSG_PEEK | MSG_DONTWAIT);
  if (n > 0 || (n == 0 && r->dgram)) {
    if ((r->mask & FD_READ) && r->readArmed) Post(r, FD_READ, 0);
    // Data waits: nothing more to tell until the next receive call, also
    // when only FD_CLOSE is wanted (the notifier would fire again at once).
    r->readArmed = false;
  } else if (n == 0) {
    if (!r->closeSent && (r->mask & FD_CLOSE)) {
      r->closeSent = true;
      Post(r, FD_CLOSE, 0);
    }
  } else if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) {
    if (!r->closeSent && (r->mask & FD_CLOSE)) {
      r->closeSent = true;
      Post(r, FD_CLOSE, WsMapErrno(errno));
    }
  }
  Update(r);
}

void OnWritable(TSocket s) {
  std::lock_guard<std::recursive_mutex> lock(g_sockMutex);
  SockRec* r = Find(s);
  if (!r || !r->wr) return;
  r->wr->setEnabled(false);
  if (r->connecting) {
    int soerr = 0;
    socklen_t len = sizeof soerr;
    if (::getsockopt(static_cast<int>(s), SOL_SOCKET, SO_ERROR, &soerr, &len) != 0) soerr = errno;
    r->connecting = false;
    int err = soerr ? WsMapErrno(soerr) : 0;
    if (r->mask & FD_CONNECT) Post(r, FD_CONNECT, err);
    if (err == 0) {
      r->connected = true;
      r->readArmed = true;
      r->writeWanted = false;
      if (r->mask & FD_WRITE) Post(r, FD_WRITE, 0);
    } else {
      r->closeSent = true;  // a failed connect reports no close
      r->connectFailed = true;
    }
  } else if (r->writeWanted) {
    r->writeWanted = false;
    Post(r, FD_WRITE, 0);
  }
  Update(r);
}

std::uint32_t g_nextSerial = 1;

SockRec* AddRec(TSocket s) {
  auto rec = std::make_unique<SockRec>();
  rec->s = s;
  rec->serial = g_nextSerial++;
  if (g_nextSerial == 0) g_nextSerial = 1;
  SockRec* p = rec.get();
  g_socks[s] = std::move(rec);
  return p;
}

}  // namespace

void NoteOpened(TSocket s, bool dgram) {
  std::lock_guard<std::recursive_mutex> lock(g_sockMutex);
  AddRec(s)->dgram = dgram;
}

void NoteAccept(TSocket listener, TSocket accepted) {
  std::lock_guard<std::recursive_mutex> lock(g_sockMutex);
  if (SockRec* r = Find(listener)) {
    r->acceptArmed = true;
    Update(r);
  }
  if (accepted == INVALID_SOCKET) return;
  SockRec* n = AddRec(accepted);
  n->connected = true;
  n->writeWanted = true;  // an accepted socket is writable at once
}

void NoteClosing(TSocket s) {
  std::lock_guard<std::recursive_mutex> lock(g_sockMutex);
  auto it = g_socks.find(s);
  if (it == g_socks.end()) return;
  DropNotifiers(it->second.get());
  g_socks.erase(it);
}

void NoteConnecting(TSocket s) {
  std::lock_guard<std::recursive_mutex> lock(g_sockMutex);
  SockRec* r = Find(s);
  if (!r) return;
  if (r->dgram) {
    r->connected = true;
  } else {
    // Completion, immediate or not, is reported through FD_CONNECT.
    r->connecting = true;
    Update(r);
  }
}

void NoteListening(TSocket s) {
  std::lock_guard<std::recursive_mutex> lock(g_sockMutex);
  if (SockRec* r = Find(s)) {
    r->listening = true;
    r->acceptArmed = true;
    Update(r);
  }
}

void NoteWriteBlocked(TSocket s) {
  std::lock_guard<std::recursive_mutex> lock(g_sockMutex);
  if (SockRec* r = Find(s)) {
    r->writeWanted = true;
    Update(r);
  }
}

void NoteReceived(TSocket s) {
  std::lock_guard<std::recursive_mutex> lock(g_sockMutex);
  if (SockRec* r = Find(s)) {
    r->readArmed = true;
    Update(r);
  }
}

int WSAAsyncSelect(TSocket s, HWND wnd, UINT msg, long mask) {
  std::lock_guard<std::recursive_mutex> lock(g_sockMutex);
  SockRec* r = Find(s);
  if (!r) {
    WSASetLastError(WSAENOTSOCK);
    return SOCKET_ERROR;
  }
  if (wnd == 0 || msg == 0 || mask == 0) {
    r->wnd = 0;
    r->msg = 0;
    r->mask = 0;
    DropNotifiers(r);
    return 0;
  }
  if (!IsWindow(wnd)) {
    WSASetLastError(WSAEINVAL);
    return SOCKET_ERROR;
  }
  r->wnd = wnd;
  r->msg = msg;
  r->mask = mask;
  // A fresh registration reports data, connections and a close already
  // waiting (a close posted just before a pause was dropped by the socket).
  r->readArmed = true;
  r->acceptArmed = true;
  if (!r->connectFailed) r->closeSent = false;
  if (!r->rd) {
    // Notifiers need the thread's event dispatcher; a thread not started
    // by Qt gets one with its first event loop.
    if (!QAbstractEventDispatcher::instance(QThread::currentThread())) QEventLoop ensureDispatcher;
    int fd = static_cast<int>(s);
    r->rd = new QSocketNotifier(fd, QSocketNotifier::Read);
    r->wr = new QSocketNotifier(fd, QSocketNotifier::Write);
    r->rd->setEnabled(false);
    r->wr->setEnabled(false);
    QObject::connect(r->rd, &QSocketNotifier::activated, [s] { OnReadable(s); });
    QObject::connect(r->wr, &QSocketNotifier::activated, [s] { OnWritable(s); });
  }
  Update(r);
  return 0;
}

std::uint32_t WsSocketSerial(TSocket s) {
  std::lock_guard<std::recursive_mutex> lock(g_sockMutex);
  SockRec* r = Find(s);
  return r ? r->serial : 0;
}

LPARAM WSAMakeSelectReplyFor(TSocket s, unsigned event, unsigned error) {
  std::lock_guard<std::recursive_mutex> lock(g_sockMutex);
  SockRec* r = Find(s);
  if (!r) return WSAMakeSelectReply(event, error);
  return Tagged(r, event, error);
}

int WsOpenSocketCount() {
  std::lock_guard<std::recursive_mutex> lock(g_sockMutex);
  return static_cast<int>(g_socks.size());
}

}  // namespace plat
