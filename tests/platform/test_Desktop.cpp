// Desktop services: the scripted desktop, the Qt message box, the
// clipboard-viewer chain and the single-instance protocol in one process.
#include "platform/Desktop.h"
#include "platform/QtText.h"

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QClipboard>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>

#include <atomic>
#include <thread>
#include <unistd.h>

using namespace plat;

TEST(ScriptedDesktop, RecordsBoxesAndAnswersInOrder) {
  ScriptedDesktop d;
  std::vector<std::string> unexpected;
  d.OnUnexpected = [&](const std::string& w) { unexpected.push_back(w); };
  d.ExpectBox(IDNO);
  d.ExpectBox("second", IDYES);
  ScopedDesktop scope(d);
  EXPECT_EQ(Desktop().MessageBox("first", "Cap", MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON2), IDNO);
  EXPECT_EQ(Desktop().MessageBox("second", "Cap", MB_YESNO), IDYES);
  EXPECT_TRUE(unexpected.empty());
  ASSERT_EQ(d.Boxes.size(), 2u);
  EXPECT_EQ(d.Boxes[0].Buttons(), MB_YESNO);
  EXPECT_EQ(d.Boxes[0].Icon(), MB_ICONQUESTION);
  EXPECT_EQ(d.Boxes[0].Flags & MB_DEFMASK, MB_DEFBUTTON2);

  // Nothing queued, or another text than expected: a failure.
  EXPECT_EQ(Desktop().MessageBox("surprise", "Cap", MB_OK), IDOK);
  d.ExpectBox("this one", IDOK);
  Desktop().MessageBox("that one", "Cap", MB_OK);
  EXPECT_EQ(unexpected.size(), 2u);
  std::string folder = "/kept";
  EXPECT_FALSE(Desktop().BrowseForFolder("c", L"", folder));
  EXPECT_EQ(folder, "/kept");
  std::vector<std::string> files;
  EXPECT_FALSE(Desktop().OpenFileDialog({}, files));
  EXPECT_EQ(unexpected.size(), 4u);
}

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

TEST(ViewerChain, HeadMovesAndDeadHeadIsDropped) {
  const HWND start = GetClipboardViewer();
  std::vector<std::pair<UINT, WPARAM>> got;
  HWND a = AllocateHWnd([&](UINT m, WPARAM wp, LPARAM) -> LRESULT {
    got.push_back({m, wp});
    return 0;
  });
  HWND b = AllocateHWnd([](UINT, WPARAM, LPARAM) -> LRESULT { return 0; });
  EXPECT_EQ(SetClipboardViewer(a), start);
  EXPECT_EQ(SetClipboardViewer(b), a);
  // b is the head: removing it moves the head on without a message.
  EXPECT_TRUE(ChangeClipboardChain(b, a));
  EXPECT_EQ(GetClipboardViewer(), a);
  EXPECT_TRUE(got.empty());
  // Removing another window tells the head.
  ChangeClipboardChain(12345, 0);
  ASSERT_EQ(got.size(), 1u);
  EXPECT_EQ(got[0].first, WM_CHANGECBCHAIN);
  EXPECT_EQ(got[0].second, 12345u);
  EXPECT_FALSE(ChangeClipboardChain(0, 0));
  NotifyClipboardChanged();
  EXPECT_EQ(got.back().first, WM_DRAWCLIPBOARD);
  // A head destroyed without leaving is dropped instead of being called.
  DeallocateHWnd(a);
  NotifyClipboardChanged();
  EXPECT_EQ(GetClipboardViewer(), 0u);
  DeallocateHWnd(b);
  SetClipboardViewer(start);
}

TEST(SingleInstanceProtocol, DeliversToTheRegisteredWindowAndAnswers) {
  const std::string name = "Clipharbor protocol test " + std::to_string(::getpid());
  std::atomic<bool> delivered{false}, noServer{true};
  std::thread([&] { noServer = PostToRunningInstance(name, 0x1604, 0, 0, 500); }).join();
  EXPECT_FALSE(noServer);

  std::vector<std::tuple<UINT, WPARAM, LPARAM>> got;
  HWND w = AllocateHWnd([&](UINT m, WPARAM wp, LPARAM lp) -> LRESULT {
    got.emplace_back(m, wp, lp);
    return 1;
  });
  ASSERT_TRUE(RegisterInstance(name, w));
  std::atomic<bool> done{false};
  std::thread client([&] {
    delivered = PostToRunningInstance(name, 0x1604, 7, -3, 5000);
    done = true;
  });
  for (int i = 0; i < 400 && !done; ++i) WaitForInput(25);
  client.join();
  EXPECT_TRUE(delivered);
  ASSERT_EQ(got.size(), 1u);
  EXPECT_EQ(std::get<0>(got[0]), 0x1604u);
  EXPECT_EQ(std::get<1>(got[0]), 7u);
  EXPECT_EQ(std::get<2>(got[0]), -3);

  // A window that has gone: the running instance says no.
  DeallocateHWnd(w);
  done = false;
  std::thread again([&] {
    delivered = PostToRunningInstance(name, 0x1604, 0, 0, 5000);
    done = true;
  });
  for (int i = 0; i < 400 && !done; ++i) WaitForInput(25);
  again.join();
  EXPECT_FALSE(delivered);
  UnregisterInstance();
}
