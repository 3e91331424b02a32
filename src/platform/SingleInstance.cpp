// The single-instance handshake over a local socket: one line "MSG msg w l"
// in, "OK result" or "NO" back once the registered window has handled it.
#include "platform/SingleInstance.h"

#include "platform/QtText.h"

#include <QLocalServer>
#include <QLocalSocket>
#include <QPointer>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>

namespace plat {

namespace {

// A folder of this user's that nobody else can enter.
bool PrivateFolder(const std::string& path) {
  struct stat st {};
  return ::lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == ::getuid() &&
         (st.st_mode & 077) == 0;
}

// The user's runtime folder; where a session has none, a private folder of
// the user's in /tmp. Never the temporary folder of the environment: starts
// with different TMPDIR values are still one user on one display.
std::string RuntimeFolder() {
  const char* xdg = std::getenv("XDG_RUNTIME_DIR");
  if (xdg && *xdg == '/' && PrivateFolder(xdg)) return xdg;
  const std::string own = "/tmp/clipharbor-" + std::to_string(::getuid());
  ::mkdir(own.c_str(), 0700);  // may exist already; checked below
  return PrivateFolder(own) ? own : std::string();
}

// The display the windows go to: X before Wayland (a Wayland session that
// sets both hands both to every start), the screen number left out.
std::string DisplayName() {
  std::string display;
  if (const char* x = std::getenv("DISPLAY"); x && *x) {
    display = x;
    const std::string::size_type colon = display.rfind(':');
    const std::string::size_type dot = display.find('.', colon == std::string::npos ? 0 : colon);
    if (colon != std::string::npos && dot != std::string::npos) display.erase(dot);
  } else if (const char* w = std::getenv("WAYLAND_DISPLAY"); w && *w) {
    display = w;
  }
  for (char& c : display)
    if (c == '/') c = '_';
  return display;
}

// One socket per user and display: "<class name>-<uid>-<display>" in the
// runtime folder.
QString InstanceServerName(const std::string& className) {
  const std::string name = className + "-" + std::to_string(::getuid()) + "-" + DisplayName();
  const std::string folder = RuntimeFolder();
  return ToQ(folder.empty() ? name : folder + "/" + name);
}

struct InstanceServer {
  QPointer<QLocalServer> server;
  HWND wnd = 0;
};
InstanceServer g_instance;

bool ParseLine(const QByteArray& line, UINT& msg, WPARAM& w, LPARAM& l) {
  QList<QByteArray> f = line.trimmed().split(' ');
  if (f.size() != 4 || f[0] != "MSG") return false;
  bool ok1 = false, ok2 = false, ok3 = false;
  msg = static_cast<UINT>(f[1].toUInt(&ok1));
  w = static_cast<WPARAM>(f[2].toULongLong(&ok2));
  l = static_cast<LPARAM>(f[3].toLongLong(&ok3));
  return ok1 && ok2 && ok3;
}

}  // namespace

bool PostToRunningInstance(const std::string& className, UINT msg, WPARAM wParam, LPARAM lParam, int timeoutMs) {
  QLocalSocket sock;
  sock.connectToServer(InstanceServerName(className));
  if (!sock.waitForConnected(timeoutMs)) return false;
  QByteArray line = "MSG " + QByteArray::number(msg) + " " + QByteArray::number(static_cast<qulonglong>(wParam)) +
                    " " + QByteArray::number(static_cast<qlonglong>(lParam)) + "\n";
  sock.write(line);
  if (!sock.waitForBytesWritten(timeoutMs)) return false;
  // The running instance answers once the message is posted to its window.
  QByteArray reply;
  while (!reply.contains('\n')) {
    if (!sock.waitForReadyRead(timeoutMs)) break;
    reply += sock.readAll();
    if (reply.size() > 64) break;
  }
  sock.disconnectFromServer();
  return reply.startsWith("OK");
}

bool RegisterInstance(const std::string& className, HWND wnd) {
  UnregisterInstance();
  auto* server = new QLocalServer();
  server->setSocketOptions(QLocalServer::UserAccessOption);
  const QString name = InstanceServerName(className);
  if (!server->listen(name)) {
    // A socket file left by a crashed instance: nobody answers on it.
    QLocalSocket probe;
    probe.connectToServer(name);
    if (probe.waitForConnected(500)) {
      delete server;
      return false;
    }
    QLocalServer::removeServer(name);
    if (!server->listen(name)) {
      delete server;
      return false;
    }
  }
  g_instance.server = server;
  g_instance.wnd = wnd;
  QObject::connect(server, &QLocalServer::newConnection, server, [server] {
    while (QLocalSocket* c = server->nextPendingConnection()) {
      QObject::connect(c, &QLocalSocket::disconnected, c, &QObject::deleteLater);
      QObject::connect(c, &QLocalSocket::readyRead, c, [c] {
        if (!c->canReadLine()) {
          if (c->bytesAvailable() > 256) c->abort();  // not one of ours
          return;
        }
        QByteArray line = c->readLine(256);
        UINT msg = 0;
        WPARAM w = 0;
        LPARAM l = 0;
        // Sent, not posted: the answer tells the caller that the window has
        // handled the message, and carries its result.
        bool ok = ParseLine(line, msg, w, l) && IsWindow(g_instance.wnd);
        LRESULT r = ok ? SendMessage(g_instance.wnd, msg, w, l) : 0;
        c->write(ok ? "OK " + QByteArray::number(static_cast<qlonglong>(r)) + "\n" : QByteArray("NO\n"));
        c->flush();
        c->disconnectFromServer();
      });
    }
  });
  return true;
}

void UnregisterInstance() {
  if (g_instance.server) {
    g_instance.server->close();
    delete g_instance.server.data();
  }
  g_instance.server = nullptr;
  g_instance.wnd = 0;
}

}  // namespace plat
