// The Qt desktop: it is the default once linked, its message box maps the
// flags and answers, the system clipboard feeds the viewer chain, and the
// file dialogs start at the user's places.
#include "desktop/QtDesktop.h"
#include "platform/ClipboardViewers.h"
#include "platform/ScriptedDesktop.h"

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QMessageBox>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>

#include <functional>

using namespace plat;

TEST(ScriptedDesktop, SelectionIsRestoredByScope) {
  ScriptedDesktop a, b;
  IDesktop* real = &Desktop();
  {
    ScopedDesktop sa(a);
    EXPECT_EQ(&Desktop(), &a);
    {
      ScopedDesktop sb(b);
      EXPECT_EQ(&Desktop(), &b);
    }
    EXPECT_EQ(&Desktop(), &a);
  }
  EXPECT_EQ(&Desktop(), real);
  EXPECT_NE(dynamic_cast<QtDesktop*>(real), nullptr);
}

namespace {

// Answers the next Qt message box with `button` and records what it showed.
struct BoxSeen {
  QString title, text;
  QMessageBox::Icon icon = QMessageBox::NoIcon;
  QStringList buttons;
  QString defaultButton;
};

void AnswerNextBox(BoxSeen& seen, QMessageBox::StandardButton button, bool escape = false) {
  QTimer::singleShot(20, [&seen, button, escape] {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    if (!box) {
      ADD_FAILURE() << "no message box";
      return;
    }
    seen.title = box->windowTitle();
    seen.text = box->text();
    seen.icon = box->icon();
    for (QAbstractButton* b : box->buttons()) seen.buttons << b->text().remove('&');
    if (box->defaultButton()) seen.defaultButton = box->defaultButton()->text().remove('&');
    if (escape)
      box->reject();
    else
      box->button(button)->click();
  });
}

}  // namespace

TEST(QtDesktop, MessageBoxMapsFlagsAndAnswers) {
  QtDesktop d;
  BoxSeen seen;
  AnswerNextBox(seen, QMessageBox::Yes);
  EXPECT_EQ(d.MessageBox("Overwrite?", "Clipharbor", MB_YESNO | MB_ICONINFORMATION | MB_DEFBUTTON2), IDYES);
  EXPECT_EQ(seen.title, "Clipharbor");
  EXPECT_EQ(seen.text, "Overwrite?");
  EXPECT_EQ(seen.icon, QMessageBox::Information);
  EXPECT_EQ(seen.buttons.size(), 2);
  EXPECT_EQ(seen.defaultButton, "No");

  BoxSeen err;
  AnswerNextBox(err, QMessageBox::Ok);
  EXPECT_EQ(d.MessageBox("Cannot create /x", "Clipharbor", MB_OK | MB_ICONERROR), IDOK);
  EXPECT_EQ(err.icon, QMessageBox::Critical);
  EXPECT_EQ(err.buttons.size(), 1);

  BoxSeen esc;
  AnswerNextBox(esc, QMessageBox::NoButton, true);
  EXPECT_EQ(d.MessageBox("q", "c", MB_YESNOCANCEL | MB_ICONQUESTION), IDCANCEL);
  EXPECT_EQ(esc.icon, QMessageBox::Question);
  EXPECT_EQ(esc.defaultButton, "Yes");
}

TEST(QtDesktop, ClipboardChangesReachTheViewerChain) {
  int draws = 0;
  HWND w = AllocateHWnd([&](UINT m, WPARAM, LPARAM) -> LRESULT {
    if (m == WM_DRAWCLIPBOARD) ++draws;
    return 0;
  });
  HWND next = SetClipboardViewer(w);
  Desktop().SetClipboardText("http://example.com/a");
  for (int i = 0; i < 20 && draws == 0; ++i) WaitForInput(20);
  EXPECT_GE(draws, 1);
  std::optional<std::string> text = Desktop().ClipboardText();
  ASSERT_TRUE(text.has_value());
  EXPECT_EQ(*text, "http://example.com/a");
  ChangeClipboardChain(w, next);
  DeallocateHWnd(w);
}

namespace {

// The folder a file dialog opened by `run` starts in; the dialog is cancelled.
QString StartFolderOf(const std::function<void()>& run) {
  QString seen;
  QTimer poll;
  int turns = 0;
  QObject::connect(&poll, &QTimer::timeout, [&] {
    auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
    if (dialog) {
      seen = dialog->directory().absolutePath();
      dialog->reject();
    } else if (++turns == 250) {
      ADD_FAILURE() << "no file dialog";
      if (QWidget* w = QApplication::activeModalWidget()) w->close();
    }
  });
  poll.start(20);
  run();
  return seen;
}

class ScopedVar {
 public:
  ScopedVar(const char* name, const QByteArray& value) : FName(name), FOld(qgetenv(name)), FHad(qEnvironmentVariableIsSet(name)) {
    qputenv(name, value);
  }
  ~ScopedVar() {
    if (FHad) qputenv(FName, FOld); else qunsetenv(FName);
  }

 private:
  const char* FName;
  QByteArray FOld;
  bool FHad;
};

}  // namespace

TEST(QtDesktop, DialogsStartAtTheDesktopNeverInTheWorkingFolder) {
  QTemporaryDir home, work;
  ASSERT_TRUE(home.isValid() && work.isValid());
  ScopedVar homeVar("HOME", home.path().toLocal8Bit());
  ScopedVar config("XDG_CONFIG_HOME", (home.path() + "/.config").toLocal8Bit());  // no user-dirs.dirs
  const QString before = QDir::currentPath();
  QDir::setCurrent(work.path());
  QtDesktop desk;
  std::string folder;
  std::vector<std::string> files;
  const TOpenDialogOptions options;
  const QString homePath = QDir(home.path()).canonicalPath();

  // No Desktop folder: both start at home.
  EXPECT_EQ(StartFolderOf([&] { desk.BrowseForFolder("Pick", std::wstring(), folder); }), homePath);
  EXPECT_EQ(StartFolderOf([&] { desk.OpenFileDialog(options, files); }), homePath);
  // A Desktop folder: there; the file dialog prefers the Videos folder where there is one.
  ASSERT_TRUE(QDir(home.path()).mkpath("Desktop") && QDir(home.path()).mkpath("Videos"));
  EXPECT_EQ(StartFolderOf([&] { desk.BrowseForFolder("Pick", std::wstring(), folder); }), homePath + "/Desktop");
  EXPECT_EQ(StartFolderOf([&] { desk.OpenFileDialog(options, files); }), homePath + "/Videos");
  // A root or a start folder given by the caller still holds.
  EXPECT_EQ(StartFolderOf([&] { desk.BrowseForFolder("Pick", work.path().toStdWString(), folder); }),
            QDir(work.path()).canonicalPath());
  QDir::setCurrent(before);
}
