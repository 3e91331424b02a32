// Clipboard watching and the viewer chain.
#include "MainFixture.h"

#include "app/core/Global.h"
#include "app/core/Service.h"
#include "platform/AsciiText.h"

#include <QLineEdit>
#include <QRadioButton>

using plat::HWND;
using plat::LPARAM;
using plat::LRESULT;
using plat::UINT;
using plat::WPARAM;

namespace {

// A well-behaved clipboard viewer of another program, recording what it sees.
class TViewer {
 public:
  explicit TViewer(std::vector<std::string>* trace, std::string name, std::function<void()> onDraw = nullptr)
      : trace_(trace), name_(std::move(name)), onDraw_(std::move(onDraw)) {
    wnd = plat::AllocateHWnd([this](UINT m, WPARAM w, LPARAM l) { return Proc(m, w, l); });
    next = plat::SetClipboardViewer(wnd);
  }
  ~TViewer() {
    Leave();
    plat::DeallocateHWnd(wnd);
  }
  void Leave() {
    if (joined_) plat::ChangeClipboardChain(wnd, next);
    joined_ = false;
  }
  HWND wnd = 0;
  HWND next = 0;
  int draws = 0;

 private:
  LRESULT Proc(UINT m, WPARAM w, LPARAM l) {
    if (m == plat::WM_DRAWCLIPBOARD) {
      ++draws;
      if (trace_) trace_->push_back(name_);
      if (onDraw_) onDraw_();
      if (next) plat::SendMessage(next, m, w, l);
    } else if (m == plat::WM_CHANGECBCHAIN) {
      if (static_cast<HWND>(w) == next)
        next = static_cast<HWND>(l);
      else if (next)
        plat::SendMessage(next, m, w, l);
    }
    return 0;
  }
  std::vector<std::string>* trace_;
  std::string name_;
  std::function<void()> onDraw_;
  bool joined_ = true;
};

}  // namespace

TEST_F(MainWindowTest, ClipboardAddressesAreTrimmedAndKeepTheirCase) {
  TfrmMain& f = Open();
  desk_.CopyText(" \t HtTp://www.YouTube.com/watch?v=AbC \r\n");
  EXPECT_EQ(f.eUrl->text().toStdString(), "HtTp://www.YouTube.com/watch?v=AbC");
  // Any http address is taken; the service check is Start's.
  desk_.CopyText("http://example.org/page");
  EXPECT_EQ(f.eUrl->text().toStdString(), "http://example.org/page");
  desk_.CopyText(std::string("\x01\x1f http://x/\x7f", 13));
  EXPECT_EQ(f.eUrl->text().toStdString(), "http://x/\x7f");
  desk_.CopyText("  http:// ");
  EXPECT_EQ(f.eUrl->text().toStdString(), "http://");
}

TEST_F(MainWindowTest, ClipboardOtherSchemesTextAndCacheHostAreIgnored) {
  TfrmMain& f = Open();
  f.eUrl->setText("keep");
  for (const std::string& t :
       {std::string("https://www.youtube.com/watch?v=1"), std::string("www.youtube.com/watch?v=1"),
        std::string("ftp://host/x"), std::string("just words"), std::string(""), std::string("http:/"),
"http://" + CacheHost() + "/get_video?video_id=1",
        "HTTP://" + ascii::Upper(CacheHost()) + "/x"}) {
    desk_.CopyText(t);
    EXPECT_EQ(f.eUrl->text().toStdString(), "keep") << t;
  }
  desk_.CopyNonText();
  EXPECT_EQ(f.eUrl->text().toStdString(), "keep");
}

TEST_F(MainWindowTest, ClipboardCacheHostFromEnvironment) {
  ScopedEnv c("CLIPHARBOR_CACHE_HOST", "cache.test");
  TfrmMain& f = Open();
  desk_.CopyText("http://cache.test:8080/v.flv");
  EXPECT_EQ(f.eUrl->text().toStdString(), "");
  desk_.CopyText("http://www.cache.test/v.flv");
  EXPECT_EQ(f.eUrl->text().toStdString(), "http://www.cache.test/v.flv");
}

TEST_F(MainWindowTest, ClipboardFillsHiddenAddressInConvertMode) {
  TfrmMain& f = Open();
  f.rbConvert->click();
  ASSERT_FALSE(f.eUrl->isVisibleTo(&f));
  desk_.CopyText("http://www.youtube.com/watch?v=hidden");
  f.rbDownload->click();
  EXPECT_TRUE(f.eUrl->isVisibleTo(&f));
  EXPECT_EQ(f.eUrl->text().toStdString(), "http://www.youtube.com/watch?v=hidden");
}

TEST_F(MainWindowTest, ClipboardIsPassedOnFirstAndChainIsRepaired) {
  std::vector<std::string> trace;
  std::string seenByA;
  auto c = std::make_unique<TViewer>(&trace, "C");
  auto a = std::make_unique<TViewer>(&trace, "A", [&] { seenByA = form_->eUrl->text().toStdString(); });
  TfrmMain& f = Open();
  TViewer b(&trace, "B");  // joins after the main window: head of the chain
  EXPECT_EQ(f.FNextViewer, a->wnd);
  EXPECT_EQ(b.next, f.Handle());

  f.eUrl->setText("old");
  desk_.CopyText("http://www.youtube.com/watch?v=1");
  EXPECT_EQ(trace, (std::vector<std::string>{"B", "A", "C"}));
  EXPECT_EQ(seenByA, "old");  // passed on before eUrl changed
  EXPECT_EQ(f.eUrl->text().toStdString(), "http://www.youtube.com/watch?v=1");

  // The window after the main window leaves: the main window takes its successor.
  a->Leave();
  EXPECT_EQ(f.FNextViewer, c->wnd);
  trace.clear();
  desk_.CopyText("http://www.youtube.com/watch?v=2");
  EXPECT_EQ(trace, (std::vector<std::string>{"B", "C"}));

  // A window further down leaves: the main window passes the news on.
  TViewer d(&trace, "D");  // head: D -> B -> main -> C
  c->Leave();
  EXPECT_EQ(f.FNextViewer, 0u);
  a.reset();
  c.reset();
  trace.clear();
  desk_.CopyText("http://www.youtube.com/watch?v=3");
  EXPECT_EQ(trace, (std::vector<std::string>{"D", "B"}));
  EXPECT_EQ(f.eUrl->text().toStdString(), "http://www.youtube.com/watch?v=3");

  // Closing takes the main window out; B then talks to what followed it.
  CloseForm();
  EXPECT_EQ(b.next, 0u);
  trace.clear();
  desk_.CopyText("http://www.youtube.com/watch?v=4");
  EXPECT_EQ(trace, (std::vector<std::string>{"D", "B"}));
  d.Leave();
  b.Leave();
}

TEST_F(MainWindowTest, ClipboardPassesItsNeighbourOnWhenItSelfIsNotNext) {
  // main -> E -> F: F leaves, the main window hands the message to E.
  std::vector<std::string> trace;
  TViewer fv(&trace, "F");
  TViewer ev(&trace, "E");
  TfrmMain& f = Open();
  EXPECT_EQ(f.FNextViewer, ev.wnd);
  fv.Leave();
  EXPECT_EQ(ev.next, 0u);
  EXPECT_EQ(f.FNextViewer, ev.wnd);
  desk_.CopyText("http://a/");
  EXPECT_EQ(trace, (std::vector<std::string>{"E"}));
  CloseForm();
  ev.Leave();
}
