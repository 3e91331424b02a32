// The Qt desktop: it is the default once linked, its message box maps the
// flags and answers, and the system clipboard feeds the viewer chain.
#include "desktop/QtDesktop.h"
#include "platform/ClipboardViewers.h"
#include "platform/ScriptedDesktop.h"

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>

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
