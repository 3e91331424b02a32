// The Qt Widgets desktop, and its registration as the default desktop of
// every program that links it.
#include "desktop/QtDesktop.h"

#include "desktop/DBusDesktop.h"
#include "platform/ClipboardViewers.h"
#include "platform/FileUtil.h"
#include "platform/QtText.h"

#include <QApplication>
#include <QClipboard>
#include <QCursor>
#include <QDesktopServices>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>

#include <initializer_list>
#include <QGuiApplication>
#include <QMessageBox>
#include <QMimeData>
#include <QPushButton>
#include <QScreen>
#include <QStandardPaths>
#include <QUrl>

namespace plat {

namespace {

IDesktop& DefaultQtDesktop() {
  static QtDesktop* d = new QtDesktop();  // lives until exit, like the OS shell
  return *d;
}

const bool kRegistered = (SetDefaultDesktop(&DefaultQtDesktop), true);

}  // namespace

struct QtDesktop::Impl {
  QMetaObject::Connection clipConnection;
  std::unique_ptr<TDBusDesktop> bus;  // made on first use: the session bus only when needed
  TDBusDesktop& Bus() {
    if (!bus) bus = std::make_unique<TDBusDesktop>();
    return *bus;
  }
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

// The first of `places` that is a folder; the home folder when none is.
QString FirstFolder(std::initializer_list<QStandardPaths::StandardLocation> places) {
  for (QStandardPaths::StandardLocation place : places) {
    const QString dir = QStandardPaths::writableLocation(place);
    if (!dir.isEmpty() && QFileInfo(dir).isDir()) return dir;
  }
  return QDir::homePath();
}

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
  // Without a root the dialog starts at the desktop: the Desktop folder, or home.
  dlg.setDirectory(root.empty() ? FirstFolder({QStandardPaths::DesktopLocation}) : QString::fromStdWString(root));
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
  // Never the working folder: where videos are kept, else the desktop, else home.
  dlg.setDirectory(options.InitialDir.empty()
                       ? FirstFolder({QStandardPaths::MoviesLocation, QStandardPaths::DesktopLocation})
                       : ToQ(options.InitialDir));
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

void QtDesktop::ShowInFolder(const std::string& file) {
  impl_->Bus().ShowItem(file, [this, file] { IDesktop::ShowInFolder(file); });
}

void QtDesktop::Notify(const std::string& summary, const std::string& body, bool failure) {
  impl_->Bus().Notify(summary, body, failure);
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

}  // namespace plat
