#include "platform/Desktop.h"

#include "platform/FileUtil.h"
#include "platform/QtText.h"

#include <QApplication>
#include <QClipboard>
#include <QCursor>
#include <QDesktopServices>
#include <QDir>
#include <QFileDialog>
#include <QGuiApplication>
#include <QLocalServer>
#include <QLocalSocket>
#include <QMessageBox>
#include <QMimeData>
#include <QPointer>
#include <QPushButton>
#include <QScreen>
#include <QUrl>

#include <cstdio>
#include <cstdlib>
#include <unistd.h>

namespace plat {

// ---------------------------------------------------------------- selection

namespace {

IDesktop* g_desktop = nullptr;

QtDesktop& DefaultDesktop() {
  static QtDesktop* d = new QtDesktop();  // lives until exit, like the OS shell
  return *d;
}

}  // namespace

IDesktop& Desktop() {
  if (g_desktop) return *g_desktop;
  return DefaultDesktop();
}

IDesktop* SetDesktop(IDesktop* desktop) {
  IDesktop* previous = g_desktop;
  g_desktop = desktop;
  return previous;
}

// ---------------------------------------------------------------- QtDesktop

struct QtDesktop::Impl {
  QMetaObject::Connection clipConnection;
};

QtDesktop::QtDesktop() : impl_(std::make_unique<Impl>()) {
  if (auto* app = qobject_cast<QGuiApplication*>(QCoreApplication::instance())) {
    if (QClipboard* cb = app->clipboard()) {
      impl_->clipConnection = QObject::connect(cb, &QClipboard::dataChanged, [this] {
        // Only the real desktop feeds the chain; a scripted one makes its own changes.
        if (&Desktop() == this) NotifyClipboardChanged();
      });
    }
  }
}

QtDesktop::~QtDesktop() { QObject::disconnect(impl_->clipConnection); }

namespace {

QWidget* ActiveOwner() { return QApplication::activeModalWidget() ? QApplication::activeModalWidget()
                                                                    : QApplication::activeWindow(); }

struct ButtonSpec {
  QMessageBox::StandardButton Button;
  int Id;
};

std::vector<ButtonSpec> ButtonsFor(UINT type) {
  switch (type) {
    case MB_OKCANCEL:
      return {{QMessageBox::Ok, IDOK}, {QMessageBox::Cancel, IDCANCEL}};
    case MB_ABORTRETRYIGNORE:
      return {{QMessageBox::Abort, IDABORT}, {QMessageBox::Retry, IDRETRY}, {QMessageBox::Ignore, IDIGNORE}};
    case MB_YESNOCANCEL:
      return {{QMessageBox::Yes, IDYES}, {QMessageBox::No, IDNO}, {QMessageBox::Cancel, IDCANCEL}};
    case MB_YESNO:
      return {{QMessageBox::Yes, IDYES}, {QMessageBox::No, IDNO}};
    case MB_RETRYCANCEL:
      return {{QMessageBox::Retry, IDRETRY}, {QMessageBox::Cancel, IDCANCEL}};
    case MB_OK:
    default:
      return {{QMessageBox::Ok, IDOK}};
  }
}

// "Flv files(*.flv)|*.flv| Any file(*.*)|*.*" -> "Flv files(*.flv) (*.flv);; Any file(*.*) (*)"
QString QtFilter(const std::string& filter) {
  QStringList parts = ToQ(filter).split('|');
  QStringList out;
  for (int i = 0; i + 1 < parts.size(); i += 2) {
    QStringList pats = parts[i + 1].split(';', Qt::SkipEmptyParts);
    for (QString& p : pats) {
      p = p.trimmed();
      if (p == "*.*") p = "*";
    }
    out << parts[i] + " (" + pats.join(' ') + ")";
  }
  return out.join(";;");
}

}  // namespace

int QtDesktop::MessageBox(const std::string& text, const std::string& caption, UINT flags) {
  QMessageBox box(ActiveOwner());
  box.setWindowTitle(ToQ(caption));
  box.setText(ToQ(text));
  switch (flags & MB_ICONMASK) {
    case MB_ICONERROR: box.setIcon(QMessageBox::Critical); break;
    case MB_ICONQUESTION: box.setIcon(QMessageBox::Question); break;
    case MB_ICONWARNING: box.setIcon(QMessageBox::Warning); break;
    case MB_ICONINFORMATION: box.setIcon(QMessageBox::Information); break;
    default: box.setIcon(QMessageBox::NoIcon); break;
  }
  std::vector<ButtonSpec> specs = ButtonsFor(flags & MB_TYPEMASK);
  for (const ButtonSpec& s : specs) box.addButton(s.Button);
  std::size_t def = (flags & MB_DEFMASK) >> 8;
  if (def >= specs.size()) def = 0;
  box.setDefaultButton(specs[def].Button);
  // Escape and the close box give Cancel when there is one, else the only/first button.
  box.setEscapeButton(specs.size() == 1 ? specs[0].Button : specs.back().Button);
  box.exec();
  QAbstractButton* clicked = box.clickedButton();
  for (const ButtonSpec& s : specs)
    if (clicked && box.standardButton(clicked) == s.Button) return s.Id;
  return specs.size() == 1 ? specs[0].Id : IDCANCEL;
}

bool QtDesktop::BrowseForFolder(const std::string& caption, const std::wstring& root, std::string& path) {
  QFileDialog dlg(ActiveOwner(), ToQ(caption));
  dlg.setFileMode(QFileDialog::Directory);
  dlg.setOption(QFileDialog::ShowDirsOnly, true);
  if (!root.empty()) dlg.setDirectory(QString::fromStdWString(root));
  // Centred on the screen by its own size, whatever its owner.
  dlg.adjustSize();
  TSize screen = ScreenSize();
  dlg.move((screen.Width - dlg.width()) / 2, (screen.Height - dlg.height()) / 2);
  if (dlg.exec() != QDialog::Accepted) return false;
  QStringList sel = dlg.selectedFiles();
  if (sel.isEmpty()) return false;
  path = FromQ(QDir::toNativeSeparators(sel.first()));
  return true;
}

bool QtDesktop::OpenFileDialog(const TOpenDialogOptions& options, std::vector<std::string>& files) {
  QFileDialog dlg(ActiveOwner(), ToQ(options.Title));
  dlg.setAcceptMode(QFileDialog::AcceptOpen);
  dlg.setFileMode(options.AllowMultiSelect ? QFileDialog::ExistingFiles : QFileDialog::ExistingFile);
  dlg.setOption(QFileDialog::ReadOnly, false);
  dlg.setSizeGripEnabled(options.EnableSizing);
  if (!options.Filter.empty()) dlg.setNameFilter(QtFilter(options.Filter));
  if (!options.InitialDir.empty()) dlg.setDirectory(ToQ(options.InitialDir));
  if (!options.FileName.empty()) dlg.selectFile(ToQ(options.FileName));
  if (dlg.exec() != QDialog::Accepted) return false;
  files.clear();
  for (const QString& f : dlg.selectedFiles()) files.push_back(FromQ(f));
  return !files.empty();
}

void QtDesktop::ShellOpen(const std::string& target) {
  QString t = ToQ(target);
  QUrl url = DirectoryExists(target) || FileExists(target) ? QUrl::fromLocalFile(t) : QUrl::fromUserInput(t);
  QDesktopServices::openUrl(url);
}

std::optional<std::string> QtDesktop::ClipboardText() {
  auto* app = qobject_cast<QGuiApplication*>(QCoreApplication::instance());
  if (!app || !app->clipboard()) return std::nullopt;
  const QMimeData* data = app->clipboard()->mimeData();
  if (!data || !data->hasText()) return std::nullopt;
  return FromQ(data->text());
}

void QtDesktop::SetClipboardText(const std::string& text) {
  auto* app = qobject_cast<QGuiApplication*>(QCoreApplication::instance());
  if (app && app->clipboard()) app->clipboard()->setText(ToQ(text));
}

TPoint QtDesktop::CursorPos() {
  QPoint p = QCursor::pos();
  return {p.x(), p.y()};
}

TSize QtDesktop::ScreenSize() {
  QScreen* s = QGuiApplication::primaryScreen();
  if (!s) return {};
  QSize sz = s->size();
  return {sz.width(), sz.height()};
}

// ---------------------------------------------------------- ScriptedDesktop

void ScriptedDesktop::Unexpected(const std::string& what) {
  std::fprintf(stderr, "ScriptedDesktop: unexpected %s\n", what.c_str());
  if (OnUnexpected) {
    OnUnexpected(what);
    return;
  }
  std::abort();
}

int ScriptedDesktop::MessageBox(const std::string& text, const std::string& caption, UINT flags) {
  Box box{caption, text, flags};
  Boxes.push_back(box);
  if (OnBox) OnBox(box);
  if (BoxAnswers.empty()) {
    Unexpected("message box \"" + text + "\"");
    return (flags & MB_TYPEMASK) == MB_OK ? IDOK : IDCANCEL;
  }
  ExpectedBox e = BoxAnswers.front();
  BoxAnswers.pop_front();
  if (e.Text && *e.Text != text) Unexpected("message box \"" + text + "\", expected \"" + *e.Text + "\"");
  return e.Answer;
}

bool ScriptedDesktop::BrowseForFolder(const std::string& caption, const std::wstring& root, std::string& path) {
  FolderCalls.push_back({caption, root, path});
  if (FolderAnswers.empty()) {
    Unexpected("folder dialog \"" + caption + "\"");
    return false;
  }
  std::optional<std::string> a = FolderAnswers.front();
  FolderAnswers.pop_front();
  if (!a) return false;
  path = *a;
  return true;
}

bool ScriptedDesktop::OpenFileDialog(const TOpenDialogOptions& options, std::vector<std::string>& files) {
  OpenCalls.push_back(options);
  if (OpenAnswers.empty()) {
    Unexpected("file-open dialog");
    return false;
  }
  std::optional<std::vector<std::string>> a = OpenAnswers.front();
  OpenAnswers.pop_front();
  if (!a || a->empty()) return false;
  files = *a;
  return true;
}

void ScriptedDesktop::ShellOpen(const std::string& target) { Opened.push_back(target); }

void ScriptedDesktop::SetClipboardText(const std::string& text) { CopyText(text); }

void ScriptedDesktop::CopyText(const std::string& text) {
  clipboard_ = text;
  NotifyClipboardChanged();
}

void ScriptedDesktop::CopyNonText() {
  clipboard_.reset();
  NotifyClipboardChanged();
}

// ------------------------------------------------------- clipboard viewers

namespace {
HWND g_viewerHead = 0;
}

HWND SetClipboardViewer(HWND wnd) {
  HWND previous = g_viewerHead;
  g_viewerHead = wnd;
  if (!g_desktop) DefaultDesktop();  // the real clipboard starts reporting
  return previous;
}

bool ChangeClipboardChain(HWND remove, HWND next) {
  if (remove == 0) return false;
  if (g_viewerHead == remove) {
    g_viewerHead = next;
    return true;
  }
  if (g_viewerHead != 0) SendMessage(g_viewerHead, WM_CHANGECBCHAIN, remove, static_cast<LPARAM>(next));
  return true;
}

HWND GetClipboardViewer() { return g_viewerHead; }

void NotifyClipboardChanged() {
  // A head that has gone away without leaving the chain cannot pass it on.
  if (g_viewerHead != 0 && !IsWindow(g_viewerHead)) g_viewerHead = 0;
  if (g_viewerHead != 0) SendMessage(g_viewerHead, WM_DRAWCLIPBOARD, 0, 0);
}

// ----------------------------------------------------------- single instance

namespace {

// One server name per user, the socket file in the temporary folder.
QString InstanceServerName(const std::string& className) {
  return ToQ(className) + QString("-%1").arg(static_cast<qulonglong>(::getuid()));
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
